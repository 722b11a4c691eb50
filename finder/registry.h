#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "finder/del_file_info.h"
#include "finder/search_session.h"

namespace veld {

// Judges, claims, de-duplicates and lists one found file in the session (see
// the file); the decided state is left in session.lastRegistrationState.
// plannedClusters, when given and not empty, are the clusters a FAT chain
// still leads through (exFAT): they are claimed in place of the contiguous
// extent from the start cluster.
void RegisterFoundFile(SearchSession& session, DelFileInfo record,
                       const std::vector<uint64_t>* plannedClusters = nullptr);
// Hands the thumbnails the session's workers finished to their records, the
// thumbnail queue and the count, in registration order; with wait, all of
// them (the search's end). Does nothing without workers.
void PublishThumbnails(SearchSession& session, bool wait);
void RegisterDeletedEntry(SearchSession& session, const DirEntry& entry, const std::string& longName,
                          const std::string& path);
void RegisterDeletedFolder(SearchSession& session, const DirEntry& entry, const std::string& longName,
                           const std::string& path);

}  // namespace veld
