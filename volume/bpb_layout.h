// On-disk layout of the boot sector of a FAT12/16/32 volume (its BIOS
// parameter block), and of the few NTFS fields the engine reads. All fields
// are little-endian; offsets are in bytes from the start of the sector.
#pragma once

namespace veld {

namespace bpb {
constexpr int Jump = 0;               // u8   EB (short jump, then 90) or E9 (near jump)
constexpr int JumpOperand = 1;        // u16  trace only
constexpr int OemName = 3;            // 8 bytes; "NTFS" marks an NTFS volume
constexpr int BytesPerSector = 11;    // u16
constexpr int SectorsPerCluster = 13; // u8
constexpr int ReservedSectors = 14;   // u16  sectors before the first FAT
constexpr int NumberOfFats = 16;      // u8
constexpr int RootEntries = 17;       // u16  0 on FAT32
constexpr int TotalSectors16 = 19;    // u16  0 when the 32-bit field is used
constexpr int MediaDescriptor = 21;   // u8   F0, or F8..FF
constexpr int SectorsPerFat16 = 22;   // u16  FAT12/16
constexpr int TotalSectors32 = 32;    // u32
constexpr int SectorsPerFat32 = 36;   // u32  FAT32
constexpr int NtfsTotalSectors = 40;  // u64  NTFS
constexpr int VolumeLabel = 43;       // 11 bytes, FAT12/16
constexpr int RootCluster = 44;       // u32  FAT32 root directory cluster
constexpr int FileSystemType = 54;    // 8 bytes, FAT12/16: "FAT12   ", "FAT16   "
constexpr int Marker = 510;           // 0x55 0xAA
}  // namespace bpb

}  // namespace veld
