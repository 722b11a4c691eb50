// The exFAT boot region, a root directory's volume entries and the entry sets
// of a folder, as opening an exFAT card parses them, over the input as the
// head of a volume: the main boot region (or the backup at sector 12), then
// the root cluster's bytes when the input holds them (else everything after
// the boot regions) read for the allocation bitmap, up-case table and label
// and as entry sets, each set made into its found-file record and its
// clusters followed through the FAT the input holds.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <span>

#include "base/byte_reader.h"
#include "finder/exfat_directory_scanner.h"
#include "finder/exfat_entry_set.h"
#include "volume/exfat_boot.h"
#include "volume/exfat_chain.h"

namespace {

// No walk goes further than this many clusters: the input is small.
constexpr uint64_t kMaxClusters = 4096;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace veld;
    const std::span<const uint8_t> input(data, size);
    const ExfatBootRegion region = ReadExfatBootRegion(input, size);
    if (!region.boot) {
        // Entry sets alone, as a folder's clusters would hand them over.
        for (const ExfatEntrySet& set : ParseExfatDirectory(input)) RecordOfExfatSet(set);
        return 0;
    }
    const ExfatBoot& boot = *region.boot;
    const ByteReader all(input);
    const uint64_t rootAt = boot.ClusterOffset(boot.rootCluster);
    const uint64_t bootRegions = 2 * uint64_t(12) * boot.BytesPerSector();
    const std::span<const uint8_t> root =
        all.has(rootAt, boot.ClusterSize()) ? all.slice(rootAt, boot.ClusterSize())
                                            : input.subspan(std::min<size_t>(size, size_t(bootRegions)));

    const ExfatRootEntries entries = ParseExfatRootEntries(root, boot);
    // The FAT in use as far as the input holds it; entries past it end chains.
    auto fatEntry = [&](uint32_t cluster) {
        const uint64_t at = boot.ActiveFatOffset() + uint64_t(cluster) * 4;
        return all.has(at, 4) ? all.le32(at) : 0xFFFFFFFFu;
    };
    auto follow = [&](uint64_t first, uint64_t bytes) {
        const uint64_t wanted = std::min(ExfatClustersFor(boot, bytes), kMaxClusters);
        FollowExfatChain(boot, first, wanted, fatEntry);
        ExfatContiguousRun(boot, first, wanted);
    };
    if (const ExfatAllocationBitmap* bitmap = entries.ActiveBitmap(boot)) {
        follow(bitmap->firstCluster, bitmap->dataLength);
        const uint64_t bitmapAt = boot.ClusterOffset(bitmap->firstCluster);
        const std::span<const uint8_t> bits =
            all.has(bitmapAt, 1) ? input.subspan(size_t(bitmapAt)) : std::span<const uint8_t>();
        for (uint64_t c = 0; c < 64; ++c) ExfatClusterInUse(bits, boot.rootCluster + c);
    }
    for (const ExfatEntrySet& set : ParseExfatDirectory(root)) {
        RecordOfExfatSet(set);
        ExfatTimestampText(set.modified);
        follow(set.firstCluster, set.dataLength);
    }
    return 0;
}
