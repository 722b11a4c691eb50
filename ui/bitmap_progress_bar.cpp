#include "ui/bitmap_progress_bar.h"

#include <QPaintEvent>
#include <algorithm>

#include "ui/picture_loader.h"

namespace veld {

int ProgressFillWidth(int percent, int barWidth) {
    percent = std::clamp(percent, 0, 100);
    return int(double(percent) / 100.0 * double(barWidth));
}

void DrawBitmapProgressBar(QPainter& painter, const QRect& bar, const QImage& fill, int percent) {
    if (bar.width() <= 0 || bar.height() <= 0) return;
    percent = std::clamp(percent, 0, 100);
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing, false);

    // Outline one pixel outside the bar.
    painter.setPen(QPen(Qt::black, 0));
    painter.setBrush(Qt::NoBrush);
    painter.drawRect(QRect(bar.left() - 1, bar.top() - 1, bar.width() + 1, bar.height() + 1));

    const int filled = ProgressFillWidth(percent, bar.width());
    if (filled > 0) {
        const QRect target(bar.left(), bar.top(), filled, bar.height());
        if (fill.isNull()) {
            painter.fillRect(target, QColor(40, 90, 200));
        } else {
            // The fill picture is copied from its left edge; a picture of a
            // different size is first brought to the bar's size.
            const QImage& source = fill.size() == bar.size() ? fill : fill.scaled(bar.size());
            painter.drawImage(target, source, QRect(0, 0, filled, bar.height()));
        }
    }
    if (filled < bar.width())
        painter.fillRect(QRect(bar.left() + filled, bar.top(), bar.width() - filled, bar.height()), Qt::white);
    if (percent > 0 && percent < 100) {
        const int x = bar.left() + filled;
        painter.drawLine(x, bar.top(), x, bar.top() + bar.height());
    }
    painter.restore();
}

BitmapProgressBar::BitmapProgressBar(QWidget* parent) : QWidget(parent) {
    LoadPicture(Picture::ProgressFill, &fill_);
    setAttribute(Qt::WA_OpaquePaintEvent, false);
}

void BitmapProgressBar::setPercent(int percent) {
    percent = std::clamp(percent, 0, 100);
    if (percent == percent_) return;
    percent_ = percent;
    update();
}

QRect BitmapProgressBar::barRect() const { return rect().adjusted(1, 1, -1, -1); }

void BitmapProgressBar::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    DrawBitmapProgressBar(painter, barRect(), fill_, percent_);
}

}  // namespace veld
