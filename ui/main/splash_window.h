// The splash window: picture 167 in a borderless window in the middle of the
// screen for 2000 ms, or until the first click or key press anywhere in the
// application. Closing it tells the main window, once (closed), and the
// window goes.
#pragma once

#include <QImage>
#include <QTimer>
#include <QWidget>

namespace veld {

// The splash picture shown over the main window while it starts.
class SplashWindow : public QWidget {
    Q_OBJECT
public:
    static constexpr int kShowMilliseconds = 2000;

    SplashWindow();
    ~SplashWindow() override;

    // Shows the splash and starts its timer.
    void start();
    // Closes the splash (timer, input, or the caller) and emits closed.
    void closeSplash();
    bool isClosed() const { return closed_; }

signals:
    void closed();

protected:
    void paintEvent(QPaintEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QImage picture_;
    QTimer timer_;
    bool closed_ = false;
};

}  // namespace veld
