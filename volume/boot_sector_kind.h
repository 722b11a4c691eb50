// Tells what kind of volume a first sector starts, judged by its bytes alone:
// used to tell a volume from a partition table and to find the partition that
// holds something the engine reads.
#pragma once

#include <cstdint>
#include <span>
#include <string>

namespace veld {

enum class BootSectorKind { None, Fat, Exfat, Ntfs };

// A FAT boot sector needs the 0x55 0xAA marker, a jump instruction (EB xx 90
// or E9), a power-of-two sector size of 512..4096 bytes and cluster size of
// 1..128 sectors, at least one reserved sector and one FAT, a non-zero
// sector count and FAT size, and a media byte of F0 or F8..FF. An exFAT one
// its name "EXFAT   " and a sector shift of 9..12; an NTFS one "NTFS    ".
// The bytes of an MBR fail these tests, so a partition table is never taken
// for a volume.
BootSectorKind BootSectorKindOf(std::span<const uint8_t> sector);

const char* BootSectorKindName(BootSectorKind kind);  // "none", "fat", "exfat", "ntfs"

// The file system a first sector starts, by the same tests, as the drive
// list names it: "FAT12", "FAT16" or "FAT32" (FAT32 when the root entry count
// is 0; FAT12 and FAT16 by the type text, else by the cluster count), "exFAT",
// "NTFS"; "" for anything else (a partition table among it).
std::string FileSystemNameOf(std::span<const uint8_t> sector);

}  // namespace veld
