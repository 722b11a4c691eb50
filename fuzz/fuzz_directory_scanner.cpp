// The directory scanner over an in-memory card, as the directory passes of a
// search run it: the root, the deleted folders it found, then folders taken
// contiguously from the first clusters (as the signature search would start
// them at folder-like clusters).
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "finder/directory_scanner.h"
#include "finder/search_session.h"
#include "volume/boot_sector.h"
#include "volume/cluster_map.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace veld;
    SearchSession session;
    session.volume = DiskIO_OpenMemory(std::vector<uint8_t>(data, data + size));
    DiskVolume& volume = *session.volume;
    if (!volume.fileSystem || volume.fileSystem->Scan() != DirectoryScan::Fat) return 0;
    ReadFat(session.clusterMap, volume);

    ScanFatRoot(session);
    for (size_t i = 0; i < session.DelFolderList.Count(); ++i) {
        auto folder = session.DelFolderList.CopyAt(i);
        if (!folder || !IsDirectoryAttribute(folder->attributes)) continue;
        if (ClusterState(session.clusterMap, folder->startCluster) != ClusterUse::Empty) continue;
        ScanDirectory(session, folder->startCluster, 0, false, true, "");
    }
    const uint64_t last = volume.clusterCount > 0 ? std::min<uint64_t>(uint64_t(volume.clusterCount) + 1, 66) : 0;
    for (uint64_t c = 2; c <= last; ++c) ScanDirectory(session, c, 0, false, true, "");
    return 0;
}
