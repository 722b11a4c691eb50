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
// Thumbnail workers for the session's search (none for 0 threads: each
// thumbnail is then made on the spot). They hand each thumbnail, and the
// decoder's verdict on the picture, to its record, the thumbnail queue and
// the count, in registration order, as they finish.
void StartThumbnailWorkers(SearchSession& session, unsigned threads);
// The search's own reading is over: every picture handed to the workers is
// decoded (the calling thread helps) and handed back before this returns.
// Does nothing without workers.
void FinishThumbnails(SearchSession& session);
// FinishThumbnails, then the workers stop.
void StopThumbnailWorkers(SearchSession& session);
// A deleted FAT entry (or one standing in a lost folder): held until the
// directory passes end while the session holds deleted files, else
// registered at once (HoldOrRegister).
void RegisterDeletedEntry(SearchSession& session, const DirEntry& entry, const std::string& longName,
                          const std::string& path);
void RegisterDeletedFolder(SearchSession& session, const DirEntry& entry, const std::string& longName,
                           const std::string& path);

}  // namespace veld
