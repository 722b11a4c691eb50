// The in-memory card the walk harnesses read: the first input byte chooses
// the cluster size (512 << (byte & 3)) and a mode bit, the rest are the
// clusters from cluster 2 on, searched as raw sectors would be.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "finder/search_session.h"
#include "volume/cluster_map.h"
#include "volume/disk_volume.h"
#include "volume/raw_file_system.h"

namespace veld::fuzz {

// Opens the card as the session's volume with its (empty) map; false for an
// empty input. modeBit receives bit 2 of the first byte.
inline bool OpenWalkCard(SearchSession& session, const uint8_t* data, size_t size, bool* modeBit) {
    if (size < 1) return false;
    const uint32_t clusterSize = 512u << (data[0] & 3);
    *modeBit = (data[0] & 4) != 0;
    session.volume = DiskIO_OpenMemory(std::vector<uint8_t>(data + 1, data + size));
    DiskVolume& v = *session.volume;
    v.volumeKind = VolumeRaw;
    v.fileSystem = std::make_shared<RawFileSystem>();
    v.dataStart = 0;
    v.clusterSize = clusterSize;
    v.sectorSize = 512;
    v.clusterCount = int64_t((size - 1) / clusterSize);
    v.bootSector.fill(0);
    ReadFat(session.clusterMap, v);
    return true;
}

}  // namespace veld::fuzz
