#pragma once

#include <cstdint>
#include <string>

#include "finder/search_session.h"

namespace veld {

// Reads a folder's entries cluster by cluster: chain mode follows the FAT,
// contiguous mode takes clusters start, start + 1, ... (folders whose chain
// is gone), fixedRoot reads the FAT12/16 root area by sector (start then is
// its first sector). Reads the session's volume, claims clusters in its map,
// registers deleted files and folders in it and descends into sub-folders.
// Returns 0.
int ScanDirectory(SearchSession& session, uint64_t start, int depth, bool fixedRoot, bool contiguous,
                  const std::string& path);
// Scans the live tree of the session's FAT volume from its root: the fixed
// root area of FAT12/16, or the root cluster of FAT32. Returns 0.
int ScanFatRoot(SearchSession& session);

}  // namespace veld
