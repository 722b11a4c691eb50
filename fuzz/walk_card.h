// The in-memory card the walk harnesses read: the first input byte chooses
// the cluster size (512 << (byte & 3)) and a mode bit, the rest are the
// clusters from cluster 2 on, searched as raw sectors would be.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "volume/cluster_map.h"
#include "volume/disk_volume.h"

namespace veld::fuzz {

struct WalkCard {
    std::unique_ptr<DiskVolume> volume;
    bool modeBit = false;  // bit 2 of the first byte
};

inline WalkCard MakeWalkCard(const uint8_t* data, size_t size) {
    WalkCard card;
    if (size < 1) return card;
    const uint32_t clusterSize = 512u << (data[0] & 3);
    card.modeBit = (data[0] & 4) != 0;
    card.volume = DiskIO_OpenMemory(std::vector<uint8_t>(data + 1, data + size));
    DiskVolume& v = *card.volume;
    v.volumeKind = VolumeRaw;
    v.dataStart = 0;
    v.clusterSize = clusterSize;
    v.sectorSize = 512;
    v.clusterCount = int64_t((size - 1) / clusterSize);
    v.bootSector.fill(0);
    ReadFat(v, v.bootSector);
    return card;
}

}  // namespace veld::fuzz
