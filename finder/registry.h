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
// Registers a deleted file whose clusters (cluster list and counts), state
// and content fit the caller has decided (RegisterDeletedFiles): its
// clusters are claimed in the map, and the rest goes as for any found file.
// startClass is the content class of its start cluster; checkedBytes, when
// not empty, the file's bytes as the content check read them (the thumbnail
// is made from them).
void RegisterDecidedFile(SearchSession& session, DelFileInfo record, ContentClass startClass,
                         std::vector<uint8_t> checkedBytes = {});
// Hands the thumbnails the session's workers finished to their records, the
// thumbnail queue and the count, in registration order; with wait, all of
// them (the search's end). Does nothing without workers.
void PublishThumbnails(SearchSession& session, bool wait);
// A deleted FAT entry (or one standing in a lost folder): held until the
// directory passes end while the session holds deleted files, else
// registered at once (HoldOrRegister).
void RegisterDeletedEntry(SearchSession& session, const DirEntry& entry, const std::string& longName,
                          const std::string& path);
void RegisterDeletedFolder(SearchSession& session, const DirEntry& entry, const std::string& longName,
                           const std::string& path);

}  // namespace veld
