// The common progress dialog of long work on the user-interface thread
// (extracting a large found file): a message line, the turning spinner, the
// bitmap progress bar and a Cancel button. It shows while it lives. The work
// keeps running on the caller's thread: it updates the bar with setPercent and
// polls cancelled() between its steps, letting the event loop run
// (QCoreApplication::processEvents) so the timer, painting and the button keep
// working. Whoever opens it greys the window's commands meanwhile.
#pragma once

#include <QString>

#include "ui/progress_dialog.h"

class QLabel;

namespace veld {

class CommonProgress : public ProgressDialog {
    Q_OBJECT
public:
    // Shows the dialog centred on the owner's screen. With escapeHint the
    // button is hidden and "ESCキーを押すとキャンセルします" shown instead. An
    // empty button text hides the button and the bar and shrinks the dialog
    // to its message frame.
    CommonProgress(QWidget* owner, const QString& caption, const QString& message, const QString& buttonText,
                   bool escapeHint = false);

    // Applied to the message line on the next turn of the spinner.
    void setStatusText(const QString& text);
    // After this, Cancel (button or Escape) closes the dialog without
    // counting as a cancel.
    void setWorkFinished() { setWorkOver(); }
    // The user pressed Cancel (or Escape) while the work ran.
    bool cancelled() const { return cancelled_; }

    // Inspection (tests).
    QString messageText() const;
    bool hintShown() const;

protected:
    void tick() override;

private:
    bool cancelled_ = false;
    QString pendingStatus_;
    bool hasPendingStatus_ = false;
    QLabel* message_ = nullptr;
    QLabel* hint_ = nullptr;
};

}  // namespace veld
