// Sources searched as raw sectors (no usable boot sector, or a partition
// table whose partitions hold nothing the engine reads) and NTFS volumes:
// no allocation records, no chains and no directory scan; every cluster is
// left to the signature search.
#pragma once

#include "volume/file_system.h"

namespace veld {

class RawFileSystem : public FileSystem {
public:
    int LoadAllocation(DiskVolume& volume, ClusterMap& map, SearchProgress* progress) override;
    bool ClusterInUse(uint64_t) const override { return false; }
    std::vector<uint64_t> Chain(DiskVolume&, uint64_t start, uint64_t) const override { return {start}; }
    DirectoryScan Scan() const override { return DirectoryScan::None; }
    void TraceBootSector(const DiskVolume& volume) const override;
};

}  // namespace veld
