// One open source (a card by drive letter, a block device or an image file)
// with its volume geometry, and the sector access to it.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/raw_device.h"
#include "volume/file_system.h"
#include "volume/partition_table.h"

namespace veld {

using BootSector = std::array<uint8_t, 512>;

enum SourceKind : int32_t { SourceDrive = 1, SourceImage = 2 };
enum VolumeKind : int32_t {
    VolumeNone = 0,    // not analysed
    VolumeFat16 = 16,  // FAT12 or FAT16
    VolumeFat32 = 32,
    VolumeExfat = 64,  // exFAT: clusters of the heap, allocation bitmap, entry sets
    VolumeNtfs = 100,
    VolumeRaw = 200,   // no usable boot sector: clusters are sectors
};

struct DiskVolume {
    uint64_t dataStart = 0;     // byte offset of cluster 2 (exFAT: the cluster heap); 0 for NTFS and raw
    uint32_t clusterSize = 0;   // bytes per cluster; the sector size for raw
    uint32_t sectorSize = 0;    // bytes per sector
    int64_t clusterCount = 0;   // data clusters; NTFS: sectors; raw: 512-byte units
    BootSector bootSector{};    // verbatim first sector, zeros when unusable; exFAT: the boot
                                // sector of the region in use (main, or the backup at sector 12)
    int32_t sourceKind = 0;
    int32_t volumeKind = VolumeNone;
    std::string sourceName;     // drive letter, or the image's full path
    int32_t driveNumber = -1;
    std::string devicePath;     // what was opened: the image path or the block device
    std::unique_ptr<RawDevice> device;  // empty while the handle is closed
    std::string accessNote;     // trace line: how a block device was opened (directly or through
                                // the disk service); "" for an image file

    // The partition table at the start of the source, when one was found,
    // and the partition this volume reads. With a partition open, device is
    // a window onto it: every offset above (and every position the search
    // shows) counts from the partition's first byte.
    PartitionScheme partitionScheme = PartitionScheme::None;
    std::vector<Partition> partitions;
    int partitionIndex = 0;       // the table's number of the open partition; 0: the whole source
    uint64_t partitionOffset = 0; // bytes from the start of the source
    uint64_t partitionSize = 0;
    std::string partitionNote;    // trace line: which partition was opened, or why none; "" for a plain volume

    // What the search asks of the volume, by its format (LoadGeometry gives
    // every analysed volume one; none while volumeKind is VolumeNone).
    std::shared_ptr<FileSystem> fileSystem;
};

// Which part of a source an open reads. Numbers from 1 name a partition of
// the source's table (as sdb1, sdb2, ...).
constexpr int kPartitionAuto = 0;    // the first partition that holds a FAT or exFAT volume, else the whole source
constexpr int kPartitionWhole = -1;  // the whole source even when it carries a partition table (imaging)

// A partition that kPartitionAuto would open: its first sector is a FAT or
// exFAT boot sector (an NTFS volume is not searched by name).
bool HoldsSearchableVolume(const Partition& partition);

// The file system of a source (a device or image already open) as the drive
// list names it: its first sector's (FileSystemNameOf), or, when that sector
// is a partition table, that of the partition a search would open, else of
// the first partition that starts one. "" when none is known. Drives count
// the table in their logical sectors (isDrive).
std::string SourceFileSystemName(RawDevice& device, bool isDrive);

// Opens a source for searching: a non-empty image path opens that file
// read-only, otherwise the drive letter's device is opened read-only. When
// its first sector is no boot sector but a consistent MBR or GPT, the
// partition chosen by `partition` is opened (see kPartitionAuto). Null when
// it cannot be opened, or when `partition` names no partition of the source
// (DiskIO_LastOpenNoPartition tells).
std::unique_ptr<DiskVolume> DiskIO_Open(const std::string& imagePath, char driveLetter,
                                        int partition = kPartitionAuto);
std::unique_ptr<DiskVolume> DiskIO_OpenDrive(char driveLetter, bool writable);
std::unique_ptr<DiskVolume> DiskIO_OpenImage(const std::string& path, bool writable);
// A block device by path, opened as a drive (source kind 1).
std::unique_ptr<DiskVolume> DiskIO_OpenDevice(const std::string& path, bool writable);
bool IsBlockDevicePath(const std::string& path);
// An in-memory source, opened as an image (tests and fuzzers), with its
// partition chosen as by DiskIO_Open.
std::unique_ptr<DiskVolume> DiskIO_OpenMemory(std::vector<uint8_t> bytes, int partition = kPartitionAuto);
// Opens the same source again read-only and moves the new handle into volume
// (onto the same partition).
bool DiskIO_Reopen(DiskVolume& volume);
void DiskIO_CloseHandle(DiskVolume& volume);
void DiskIO_Close(std::unique_ptr<DiskVolume>& volume);

// Reads count bytes at a byte offset of the volume (from the open
// partition's first byte); done receives how many came, fewer at the source's
// end. False (done 0) on failure or without an open device.
bool DiskIO_ReadAt(DiskVolume* volume, uint64_t offset, void* buffer, uint32_t count, uint32_t* done);
bool DiskIO_WriteAt(DiskVolume* volume, uint64_t offset, const void* buffer, uint32_t count, uint32_t* done);
// Size of a raw drive in 512-byte units; sectorSize receives the device's
// logical sector size (0 when the size cannot be found).
int64_t DiskIO_QueryRawSize(int driveNumber, uint32_t* sectorSize);

// What a path that is neither a file nor a block device is told.
inline constexpr const char* kNotFileOrDeviceText =
    "通常のファイルでもブロックデバイスでもありません (not a regular file or block device)";

// Why the calling thread's last open failed, as the platform describes it
// (for messages); like errno, each thread has its own.
const std::string& DiskIO_LastOpenError();
// True when the calling thread's last open failed for lack of permission.
bool DiskIO_LastOpenDenied();
// True when the calling thread's last open failed because the partition asked
// for is not in the source's table (or the source has no table).
bool DiskIO_LastOpenNoPartition();

}  // namespace veld
