#pragma once

#include <string>

#include "finder/del_file_info.h"
#include "finder/search_session.h"

namespace veld {

// Judges, claims, de-duplicates and lists one found file in the session (see
// the file); the decided state is left in session.lastRegistrationState.
void RegisterFoundFile(SearchSession& session, DelFileInfo record);
// Hands the thumbnails the session's workers finished to their records, the
// thumbnail queue and the count, in registration order; with wait, all of
// them (the search's end). Does nothing without workers.
void PublishThumbnails(SearchSession& session, bool wait);
void RegisterDeletedEntry(SearchSession& session, const DirEntry& entry, const std::string& longName,
                          const std::string& path);
void RegisterDeletedFolder(SearchSession& session, const DirEntry& entry, const std::string& longName,
                           const std::string& path);

}  // namespace veld
