// FAT12, FAT16 and FAT32 volumes as the search asks of them: the first FAT
// copied into memory (FAT12 and FAT16 entries widened to 32 bits), a cluster
// allocated when its entry is not zero, chains followed through the copy, the
// directory scan of FAT entries, and the boot sector's 55 AA marker.
#pragma once

#include <cstdint>
#include <vector>

#include "volume/disk_volume.h"
#include "volume/file_system.h"

namespace veld {

class FatFileSystem : public FileSystem {
public:
    int LoadAllocation(DiskVolume& volume, ClusterMap& map, SearchProgress* progress) override;
    void FreeAllocation() override;
    bool ClusterInUse(uint64_t cluster) const override;
    // By the entry: 0 free, the bad-cluster mark, the reserved values, a
    // chain's end; any other value is a cluster of a file or folder.
    ClusterUse RecordedState(uint64_t cluster) const override;
    std::vector<uint64_t> Chain(DiskVolume& volume, uint64_t start, uint64_t limit) const override;
    DirectoryScan Scan() const override { return DirectoryScan::Fat; }
    bool BootSectorSound(const DiskVolume& volume) const override;
    void TraceBootSector(const DiskVolume& volume) const override;
    uint64_t DeclaredBytes(const DiskVolume& volume) const override;

    // 12, 16 or 32 (FatTypeOf of the boot sector it was loaded from).
    int FatType() const { return fatType_; }
    // The entry of a cluster in the copy (0 beyond it, or before LoadAllocation).
    uint32_t Entry(uint64_t cluster) const { return cluster < fat_.size() ? fat_[cluster] : 0; }
    uint64_t EntryCount() const { return fat_.size(); }

private:
    BootSector boot_{};
    int fatType_ = 0;
    std::vector<uint32_t> fat_;  // the first FAT's entries
};

// The FAT entry of a cluster in the map's volume; 0 when that volume is no FAT
// volume or the cluster lies beyond its FAT.
uint32_t FatEntry(const ClusterMap& map, uint64_t cluster);

}  // namespace veld
