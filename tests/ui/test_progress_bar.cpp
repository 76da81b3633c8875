// The progress bar's drawing, read back from the pixels of the rendered widget.
#include <gtest/gtest.h>

#include <QImage>

#include "ui/ProgressBarButton.h"

namespace {

constexpr int kWidth = 510;
constexpr int kHeight = 26;

QImage render(const ProgressState& state) {
    ProgressBarButton bar;
    bar.resize(kWidth, kHeight);
    bar.setStateSource([&] { return std::optional<ProgressState>(state); });
    return bar.grab().toImage().convertToFormat(QImage::Format_ARGB32);
}

TEST(ProgressBar, FillAndTextFollowTheJob) {
    const QRgb red = 0xFFFF0000, green = 0xFF00FF00, yellow = 0xFFFFFF00;
    const struct {
        ProgressState state;
        const char* text;
        int fillWidth;  // (510 - 2) x fraction
        QRgb colour;    // of the fill; 0 when there is none
    } cases[] = {{{8192, 4096, false}, "50%", 254, yellow},
                 {{8192, 8192, false}, "100%", 508, green},
                 {{8192, 2048, true}, "25%", 127, red}, {{3, 1, false}, "33%", 169, yellow},
                 {{0, 0, false}, "0%", 0, 0}, {{0, 5, true}, "0%", 0, 0}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(ProgressBarButton::percentText(c.state), c.text);
        const QImage image = render(c.state);
        ASSERT_EQ(image.size(), QSize(kWidth, kHeight));
        const int row = 3;  // above the centred text
        if (c.colour == 0) {
            for (int x = 1; x < kWidth - 1; ++x) {
                const QRgb pixel = image.pixel(x, row);
                ASSERT_TRUE(pixel != red && pixel != green && pixel != yellow) << "x " << x;
            }
            continue;
        }
        // The fill starts inside the one-pixel edge and ends exactly at its width.
        EXPECT_EQ(image.pixel(1, row), c.colour);
        EXPECT_EQ(image.pixel(c.fillWidth, row), c.colour);
        EXPECT_EQ(image.pixel(1, 1), c.colour);
        EXPECT_EQ(image.pixel(1, kHeight - 2), c.colour);
        EXPECT_NE(image.pixel(0, row), c.colour);
        if (c.fillWidth + 1 < kWidth - 1) {
            EXPECT_NE(image.pixel(c.fillWidth + 1, row), c.colour);
        }
    }
    // Same yellow fill, other text: the pixels around the centre differ.
    const QRect centre(kWidth / 2 - 20, 4, 40, kHeight - 8);
    EXPECT_NE(render({100, 0, false}).copy(centre), render({100, 99, false}).copy(centre));
}

}  // namespace
