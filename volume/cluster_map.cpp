#include "volume/cluster_map.h"

#include <algorithm>
#include <cstring>
#include <cstdio>
#include <string>

#include "base/byte_reader.h"
#include "base/search_progress.h"
#include "base/trace.h"
#include "volume/boot_sector.h"
#include "volume/exfat_boot.h"
#include "volume/exfat_volume.h"

namespace veld {
namespace {

// A source whose size cannot be learned still gets a map of at most this
// many cells (32 TiB of 512-byte sectors): the cells cost nothing until
// written, but the page table of a damaged 64-bit cluster count must not
// exhaust memory. Clusters past the map are reported by the search as not
// examined.
constexpr uint64_t kUnknownSizeMapCells = uint64_t(1) << 36;

// The number of cells a source can need: what its bytes hold as clusters,
// plus the two reserved numbers.
uint64_t DeviceClusterBound(const DiskVolume& volume) {
    if (!volume.device || volume.clusterSize == 0) return kUnknownSizeMapCells;
    int64_t bytes = volume.device->Size();
    if (bytes < 0) return kUnknownSizeMapCells;
    uint64_t afterStart = uint64_t(bytes) > volume.dataStart ? uint64_t(bytes) - volume.dataStart : 0;
    return afterStart / volume.clusterSize + 2;
}

// The last data cluster's number + 1: cluster numbers 2 .. count + 1 hold data.
uint64_t ClusterNumberEnd(const DiskVolume& volume) {
    return volume.clusterCount > 0 ? uint64_t(volume.clusterCount) + 2 : 0;
}

void Allocate(FatTables& tables, uint64_t cells, uint64_t fatEntries) {
    tables.fat.assign(size_t(fatEntries), 0);
    tables.cells.Reset(cells);
    tables.directoryScanned.Reset(cells);
    tables.present = true;
}

void TraceSectorDump(const uint8_t* sector, uint32_t bytes, int fatType, uint64_t* runningIndex) {
    TraceLine("%s", "");
    std::string header = "    :";
    char cell[16];
    for (int i = 0; i < 16; ++i) {
        std::snprintf(cell, sizeof cell, "%X    ", i);
        header += cell;
    }
    TraceLine("%s", header.c_str());
    ByteReader r(sector, bytes);
    uint32_t width = fatType == 32 ? 4 : 2;
    for (uint32_t row = 0; row < bytes; row += 256) {
        std::string line;
        std::snprintf(cell, sizeof cell, "%4X:", unsigned(*runningIndex));
        line = cell;
        for (uint32_t k = 0; k < 16; ++k) {
            uint32_t at = row + k * width;
            uint32_t v = width == 4 ? r.le32(at) : r.le16(at);
            std::snprintf(cell, sizeof cell, "%4X ", v);
            line += cell;
            ++*runningIndex;
        }
        TraceLine("%s", line.c_str());
    }
}

// Walks a chain with a bound: at most the FAT's length in steps, and, once a
// chain is long, a record of visited clusters so a cycle ends at once.
class ChainWalk {
public:
    ChainWalk(const FatTables& tables, const BootSector& boot, uint32_t start)
        : tables_(tables), boot_(boot), current_(start) {}
    uint32_t current() const { return current_; }
    // Moves to the next cluster; false at the end of the chain, at a value
    // outside the FAT or the map, or on a revisited cluster.
    bool Next() {
        const uint64_t entries = tables_.fat.size();
        if (current_ >= entries) return false;
        uint32_t next = tables_.fat[current_];
        if (!IsValidCluster(boot_, next) || next >= entries || next >= tables_.size()) return false;
        if (++steps_ >= entries) return false;
        if (steps_ >= kPlainSteps) {
            if (visited_.empty()) visited_.assign(size_t(entries), false);
            if (visited_[next]) return false;
            visited_[next] = true;
        }
        current_ = next;
        return true;
    }

private:
    static constexpr uint64_t kPlainSteps = 1024;
    const FatTables& tables_;
    const BootSector& boot_;
    uint32_t current_;
    uint64_t steps_ = 0;
    std::vector<bool> visited_;
};

}  // namespace

uint64_t ClustersForBytes(uint64_t bytes, uint32_t clusterSize) {
    if (clusterSize == 0) return 0;
    return bytes / clusterSize + (bytes % clusterSize != 0 ? 1 : 0);
}

int ReadFat(FatTables& tables, DiskVolume& volume, const BootSector& boot, SearchProgress* progress) {
    if (volume.volumeKind == VolumeNone) return 0;
    FreeFat(tables);
    const uint64_t bound = DeviceClusterBound(volume);
    if (volume.volumeKind == VolumeRaw || volume.volumeKind == VolumeNtfs) {
        // The cluster count of an NTFS boot sector is a 64-bit field of the
        // card: like the FAT's, the map never outgrows what the source holds.
        const uint64_t n = std::min(ClusterNumberEnd(volume), bound);
        Allocate(tables, n, 0);
        tables.fatType = 0;
        TraceLine("FAT entrys(2) = %llu", (unsigned long long)n);
        return 0;
    }
    if (volume.volumeKind == VolumeExfat) {
        // A cell for every cluster number up to the heap's last; the FAT stays
        // on the card and the allocation bitmap is read instead.
        const uint64_t n = std::min(ClusterNumberEnd(volume), bound);
        Allocate(tables, n, 0);
        tables.fatType = 0;
        TraceLine("FAT entrys(2) = %llu", (unsigned long long)n);
        return ReadExfatBitmap(tables, volume);
    }

    ByteReader r(boot.data(), boot.size());
    const int fatType = FatTypeOf(boot);
    const bool fat32 = IsFat32Layout(boot);
    const uint32_t bytesPerSector = r.le16(bpb::BytesPerSector);
    if (bytesPerSector == 0) {  // LoadGeometry never hands such a volume over as FAT
        Allocate(tables, 0, 0);
        return 0;
    }
    uint64_t sectorsPerFat = SectorsPerFatOf(boot);
    const uint64_t reserved = r.le16(bpb::ReservedSectors);
    // The FAT cannot extend past the source: a damaged field must not make us
    // allocate or read more than the card holds.
    if (volume.device && volume.device->Size() >= 0) {
        uint64_t deviceSectors = uint64_t(volume.device->Size()) / bytesPerSector;
        sectorsPerFat = std::min(sectorsPerFat, deviceSectors > reserved ? deviceSectors - reserved : 0);
    }
    const uint64_t fatBytes = uint64_t(bytesPerSector) * sectorsPerFat;
    const uint64_t entries = fat32 ? fatBytes / 4 : (fatType == 12 ? fatBytes * 2 / 3 : fatBytes / 2);
    TraceLine("FAT entrys(1) = %lld %lld", (long long)volume.clusterCount, (long long)entries);
    // Every data cluster has a cell, also when the FAT is shorter than the
    // card (its last entries then read 0).
    const uint64_t cells = std::max(entries, std::min(ClusterNumberEnd(volume), bound));
    Allocate(tables, cells, entries);
    tables.fatType = fatType;
    TraceLine("FAT entrys(2) = %llu", (unsigned long long)cells);

    std::vector<uint8_t> sector(bytesPerSector);
    std::vector<uint8_t> fat12Bytes;
    uint64_t runningIndex = 0;
    int result = 0;
    // The FAT is read in chunks of up to 1 MiB, one read call each; a chunk
    // whose read fails is read again sector by sector, so the sectors before
    // a bad one still count.
    const uint64_t chunkSectors = std::max<uint64_t>(1, (1u << 20) / bytesPerSector);
    std::vector<uint8_t> chunk;
    uint64_t chunkFirst = 0, chunkDone = 0;  // first sector of the chunk, bytes it holds
    bool chunkFailed = true;
    for (uint64_t i = 0; i < sectorsPerFat; ++i) {
        int percent = int(double(i) / double(sectorsPerFat) * 100.0);
        if (progress && percent != progress->lastFatPercent) {
            char text[48];
            std::snprintf(text, sizeof text, "%d/%d", int(i), int(sectorsPerFat));
            progress->Report(PhaseFatRead, percent, text);
            progress->lastFatPercent = percent;
        }
        if (chunk.empty() || i >= chunkFirst + chunkSectors) {
            const uint64_t count = std::min(chunkSectors, sectorsPerFat - i);
            chunk.resize(size_t(count * bytesPerSector));
            chunkFirst = i;
            chunkDone = 0;
            uint32_t got = 0;
            chunkFailed = !(DiskIO_Seek(&volume, int64_t((reserved + i) * bytesPerSector)) != -1 &&
                            DiskIO_Read(&volume, chunk.data(), uint32_t(chunk.size()), &got));
            chunkDone = chunkFailed ? 0 : got;
        }
        uint32_t done = 0;
        const uint64_t at = (i - chunkFirst) * bytesPerSector;
        if (!chunkFailed) {
            done = uint32_t(std::min<uint64_t>(bytesPerSector, chunkDone > at ? chunkDone - at : 0));
            std::memcpy(sector.data(), chunk.data() + at, done);
        } else {
            if (DiskIO_Seek(&volume, int64_t((reserved + i) * bytesPerSector)) == -1) {
                TraceLine("ERROR FAT SetFilePointer");
                break;
            }
            if (!DiskIO_Read(&volume, sector.data(), bytesPerSector, &done)) done = 0;
        }
        if (done == 0) {
            TraceLine("ERROR FAT DiskIO_Read");
            result = -1;
            break;
        }
        if (done < bytesPerSector) std::fill(sector.begin() + done, sector.end(), 0);
        ByteReader s(sector.data(), sector.size());
        if (fat32) {
            uint64_t first = i * bytesPerSector / 4;
            for (uint32_t k = 0; k < bytesPerSector / 4 && first + k < entries; ++k)
                tables.fat[first + k] = s.le32(k * 4);
        } else if (fatType == 12) {
            fat12Bytes.insert(fat12Bytes.end(), sector.begin(), sector.end());
        } else {
            uint64_t first = i * bytesPerSector / 2;
            for (uint32_t k = 0; k < bytesPerSector / 2 && first + k < entries; ++k)
                tables.fat[first + k] = s.le16(k * 2);
        }
        if (i < 5) TraceSectorDump(sector.data(), bytesPerSector, fat32 ? 32 : 16, &runningIndex);
    }
    if (fatType == 12 && !fat32) {
        // Two 12-bit entries share three bytes: entry n is the low (even n) or
        // high (odd n) 12 bits of the 16-bit word at byte n * 3 / 2, which may
        // straddle two sectors, so the sectors are unpacked together.
        ByteReader f(fat12Bytes.data(), fat12Bytes.size());
        uint64_t packed = fat12Bytes.size() * 2 / 3;
        for (uint64_t n = 0; n < packed && n < entries; ++n) {
            uint16_t word = f.le16(n * 3 / 2);
            tables.fat[n] = (n & 1) ? uint32_t(word >> 4) : uint32_t(word & 0xFFF);
        }
    }
    return result;
}

void FreeFat(FatTables& tables) {
    std::vector<uint32_t>().swap(tables.fat);
    tables.cells.Reset(0);
    tables.directoryScanned.Reset(0);
    tables.present = false;
    tables.fatType = 0;
    tables.exfat = false;
    tables.allocationBitmap.clear();
    tables.allocationBitmap.shrink_to_fit();
}

int ClusterState(const FatTables& tables, uint64_t cluster) {
    if (!tables.present) return kNoClusterMap;
    return tables.cells.State(cluster);  // FA_END beyond the map
}

void SetClusterState(FatTables& tables, uint64_t cluster, uint8_t state) {
    if (tables.present) tables.cells.SetState(cluster, state);
}

int ClusterClass(const FatTables& tables, uint64_t cluster) {
    if (!tables.present) return CC_NONE;
    return tables.cells.Class(cluster);
}

void SetClusterClass(FatTables& tables, uint64_t cluster, uint8_t contentClass) {
    if (tables.present) tables.cells.SetClass(cluster, contentClass);
}

bool DirectoryBlockScanned(const FatTables& tables, uint64_t cluster) {
    return tables.present && tables.directoryScanned.Test(cluster);
}

void MarkDirectoryBlockScanned(FatTables& tables, uint64_t cluster) {
    if (tables.present) tables.directoryScanned.Set(cluster);
}

uint32_t FatEntry(const FatTables& tables, uint64_t cluster) {
    return cluster < tables.fat.size() ? tables.fat[cluster] : 0;
}

bool FatSaysInUse(const FatTables& tables, uint64_t cluster) {
    if (tables.exfat) return ExfatClusterInUse(tables.allocationBitmap, cluster);
    uint32_t entry = FatEntry(tables, cluster);
    if (tables.fatType == 32) entry &= 0x0FFFFFFF;
    return entry != 0;
}

const char* ClusterStateName(int state) {
    switch (state) {
        case FA_EMPTY: return "FA_EMPTY";
        case FA_RESERVE: return "FA_RESERVE";
        case FA_BAD: return "FA_BAD";
        case FA_END: return "FA_END";
        case FA_DEL_DIR: return "FA_DEL_DIR";
        case FA_DEL_FILE: return "FA_DEL_FILE";
        case FA_USE_DIR: return "FA_USE_DIR";
        case FA_USE_FILE: return "FA_USE_FILE";
        default: {
            thread_local char buffer[24];
            std::snprintf(buffer, sizeof buffer, "(%d)", state);
            return buffer;
        }
    }
}

int64_t MarkChain(FatTables& tables, const BootSector& boot, uint32_t start, uint8_t state, bool keepDeleted) {
    if (start < 2) return 0;
    // Deletion frees a chain: a deleted entry whose start cluster the FAT
    // still calls allocated points into a file written later. Claim nothing.
    if (state == FA_DEL_FILE && !keepDeleted && FatSaysInUse(tables, start)) return 0;
    ChainWalk walk(tables, boot, start);
    int64_t count = 1;
    for (;;) {
        uint32_t c = walk.current();
        if (!(keepDeleted && ClusterState(tables, c) == FA_DEL_FILE)) SetClusterState(tables, c, state);
        if (!walk.Next()) return count;
        ++count;
    }
}

ContiguousClaim MarkContiguous(FatTables& tables, const DiskVolume& volume, uint64_t start, uint8_t state,
                               uint64_t size, std::vector<uint64_t>* list, uint64_t* collected, bool fatMarksInUse,
                               uint64_t* needed) {
    list->clear();
    *collected = 0;
    if (needed) *needed = 0;
    if (size == 0) return ClaimWhole;
    if (start < 2 || volume.clusterSize == 0) return ClaimInvalidStart;
    uint64_t capacity = ClustersForBytes(size, volume.clusterSize);
    if (needed) *needed = capacity;
    // Clusters past the map or past the volume's last cluster do not exist:
    // the list is bounded by what lies between the start and that end.
    uint64_t end = tables.present ? tables.size() : 0;
    if (volume.clusterCount > 0) end = std::min(end, ClusterNumberEnd(volume));
    const uint64_t available = end > start ? end - start : 0;
    list->assign(size_t(std::min(capacity, available)), 0);
    for (uint64_t i = 0; i < capacity; ++i) {
        // The card ends before the extent does.
        if (i >= list->size()) return i == 0 ? ClaimBlockedAtStart : ClaimCutShort;
        uint64_t c = start + i;
        int old = ClusterState(tables, c);
        SetClusterState(tables, c, state);
        // A free cell that the FAT calls allocated belongs to a live file whose
        // entry has not been read yet: it stops the run like a claimed one.
        bool free = (old == FA_EMPTY && !(fatMarksInUse && FatSaysInUse(tables, c))) || old == FA_DEL_FILE;
        if (free) {
            (*list)[size_t(i)] = c;
            ++*collected;
            continue;
        }
        return i == 0 ? ClaimBlockedAtStart : ClaimCutShort;
    }
    return ClaimWhole;
}

int64_t CollectChain(const FatTables& tables, const BootSector& boot, uint32_t start, std::vector<uint32_t>* list) {
    std::vector<uint32_t> chain{start};
    ChainWalk walk(tables, boot, start);
    while (walk.Next()) chain.push_back(walk.current());
    if (list) *list = chain;
    return int64_t(chain.size());
}

}  // namespace veld
