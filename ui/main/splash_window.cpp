#include "ui/main/splash_window.h"

#include <QApplication>
#include <QGuiApplication>
#include <QPainter>
#include <QScreen>

#include "ui/picture_loader.h"

namespace veld {

SplashWindow::SplashWindow()
    : QWidget(nullptr, Qt::SplashScreen | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint) {
    setObjectName(QStringLiteral("splashWindow"));
    setAttribute(Qt::WA_DeleteOnClose);
    if (!LoadPicture(Picture::Splash, &picture_)) picture_ = QImage();
    setFixedSize(picture_.isNull() ? QSize(400, 250) : picture_.size());
    if (QScreen* screen = QGuiApplication::primaryScreen()) {
        QRect area = screen->availableGeometry();
        move(area.center() - rect().center());
    }
    timer_.setSingleShot(true);
    connect(&timer_, &QTimer::timeout, this, &SplashWindow::closeSplash);
    qApp->installEventFilter(this);
}

SplashWindow::~SplashWindow() { qApp->removeEventFilter(this); }

void SplashWindow::start() {
    show();
    timer_.start(kShowMilliseconds);
}

void SplashWindow::closeSplash() {
    if (closed_) return;
    closed_ = true;
    timer_.stop();
    qApp->removeEventFilter(this);
    emit closed();
    close();
}

void SplashWindow::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    if (!picture_.isNull()) {
        painter.drawImage(0, 0, picture_);
        return;
    }
    painter.fillRect(rect(), Qt::white);
    painter.drawText(rect(), Qt::AlignCenter, QStringLiteral("Veld"));
}

bool SplashWindow::eventFilter(QObject* watched, QEvent* event) {
    switch (event->type()) {
    case QEvent::MouseButtonPress:
    case QEvent::NonClientAreaMouseButtonPress:
    case QEvent::KeyPress:
        if (!closed_) closeSplash();
        break;
    default: break;
    }
    return QWidget::eventFilter(watched, event);
}

}  // namespace veld
