// Runs one search: open the source, copy the FAT, scan the live tree and the
// deleted folders, then search the clusters for signatures. Everything the
// search builds goes into the session it is given. The worker posts
// MsgSearchFinished to the start window when it ends.
#pragma once

#include <string>

#include "finder/search_session.h"
#include "platform/window_message.h"

namespace veld {

// Empties the session's found-file lists, counters and cluster map, and
// closes its volume. Waits for a previous worker first.
void ResetSearch(SearchSession& session);
// 0 when the worker started, -1 when the thread could not be created (or a
// search of the session still runs).
int StartSearchWorker(SearchSession& session, MessageTarget* startWindow, char driveLetter,
                      const std::string& imagePath, const SearchOptions& options);
// The search itself (on the worker); a SearchResult code. Whatever it throws
// the worker catches: the search then ends with SearchFailed.
int RunSearch(SearchSession& session, char driveLetter, const std::string& imagePath, const SearchOptions& options);
// The same search over the source already open in session.volume (for
// example an in-memory card); the signature search reads its flags from
// session.options.
int SearchOpenVolume(SearchSession& session, const SearchOptions& options);
// The engine side of finishing: waits at most the given time for the worker.
// Returns true when the worker has ended.
bool WaitForSearchWorker(SearchSession& session, int milliseconds = 2000);
// Asks the session's search to stop; safe from any thread and from a signal
// handler (it only stores to an atomic flag).
void RequestCancel(SearchSession& session);
// Text for the error message of a failed search.
std::string SearchErrorText(int resultCode);

}  // namespace veld
