// The boot region of an exFAT volume and the volume entries at the head of its
// root directory (allocation bitmap, up-case table, label). Pure parsers over
// bytes the caller has read; every value is checked before the engine relies
// on it, and a rejection says why (for the trace).
//
//   std::vector<uint8_t> head = ReadVolumeBytes(0, kExfatBootHeadBytes);
//   ExfatBootRegion region = ReadExfatBootRegion(head, volumeBytes);
//   if (!region.boot) { Trace(region.why); /* search raw */ }
//   ExfatRootEntries root = ParseExfatRootEntries(rootClusterBytes, *region.boot);
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace veld {

struct ExfatBoot {
    uint64_t partitionOffset = 0;     // sectors; as written by the formatter, not relied on
    uint64_t volumeLength = 0;        // sectors
    uint32_t fatOffset = 0;           // sectors from the volume start
    uint32_t fatLength = 0;           // sectors per FAT
    uint32_t clusterHeapOffset = 0;   // sectors from the volume start to cluster 2
    uint32_t clusterCount = 0;
    uint32_t rootCluster = 0;
    uint32_t serialNumber = 0;
    uint16_t revision = 0;            // 0x0100 for 1.00
    uint16_t volumeFlags = 0;
    uint8_t bytesPerSectorShift = 9;
    uint8_t sectorsPerClusterShift = 0;
    uint8_t numberOfFats = 1;
    uint8_t percentInUse = 0xFF;

    uint32_t BytesPerSector() const { return uint32_t(1) << bytesPerSectorShift; }
    uint64_t ClusterSize() const { return uint64_t(1) << (bytesPerSectorShift + sectorsPerClusterShift); }
    uint64_t VolumeBytes() const { return volumeLength << bytesPerSectorShift; }
    // Byte offset of the FAT in use (the second on a transaction-safe volume
    // whose ActiveFat flag is set), from the volume start.
    uint64_t ActiveFatOffset() const;
    uint64_t HeapOffset() const { return uint64_t(clusterHeapOffset) << bytesPerSectorShift; }
    // True for 2 .. clusterCount + 1, the clusters of the heap.
    bool IsHeapCluster(uint64_t cluster) const { return cluster >= 2 && cluster - 2 < clusterCount; }
    // Byte offset of a heap cluster from the volume start; only for heap clusters.
    uint64_t ClusterOffset(uint64_t cluster) const { return HeapOffset() + (cluster - 2) * ClusterSize(); }
};

// Parses and checks one boot sector (the first 512 bytes suffice): the name
// "EXFAT   ", the zero area that keeps FAT readers away, the 55 AA signature,
// sector shift 9..12, cluster shift up to 32 MiB clusters, one or two FATs,
// a volume of at least 1 MiB, a FAT after the boot regions and large enough
// for the clusters, a cluster heap after the FATs and inside the volume, and
// a root cluster inside the heap. On failure, why (when given) says which.
std::optional<ExfatBoot> ParseExfatBootSector(std::span<const uint8_t> sector, std::string* why = nullptr);

// The checksum of a boot region: over its first 11 sectors (region must hold
// them), VolumeFlags and PercentInUse skipped since they change in use.
uint32_t ExfatBootChecksum(std::span<const uint8_t> region, uint32_t bytesPerSector);

// How many bytes from the volume start ReadExfatBootRegion wants: both
// regions with the largest sector size.
constexpr size_t kExfatBootHeadBytes = 24 * 4096;

struct ExfatBootRegion {
    std::optional<ExfatBoot> boot;  // empty when neither region holds a sound boot sector
    bool fromBackup = false;        // the main region failed; the backup at sector 12 is used
    std::string why;                // no boot: why both regions failed
    std::string note;               // boot found: what was doubtful (main region damaged, truncated source)
};

// Takes the main boot region when its boot sector is sound and its sectors
// match the checksum sector 11; otherwise the backup region at sector 12 by the
// same tests (its sector size read from its own boot sector). volumeBytes is
// the size of the partition or image (0 when unknown): a volume that claims
// more is kept, with a note, since the clusters that are there can be read.
ExfatBootRegion ReadExfatBootRegion(std::span<const uint8_t> head, uint64_t volumeBytes);

struct ExfatAllocationBitmap {
    bool second = false;      // BitmapFlags bit 0: the bitmap of the second FAT
    uint32_t firstCluster = 0;
    uint64_t dataLength = 0;  // bytes, at least clusterCount / 8 rounded up
};

struct ExfatUpcaseTable {
    uint32_t checksum = 0;
    uint32_t firstCluster = 0;
    uint64_t dataLength = 0;
};

struct ExfatRootEntries {
    std::vector<ExfatAllocationBitmap> bitmaps;  // one, or two on a transaction-safe volume
    std::optional<ExfatUpcaseTable> upcase;
    std::string label;                           // UTF-8, empty when the volume has none
    std::string why;                             // empty when the entries are usable

    // The bitmap that goes with the FAT in use, or nullptr.
    const ExfatAllocationBitmap* ActiveBitmap(const ExfatBoot& boot) const;
};

// Reads the volume entries among the root directory's first entries (its
// first cluster is enough; they come before any file): every allocation
// bitmap must start at a heap cluster and cover all clusters without running
// past the heap; the volume must have as many bitmaps as FATs and an up-case
// table. Stops at the end-of-directory entry.
ExfatRootEntries ParseExfatRootEntries(std::span<const uint8_t> rootBytes, const ExfatBoot& boot);

// The bitmap's bit for a heap cluster: true when the cluster is in use.
// Clusters outside the bitmap read as free, so that a search over free space
// still looks at them.
bool ExfatClusterInUse(std::span<const uint8_t> bitmap, uint64_t cluster);

}  // namespace veld
