// Runs one search: open the source, copy the FAT, scan the live tree and the
// deleted folders, then search the clusters for signatures. The worker posts
// MsgSearchFinished to the start window when it ends.
#pragma once

#include <string>

#include "finder/search_state.h"
#include "platform/window_message.h"

namespace veld {

// Empties the found-file lists, counters and the cluster map, and closes the
// search volume. Waits for a previous worker first.
void ResetSearch();
// 0 when the worker started, -1 when the thread could not be created.
int StartSearchWorker(MessageTarget* startWindow, char driveLetter, const std::string& imagePath,
                      const SearchOptions& options);
// The search itself (on the worker); a SearchResult code.
int RunSearch(char driveLetter, const std::string& imagePath, const SearchOptions& options);
// The same search over the source already open in gSearch.volume (for example
// an in-memory card); the signature search reads its flags from gSearch.options.
int SearchOpenVolume(const SearchOptions& options);
// The engine side of finishing: waits at most 2000 ms for the worker.
// Returns true when the worker has ended.
bool WaitForSearchWorker(int milliseconds = 2000);
void RequestCancel();
// Text for the error message of a failed search.
std::string SearchErrorText(int resultCode);

}  // namespace veld
