// The window of long work, shared by the common progress dialog, the search's
// progress window and the disk tools' dialog: a fixed-size dialog in the
// dialog font, laid out in dialog units by each of them, with the bitmap
// progress bar, a Cancel button and, where the work wants one, a spinner
// that turns every 500 ms.
//
// The Cancel button, Escape and the user's close box ask for a cancel
// (cancelRequested) instead of closing: the work decides when the window
// goes. Once the work is over (setWorkOver) they close the window; a close by
// the program always goes through.
#pragma once

#include <QDialog>
#include <QString>

class QLabel;
class QPushButton;
class QTimer;

namespace veld {

class BitmapProgressBar;

// The spinner's eight steps: "／", "－", "＼", "｜" twice; step wraps at 8.
QString SpinnerText(int step);

class ProgressDialog : public QDialog {
    Q_OBJECT
public:
    explicit ProgressDialog(QWidget* parent = nullptr);

    // 0..100.
    void setPercent(int percent);
    int percent() const;
    BitmapProgressBar* bar() const { return bar_; }
    QPushButton* cancelButton() const { return button_; }
    bool barShown() const;
    bool buttonShown() const;
    QString spinnerText() const;

    // From now on Cancel, Escape and the close box close the window.
    void setWorkOver();
    bool workOver() const { return workOver_; }

signals:
    void cancelRequested();

protected:
    QLabel* spinner() const { return spinner_; }
    // Shows the spinner at its first step and turns it every 500 ms; its
    // first turn brings the window to the front.
    void startSpinner();
    void stopSpinner();
    // One turn of the spinner (a subclass adds what it does on the beat).
    virtual void tick();

    void reject() override;
    void closeEvent(QCloseEvent* event) override;

private:
    BitmapProgressBar* bar_ = nullptr;
    QPushButton* button_ = nullptr;
    QLabel* spinner_ = nullptr;
    QTimer* spinnerTimer_ = nullptr;
    int step_ = 0;
    bool activatedOnce_ = false;
    bool workOver_ = false;
};

}  // namespace veld
