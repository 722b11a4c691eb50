// Starting and finishing a search from a window of the interface: the drive
// selection and options dialogs, the reset of the previous results, the
// progress window and the worker; at the end the final refresh of the views
// and the message to the user.
#pragma once

#include <functional>
#include <string>

#include "finder/search_session.h"

class QWidget;

namespace veld {

class CSearchProgress;

class MessageTarget;

// Results of StartSearch.
enum SearchStartResult : int {
    SearchStarted = 0,
    SearchDriveCancelled = -1,
    SearchOptionsCancelled = -2,  // also: the worker could not be started
    SearchResetFailed = -3,
};

// Runs the drive selection and the options dialog, resets the session (and
// empties the views), opens the progress window owned by startWindow and
// starts the session's worker, which posts 3025 and 3026 to target.
int StartSearch(SearchSession& session, QWidget* startWindow, MessageTarget* target);
// Searches a disk-image file without the two dialogs, as if it had been
// chosen in the drive selection and started with the saved options over the
// whole volume (a program started with an image to open). A path that cannot
// be opened or read gets the message the options dialog gives.
int StartSearchOfImage(SearchSession& session, QWidget* startWindow, MessageTarget* target,
                       const std::string& imagePath);
// Called by every receiver of 3025: waits for the worker (at most 2000 ms),
// refreshes the views with update code 0, closes the progress window and
// tells the user about an error or an empty result.
void FinishSearch(SearchSession& session);
// Resets the session and empties the result views (update code 1).
void ResetSearchAndViews(SearchSession& session);
// The open search progress window, or null.
CSearchProgress* CurrentSearchProgress();

// Tests choose the source and options instead of the two dialogs: the
// function fills letter, image path and options and returns false to act as
// a cancelled drive selection. An empty function restores the dialogs.
using SearchSourceChooser = std::function<bool(char* letter, std::string* imagePath, SearchOptions* options)>;
void SetSearchSourceForTest(SearchSourceChooser chooser);

}  // namespace veld
