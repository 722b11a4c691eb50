#include "volume/cluster_map.h"

#include <algorithm>
#include <cstring>
#include <cstdio>
#include <string>

#include "base/trace.h"

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
    bytes = (bytes + 511) / 512 * 512;  // a partial last sector reads whole
    uint64_t afterStart = uint64_t(bytes) > volume.dataStart ? uint64_t(bytes) - volume.dataStart : 0;
    return afterStart / volume.clusterSize + 2;
}

// The last data cluster's number + 1: cluster numbers 2 .. count + 1 hold data.
uint64_t ClusterNumberEnd(const DiskVolume& volume) {
    return volume.clusterCount > 0 ? uint64_t(volume.clusterCount) + 2 : 0;
}

// The chain from start as the volume's records link it; no longer than the
// map, so a cycle or a damaged FAT cannot make it grow past the card.
std::vector<uint64_t> ChainOf(const ClusterMap& map, DiskVolume& volume, uint64_t start) {
    if (!map.fileSystem) return {start};
    return map.fileSystem->Chain(volume, start, std::max<uint64_t>(map.size(), 1));
}

}  // namespace

uint64_t ClustersForBytes(uint64_t bytes, uint32_t clusterSize) {
    if (clusterSize == 0) return 0;
    return bytes / clusterSize + (bytes % clusterSize != 0 ? 1 : 0);
}

void ClusterMap::Reset(uint64_t count) {
    cells.Reset(count);
    directoryScanned.Reset(count);
    confirmed.Reset(count);
    present = true;
}

uint64_t MapCellsFor(const DiskVolume& volume, uint64_t atLeast) {
    return std::max(atLeast, std::min(ClusterNumberEnd(volume), DeviceClusterBound(volume)));
}

int ReadFat(ClusterMap& map, DiskVolume& volume, SearchProgress* progress) {
    FreeFat(map);
    if (!volume.fileSystem) return 0;
    map.fileSystem = volume.fileSystem;
    return map.fileSystem->LoadAllocation(volume, map, progress);
}

void FreeFat(ClusterMap& map) {
    map.cells.Reset(0);
    map.directoryScanned.Reset(0);
    map.confirmed.Reset(0);
    map.present = false;
    if (map.fileSystem) map.fileSystem->FreeAllocation();
    map.fileSystem.reset();
}

ClusterUse ClusterState(const ClusterMap& map, uint64_t cluster) {
    if (!map.present) return ClusterUse::NoMap;
    return ClusterUse(map.cells.State(cluster));  // ClusterUse::End beyond the map
}

void SetClusterState(ClusterMap& map, uint64_t cluster, ClusterUse state) {
    if (map.present) map.cells.SetState(cluster, uint8_t(state));
}

ContentClass ClusterClass(const ClusterMap& map, uint64_t cluster) {
    if (!map.present) return ContentClass::None;
    return ContentClass(map.cells.Class(cluster));
}

void SetClusterClass(ClusterMap& map, uint64_t cluster, ContentClass contentClass) {
    if (map.present) map.cells.SetClass(cluster, uint8_t(contentClass));
}

bool DirectoryBlockScanned(const ClusterMap& map, uint64_t cluster) {
    return map.present && map.directoryScanned.Test(cluster);
}

void MarkDirectoryBlockScanned(ClusterMap& map, uint64_t cluster) {
    if (map.present) map.directoryScanned.Set(cluster);
}

bool AllocatedOnCard(const ClusterMap& map, uint64_t cluster) {
    return map.fileSystem && map.fileSystem->ClusterInUse(cluster);
}

const char* ClusterStateName(ClusterUse state) {
    switch (state) {
        case ClusterUse::Empty: return "FA_EMPTY";
        case ClusterUse::Reserved: return "FA_RESERVE";
        case ClusterUse::Bad: return "FA_BAD";
        case ClusterUse::End: return "FA_END";
        case ClusterUse::DeletedFolder: return "FA_DEL_DIR";
        case ClusterUse::DeletedFile: return "FA_DEL_FILE";
        case ClusterUse::LiveFolder: return "FA_USE_DIR";
        case ClusterUse::LiveFile: return "FA_USE_FILE";
        default: {
            thread_local char buffer[24];
            std::snprintf(buffer, sizeof buffer, "(%d)", int(state));
            return buffer;
        }
    }
}

int64_t MarkChain(ClusterMap& map, DiskVolume& volume, uint64_t start, ClusterUse state, bool keepDeleted,
                  uint64_t* firstRun) {
    if (firstRun) *firstRun = 0;
    if (start < 2) return 0;
    // Deletion frees a chain: a deleted entry whose start cluster the FAT
    // still calls allocated points into a file written later. Claim nothing.
    if (state == ClusterUse::DeletedFile && !keepDeleted && AllocatedOnCard(map, start)) return 0;
    const std::vector<uint64_t> chain = ChainOf(map, volume, start);
    for (uint64_t c : chain)
        if (!(keepDeleted && ClusterState(map, c) == ClusterUse::DeletedFile)) SetClusterState(map, c, state);
    if (firstRun) {
        uint64_t n = 0;
        while (n < chain.size() && chain[size_t(n)] == start + n) ++n;
        *firstRun = n;
    }
    return int64_t(chain.size());
}

ContiguousClaim MarkContiguous(ClusterMap& map, const DiskVolume& volume, uint64_t start, ClusterUse state,
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
    uint64_t end = map.present ? map.size() : 0;
    if (volume.clusterCount > 0) end = std::min(end, ClusterNumberEnd(volume));
    const uint64_t available = end > start ? end - start : 0;
    // The list holds the clusters taken, never a reservation for the size.
    for (uint64_t i = 0; i < capacity; ++i) {
        // The card ends before the extent does.
        if (i >= available) return i == 0 ? ClaimBlockedAtStart : ClaimCutShort;
        uint64_t c = start + i;
        ClusterUse old = ClusterState(map, c);
        SetClusterState(map, c, state);
        // A free cell that the FAT calls allocated belongs to a live file whose
        // entry has not been read yet: it stops the run like a claimed one.
        bool free = (old == ClusterUse::Empty && !(fatMarksInUse && AllocatedOnCard(map, c))) || old == ClusterUse::DeletedFile;
        if (free) {
            list->push_back(c);
            ++*collected;
            continue;
        }
        return i == 0 ? ClaimBlockedAtStart : ClaimCutShort;
    }
    return ClaimWhole;
}

int64_t CollectChain(const ClusterMap& map, DiskVolume& volume, uint64_t start, std::vector<uint64_t>* list) {
    std::vector<uint64_t> chain = ChainOf(map, volume, start);
    const int64_t count = int64_t(chain.size());
    if (list) *list = std::move(chain);
    return count;
}

ContiguousClaim ClaimClusterList(ClusterMap& map, const std::vector<uint64_t>& planned, ClusterUse state,
                                 std::vector<uint64_t>* list, uint64_t* collected) {
    list->clear();
    *collected = 0;
    if (planned.empty()) return ClaimWhole;
    if (planned[0] < 2) return ClaimInvalidStart;
    for (size_t i = 0; i < planned.size(); ++i) {
        const uint64_t c = planned[i];
        const ClusterUse old = ClusterState(map, c);
        SetClusterState(map, c, state);
        const bool free = (old == ClusterUse::Empty && !AllocatedOnCard(map, c)) || old == ClusterUse::DeletedFile;
        if (!free || c < 2 || c >= map.size()) return i == 0 ? ClaimBlockedAtStart : ClaimCutShort;
        list->push_back(c);
        ++*collected;
    }
    return ClaimWhole;
}

}  // namespace veld
