#include "volume/cluster_map.h"

#include <algorithm>
#include <cstdio>
#include <string>

#include "base/byte_reader.h"
#include "base/search_progress.h"
#include "base/trace.h"
#include "volume/boot_sector.h"

namespace veld {

FatTables gFat;

namespace {

// No map grows beyond this many cells (1.5 GiB with the FAT copy); cluster
// numbers past it answer FA_END and are treated as claimed.
constexpr uint64_t kMaxMapEntries = uint64_t(1) << 28;

// The FAT reader's last reported percentage; deliberately kept across searches.
int gLastFatPercent = -1;

// Upper bound for the number of cells a source can need: what its bytes can
// hold as clusters, plus the two reserved numbers.
uint64_t DeviceClusterBound(const DiskVolume& volume) {
    if (!volume.device || volume.clusterSize == 0) return kMaxMapEntries;
    int64_t bytes = volume.device->Size();
    if (bytes < 0) return kMaxMapEntries;
    uint64_t afterStart = uint64_t(bytes) > volume.dataStart ? uint64_t(bytes) - volume.dataStart : 0;
    return std::min<uint64_t>(kMaxMapEntries, afterStart / volume.clusterSize + 2);
}

void Allocate(uint64_t entries, bool withFat) {
    gFat.fat.assign(withFat ? entries : 0, 0);
    gFat.cells.assign(entries, ClusterCell{});
    gFat.present = true;
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

// Walks a chain with a bound: at most the map's size in steps, and, once a
// chain is long, a record of visited clusters so a cycle ends at once.
class ChainWalk {
public:
    ChainWalk(const BootSector& boot, uint32_t start) : boot_(boot), current_(start) {}
    uint32_t current() const { return current_; }
    // Moves to the next cluster; false at the end of the chain, at a value
    // outside the map, or on a revisited cluster.
    bool Next() {
        if (current_ >= gFat.size()) return false;
        uint32_t next = gFat.fat.empty() ? 0 : gFat.fat[current_];
        if (!IsValidCluster(boot_, next) || next >= gFat.size()) return false;
        if (++steps_ >= gFat.size()) return false;
        if (steps_ >= kPlainSteps) {
            if (visited_.empty()) visited_.assign(gFat.size(), false);
            if (visited_[next]) return false;
            visited_[next] = true;
        }
        current_ = next;
        return true;
    }

private:
    static constexpr uint64_t kPlainSteps = 1024;
    const BootSector& boot_;
    uint32_t current_;
    uint64_t steps_ = 0;
    std::vector<bool> visited_;
};

}  // namespace

int ReadFat(DiskVolume& volume, const BootSector& boot) {
    if (volume.volumeKind == VolumeNone) return 0;
    FreeFat();
    uint64_t bound = DeviceClusterBound(volume);
    if (volume.volumeKind == VolumeRaw || volume.volumeKind == VolumeNtfs) {
        // The cluster count of an NTFS boot sector is a 64-bit field of the
        // card: like the FAT's, the map never outgrows what the source holds.
        uint64_t n = std::min<uint64_t>(volume.clusterCount > 0 ? uint64_t(volume.clusterCount) : 0, bound);
        Allocate(n, false);
        gFat.fatType = 0;
        TraceLine("FAT entrys(2) = %d", int(n));
        return 0;
    }

    ByteReader r(boot.data(), boot.size());
    const int fatType = FatTypeOf(boot);
    const bool fat32 = IsFat32Layout(boot);
    const uint32_t bytesPerSector = r.le16(bpb::BytesPerSector);
    if (bytesPerSector == 0) {  // LoadGeometry never hands such a volume over as FAT
        Allocate(0, true);
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
    uint64_t entries = fat32 ? fatBytes / 4 : (fatType == 12 ? fatBytes * 2 / 3 : fatBytes / 2);
    TraceLine("FAT entrys(1) = %lld %lld", (long long)volume.clusterCount, (long long)entries);
    uint64_t clusters = volume.clusterCount > 0 ? uint64_t(volume.clusterCount) : 0;
    if (clusters > entries) entries = std::min(clusters, bound);
    entries = std::min(entries, kMaxMapEntries);
    Allocate(entries, true);
    gFat.fatType = fatType;
    TraceLine("FAT entrys(2) = %d", int(entries));

    std::vector<uint8_t> sector(bytesPerSector);
    std::vector<uint8_t> fat12Bytes;
    uint64_t runningIndex = 0;
    int result = 0;
    for (uint64_t i = 0; i < sectorsPerFat; ++i) {
        int percent = int(double(i) / double(sectorsPerFat) * 100.0);
        if (percent != gLastFatPercent) {
            char text[48];
            std::snprintf(text, sizeof text, "%d/%d", int(i), int(sectorsPerFat));
            ReportProgress(PhaseFatRead, percent, text);
            gLastFatPercent = percent;
        }
        if (DiskIO_Seek(&volume, int64_t((reserved + i) * bytesPerSector)) == -1) {
            TraceLine("ERROR FAT SetFilePointer");
            break;
        }
        uint32_t done = 0;
        if (!DiskIO_Read(&volume, sector.data(), bytesPerSector, &done) || done == 0) {
            TraceLine("ERROR FAT DiskIO_Read");
            result = -1;
            break;
        }
        if (done < bytesPerSector) std::fill(sector.begin() + done, sector.end(), 0);
        ByteReader s(sector.data(), sector.size());
        if (fat32) {
            uint64_t first = i * bytesPerSector / 4;
            for (uint32_t k = 0; k < bytesPerSector / 4 && first + k < entries; ++k) gFat.fat[first + k] = s.le32(k * 4);
        } else if (fatType == 12) {
            fat12Bytes.insert(fat12Bytes.end(), sector.begin(), sector.end());
        } else {
            uint64_t first = i * bytesPerSector / 2;
            for (uint32_t k = 0; k < bytesPerSector / 2 && first + k < entries; ++k) gFat.fat[first + k] = s.le16(k * 2);
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
            gFat.fat[n] = (n & 1) ? uint32_t(word >> 4) : uint32_t(word & 0xFFF);
        }
    }
    return result;
}

void FreeFat() {
    gFat.fat.clear();
    gFat.fat.shrink_to_fit();
    gFat.cells.clear();
    gFat.cells.shrink_to_fit();
    gFat.directoryScanned.clear();
    gFat.directoryScanned.shrink_to_fit();
    gFat.present = false;
    gFat.fatType = 0;
}

int ClusterState(uint64_t cluster) {
    if (!gFat.present) return kNoClusterMap;
    if (cluster >= gFat.cells.size()) return FA_END;
    return gFat.cells[cluster].state;
}

void SetClusterState(uint64_t cluster, uint8_t state) {
    if (gFat.present && cluster < gFat.cells.size()) gFat.cells[cluster].state = state;
}

int ClusterClass(uint64_t cluster) {
    if (!gFat.present || cluster >= gFat.cells.size()) return CC_NONE;
    return gFat.cells[cluster].contentClass;
}

void SetClusterClass(uint64_t cluster, uint8_t contentClass) {
    if (gFat.present && cluster < gFat.cells.size()) gFat.cells[cluster].contentClass = contentClass;
}

bool DirectoryBlockScanned(uint64_t cluster) {
    return cluster < gFat.directoryScanned.size() && gFat.directoryScanned[cluster];
}

void MarkDirectoryBlockScanned(uint64_t cluster) {
    if (!gFat.present || cluster >= gFat.cells.size()) return;
    if (gFat.directoryScanned.empty()) gFat.directoryScanned.assign(gFat.cells.size(), false);
    gFat.directoryScanned[cluster] = true;
}

uint32_t FatEntry(uint64_t cluster) { return cluster < gFat.fat.size() ? gFat.fat[cluster] : 0; }

bool FatSaysInUse(uint64_t cluster) {
    uint32_t entry = FatEntry(cluster);
    if (gFat.fatType == 32) entry &= 0x0FFFFFFF;
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

int64_t MarkChain(const BootSector& boot, uint32_t start, uint8_t state, bool keepDeleted) {
    if (start < 2) return 0;
    // Deletion frees a chain: a deleted entry whose start cluster the FAT
    // still calls allocated points into a file written later. Claim nothing.
    if (state == FA_DEL_FILE && !keepDeleted && FatSaysInUse(start)) return 0;
    ChainWalk walk(boot, start);
    int64_t count = 1;
    for (;;) {
        uint32_t c = walk.current();
        if (!(keepDeleted && ClusterState(c) == FA_DEL_FILE)) SetClusterState(c, state);
        if (!walk.Next()) return count;
        ++count;
    }
}

int MarkContiguous(const DiskVolume& volume, uint32_t start, uint8_t state, uint64_t size,
                   std::vector<uint32_t>* list, uint32_t* collected, bool fatMarksInUse, uint64_t* needed) {
    list->clear();
    *collected = 0;
    if (needed) *needed = 0;
    if (size == 0) return 1;
    if (start < 2 || volume.clusterSize == 0) return 0;
    uint64_t capacity = (size + volume.clusterSize - 1) / volume.clusterSize;
    if (needed) *needed = capacity;
    // Clusters past the map or past the volume's last cluster do not exist:
    // the list is bounded by what lies between the start and that end.
    uint64_t end = gFat.present ? gFat.size() : 0;
    if (volume.clusterCount > 0) end = std::min<uint64_t>(end, uint64_t(volume.clusterCount) + 2);
    const uint64_t available = end > start ? end - start : 0;
    list->assign(std::min(capacity, available), 0);
    for (uint64_t i = 0; i < capacity; ++i) {
        if (i >= list->size()) return i == 0 ? 101 : 100;  // the card ends before the extent does
        uint64_t c = uint64_t(start) + i;
        int old = ClusterState(c);
        SetClusterState(c, state);
        // A free cell that the FAT calls allocated belongs to a live file whose
        // entry has not been read yet: it stops the run like a claimed one.
        bool free = (old == FA_EMPTY && !(fatMarksInUse && FatSaysInUse(c))) || old == FA_DEL_FILE;
        if (free && c <= 0xFFFFFFFFu) {
            (*list)[i] = uint32_t(c);
            ++*collected;
            continue;
        }
        return i == 0 ? 101 : 100;
    }
    return 1;
}

int64_t CollectChain(const BootSector& boot, uint32_t start, std::vector<uint32_t>* list) {
    std::vector<uint32_t> chain{start};
    ChainWalk walk(boot, start);
    while (walk.Next()) chain.push_back(walk.current());
    if (list) *list = chain;
    return int64_t(chain.size());
}

}  // namespace veld
