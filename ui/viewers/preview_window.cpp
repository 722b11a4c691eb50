#include "ui/viewers/preview_window.h"

#include <QGuiApplication>
#include <QKeyEvent>
#include <QPainter>
#include <QScreen>
#include <QScrollBar>
#include <QStyle>

#include "base/settings.h"
#include "base/trace.h"

namespace veld {

namespace {

bool gSaveRect = true;

constexpr int kMinWidth = 550;
constexpr size_t kMaxPages = 256;

// The fitted rectangle of a source in a target, in floating point with the
// results truncated: full width when the target is relatively taller, else
// full height, centred along the other axis.
QRect FitInto(int sourceWidth, int sourceHeight, int targetWidth, int targetHeight) {
    double targetRatio = targetHeight ? double(targetWidth) / targetHeight : 0.0;
    double sourceRatio = sourceHeight ? double(sourceWidth) / sourceHeight : 0.0;
    if (targetRatio <= sourceRatio && targetWidth > 0 && sourceWidth > 0) {
        double scale = double(sourceWidth) / targetWidth;
        int height = int(sourceHeight / scale);
        return QRect(0, (targetHeight - height) / 2, targetWidth, height);
    }
    if (targetHeight <= 0 || sourceHeight <= 0) return QRect(0, 0, targetWidth, targetHeight);
    double scale = double(sourceHeight) / targetHeight;
    int width = int(sourceWidth / scale);
    return QRect((targetWidth - width) / 2, 0, width, targetHeight);
}

}  // namespace

QImage ScaleImageOnWhite(const QImage& picture, int width, int height) {
    if (picture.isNull() || width <= 0 || height <= 0) return {};
    QImage out(width, height, QImage::Format_RGB32);
    out.fill(Qt::white);
    QRect fitted = FitInto(picture.width(), picture.height(), width, height);
    QPainter painter(&out);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.drawImage(fitted, picture);
    return out;
}

void SetPreviewSavesWindowRect(bool save) { gSaveRect = save; }
bool PreviewSavesWindowRect() { return gSaveRect; }

PreviewWindow::PreviewWindow(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("previewWindow"));
    setWindowTitle(QStringLiteral("No image"));
    setWindowFlag(Qt::WindowMaximizeButtonHint, true);
    setWindowFlag(Qt::WindowMinimizeButtonHint, true);
    allPageConvert_ = ReadIniInt("BMPV", "ALLPAGECNV", 0);
    fitMode_ = ReadIniInt("BMPV", "DISPALL", 1) != 0;
    hbar_ = new QScrollBar(Qt::Horizontal, this);
    vbar_ = new QScrollBar(Qt::Vertical, this);
    hbar_->setSingleStep(1);
    vbar_->setSingleStep(1);
    connect(hbar_, &QScrollBar::valueChanged, this, [this] { update(); });
    connect(vbar_, &QScrollBar::valueChanged, this, [this] { update(); });
    resize(kMinWidth, 700);
    layoutBars();
}

PreviewWindow::~PreviewWindow() = default;

void PreviewWindow::AddPage(const QImage& picture, const QString& caption) {
    if (pages_.size() >= kMaxPages) return;
    pages_.push_back(picture);
    current_ = picture;
    caption_ = caption;

    // Window size for the new page.
    QScreen* screen = this->screen() ? this->screen() : QGuiApplication::primaryScreen();
    QSize screenSize = screen ? screen->availableGeometry().size() : QSize(1280, 800);
    const int bar = style()->pixelMetric(QStyle::PM_ScrollBarExtent);
    if (fitMode_) {
        resize(width() >= kMinWidth - 1 ? width() + 1 : kMinWidth, height());
    } else {
        int w = qBound(kMinWidth, current_.width() + bar + 6, qMax(kMinWidth, screenSize.width()));
        int h = qMin(current_.height() + bar + 6, screenSize.height());
        resize(w, h);
    }

    LogLine("SetBmpInfo %d %d", current_.width(), current_.height());
    if (current_.width() == 0 && current_.height() == 0) LogLine("SetBmpInfo w&h=0");
    LogLine("DEBUG 3 hit %d %d", current_.width(), current_.height());
    setWindowTitle(current_.isNull() ? QStringLiteral("No image") : caption_);
    updateRanges();
    update();
}

int PreviewWindow::Show(const QImage& picture, const QString& caption) {
    AddPage(picture, caption);
    return exec();
}

int PreviewWindow::horizontalRange() const {
    if (fitMode_) return 0;
    return qMax(0, current_.width() - (width() - (vbar_->isVisible() ? vbar_->width() : 0)));
}

int PreviewWindow::verticalRange() const {
    if (fitMode_) return 0;
    return qMax(0, current_.height() - (height() - (hbar_->isVisible() ? hbar_->height() : 0)));
}

void PreviewWindow::updateRanges() {
    // Bars are shown only in actual-size mode and only with something to
    // scroll; showing one bar narrows the client, so settle twice.
    for (int pass = 0; pass < 2; ++pass) {
        int h = horizontalRange();
        int v = verticalRange();
        hbar_->setVisible(!fitMode_ && h > 0);
        vbar_->setVisible(!fitMode_ && v > 0);
        hbar_->setRange(0, h);
        vbar_->setRange(0, v);
        hbar_->setPageStep(qMax(1, h / 10));
        vbar_->setPageStep(qMax(1, v / 10));
    }
    layoutBars();
}

void PreviewWindow::layoutBars() {
    const int extent = style()->pixelMetric(QStyle::PM_ScrollBarExtent);
    const bool both = hbar_->isVisible() && vbar_->isVisible();
    hbar_->setGeometry(0, height() - extent, width() - (both ? extent : 0), extent);
    vbar_->setGeometry(width() - extent, 0, extent, height() - (both ? extent : 0));
}

void PreviewWindow::toggleDisplayMode() {
    fitMode_ = !fitMode_;
    WriteIniInt("BMPV", "DISPALL", fitMode_ ? 1 : 0);
    updateRanges();
    update();
}

void PreviewWindow::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.fillRect(rect(), palette().window());
    if (current_.isNull()) return;
    if (fitMode_) {
        QRect fitted = FitInto(current_.width(), current_.height(), width() - 15, height() - 15);
        drawn_ = fitted.translated(8, 8);
        painter.setRenderHint(QPainter::SmoothPixmapTransform);
        painter.drawImage(drawn_, current_);
        painter.setPen(Qt::black);
        painter.drawRect(drawn_.adjusted(-1, -1, 0, 0));
    } else {
        int visibleW = width() - (vbar_->isVisible() ? vbar_->width() : 0) - 3;
        int visibleH = height() - (hbar_->isVisible() ? hbar_->height() : 0) - 3;
        QRect source(hbar_->value(), vbar_->value(), qMin(visibleW, current_.width() - hbar_->value()),
                     qMin(visibleH, current_.height() - vbar_->value()));
        drawn_ = QRect(QPoint(3, 3), source.size());
        painter.drawImage(drawn_.topLeft(), current_, source);
        painter.setPen(Qt::black);
        painter.drawRect(drawn_.adjusted(-1, -1, 0, 0));
    }
}

void PreviewWindow::resizeEvent(QResizeEvent* event) {
    QDialog::resizeEvent(event);
    updateRanges();
    update();
}

bool PreviewWindow::TurnPage(int step) {
    QImage picture;
    QString caption;
    if (!turner_ || !turner_(step, &picture, &caption) || picture.isNull()) return false;
    // The shown page is replaced: paging through a card keeps one picture.
    if (!pages_.empty()) pages_.back() = picture;
    current_ = picture;
    caption_ = caption;
    setWindowTitle(caption_);
    hbar_->setValue(0);
    vbar_->setValue(0);
    updateRanges();
    update();
    return true;
}

void PreviewWindow::keyPressEvent(QKeyEvent* event) {
    // The space bar acts on release; it must not press the default button.
    if (event->key() == Qt::Key_Space) return;
    switch (event->key()) {
    case Qt::Key_Left:
    case Qt::Key_Up:
    case Qt::Key_PageUp: TurnPage(-1); return;
    case Qt::Key_Right:
    case Qt::Key_Down:
    case Qt::Key_PageDown: TurnPage(1); return;
    default: break;
    }
    QDialog::keyPressEvent(event);
}

void PreviewWindow::keyReleaseEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Space && !event->isAutoRepeat()) {
        toggleDisplayMode();
        return;
    }
    QDialog::keyReleaseEvent(event);
}

void PreviewWindow::done(int result) {
    if (PreviewSavesWindowRect() && windowState() == Qt::WindowNoState) {
        QRect frame = frameGeometry();
        QScreen* screen = this->screen() ? this->screen() : QGuiApplication::primaryScreen();
        QSize screenSize = screen ? screen->geometry().size() : QSize(0, 0);
        SaveWindowRect("BmpViewSimple", ScreenRect{frame.left(), frame.top(), frame.right() + 1, frame.bottom() + 1},
                       screenSize.width(), screenSize.height());
    }
    pages_.clear();
    QDialog::done(result);
}

}  // namespace veld
