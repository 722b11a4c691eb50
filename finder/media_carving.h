// The formats beyond JPEG in the signature search: which cluster classes
// start them, the walk each one takes, and the registration of what it found
// (a carved file named after its start cluster with its format's extension,
// "#00001234.heic"). Files found through their directory entry get the same
// metadata from the same walks.
#pragma once

#include <cstdint>

#include "finder/del_file_info.h"
#include "finder/search_session.h"

namespace veld {

// Whether a content class starts an ISO media, RAW, AVI or MPEG file.
bool IsMediaStartClass(ContentClass contentClass);
// The class the following clusters of such a file get in the map.
ContentClass MediaDataClass(ContentClass startClass);

// Walks the file whose first cluster has the start class, registers it when
// the walk found it (whole, or partly missing), and returns the last cluster
// the walk claimed (0 when it found nothing).
uint64_t CarveMediaFile(SearchSession& session, uint64_t start, ContentClass startClass);

// For a file found through its directory entry whose first cluster starts one
// of these formats: its format and metadata, as a carved file of it would
// have them (a clip in an MPEG stream is read whole for its running time).
// Its size stays the entry's.
// walkedLength (when not null) receives the length the walk found the file
// to span from the first cluster on (0 when it found no end), partlyMissing
// whether it had to stop short.
void ReadMediaOfRecord(SearchSession& session, DelFileInfo& record, uint64_t firstCluster, ContentClass firstClass,
                       uint64_t* walkedLength = nullptr, bool* partlyMissing = nullptr);

}  // namespace veld
