#include "ui/main/splash_window.h"

#include <QApplication>
#include <QGuiApplication>
#include <QPainter>
#include <QScreen>

#include "ui/picture_loader.h"
#include "ui/posted_message.h"

namespace veld {

namespace {
CSplashWnd* gSplash = nullptr;
}

CSplashWnd::CSplashWnd(QWidget* mainWindow)
    : QWidget(nullptr, Qt::SplashScreen | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint), main_(mainWindow) {
    setObjectName(QStringLiteral("splashWindow"));
    setAttribute(Qt::WA_DeleteOnClose);
    if (!LoadJpegResource(PicSplash, &picture_)) picture_ = QImage();
    setFixedSize(picture_.isNull() ? QSize(400, 250) : picture_.size());
    if (QScreen* screen = QGuiApplication::primaryScreen()) {
        QRect area = screen->availableGeometry();
        move(area.center() - rect().center());
    }
    timer_.setSingleShot(true);
    connect(&timer_, &QTimer::timeout, this, &CSplashWnd::closeSplash);
    qApp->installEventFilter(this);
    gSplash = this;
}

CSplashWnd::~CSplashWnd() {
    qApp->removeEventFilter(this);
    if (gSplash == this) gSplash = nullptr;
}

CSplashWnd* CSplashWnd::Current() { return gSplash; }

CSplashWnd* CSplashWnd::ShowSplash(QWidget* mainWindow) {
    if (gSplash) return nullptr;
    auto* splash = new CSplashWnd(mainWindow);
    splash->show();
    splash->timer_.start(kShowMilliseconds);
    return splash;
}

void CSplashWnd::closeSplash() {
    if (closed_) return;
    closed_ = true;
    timer_.stop();
    qApp->removeEventFilter(this);
    if (QWidget* main = main_.data()) {
        main->update();
        QCoreApplication::postEvent(main, new PostedMessage(MsgDeferredStart, 0, 0));
    }
    close();
}

void CSplashWnd::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    if (!picture_.isNull()) {
        painter.drawImage(0, 0, picture_);
        return;
    }
    painter.fillRect(rect(), Qt::white);
    painter.drawText(rect(), Qt::AlignCenter, QStringLiteral("Veld"));
}

bool CSplashWnd::eventFilter(QObject* watched, QEvent* event) {
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
