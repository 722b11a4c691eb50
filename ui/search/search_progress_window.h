// The modeless window that shows a running search: a phase heading, a detail
// line, a line about the latest found file, the bitmap percentage bar, a
// turning spinner and a Cancel button.
//
// The engine reports through the search's SearchProgress on the search worker
// thread, which calls SetLine and SetPercent here. Those two only store the
// values under a lock and schedule one queued update of the widgets on the
// window's thread; they never wait for that thread, so the user-interface
// thread may block on the worker (FinishSearch) without a deadlock.
//
// Open attaches the window as the progress display of the search it is given;
// the destructor detaches it. Cancel posts MsgProgressCancel (31024, wParam -1) to the
// parent; the window stays until its owner deletes it.
#pragma once

#include <QDialog>
#include <QPointer>
#include <QString>
#include <atomic>
#include <mutex>
#include <string>

#include "base/search_progress.h"

class QLabel;
class QPushButton;
class QTimer;

namespace veld {

class BitmapProgressBar;

// The progress window of a running search, attached to the search's progress.
class CSearchProgress : public QDialog, public ProgressDisplay {
    Q_OBJECT
public:
    explicit CSearchProgress(QWidget* parent = nullptr);
    ~CSearchProgress() override;

    // Stores the texts and the parent, builds and shows the window centred on
    // the screen, starts the 500 ms spinner timer and attaches the window to
    // the reports (a search's progress, which must outlive the window; null:
    // none). An empty button label gives the compact window without bar and
    // button.
    void Open(QWidget* parent, const QString& caption, const QString& firstLine, const QString& buttonLabel,
              SearchProgress* reports = nullptr);

    // Any thread. Line 1, 2 or 3; other numbers are ignored.
    void SetLine(int line, const std::string& text) override;
    void SetLine(int line, const QString& text);
    // Any thread. 0..100.
    void SetPercent(int percent) override;

    // Inspection on the window's thread (tests). The texts shown, after the
    // pending updates have been applied (call applyPending() or let the
    // event loop run).
    QString lineText(int line) const;
    QString spinnerText() const;
    int percent() const;
    bool buttonShown() const;
    bool barShown() const;
    BitmapProgressBar* bar() const { return bar_; }
    void applyPending();

    // Message number that makes the window active (sent by whoever wants it
    // in front).
    static constexpr int kActivateMessage = 2024;

protected:
    bool event(QEvent* event) override;
    // Escape and the close box ask for a cancel like the button; the window
    // itself stays until its owner deletes it.
    void reject() override;
    void closeEvent(QCloseEvent* event) override;

private:
    void build();
    void layoutControls();
    void tick();
    void onCancel();
    void scheduleApply();

    QPointer<QWidget> owner_;
    QString caption_, firstLine_, buttonLabel_;
    bool compact_ = false;
    bool activatedOnce_ = false;
    SearchProgress* reports_ = nullptr;  // attached to, until the window goes
    int step_ = 0;

    // Written by any thread, read by the window's thread.
    std::mutex mutex_;
    QString pendingLines_[3];
    bool lineDirty_[3] = {false, false, false};
    int pendingPercent_ = 0;
    bool percentDirty_ = false;
    std::atomic<bool> applyScheduled_{false};

    QLabel* lines_[3] = {nullptr, nullptr, nullptr};
    QLabel* spinner_ = nullptr;
    QPushButton* button_ = nullptr;
    BitmapProgressBar* bar_ = nullptr;
    QLabel* separators_[2] = {nullptr, nullptr};
    QTimer* timer_ = nullptr;
};

}  // namespace veld
