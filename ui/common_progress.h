// The shared modeless progress dialog for long work on the user-interface
// thread (extracting a large found file, refilling the result views): a
// message line, a turning spinner, the bitmap progress bar and a Cancel
// button. The work keeps running on the caller's thread; it updates the bar
// with SetPercent and polls Cancelled() between its steps, letting the event
// loop run (QCoreApplication::processEvents) so the timer, painting and the
// button keep working.
//
// Messages to the owner: MsgCommonProgressState (31125) is sent with wParam 0
// on Open and 1 on Close (the main frame greys and enables its commands);
// MsgProgressCancel (31024) is posted with wParam -1 on Cancel and 0 once the
// window has closed.
#pragma once

#include <QDialog>
#include <QPointer>
#include <QString>

class QLabel;
class QPushButton;
class QTimer;

namespace veld {

class BitmapProgressBar;

// The common progress dialog of long interface work (refilling the list, extracting a file).
class CCommonProgress : public QDialog {
    Q_OBJECT
public:
    // Opens the one dialog (closing a previous one first). With mode set the
    // button is hidden and the hint "ESCキーを押すとキャンセルします" shown;
    // otherwise the hint is hidden. An empty button text hides the button and
    // the bar and shrinks the dialog to its frame.
    static void Open(QWidget* owner, const QString& caption, const QString& message, const QString& buttonText,
                     bool mode = false);
    static void SetPercent(int percent);
    // Applied to the message line on the next timer tick.
    static void SetStatusText(const QString& text);
    // After this, Cancel (button or Escape) closes the dialog as OK without
    // setting the abort flag.
    static void SetWorkFinished();
    // The abort flag while a dialog is open, else false.
    static bool Cancelled();
    static void Close();
    // The open dialog, or null.
    static CCommonProgress* Current();

    // Inspection (tests, and callers that lay out around it).
    QString messageText() const;
    QString spinnerText() const;
    bool buttonShown() const;
    bool barShown() const;
    bool hintShown() const;
    int percent() const;
    BitmapProgressBar* bar() const { return bar_; }

protected:
    void reject() override;  // the Escape key and the button
    void closeEvent(QCloseEvent* event) override;

private:
    CCommonProgress(QWidget* owner, const QString& caption, const QString& message, const QString& buttonText,
                    bool mode);
    ~CCommonProgress() override;
    void tick();
    void onCancel();
    void finishClose();

    QPointer<QWidget> owner_;
    QString pendingStatus_;
    bool hasPendingStatus_ = false;
    bool mode_ = false;
    bool workFinished_ = false;
    bool firstTick_ = true;
    bool closed_ = false;
    int step_ = 0;
    QLabel* message_ = nullptr;
    QLabel* spinner_ = nullptr;
    QLabel* hint_ = nullptr;
    QPushButton* button_ = nullptr;
    BitmapProgressBar* bar_ = nullptr;
    QTimer* timer_ = nullptr;
};

}  // namespace veld
