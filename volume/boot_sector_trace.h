#pragma once

#include "volume/disk_volume.h"

namespace veld {

// Writes the boot-sector lines of a search's trace: jump, OEM name, media,
// sector and cluster sizes, FAT position and type, root directory range.
void TraceBootSector(const BootSector& boot);

// Where the root directory starts: the FAT32 root cluster, or the first
// sector of the FAT12/16 root area.
uint64_t RootDirectoryPosition(const BootSector& boot);

}  // namespace veld
