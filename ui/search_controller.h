// The window's search. The controller owns the SearchSession of one window,
// starts, cancels and clears its search, and turns what the engine reports
// from the worker into named signals on the interface thread:
//
//   worker posts 3026 (one more found file) -> fileFound(record)
//   worker reports a phase (SearchProgress) -> progressText, progressPercent
//   worker posts 3025 (the end)             -> searchFinished(resultCode)
//
// It also holds what the result views share: the found files (FoundFileModel),
// the display filter over them that every view shows (FoundFileFilter), and
// the one selection of the views; and the state of the window's commands,
// greyed while a search, a modal tool or a long piece of interface work runs.
// The views, the main window, the wizard and the tools are handed the
// controller and follow its signals; none of them reaches another.
#pragma once

#include <QObject>
#include <QString>
#include <atomic>
#include <memory>
#include <mutex>
#include <string>

#include "base/search_progress.h"
#include "finder/search_session.h"
#include "ui/queued_message_target.h"

class QItemSelectionModel;

namespace veld {

class FoundFileFilter;
class FoundFileModel;

class SearchController : public QObject, private ProgressDisplay {
    Q_OBJECT
public:
    explicit SearchController(QObject* parent = nullptr);
    // A running search is stopped and its worker waited for; the results go.
    ~SearchController() override;

    SearchSession& session() { return session_; }
    // Where the engine posts for this search (the end, and each found file).
    MessageTarget* messageTarget() { return &target_; }

    // Every found file handed to the views, in registration order.
    FoundFileModel* foundFiles() const { return files_.get(); }
    // The found files the views show (filtered, maybe sorted).
    FoundFileFilter* shownFiles() const { return shown_.get(); }
    // The one selection of the views, over shownFiles().
    QItemSelectionModel* selection() const { return selection_.get(); }
    // "選択ファイル数=%d %s" with the number of selected files and their
    // total size, or " " when nothing is selected.
    QString selectionSummary();

    bool running() const;
    // The last search was cancelled: its results are only part of what the
    // card holds (false again once the results are cleared).
    bool lastSearchCancelled() const { return cancelled_; }
    // What is searched (or was, while its results are shown): the image
    // file's name or the card's device; "" when nothing is.
    QString sourceName() const { return sourceName_; }
    // Files were found and none of them has been saved since.
    bool unsavedFiles() const { return unsaved_; }
    // The save dialog's report: how many files went into which folder.
    void reportSaved(const QString& folder, int saved, int failed, bool cancelled);
    // A search finished with result code 0, even one that found nothing;
    // clearing the results leaves it as it is.
    bool resultsAvailable() const { return resultsAvailable_; }
    // The window's commands: off while a search or a modal tool runs; then
    // the File, View and Tools menus, the tree and the sort bar are greyed,
    // and the views neither sort, open, drag nor offer their menu.
    bool commandsEnabled() const { return commandsEnabled_; }
    void setCommandsEnabled(bool enabled);

    // Clears the previous results and starts the worker on the source (a
    // drive letter, or 0 and a disk-image path) with the commands greyed.
    // False when the worker could not be started; the search has then ended.
    bool start(char driveLetter, const std::string& imagePath, const SearchOptions& options);
    // A text for the window's status bar: pane 0 the message line, pane 1
    // the search and selection pane.
    void showStatus(int pane, const QString& text) { emit statusText(pane, text); }

public slots:
    // Asks the running search to stop (the progress window's Cancel).
    void requestCancel();
    // Stops a running search, empties the found-file lists and the views
    // and closes the source.
    void clearResults();

signals:
    void resultsCleared();
    void searchStarted();
    // One more found file (its index in the session's gcDelFileList) was
    // handed to the views.
    void fileFound(int record);
    // The progress window's line 1 (phase), 2 (detail) or 3 (latest file).
    void progressText(int line, const QString& text);
    void progressPercent(int percent);
    // The worker has ended and the views show every found file; the
    // messages about errors or an empty result follow.
    void searchFinished(int resultCode);
    // Found files were saved into folder (saved written, failed not written;
    // cancelled: the user stopped the saving).
    void filesSaved(const QString& folder, int saved, int failed, bool cancelled);
    void commandsEnabledChanged(bool enabled);
    void statusText(int pane, const QString& text);

private:
    void onEngineMessage(int message, intptr_t wParam);
    void feedOneFoundFile();
    void finishSearch(int resultCode);
    void showEveryFoundFile();
    void emptyViews();
    // ProgressDisplay, called on the worker: the values are stored under the
    // lock and one queued update takes them to the signals.
    void SetLine(int line, const std::string& text) override;
    void SetPercent(int percent) override;
    void scheduleProgress();
    void emitProgress();

    SearchSession session_;
    QueuedMessageTarget target_;
    std::unique_ptr<FoundFileModel> files_;
    std::unique_ptr<FoundFileFilter> shown_;
    std::unique_ptr<QItemSelectionModel> selection_;
    bool resultsAvailable_ = false;
    bool cancelled_ = false;
    bool unsaved_ = false;
    QString sourceName_;
    std::string imagePath_;  // the image searched last ("" for a card)
    bool commandsEnabled_ = true;
    bool feeding_ = false;

    std::mutex progressLock_;
    QString pendingLines_[3];
    bool lineDirty_[3] = {false, false, false};
    int pendingPercent_ = 0;
    bool percentDirty_ = false;
    std::atomic<bool> progressScheduled_{false};
};

// Greys the window's commands while it lives (a modal dialog or tool, the
// common progress dialog of long interface work), then puts back what was.
class GreyedCommands {
public:
    explicit GreyedCommands(SearchController& controller)
        : controller_(controller), were_(controller.commandsEnabled()) {
        controller_.setCommandsEnabled(false);
    }
    ~GreyedCommands() { controller_.setCommandsEnabled(were_); }
    GreyedCommands(const GreyedCommands&) = delete;
    GreyedCommands& operator=(const GreyedCommands&) = delete;

private:
    SearchController& controller_;
    bool were_;
};

}  // namespace veld
