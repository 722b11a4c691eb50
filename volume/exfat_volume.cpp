#include "volume/exfat_volume.h"

#include <algorithm>
#include <cstring>

#include "base/byte_reader.h"
#include "base/trace.h"
#include "volume/exfat_layout.h"

namespace veld {
namespace {

constexpr uint64_t kFatEntryBytes = 4;

}  // namespace

bool NamesExfat(const BootSector& first) {
    return std::memcmp(first.data() + exfat::boot::FileSystemName, "EXFAT   ", 8) == 0;
}

bool ReadVolumeBytes(DiskVolume& volume, uint64_t offset, void* data, size_t size) {
    uint8_t* out = static_cast<uint8_t*>(data);
    while (size > 0) {
        const uint32_t chunk = uint32_t(std::min<size_t>(size, 1u << 24));
        uint32_t done = 0;
        if (!DiskIO_ReadAt(&volume, offset, out, chunk, &done) || done != chunk)
            return false;
        out += chunk;
        offset += chunk;
        size -= chunk;
    }
    return true;
}

bool LoadExfatGeometry(DiskVolume& volume, std::string* why, std::string* note) {
    if (!volume.device) return false;
    const int64_t sourceBytes = volume.device->Size();
    // Both boot regions with the largest sector size, or what the source has.
    size_t want = kExfatBootHeadBytes;
    if (sourceBytes >= 0) want = size_t(std::min<int64_t>(sourceBytes, int64_t(want)));
    std::vector<uint8_t> head(want);
    size_t have = 0;
    while (have < want) {
        uint32_t done = 0;
        if (!volume.device->ReadAt(int64_t(have), head.data() + have, uint32_t(want - have), &done) || done == 0) break;
        have += done;
    }
    head.resize(have);
    ExfatBootRegion region = ReadExfatBootRegion(head, sourceBytes > 0 ? uint64_t(sourceBytes) : 0);
    if (!region.boot) {
        if (why) *why = region.why;
        return false;
    }
    const ExfatBoot& boot = *region.boot;
    const uint64_t bootAt = region.fromBackup ? uint64_t(exfat::kBackupRegionSector) * boot.BytesPerSector() : 0;
    BootSector copy{};
    std::memcpy(copy.data(), head.data() + bootAt, copy.size());  // ReadExfatBootRegion checked the region is there
    volume.volumeKind = VolumeExfat;
    volume.sectorSize = boot.BytesPerSector();
    volume.clusterSize = uint32_t(boot.ClusterSize());  // at most 32 MiB
    volume.dataStart = boot.HeapOffset();
    volume.clusterCount = int64_t(boot.clusterCount);
    volume.bootSector = copy;
    volume.fileSystem = std::make_shared<ExfatFileSystem>(boot);
    if (note) *note = region.note;
    return true;
}

std::optional<ExfatBoot> ExfatBootOf(const DiskVolume& volume) {
    const auto* exfat = dynamic_cast<const ExfatFileSystem*>(volume.fileSystem.get());
    if (!exfat) return std::nullopt;
    return exfat->Boot();
}

ExfatFatReader::ExfatFatReader(DiskVolume& volume, const ExfatBoot& boot) : volume_(volume), boot_(boot) {}

uint32_t ExfatFatReader::Entry(uint32_t cluster) {
    if (!boot_.IsHeapCluster(cluster)) return exfat::kFatEndOfChain;
    const uint64_t entriesPerBlock = kBlockBytes / kFatEntryBytes;
    if (cluster < blockFirstEntry_ || cluster - blockFirstEntry_ >= blockEntries_) {
        blockFirstEntry_ = uint64_t(cluster) / entriesPerBlock * entriesPerBlock;
        // The FAT holds clusterCount + 2 entries; the block never reads past them.
        const uint64_t fatEntries = uint64_t(boot_.clusterCount) + 2;
        blockEntries_ = std::min(entriesPerBlock, fatEntries - blockFirstEntry_);
        block_.assign(size_t(blockEntries_ * kFatEntryBytes), 0);
        if (!ReadVolumeBytes(volume_, boot_.ActiveFatOffset() + blockFirstEntry_ * kFatEntryBytes, block_.data(),
                             block_.size())) {
            blockEntries_ = 0;
            blockFirstEntry_ = UINT64_MAX;
            return exfat::kFatEndOfChain;
        }
    }
    return ByteReader(block_.data(), block_.size()).le32((cluster - blockFirstEntry_) * kFatEntryBytes);
}

ExfatChain ExfatFatReader::Clusters(uint64_t first, uint64_t bytes, bool noFatChain) {
    return ClustersUpTo(first, ExfatClustersFor(boot_, bytes), noFatChain);
}

ExfatChain ExfatFatReader::ClustersUpTo(uint64_t first, uint64_t wanted, bool noFatChain) {
    // No stream has more clusters than the heap.
    wanted = std::min<uint64_t>(wanted, boot_.clusterCount);
    if (noFatChain) return ExfatContiguousRun(boot_, first, wanted);
    return FollowExfatChain(boot_, first, wanted, [this](uint32_t c) { return Entry(c); });
}

int ExfatFileSystem::LoadAllocation(DiskVolume& volume, ClusterMap& map, SearchProgress*) {
    // A cell for every cluster number up to the heap's last; the FAT stays
    // on the card and the allocation bitmap is read instead.
    const uint64_t cells = MapCellsFor(volume);
    map.Reset(cells);
    TraceLine("FAT entrys(2) = %llu", (unsigned long long)cells);
    FreeAllocation();
    const ExfatBoot* boot = &boot_;
    // Nothing is allocated from the boot sector's counts that the source
    // cannot hold: a small (or sparse) image that claims four billion
    // clusters must not cost a bitmap of 512 MiB.
    const int64_t sourceBytes = volume.device ? volume.device->Size() : -1;
    auto onSource = [&](uint64_t offset, uint64_t length) {
        return sourceBytes < 0 || (offset <= uint64_t(sourceBytes) && length <= uint64_t(sourceBytes) - offset);
    };
    if (!onSource(boot->ClusterOffset(boot->rootCluster), boot->ClusterSize())) {
        TraceLine("ERROR exFAT: the root directory lies past the end of the source; every cluster counts as free");
        return -1;
    }
    // The volume entries come first in the root directory: its first cluster holds them.
    std::vector<uint8_t> root(size_t(boot->ClusterSize()));
    if (!ReadVolumeBytes(volume, boot->HeapOffset() + (uint64_t(boot->rootCluster) - 2) * boot->ClusterSize(),
                         root.data(), root.size())) {
        TraceLine("ERROR exFAT: the root directory cannot be read; every cluster counts as free");
        return -1;
    }
    ExfatRootEntries entries = ParseExfatRootEntries(root, *boot);
    const ExfatAllocationBitmap* bitmap = entries.ActiveBitmap(*boot);
    if (!bitmap) {
        TraceLine("ERROR exFAT: no usable allocation bitmap (%s); every cluster counts as free",
                  entries.why.empty() ? "none listed" : entries.why.c_str());
        return -1;
    }
    // The bitmap's own clusters: its FAT chain, else (a chain that does not
    // lead far enough) consecutive clusters as formatters lay it out.
    const uint64_t bytes = (uint64_t(boot->clusterCount) + 7) / 8;
    ExfatFatReader fat(volume, *boot);
    ExfatChain chain = fat.Clusters(bitmap->firstCluster, bytes, false);
    if (!chain.complete) chain = fat.Clusters(bitmap->firstCluster, bytes, true);
    if (!chain.complete) {
        TraceLine("ERROR exFAT: the allocation bitmap cannot be read (%s); every cluster counts as free", chain.why.c_str());
        return -1;
    }
    uint64_t placed = 0;
    for (const ClusterRun& run : chain.runs) {
        const uint64_t take = std::min<uint64_t>(bytes - placed, run.count * boot->ClusterSize());
        if (!onSource(boot->ClusterOffset(run.first), take)) {
            TraceLine("ERROR exFAT: the allocation bitmap of %u clusters (%llu bytes) runs past the end of the source; "
                      "every cluster counts as free",
                      unsigned(boot->clusterCount), (unsigned long long)bytes);
            return -1;
        }
        placed += take;
    }
    std::vector<uint8_t> bits(size_t(bytes), 0);
    uint64_t at = 0;
    bool ok = true;
    for (const ClusterRun& run : chain.runs) {
        if (!ok || at >= bytes) break;
        const uint64_t take = std::min<uint64_t>(bytes - at, run.count * boot->ClusterSize());
        ok = ReadVolumeBytes(volume, boot->ClusterOffset(run.first), bits.data() + at, size_t(take));
        at += take;
    }
    if (!ok || at < bytes) {
        TraceLine("ERROR exFAT: the allocation bitmap cannot be read; every cluster counts as free");
        return -1;
    }
    bitmap_ = std::move(bits);
    TraceLine("exFAT allocation bitmap: cluster %u, %llu bytes", unsigned(bitmap->firstCluster),
              (unsigned long long)bytes);
    return 0;
}

void ExfatFileSystem::FreeAllocation() { std::vector<uint8_t>().swap(bitmap_); }

std::vector<uint64_t> ExfatFileSystem::Chain(DiskVolume& volume, uint64_t start, uint64_t limit) const {
    ExfatFatReader fat(volume, boot_);
    std::vector<uint64_t> chain = ClustersOfRuns(fat.ClustersUpTo(start, limit, false).runs);
    if (chain.empty()) chain.push_back(start);
    return chain;
}

void ExfatFileSystem::TraceBootSector(const DiskVolume& volume) const {
    TraceLine("exFAT: sector %u, cluster %u, heap at %llu, %lld clusters", volume.sectorSize, volume.clusterSize,
              (unsigned long long)volume.dataStart, (long long)volume.clusterCount);
}

std::vector<uint64_t> ClustersOfRuns(const std::vector<ClusterRun>& runs) {
    std::vector<uint64_t> clusters;
    for (const ClusterRun& run : runs)
        for (uint64_t k = 0; k < run.count; ++k) clusters.push_back(run.first + k);
    return clusters;
}

}  // namespace veld
