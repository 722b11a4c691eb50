// The boot sector of a FAT12/16/32 (or NTFS) volume and the geometry that the
// engine derives from it.
#pragma once

#include <cstdint>

#include "volume/bpb_layout.h"
#include "volume/disk_volume.h"

namespace veld {

// Reads the first sector of a just opened volume and fills its geometry.
void LoadGeometry(DiskVolume& volume);
// The geometry of a source read as raw sectors: clusters are its sectors
// (512-byte units for images), cluster 2 its first byte, no boot sector.
void LoadRawGeometry(DiskVolume& volume);

bool HasBootMarker(const BootSector& boot);
bool IsNtfsBootSector(const BootSector& boot);
// 12, 16 or 32; decided by the type string, 32 for anything unrecognised.
int FatTypeOf(const BootSector& boot);
// True when the raw entry value names a data cluster for the FAT type.
bool IsValidCluster(const BootSector& boot, uint32_t value);
int64_t ClusterCountOf(const BootSector& boot);
// Sectors per FAT from offset 36 (FAT32, root entries 0) or 22.
uint32_t SectorsPerFatOf(const BootSector& boot);
bool IsFat32Layout(const BootSector& boot);
// Byte offset of a cluster on the source; 0 below cluster 2.
int64_t ClusterOffset(const DiskVolume& volume, uint64_t cluster);

// "yyyy/mm/dd hh:mm:ss" of a FAT date and time word.
const char* FatDateTimeText(uint16_t date, uint16_t time);
// Six characters R H S A D V, a blank for each clear attribute.
const char* FatAttributeText(uint8_t attributes);

}  // namespace veld
