// The progress bar's drawing, read back from the pixels of the rendered widget.
#include <gtest/gtest.h>

#include <QImage>

#include "ui/ProgressBarButton.h"

namespace rwtest {
namespace {

TEST(ProgressBar, FillAndTextFollowTheJob) {
    constexpr int kWidth = 510, kHeight = 26, kRow = 3;  // a row above the centred text
    const QRgb red = 0xFFFF0000, green = 0xFF00FF00, yellow = 0xFFFFFF00;
    const struct {
        rw::ProgressState state;
        const char* text;
        int fillWidth;  // (510 - 2) x fraction
        QRgb colour;    // of the fill; 0 when there is none
    } cases[] = {{{8192, 4096, false}, "50%", 254, yellow},
                 {{8192, 8192, false}, "100%", 508, green},
                 {{8192, 2048, true}, "25%", 127, red},
                 {{3, 1, false}, "33%", 169, yellow},
                 {{0, 5, true}, "0%", 0, 0}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(rw::ProgressBarButton::percentText(c.state), c.text);
        rw::ProgressBarButton bar;
        bar.resize(kWidth, kHeight);
        bar.setStateSource([&] { return std::optional<rw::ProgressState>(c.state); });
        const QImage image = bar.grab().toImage().convertToFormat(QImage::Format_ARGB32);
        if (c.colour == 0) {
            for (int x = 1; x < kWidth - 1; ++x) {
                const QRgb pixel = image.pixel(x, kRow);
                ASSERT_TRUE(pixel != red && pixel != green && pixel != yellow) << "x " << x;
            }
            continue;
        }
        // The fill starts inside the one-pixel edge and ends exactly at its width.
        EXPECT_NE(image.pixel(0, kRow), c.colour);
        EXPECT_EQ(image.pixel(1, kRow), c.colour);
        EXPECT_EQ(image.pixel(c.fillWidth, kRow), c.colour);
        EXPECT_NE(image.pixel(c.fillWidth + 1, kRow), c.colour);
    }
}

}  // namespace
}  // namespace rwtest
