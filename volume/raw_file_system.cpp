#include "volume/raw_file_system.h"

#include "base/trace.h"
#include "volume/boot_sector_trace.h"
#include "volume/cluster_map.h"

namespace veld {

int RawFileSystem::LoadAllocation(DiskVolume& volume, ClusterMap& map, SearchProgress*) {
    // The cluster count of an NTFS boot sector is a 64-bit field of the
    // card: like the FAT's, the map never outgrows what the source holds.
    const uint64_t cells = MapCellsFor(volume);
    map.Reset(cells);
    TraceLine("FAT entrys(2) = %llu", (unsigned long long)cells);
    return 0;
}

// The boot sector's lines as a FAT volume's would read (zeros for raw sources).
void RawFileSystem::TraceBootSector(const DiskVolume& volume) const { veld::TraceBootSector(volume.bootSector); }

}  // namespace veld
