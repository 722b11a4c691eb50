// The bitmap progress bar shared by the progress windows and the disk-image
// dialogs: a black outline one pixel outside the bar, the left part of the
// fill picture (172) copied in for the done share, white for the rest, and a
// black boundary line while the work is between 0 and 100 %.
#pragma once

#include <QImage>
#include <QPainter>
#include <QRect>
#include <QWidget>

namespace veld {

// Draws the bar into bar (its client rectangle; the outline goes one pixel
// outside it). fill may be null: the done share is then painted blue.
void DrawBitmapProgressBar(QPainter& painter, const QRect& bar, const QImage& fill, int percent);
// Filled width for a percentage: percent / 100 * width, truncated.
int ProgressFillWidth(int percent, int barWidth);

// A widget that draws the bar inside its rectangle minus a one-pixel border
// for the outline. Loads picture 172 itself.
class BitmapProgressBar : public QWidget {
    Q_OBJECT
public:
    explicit BitmapProgressBar(QWidget* parent = nullptr);
    void setPercent(int percent);  // clamped to 0..100; repaints
    int percent() const { return percent_; }
    // The rectangle the bar occupies inside the widget.
    QRect barRect() const;
    const QImage& fillPicture() const { return fill_; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QImage fill_;
    int percent_ = 0;
};

}  // namespace veld
