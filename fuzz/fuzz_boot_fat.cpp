// Boot sector and FAT: the geometry of an in-memory card, its FAT copy and
// cluster map, and the chain walks and claims over them.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "volume/boot_sector.h"
#include "volume/cluster_map.h"
#include "volume/fat_file_system.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace veld;
    auto volume = DiskIO_OpenMemory(std::vector<uint8_t>(data, data + size));
    ClusterMap map;
    const BootSector boot = volume->bootSector;
    ReadFat(map, *volume);
    ClusterCountOf(boot);
    std::vector<uint64_t> chain;
    std::vector<uint64_t> list;
    const uint64_t walks = std::min<uint64_t>(map.size(), 66);
    for (uint64_t c = 2; c < walks; ++c) {
        CollectChain(map, *volume, c, &chain);
        MarkChain(map, *volume, c, (c & 1) ? ClusterUse::LiveFile : ClusterUse::DeletedFile, (c & 2) != 0);
        uint64_t collected = 0;
        uint64_t needed = 0;
        MarkContiguous(map, *volume, c, ClusterUse::DeletedFile, uint64_t(FatEntry(map, c)) * 977, &list, &collected,
                       true, &needed);
        ClusterOffset(*volume, FatEntry(map, c));
    }
    FreeFat(map);
    return 0;
}
