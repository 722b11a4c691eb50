// The splash window: picture 167 in a borderless window in the middle of the
// screen for 2000 ms, or until the first click or key press anywhere in the
// application. Closing it posts the deferred start-up message (3028) to the
// main window, once.
#pragma once

#include <QImage>
#include <QPointer>
#include <QTimer>
#include <QWidget>

namespace veld {

// The splash picture shown over the main window while it starts.
class CSplashWnd : public QWidget {
    Q_OBJECT
public:
    static constexpr int kShowMilliseconds = 2000;

    // mainWindow receives 3028 when the splash closes.
    explicit CSplashWnd(QWidget* mainWindow);
    ~CSplashWnd() override;

    // Shows the splash unless one is already showing; returns it (or null).
    static CSplashWnd* ShowSplash(QWidget* mainWindow);
    static CSplashWnd* Current();

    // Closes the splash (timer, input, or the caller) and posts 3028.
    void closeSplash();
    bool closed() const { return closed_; }

protected:
    void paintEvent(QPaintEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QPointer<QWidget> main_;
    QImage picture_;
    QTimer timer_;
    bool closed_ = false;
};

}  // namespace veld
