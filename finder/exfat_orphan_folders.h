// exFAT folders no entry reaches any more. A quick format rewrites the boot
// region, the FAT, the allocation bitmap, the up-case table and the root, so
// every sub-folder's clusters survive in free space with their entry sets.
// exFAT folders have no "." and ".." entries: a folder cluster is known by its
// entry sets alone (their checksums, counts and names), and a folder's place
// only through its parent's entry for it, which names its first cluster.
//
// The signature search hands every free cluster it reads to Examine. A folder
// met there is read with the sub-folders its entries name (when those are in
// free space and hold entry sets), and its files are registered as deleted
// files with their names, sizes, times and first clusters. A folder whose
// parent is unknown goes under the group "(フォーマット前のフォルダ)"; when its
// parent is met later, it and everything under it move into the parent's path.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>

#include "finder/search_session.h"
#include "volume/exfat_boot.h"

namespace veld {

// Whether a cluster's bytes are folder entries: every slot up to the end of
// the directory (type 0x00) is a file, stream extension, file name or vendor
// entry, live or deleted, and at least one set there is whole, with a name,
// its checksum right (a deleted set summed as it was when live) and its first
// cluster in the heap (or none with no data).
bool LooksLikeExfatFolderCluster(std::span<const uint8_t> bytes, const ExfatBoot& boot);

class ExfatOrphanFolders {
public:
    // Does nothing unless the session's volume is exFAT.
    explicit ExfatOrphanFolders(SearchSession& session);
    ~ExfatOrphanFolders();
    ExfatOrphanFolders(const ExfatOrphanFolders&) = delete;
    ExfatOrphanFolders& operator=(const ExfatOrphanFolders&) = delete;

    // A cluster the search read (bytes: its contents). True when it starts a
    // folder no entry reaches, which is then read with its sub-folders and
    // whose files are registered; its clusters are marked as a deleted
    // folder's, so the search passes over them.
    bool Examine(uint64_t cluster, std::span<const uint8_t> bytes);

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace veld
