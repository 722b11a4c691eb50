#include "volume/boot_sector.h"

#include <cstdio>
#include <cstring>
#include <string>

#include "base/byte_reader.h"
#include "base/trace.h"
#include "volume/exfat_volume.h"
#include "volume/fat_file_system.h"
#include "volume/raw_file_system.h"

namespace veld {
namespace {

ByteReader Reader(const BootSector& boot) { return ByteReader(boot.data(), boot.size()); }

}  // namespace

bool HasBootMarker(const BootSector& boot) { return boot[bpb::Marker] == 0x55 && boot[bpb::Marker + 1] == 0xAA; }

bool IsNtfsBootSector(const BootSector& boot) { return std::memcmp(&boot[bpb::OemName], "NTFS", 4) == 0; }

bool IsFat32Layout(const BootSector& boot) { return Reader(boot).le16(bpb::RootEntries) == 0; }

uint32_t SectorsPerFatOf(const BootSector& boot) {
    ByteReader r = Reader(boot);
    return IsFat32Layout(boot) ? r.le32(bpb::SectorsPerFat32) : r.le16(bpb::SectorsPerFat16);
}

int FatTypeOf(const BootSector& boot) {
    if (IsFat32Layout(boot)) return 32;
    if (std::memcmp(&boot[bpb::FileSystemType], "FAT12", 5) == 0) return 12;
    if (std::memcmp(&boot[bpb::FileSystemType], "FAT16", 5) == 0) return 16;
    return 32;
}

bool IsValidCluster(const BootSector& boot, uint32_t value) {
    switch (FatTypeOf(boot)) {
        case 12: return value >= 2 && value <= 0xFF6;
        case 16: return value >= 2 && value <= 0xFFF6;
        default: return value >= 2 && value <= 0xFFFFFF6;
    }
}

int64_t ClusterCountOf(const BootSector& boot) {
    ByteReader r = Reader(boot);
    if (IsNtfsBootSector(boot)) return int64_t(r.le64(bpb::NtfsTotalSectors));
    int64_t bytesPerSector = r.le16(bpb::BytesPerSector);
    int64_t sectorsPerCluster = r.u8(bpb::SectorsPerCluster);
    // Zero fields (a partition table in the first sector, a wiped BPB) must
    // not be divisors: such a volume has no countable clusters.
    if (bytesPerSector == 0 || sectorsPerCluster == 0) return 0;
    int64_t total = r.le16(bpb::TotalSectors16);
    if (total == 0) total = r.le32(bpb::TotalSectors32);
    int64_t firstData = int64_t(r.le16(bpb::RootEntries)) * 32 / bytesPerSector +
                        int64_t(r.u8(bpb::NumberOfFats)) * SectorsPerFatOf(boot) +
                        r.le16(bpb::ReservedSectors);
    int64_t count = (total - firstData + sectorsPerCluster - 1) / sectorsPerCluster;
    return count > 0 ? count : 0;
}

void LoadGeometry(DiskVolume& volume) {
    volume.volumeKind = VolumeRaw;
    volume.fileSystem = std::make_shared<RawFileSystem>();
    volume.dataStart = 0;
    volume.clusterSize = 512;
    volume.sectorSize = 512;
    volume.clusterCount = 0;

    BootSector boot{};
    uint32_t done = 0;
    bool readOk = DiskIO_ReadAt(&volume, 0, boot.data(), 512, &done) && done == 512;

    if (readOk && NamesExfat(boot)) {
        // exFAT: the main boot region when its checksum holds, else the
        // backup region; when both fail, the source is searched raw.
        std::string why, note;
        if (LoadExfatGeometry(volume, &why, &note)) {
            if (!note.empty()) TraceLine("exFAT: %s", note.c_str());
            return;
        }
        TraceLine("exFAT boot regions unusable (%s): the source is searched as raw sectors", why.c_str());
        LoadRawGeometry(volume);
        return;
    }

    ByteReader r(boot.data(), boot.size());
    uint32_t bytesPerSector = r.le16(bpb::BytesPerSector);
    uint32_t sectorsPerCluster = r.u8(bpb::SectorsPerCluster);
    // A marker with zero sector or cluster sizes is not a usable boot sector
    // (for example the partition table of a whole-card image): search it raw.
    bool usable = readOk && HasBootMarker(boot) && bytesPerSector != 0 && sectorsPerCluster != 0;
    if (usable) {
        if (IsNtfsBootSector(boot)) {
            volume.volumeKind = VolumeNtfs;
            volume.fileSystem = std::make_shared<RawFileSystem>();
            volume.dataStart = 0;
            volume.clusterSize = bytesPerSector * sectorsPerCluster;
            volume.sectorSize = bytesPerSector;
        } else {
            bool fat32 = IsFat32Layout(boot);
            uint64_t sectorsPerFat = SectorsPerFatOf(boot);
            uint64_t firstData = uint64_t(r.le16(bpb::RootEntries)) * 32 / bytesPerSector +
                                 uint64_t(r.u8(bpb::NumberOfFats)) * sectorsPerFat + r.le16(bpb::ReservedSectors);
            volume.volumeKind = fat32 ? VolumeFat32 : VolumeFat16;
            volume.fileSystem = std::make_shared<FatFileSystem>();
            volume.sectorSize = bytesPerSector;
            volume.dataStart = uint32_t(firstData * bytesPerSector);
            volume.clusterSize = sectorsPerCluster * bytesPerSector;
        }
        volume.clusterCount = ClusterCountOf(boot);
        volume.bootSector = boot;
    } else {
        LoadRawGeometry(volume);
    }
}

void LoadRawGeometry(DiskVolume& volume) {
    volume.volumeKind = VolumeRaw;
    volume.fileSystem = std::make_shared<RawFileSystem>();
    volume.dataStart = 0;
    volume.clusterSize = 512;
    volume.sectorSize = 512;
    volume.clusterCount = 0;
    volume.bootSector.fill(0);
    if (!volume.device) return;
    // Drives report their logical sector size; images count 512-byte units.
    int64_t bytes = volume.device->Size();
    if (bytes < 0) return;
    uint32_t sector = volume.sourceKind == SourceDrive ? volume.device->SectorSize() : 512;
    if (sector == 0) sector = 512;
    volume.clusterSize = sector;
    volume.sectorSize = sector;
    // An image's last sector may be partial (its size no multiple of 512): it
    // counts, and reads with zeros after the image's last byte.
    volume.clusterCount = volume.sourceKind == SourceDrive ? bytes / sector : (bytes + 511) / 512;
}

int64_t ClusterOffset(const DiskVolume& volume, uint64_t cluster) {
    if (cluster < 2) return 0;
    return int64_t((cluster - 2) * uint64_t(volume.clusterSize) + volume.dataStart);
}

const char* FatDateTimeText(uint16_t date, uint16_t time) {
    thread_local char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%04d/%02d/%02d %02d:%02d:%02d", (date >> 9) + 1980, (date >> 5) & 15,
                  date & 31, time >> 11, (time >> 5) & 63, (time & 31) * 2);
    return buffer;
}

const char* FatAttributeText(uint8_t attributes) {
    thread_local char buffer[8];
    const struct { uint8_t bit; char letter; } order[] = {
        {0x01, 'R'}, {0x02, 'H'}, {0x04, 'S'}, {0x20, 'A'}, {0x10, 'D'}, {0x08, 'V'}};
    for (int i = 0; i < 6; ++i) buffer[i] = (attributes & order[i].bit) ? order[i].letter : ' ';
    buffer[6] = 0;
    return buffer;
}

}  // namespace veld
