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
// Reads a folder-like cluster the directory passes did not reach (a folder
// whose entry, or whose parent's, is gone) in its place: a cluster whose
// "." names it is read under the folder its ".." names, when that one was
// read; else the line of such folders above it is followed up to the first
// whose parent is gone, which is listed under kOrphanFolderGroup by its
// first cluster (finder/orphan_folder_group.h). Each folder is read once.
void ScanLostFolder(SearchSession& session, uint64_t cluster);
// Scans the live tree of the session's FAT volume from its root: the fixed
// root area of FAT12/16, or the root cluster of FAT32. Returns 0.
int ScanFatRoot(SearchSession& session);

}  // namespace veld
