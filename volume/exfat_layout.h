// On-disk layout of an exFAT volume: the boot sector, the generic 32-byte
// directory entry and the entry types the engine reads. All fields are
// little-endian; offsets are in bytes from the start of the structure.
#pragma once

#include <cstdint>

namespace veld::exfat {

// Boot sector (sector 0 of the main boot region, sector 12 of the backup).
namespace boot {
constexpr int JumpBoot = 0;                // 3 bytes  EB 76 90
constexpr int FileSystemName = 3;          // 8 bytes  "EXFAT   "
constexpr int MustBeZero = 11;             // 53 bytes zero (keeps FAT readers away)
constexpr int MustBeZeroSize = 53;
constexpr int PartitionOffset = 64;        // u64  sectors from the start of the disk (informational)
constexpr int VolumeLength = 72;           // u64  sectors in the volume
constexpr int FatOffset = 80;              // u32  sectors from the volume start to the first FAT
constexpr int FatLength = 84;              // u32  sectors per FAT
constexpr int ClusterHeapOffset = 88;      // u32  sectors from the volume start to cluster 2
constexpr int ClusterCount = 92;           // u32  clusters in the heap
constexpr int FirstClusterOfRoot = 96;     // u32  first cluster of the root directory
constexpr int VolumeSerialNumber = 100;    // u32
constexpr int FileSystemRevision = 104;    // u16  major in the high byte
constexpr int VolumeFlags = 106;           // u16  bit 0 ActiveFat, bit 1 VolumeDirty, bit 2 MediaFailure
constexpr int BytesPerSectorShift = 108;   // u8   9..12
constexpr int SectorsPerClusterShift = 109;// u8   0..25 - BytesPerSectorShift
constexpr int NumberOfFats = 110;          // u8   1, or 2 on transaction-safe volumes
constexpr int DriveSelect = 111;           // u8
constexpr int PercentInUse = 112;          // u8   0..100, or 0xFF when unknown
constexpr int BootSignature = 510;         // u16  0xAA55
constexpr int Size = 512;                  // the fields above fit the smallest sector
}  // namespace boot

constexpr int kBootRegionSectors = 12;     // boot sector, 8 extended, OEM, reserved, checksum
constexpr int kChecksumSector = 11;        // holds the region checksum, repeated as u32 words
constexpr int kBackupRegionSector = 12;    // the backup region follows the main one
constexpr uint16_t kActiveFatFlag = 0x0001;

// Generic directory entry: every entry is 32 bytes with its type in byte 0.
namespace dirent {
constexpr int EntryType = 0;               // u8   bit 7 InUse, bit 6 secondary, bits 0..4 code
constexpr int SecondaryCount = 1;          // u8   primary entries: secondaries that follow
constexpr int FirstCluster = 20;           // u32  entries that own clusters
constexpr int DataLength = 24;             // u64  bytes in those clusters
constexpr int Size = 32;
}  // namespace dirent

constexpr uint8_t kInUseBit = 0x80;
constexpr uint8_t kEndOfDirectory = 0x00;
constexpr uint8_t kAllocationBitmapEntry = 0x81;
constexpr uint8_t kUpcaseTableEntry = 0x82;
constexpr uint8_t kVolumeLabelEntry = 0x83;
constexpr uint8_t kFileEntry = 0x85;
constexpr uint8_t kStreamExtensionEntry = 0xC0;
constexpr uint8_t kFileNameEntry = 0xC1;
constexpr uint8_t kSecondaryBit = 0x40;    // set in the type of every secondary entry

// Allocation bitmap entry (0x81).
namespace bitmap_entry {
constexpr int BitmapFlags = 1;             // u8   bit 0: 0 first bitmap, 1 second
}  // namespace bitmap_entry

// Up-case table entry (0x82).
namespace upcase_entry {
constexpr int TableChecksum = 4;           // u32
}  // namespace upcase_entry

// Volume label entry (0x83).
namespace label_entry {
constexpr int CharacterCount = 1;          // u8   0..11
constexpr int VolumeLabel = 2;             // 22 bytes, 11 UTF-16 units
constexpr int MaxCharacters = 11;
}  // namespace label_entry

// File entry (0x85): the primary entry of a file or folder's set.
namespace file_entry {
constexpr int SecondaryCount = 1;          // u8   2..18
constexpr int SetChecksum = 2;             // u16  over the whole set, this field skipped
constexpr int FileAttributes = 4;          // u16  R H S - D A as FAT
constexpr int CreateTimestamp = 8;         // u32  FAT date << 16 | FAT time
constexpr int LastModifiedTimestamp = 12;  // u32
constexpr int LastAccessedTimestamp = 16;  // u32
constexpr int Create10msIncrement = 20;    // u8   0..199, added to the 2-second time
constexpr int LastModified10msIncrement = 21; // u8
constexpr int CreateUtcOffset = 22;        // u8   bit 7 valid, bits 0..6 signed quarter hours
constexpr int LastModifiedUtcOffset = 23;  // u8
constexpr int LastAccessedUtcOffset = 24;  // u8
constexpr int MinSecondaries = 2;          // a stream extension and one name entry
constexpr int MaxSecondaries = 18;         // a stream extension and 17 name entries
}  // namespace file_entry

// Stream extension entry (0xC0): the first secondary of a file set.
namespace stream_entry {
constexpr int GeneralSecondaryFlags = 1;   // u8   bit 0 AllocationPossible, bit 1 NoFatChain
constexpr int NameLength = 3;              // u8   UTF-16 units in the name, 1..255
constexpr int NameHash = 4;                // u16  over the up-cased name
constexpr int ValidDataLength = 8;         // u64  bytes written so far
constexpr int FirstCluster = 20;           // u32
constexpr int DataLength = 24;             // u64
constexpr uint8_t AllocationPossible = 0x01;
constexpr uint8_t NoFatChain = 0x02;       // the clusters run contiguously; the FAT is not used
}  // namespace stream_entry

// File name entry (0xC1): 15 UTF-16 units of the name each.
namespace name_entry {
constexpr int FileName = 2;                // 30 bytes
constexpr int UnitsPerEntry = 15;
}  // namespace name_entry

// FAT entries are u32 cluster numbers; these values end or break a chain.
constexpr uint32_t kFatBadCluster = 0xFFFFFFF7;
constexpr uint32_t kFatEndOfChain = 0xFFFFFFFF;
constexpr uint64_t kFirstCluster = 2;      // the heap starts at cluster 2

}  // namespace veld::exfat
