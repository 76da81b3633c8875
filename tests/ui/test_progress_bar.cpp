// The progress bar's drawing, read back from the pixels of the rendered widget.
#include <gtest/gtest.h>

#include <QImage>

#include "ui/ProgressBarButton.h"

namespace {

struct BarCase {
    const char* name;
    ProgressState state;
    const char* text;
    int fillWidth;  // of a 510-pixel bar: (510 - 2) x fraction
    QRgb colour;    // of the fill; 0 when there is none
};

class ProgressBarDrawing : public ::testing::TestWithParam<BarCase> {};

constexpr int kWidth = 510;
constexpr int kHeight = 26;
constexpr QRgb kRed = 0xFFFF0000;
constexpr QRgb kGreen = 0xFF00FF00;
constexpr QRgb kYellow = 0xFFFFFF00;

TEST_P(ProgressBarDrawing, FillAndTextFollowTheJob) {
    const BarCase& c = GetParam();
    ProgressBarButton bar;
    bar.resize(kWidth, kHeight);
    bar.setStateSource([&] { return std::optional<ProgressState>(c.state); });
    EXPECT_EQ(ProgressBarButton::percentText(c.state), c.text);

    const QImage image = bar.grab().toImage().convertToFormat(QImage::Format_ARGB32);
    ASSERT_EQ(image.size(), QSize(kWidth, kHeight));
    const int row = 3;  // above the centred text
    if (c.colour == 0) {
        for (int x = 1; x < kWidth - 1; ++x) {
            const QRgb pixel = image.pixel(x, row);
            ASSERT_TRUE(pixel != kRed && pixel != kGreen && pixel != kYellow) << "x " << x;
        }
        return;
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

INSTANTIATE_TEST_SUITE_P(
    Cases, ProgressBarDrawing,
    ::testing::Values(BarCase{"half", {8192, 4096, false}, "50%", 254, kYellow},
                      BarCase{"full", {8192, 8192, false}, "100%", 508, kGreen},
                      BarCase{"failedQuarter", {8192, 2048, true}, "25%", 127, kRed},
                      BarCase{"oneThird", {3, 1, false}, "33%", 169, kYellow},
                      BarCase{"emptyImage", {0, 0, false}, "0%", 0, 0},
                      BarCase{"emptyImageFailed", {0, 5, true}, "0%", 0, 0}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(ProgressBarText, IsDrawnInTheBar) {
    // The text is the only thing drawn in the button-text colour across the middle.
    ProgressBarButton bar;
    bar.resize(kWidth, kHeight);
    ProgressState state{100, 0, false};
    bar.setStateSource([&] { return std::optional<ProgressState>(state); });
    const QImage empty = bar.grab().toImage();
    state.bytesWritten = 99;
    const QImage almost = bar.grab().toImage();
    // Same fill colour (yellow) both times, different text: the pixels around the
    // centre must differ.
    EXPECT_NE(empty.copy(kWidth / 2 - 20, 4, 40, kHeight - 8),
              almost.copy(kWidth / 2 - 20, 4, 40, kHeight - 8));
}

}  // namespace
