#include "volume/disk_volume.h"

#include <cerrno>
#include <algorithm>
#include <cstring>
#include <optional>
#include <span>
#include <sys/stat.h>

#include "platform/removable_drives.h"
#include "volume/boot_sector.h"
#include "volume/boot_sector_kind.h"
#include "volume/partition_window.h"

namespace veld {
namespace {

// Like errno, the reason of the last failed open belongs to the thread that
// opened: a search worker's failure never shows up in another thread's text.
thread_local std::string gLastOpenError;
thread_local bool gLastOpenDenied = false;
thread_local bool gLastOpenNoPartition = false;

void RememberOpenFailure(const std::string& what) {
    int err = errno;
    gLastOpenDenied = (err == EACCES || err == EPERM);
    gLastOpenNoPartition = false;
    // A refused block device: the note also says what the disk service answered.
    const std::string& note = LastDeviceOpenNote();
    if (err == ENOTBLK)  // a FIFO, a character device, a socket
        gLastOpenError = what + ": " + kNotFileOrDeviceText;
    else
        gLastOpenError = note.empty() ? what + ": " + std::strerror(err) : note;
}

std::unique_ptr<DiskVolume> Finish(std::unique_ptr<DiskVolume> volume) {
    gLastOpenError.clear();
    gLastOpenDenied = false;
    gLastOpenNoPartition = false;
    LoadGeometry(*volume);
    return volume;
}

// Up to count bytes from the start of the whole source (fewer when it is shorter).
std::vector<uint8_t> ReadHead(RawDevice& device, size_t count) {
    std::vector<uint8_t> head(count);
    size_t have = 0;
    while (have < count) {
        uint32_t done = 0;
        if (!device.ReadAt(int64_t(have), head.data() + have, uint32_t(count - have), &done) || done == 0) break;
        have += done;
    }
    head.resize(have);
    return head;
}

// What a partition's first sector holds, by the strict boot-sector test (the
// boot code of an MBR never passes it).
// Reads one of the table's sectors (the extended boot records of logical
// partitions); what the read returned, none on failure.
SectorReader SectorsOf(RawDevice& device, uint32_t unit) {
    return [&device, unit](uint64_t offset) {
        std::vector<uint8_t> sector(std::max<uint32_t>(unit, 512));
        uint32_t done = 0;
        if (!device.ReadAt(int64_t(offset), sector.data(), uint32_t(sector.size()), &done)) done = 0;
        sector.resize(std::min<size_t>(done, sector.size()));
        return sector;
    };
}

BootSectorKind ContentOf(RawDevice& device, const Partition& partition) {
    uint8_t sector[512];
    uint32_t done = 0;
    if (!device.ReadAt(int64_t(partition.offset), sector, sizeof sector, &done) || done != sizeof sector)
        return BootSectorKind::None;
    return BootSectorKindOf(sector);
}

}  // namespace

bool HoldsSearchableVolume(const Partition& partition) {
    return partition.content == BootSectorKind::Fat || partition.content == BootSectorKind::Exfat;
}

namespace {

std::string SchemeText(PartitionScheme scheme) { return scheme == PartitionScheme::Gpt ? "GPT" : "MBR"; }

std::string PartitionText(const Partition& p) {
    return "partition " + std::to_string(p.index) + " at offset " + std::to_string(p.offset) + " (" +
           std::to_string(p.size) + " bytes, " + p.type + ")";
}

std::string IndexList(const std::vector<Partition>& partitions) {
    std::string list;
    for (const Partition& p : partitions) list += (list.empty() ? "" : ", ") + std::to_string(p.index);
    return list;
}

// Called on a source just opened whole: when its first sector is no boot
// sector but a consistent partition table, records the table and, unless
// the whole source is asked for, puts a window onto the partition chosen
// (the one asked for, else the first that holds a volume we read) and loads
// its geometry; a source with a table but no such partition is read as raw
// sectors. A source without a usable table keeps the whole-source geometry
// it has. Returns "" or, when the partition asked for is not there, why.
std::string OpenPartition(DiskVolume& volume, int partition) {
    volume.partitionNote.clear();
    if (!volume.device) return partition > 0 ? "パーティションテーブルがありません (no partition table)" : "";
    const int64_t size = volume.device->Size();
    std::vector<uint8_t> head =
        ReadHead(*volume.device, size >= 0 ? size_t(std::min<int64_t>(size, kPartitionTableHeadBytes)) : 0);
    if (head.size() >= 512 && BootSectorKindOf(std::span<const uint8_t>(head).first(512)) != BootSectorKind::None) {
        // A volume starts at sector 0: the plain card, as ever.
        return partition > 0 ? "パーティションテーブルがありません (no partition table: sector 0 is a boot sector)" : "";
    }

    // Drives count the table in their logical sectors; for an image file the
    // parser finds the unit itself.
    const uint32_t sectorSize = volume.sourceKind == SourceDrive ? volume.device->SectorSize() : 0;
    PartitionTable table = ReadPartitionTable(head, size > 0 ? uint64_t(size) : 0, sectorSize);
    if (table.scheme == PartitionScheme::None) {
        volume.partitionNote = "No partition table: " + table.why + "; the whole source is searched";
        return partition > 0 ? "パーティションテーブルがありません (no partition table: " + table.why + ")" : "";
    }
    AddLogicalPartitions(table, uint64_t(size), SectorsOf(*volume.device, table.sectorSize));
    for (Partition& p : table.partitions) p.content = ContentOf(*volume.device, p);
    volume.partitionScheme = table.scheme;
    volume.partitions = table.partitions;
    const std::string scheme = SchemeText(table.scheme);
    // From here sector 0 is known to be a table, whose boot code may pass
    // the loose boot-sector test: read whole, the source is raw sectors.
    if (partition == kPartitionWhole) {
        LoadRawGeometry(volume);
        volume.partitionNote = scheme + " partition table; the whole source is read";
        return "";
    }

    std::optional<size_t> pick;
    if (partition > 0) {
        pick = PartitionByIndex(table, partition);
        if (!pick)
            return "パーティション " + std::to_string(partition) + " はありません (no partition " +
                   std::to_string(partition) + "; the " + scheme + " lists " + IndexList(table.partitions) + ")";
    } else {
        pick = DefaultPartition(table, HoldsSearchableVolume);
        if (!pick) {
            LoadRawGeometry(volume);
            volume.partitionNote = scheme + " partition table with partitions " + IndexList(table.partitions) +
                                   ", none holds a FAT or exFAT volume; the whole source is searched";
            return "";
        }
    }
    const Partition& chosen = table.partitions[*pick];
    volume.device = OpenPartitionWindow(std::move(volume.device), chosen.offset, chosen.size);
    volume.partitionIndex = chosen.index;
    volume.partitionOffset = chosen.offset;
    volume.partitionSize = chosen.size;
    LoadGeometry(volume);
    volume.partitionNote = scheme + " partition table: " + PartitionText(chosen) + " opened";
    return "";
}

// The partition step of a read-only open; null (with the reason kept for the
// thread) when the partition asked for is not there.
std::unique_ptr<DiskVolume> WithPartition(std::unique_ptr<DiskVolume> volume, int partition, const std::string& what) {
    if (!volume) return nullptr;
    const std::string missing = OpenPartition(*volume, partition);
    if (missing.empty()) return volume;
    gLastOpenError = what + ": " + missing;
    gLastOpenDenied = false;
    gLastOpenNoPartition = true;
    return nullptr;
}

std::string DevicePathFor(char letter) { return DevicePathOfDriveLetter(letter); }

// The name of what the partition's first sector starts; "" when it cannot be read.
std::string PartitionFileSystemName(RawDevice& device, const Partition& partition) {
    uint8_t sector[512];
    uint32_t done = 0;
    if (!device.ReadAt(int64_t(partition.offset), sector, sizeof sector, &done) || done != sizeof sector) return "";
    return FileSystemNameOf(sector);
}

}  // namespace

std::string SourceFileSystemName(RawDevice& device, bool isDrive) {
    const int64_t size = device.Size();
    std::vector<uint8_t> head = ReadHead(device, size >= 0 ? size_t(std::min<int64_t>(size, kPartitionTableHeadBytes)) : 0);
    if (head.size() < 512) return "";
    const std::string own = FileSystemNameOf(std::span<const uint8_t>(head).first(512));
    if (!own.empty()) return own;
    PartitionTable table = ReadPartitionTable(head, size > 0 ? uint64_t(size) : 0, isDrive ? device.SectorSize() : 0);
    if (table.scheme == PartitionScheme::None) return "";
    AddLogicalPartitions(table, uint64_t(size), SectorsOf(device, table.sectorSize));
    for (Partition& p : table.partitions) p.content = ContentOf(device, p);
    if (std::optional<size_t> pick = DefaultPartition(table, HoldsSearchableVolume))
        return PartitionFileSystemName(device, table.partitions[*pick]);
    for (const Partition& p : table.partitions)
        if (p.content != BootSectorKind::None) return PartitionFileSystemName(device, p);
    return "";
}

std::unique_ptr<DiskVolume> DiskIO_OpenDrive(char driveLetter, bool writable) {
    auto volume = std::make_unique<DiskVolume>();
    volume->driveNumber = DriveNumberOfLetter(driveLetter);
    std::string path = DevicePathFor(driveLetter);
    if (path.empty()) {
        errno = ENODEV;
        RememberOpenFailure(std::string(1, driveLetter) + ":");
        return nullptr;
    }
    volume->device = OpenRawPath(path, writable);
    if (!volume->device) {
        RememberOpenFailure(path);
        return nullptr;
    }
    volume->sourceKind = SourceDrive;
    volume->sourceName = std::string(1, driveLetter);
    volume->devicePath = path;
    volume->accessNote = LastDeviceOpenNote();
    return Finish(std::move(volume));
}

std::unique_ptr<DiskVolume> DiskIO_OpenImage(const std::string& path, bool writable) {
    auto volume = std::make_unique<DiskVolume>();
    volume->device = OpenRawPath(path, writable);
    if (!volume->device) {
        RememberOpenFailure(path);
        return nullptr;
    }
    volume->sourceKind = SourceImage;
    volume->devicePath = path;
    volume->accessNote = LastDeviceOpenNote();  // "" unless the "image" is a device node
    auto opened = Finish(std::move(volume));
    opened->sourceName = path;
    return opened;
}

std::unique_ptr<DiskVolume> DiskIO_OpenMemory(std::vector<uint8_t> bytes, int partition) {
    auto volume = std::make_unique<DiskVolume>();
    volume->device = OpenMemoryDevice(std::move(bytes));
    volume->sourceKind = SourceImage;
    volume->sourceName = "(memory)";
    return WithPartition(Finish(std::move(volume)), partition, "(memory)");
}

std::unique_ptr<DiskVolume> DiskIO_OpenDevice(const std::string& path, bool writable) {
    auto volume = std::make_unique<DiskVolume>();
    volume->device = OpenRawPath(path, writable);
    if (!volume->device) {
        RememberOpenFailure(path);
        return nullptr;
    }
    volume->sourceKind = SourceDrive;
    volume->sourceName = path;
    volume->devicePath = path;
    volume->accessNote = LastDeviceOpenNote();
    return Finish(std::move(volume));
}

bool IsBlockDevicePath(const std::string& path) {
    struct stat st {};
    return !path.empty() && ::stat(path.c_str(), &st) == 0 && S_ISBLK(st.st_mode);
}

std::unique_ptr<DiskVolume> DiskIO_Open(const std::string& imagePath, char driveLetter, int partition) {
    if (!imagePath.empty()) {
        // A block device given by path is a drive, not an image.
        if (IsBlockDevicePath(imagePath)) return WithPartition(DiskIO_OpenDevice(imagePath, false), partition, imagePath);
        return WithPartition(DiskIO_OpenImage(imagePath, false), partition, imagePath);
    }
    return WithPartition(DiskIO_OpenDrive(driveLetter, false), partition, std::string(1, driveLetter) + ":");
}

bool DiskIO_Reopen(DiskVolume& volume) {
    if (volume.devicePath.empty()) return volume.device != nullptr;  // in-memory source
    auto device = OpenRawPath(volume.devicePath, false);
    if (!device) {
        RememberOpenFailure(volume.devicePath);
        return false;
    }
    if (volume.partitionIndex != 0)
        device = OpenPartitionWindow(std::move(device), volume.partitionOffset, volume.partitionSize);
    volume.device = std::move(device);
    volume.accessNote = LastDeviceOpenNote();
    return true;
}

void DiskIO_CloseHandle(DiskVolume& volume) {
    if (!volume.devicePath.empty()) volume.device.reset();
}

void DiskIO_Close(std::unique_ptr<DiskVolume>& volume) { volume.reset(); }

bool DiskIO_ReadAt(DiskVolume* volume, uint64_t offset, void* buffer, uint32_t count, uint32_t* done) {
    *done = 0;
    if (!volume || !volume->device) return false;
    if (!volume->device->ReadAt(int64_t(offset), buffer, count, done)) {
        *done = 0;
        return false;
    }
    return true;
}

bool DiskIO_WriteAt(DiskVolume* volume, uint64_t offset, const void* buffer, uint32_t count, uint32_t* done) {
    *done = 0;
    if (!volume || !volume->device) return false;
    if (!volume->device->Seek(int64_t(offset)) || !volume->device->Write(buffer, count, done)) {
        *done = 0;
        return false;
    }
    return true;
}

int64_t DiskIO_QueryRawSize(int driveNumber, uint32_t* sectorSize) {
    *sectorSize = 0;
    if (driveNumber < 0 || driveNumber > 25) return 0;
    std::string path = DevicePathOfDriveLetter(char('A' + driveNumber));
    if (path.empty()) return 0;
    auto device = OpenRawPath(path, false, DeviceAccess::DirectOnly);
    if (!device) return 0;
    int64_t bytes = device->Size();
    if (bytes <= 0) return 0;
    *sectorSize = device->SectorSize();
    return bytes >> 9;
}

const std::string& DiskIO_LastOpenError() { return gLastOpenError; }
bool DiskIO_LastOpenDenied() { return gLastOpenDenied; }
bool DiskIO_LastOpenNoPartition() { return gLastOpenNoPartition; }

}  // namespace veld
