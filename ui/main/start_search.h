// Starting a search from a window of the interface (the main window or the
// wizard's first page): the drive selection and options dialogs, then the
// progress window (owned by that window) and the controller's worker. The
// controller ends the search; the progress window goes with it.
#pragma once

#include <functional>
#include <string>

#include "finder/search_session.h"

class QWidget;

namespace veld {

class SearchController;

// Results of StartSearch.
enum SearchStartResult : int {
    SearchStarted = 0,
    SearchDriveCancelled = -1,
    SearchOptionsCancelled = -2,  // also: the worker could not be started
    SearchResetFailed = -3,
    SearchResultsKept = -4,  // the user kept found files not saved yet
};

// Runs the drive selection and the options dialog, then starts the
// controller's search (its previous results are cleared, after asking when
// they hold files not saved yet) with the progress window owned by
// startWindow.
int StartSearch(SearchController& controller, QWidget* startWindow);
// Searches a disk-image file without the two dialogs, as if it had been
// chosen in the drive selection and started with the saved options over the
// whole volume (a program started with an image to open). A path that cannot
// be opened or read gets the message the options dialog gives.
int StartSearchOfImage(SearchController& controller, QWidget* startWindow, const std::string& imagePath);

// Tests choose the source and options instead of the two dialogs: the
// function fills letter, image path and options and returns false to act as
// a cancelled drive selection. An empty function restores the dialogs.
using SearchSourceChooser = std::function<bool(char* letter, std::string* imagePath, SearchOptions* options)>;
void SetSearchSourceForTest(SearchSourceChooser chooser);

}  // namespace veld
