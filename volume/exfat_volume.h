// An exFAT volume as the engine opens and maps it: the geometry from the boot
// region, the allocation bitmap as the record of which clusters are in use,
// the FAT read on demand for the files and folders whose clusters are
// chained, and claims of planned cluster lists in the cluster map.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "volume/cluster_map.h"
#include "volume/disk_volume.h"
#include "volume/exfat_boot.h"
#include "volume/exfat_chain.h"
#include "volume/file_system.h"

namespace veld {

// True when the first sector names itself exFAT ("EXFAT   " at offset 3),
// even when its marker or checksum is damaged (the backup region may serve).
bool NamesExfat(const BootSector& first);

// Reads the boot regions of a volume whose first sector names exFAT and, when
// the main region (or else the backup at sector 12) is sound, gives the
// volume its exFAT geometry: kind VolumeExfat, the real sector and cluster
// sizes, the cluster heap as data start, the heap's cluster count, and the
// boot sector of the region used. False (geometry untouched) when neither
// region is sound; why says which test failed, note what was doubtful.
bool LoadExfatGeometry(DiskVolume& volume, std::string* why, std::string* note);

// The boot sector fields of an exFAT volume, from its stored boot sector.
std::optional<ExfatBoot> ExfatBootOf(const DiskVolume& volume);

// Reads positioned bytes of the volume; false when the source ends first.
bool ReadVolumeBytes(DiskVolume& volume, uint64_t offset, void* data, size_t size);

// The FAT in use, read a block at a time as entries are asked for, so that a
// card of millions of clusters costs one block of memory, not its whole FAT.
class ExfatFatReader {
public:
    ExfatFatReader(DiskVolume& volume, const ExfatBoot& boot);
    // The entry of a heap cluster; the end-of-chain mark when it cannot be read.
    uint32_t Entry(uint32_t cluster);
    // The clusters of a stream: contiguous for NoFatChain, else the FAT chain.
    ExfatChain Clusters(uint64_t first, uint64_t bytes, bool noFatChain);
    ExfatChain ClustersUpTo(uint64_t first, uint64_t wanted, bool noFatChain);

private:
    static constexpr uint32_t kBlockBytes = 64 * 1024;
    DiskVolume& volume_;
    ExfatBoot boot_;
    std::vector<uint8_t> block_;
    uint64_t blockFirstEntry_ = UINT64_MAX;  // entry number of the block's first entry
    uint64_t blockEntries_ = 0;
};

// An exFAT volume as the search asks of it: the allocation bitmap (read from
// the root directory's volume entries) says which clusters are in use and is
// exact enough that the signature search leaves those out; chains are read
// from the FAT on the card as they are asked for; the names come from the
// exFAT directory scan.
class ExfatFileSystem : public FileSystem {
public:
    explicit ExfatFileSystem(const ExfatBoot& boot) : boot_(boot) {}

    // Makes the map and reads the bitmap. 0; -1 when the bitmap could not be
    // read (every cluster then counts as free, so nothing is kept from the
    // search).
    int LoadAllocation(DiskVolume& volume, ClusterMap& map, SearchProgress* progress) override;
    void FreeAllocation() override;
    bool ClusterInUse(uint64_t cluster) const override { return ExfatClusterInUse(bitmap_, cluster); }
    std::vector<uint64_t> Chain(DiskVolume& volume, uint64_t start, uint64_t limit) const override;
    DirectoryScan Scan() const override { return DirectoryScan::Exfat; }
    bool SkipsAllocatedClusters() const override { return true; }
    void TraceBootSector(const DiskVolume& volume) const override;

    const ExfatBoot& Boot() const { return boot_; }
    // True once LoadAllocation has read the bitmap.
    bool HasBitmap() const { return !bitmap_.empty(); }

private:
    ExfatBoot boot_;
    std::vector<uint8_t> bitmap_;  // one bit per heap cluster, cluster 2 is bit 0
};

// Expands runs into their cluster numbers in order.
std::vector<uint64_t> ClustersOfRuns(const std::vector<ClusterRun>& runs);


}  // namespace veld
