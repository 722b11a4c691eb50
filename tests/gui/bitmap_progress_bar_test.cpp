#include "ui/bitmap_progress_bar.h"
#include "ui/progress_dialog.h"

#include <gtest/gtest.h>

namespace {

// Draws the bar at a percentage into a canvas with a 2-pixel margin.
QImage DrawAt(int percent, const QImage& fill) {
    QImage canvas(104, 14, QImage::Format_RGB32);
    canvas.fill(QColor(128, 128, 128));
    QPainter painter(&canvas);
    veld::DrawBitmapProgressBar(painter, QRect(2, 2, 100, 10), fill, percent);
    painter.end();
    return canvas;
}

QImage RedFill() {
    QImage fill(100, 10, QImage::Format_RGB32);
    fill.fill(QColor(255, 0, 0));
    return fill;
}

TEST(BitmapProgressBar, FillWidthIsTruncatedShare) {
    EXPECT_EQ(veld::ProgressFillWidth(0, 343), 0);
    EXPECT_EQ(veld::ProgressFillWidth(50, 343), 171);
    EXPECT_EQ(veld::ProgressFillWidth(100, 343), 343);
    EXPECT_EQ(veld::ProgressFillWidth(-5, 343), 0);
    EXPECT_EQ(veld::ProgressFillWidth(250, 343), 343);
}

TEST(BitmapProgressBar, HalfWayShowsFillBoundaryAndWhite) {
    QImage c = DrawAt(50, RedFill());
    // Outline one pixel outside the bar.
    EXPECT_EQ(c.pixelColor(1, 6), QColor(Qt::black));
    EXPECT_EQ(c.pixelColor(102, 6), QColor(Qt::black));
    EXPECT_EQ(c.pixelColor(50, 1), QColor(Qt::black));
    EXPECT_EQ(c.pixelColor(50, 12), QColor(Qt::black));
    EXPECT_EQ(c.pixelColor(0, 6), QColor(128, 128, 128));
    // Fill copied from the picture's left part, white beyond the boundary.
    EXPECT_EQ(c.pixelColor(10, 6), QColor(255, 0, 0));
    EXPECT_EQ(c.pixelColor(51, 6), QColor(255, 0, 0));
    EXPECT_EQ(c.pixelColor(52, 6), QColor(Qt::black));  // boundary at 2 + 50
    EXPECT_EQ(c.pixelColor(60, 6), QColor(Qt::white));
}

TEST(BitmapProgressBar, NoBoundaryLineAtZeroOrHundred) {
    QImage empty = DrawAt(0, RedFill());
    for (int x = 2; x < 102; ++x) ASSERT_EQ(empty.pixelColor(x, 6), QColor(Qt::white)) << x;
    QImage full = DrawAt(100, RedFill());
    for (int x = 2; x < 102; ++x) ASSERT_EQ(full.pixelColor(x, 6), QColor(255, 0, 0)) << x;
}

TEST(BitmapProgressBar, WidgetUsesPicture172AndClamps) {
    veld::BitmapProgressBar bar;
    EXPECT_FALSE(bar.fillPicture().isNull());
    bar.resize(345, 18);
    EXPECT_EQ(bar.barRect(), QRect(1, 1, 343, 16));
    bar.setPercent(140);
    EXPECT_EQ(bar.percent(), 100);
    bar.setPercent(-3);
    EXPECT_EQ(bar.percent(), 0);
    bar.setPercent(30);
    QImage shot = bar.grab().toImage();
    // Left of the boundary the fill picture, right of it white.
    EXPECT_NE(shot.pixelColor(20, 9), QColor(Qt::white));
    EXPECT_EQ(shot.pixelColor(300, 9), QColor(Qt::white));
}

TEST(BitmapProgressBar, SpinnerCyclesThroughEightSteps) {
    const char* expected[8] = {"／", "－", "＼", "｜", "／", "－", "＼", "｜"};
    for (int i = 0; i < 8; ++i) EXPECT_EQ(veld::SpinnerText(i), QString::fromUtf8(expected[i]));
    EXPECT_EQ(veld::SpinnerText(8), veld::SpinnerText(0));
    EXPECT_EQ(veld::SpinnerText(-1), veld::SpinnerText(7));
}

}  // namespace
