#include "volume/exfat_boot.h"

#include "base/byte_reader.h"
#include "volume/exfat_layout.h"
#include "volume/utf16_text.h"

namespace veld {
namespace {

namespace eb = exfat::boot;

constexpr uint8_t kMinSectorShift = 9;     // 512-byte sectors
constexpr uint8_t kMaxSectorShift = 12;    // 4096-byte sectors
constexpr uint8_t kMaxClusterShift = 25;   // sector and cluster shifts together: 32 MiB clusters
constexpr uint64_t kMinVolumeBytes = 1 << 20;
constexpr uint64_t kMaxClusterCount = 0xFFFFFFF5;
constexpr uint64_t kFatEntryBytes = 4;

bool Fail(std::string* why, const char* text) {
    if (why) *why = text;
    return false;
}

std::nullopt_t Rejected(std::string* why, const char* text) {
    Fail(why, text);
    return std::nullopt;
}

bool CheckGeometry(const ExfatBoot& b, std::string* why) {
    const uint64_t sector = b.BytesPerSector();
    const uint64_t clusterSectors = uint64_t(1) << b.sectorsPerClusterShift;
    if (b.volumeLength < kMinVolumeBytes / sector) return Fail(why, "exFAT volume is smaller than 1 MiB");
    if (b.fatOffset < 2 * exfat::kBootRegionSectors) return Fail(why, "exFAT FAT starts inside the boot regions");
    const uint64_t fatsEnd = uint64_t(b.fatOffset) + uint64_t(b.fatLength) * b.numberOfFats;
    if (b.clusterHeapOffset < fatsEnd) return Fail(why, "exFAT cluster heap starts inside the FAT");
    if (b.clusterCount == 0 || b.clusterCount > kMaxClusterCount) return Fail(why, "exFAT cluster count is out of range");
    if (uint64_t(b.fatLength) * sector < (uint64_t(b.clusterCount) + 2) * kFatEntryBytes)
        return Fail(why, "exFAT FAT is too short for the cluster count");
    if (b.volumeLength < b.clusterHeapOffset ||
        uint64_t(b.clusterCount) > (b.volumeLength - b.clusterHeapOffset) / clusterSectors)
        return Fail(why, "exFAT cluster heap runs past the end of the volume");
    if (!b.IsHeapCluster(b.rootCluster)) return Fail(why, "exFAT root directory cluster is outside the heap");
    return true;
}

// A boot sector and its region's checksum sector, at the region's start.
std::optional<ExfatBoot> ReadRegion(const ByteReader& all, uint64_t regionStart, uint8_t expectedShift,
                                    std::string* why) {
    const std::span<const uint8_t> first = all.slice(regionStart, eb::Size);
    std::optional<ExfatBoot> boot = ParseExfatBootSector(first, why);
    if (!boot) return boot;
    if (expectedShift != 0 && boot->bytesPerSectorShift != expectedShift) {
        return Rejected(why, "exFAT backup boot sector names another sector size");
    }
    const uint32_t sector = boot->BytesPerSector();
    const uint64_t checksumAt = regionStart + uint64_t(exfat::kChecksumSector) * sector;
    if (!all.has(regionStart, uint64_t(exfat::kBootRegionSectors) * sector)) {
        return Rejected(why, "exFAT boot region is cut short");
    }
    const uint32_t sum = ExfatBootChecksum(all.slice(regionStart, checksumAt - regionStart), sector);
    for (uint64_t at = checksumAt; at < checksumAt + sector; at += 4) {
        if (all.le32(at) != sum) {
            return Rejected(why, "exFAT boot region checksum does not match");
        }
    }
    return boot;
}

}  // namespace

uint64_t ExfatBoot::ActiveFatOffset() const {
    uint64_t fat = fatOffset;
    if (numberOfFats == 2 && (volumeFlags & exfat::kActiveFatFlag)) fat += fatLength;
    return fat << bytesPerSectorShift;
}

std::optional<ExfatBoot> ParseExfatBootSector(std::span<const uint8_t> sector, std::string* why) {
    ByteReader r(sector);
    if (!r.has(0, eb::Size)) return Rejected(why, "exFAT boot sector is cut short");
    if (!r.equals(eb::FileSystemName, "EXFAT   ", 8)) return Rejected(why, "no exFAT name in the boot sector");
    if (r.le16(eb::BootSignature) != 0xAA55) return Rejected(why, "exFAT boot sector has no 55 AA signature");
    for (int k = 0; k < eb::MustBeZeroSize; ++k)
        if (r.u8(uint64_t(eb::MustBeZero + k)) != 0)
            return Rejected(why, "exFAT boot sector has bytes in its zero area");

    ExfatBoot b;
    b.partitionOffset = r.le64(eb::PartitionOffset);
    b.volumeLength = r.le64(eb::VolumeLength);
    b.fatOffset = r.le32(eb::FatOffset);
    b.fatLength = r.le32(eb::FatLength);
    b.clusterHeapOffset = r.le32(eb::ClusterHeapOffset);
    b.clusterCount = r.le32(eb::ClusterCount);
    b.rootCluster = r.le32(eb::FirstClusterOfRoot);
    b.serialNumber = r.le32(eb::VolumeSerialNumber);
    b.revision = r.le16(eb::FileSystemRevision);
    b.volumeFlags = r.le16(eb::VolumeFlags);
    b.bytesPerSectorShift = r.u8(eb::BytesPerSectorShift);
    b.sectorsPerClusterShift = r.u8(eb::SectorsPerClusterShift);
    b.numberOfFats = r.u8(eb::NumberOfFats);
    b.percentInUse = r.u8(eb::PercentInUse);

    if (b.bytesPerSectorShift < kMinSectorShift || b.bytesPerSectorShift > kMaxSectorShift)
        return Rejected(why, "exFAT sector size is out of range");
    if (b.sectorsPerClusterShift > kMaxClusterShift - b.bytesPerSectorShift)
        return Rejected(why, "exFAT cluster size is out of range");
    if (b.numberOfFats != 1 && b.numberOfFats != 2) return Rejected(why, "exFAT volume has neither one nor two FATs");
    if (!CheckGeometry(b, why)) return std::nullopt;
    return b;
}

uint32_t ExfatBootChecksum(std::span<const uint8_t> region, uint32_t bytesPerSector) {
    const uint64_t count = uint64_t(exfat::kChecksumSector) * bytesPerSector;
    uint32_t sum = 0;
    for (uint64_t i = 0; i < count && i < region.size(); ++i) {
        if (i == eb::VolumeFlags || i == eb::VolumeFlags + 1 || i == eb::PercentInUse) continue;
        sum = ((sum & 1) ? 0x80000000u : 0u) + (sum >> 1) + region[size_t(i)];
    }
    return sum;
}

ExfatBootRegion ReadExfatBootRegion(std::span<const uint8_t> head, uint64_t volumeBytes) {
    ByteReader all(head);
    ExfatBootRegion result;
    std::string mainWhy;
    result.boot = ReadRegion(all, 0, 0, &mainWhy);
    if (!result.boot) {
        // The main boot sector may be the damaged part, so the sector size of
        // the backup comes from the backup itself: try each possible one.
        std::string backupWhy = "no exFAT backup boot region at sector 12";
        for (uint8_t shift = kMinSectorShift; shift <= kMaxSectorShift && !result.boot; ++shift) {
            const uint64_t at = uint64_t(exfat::kBackupRegionSector) << shift;
            if (!all.equals(at + eb::FileSystemName, "EXFAT   ", 8)) continue;
            std::string why;
            result.boot = ReadRegion(all, at, shift, &why);
            if (!result.boot) backupWhy = why;
        }
        if (!result.boot) {
            result.why = "main: " + mainWhy + "; backup: " + backupWhy;
            return result;
        }
        result.fromBackup = true;
        result.note = "main boot region unusable (" + mainWhy + "); using the backup at sector 12";
    }
    if (volumeBytes != 0 && result.boot->VolumeBytes() > volumeBytes) {
        if (!result.note.empty()) result.note += "; ";
        result.note += "the volume is longer than the source: clusters past its end cannot be read";
    }
    return result;
}

const ExfatAllocationBitmap* ExfatRootEntries::ActiveBitmap(const ExfatBoot& boot) const {
    const bool wantSecond = boot.numberOfFats == 2 && (boot.volumeFlags & exfat::kActiveFatFlag);
    for (const auto& b : bitmaps)
        if (b.second == wantSecond) return &b;
    return nullptr;
}

ExfatRootEntries ParseExfatRootEntries(std::span<const uint8_t> rootBytes, const ExfatBoot& boot) {
    ExfatRootEntries result;
    ByteReader r(rootBytes);
    const uint64_t bitmapBytes = (uint64_t(boot.clusterCount) + 7) / 8;
    const uint64_t heapBytes = uint64_t(boot.clusterCount) * boot.ClusterSize();
    const uint64_t slots = rootBytes.size() / exfat::dirent::Size;
    for (uint64_t slot = 0; slot < slots; ++slot) {
        const uint64_t at = slot * exfat::dirent::Size;
        const uint8_t type = r.u8(at + exfat::dirent::EntryType);
        if (type == exfat::kEndOfDirectory) break;
        if (type == exfat::kAllocationBitmapEntry) {
            ExfatAllocationBitmap b;
            b.second = (r.u8(at + exfat::bitmap_entry::BitmapFlags) & 1) != 0;
            b.firstCluster = r.le32(at + exfat::dirent::FirstCluster);
            b.dataLength = r.le64(at + exfat::dirent::DataLength);
            if (!boot.IsHeapCluster(b.firstCluster)) {
                result.why = "allocation bitmap starts outside the cluster heap";
            } else if (b.dataLength < bitmapBytes) {
                result.why = "allocation bitmap is shorter than the cluster count";
            } else if (b.dataLength > heapBytes - (uint64_t(b.firstCluster) - 2) * boot.ClusterSize()) {
                result.why = "allocation bitmap runs past the end of the cluster heap";
            } else if (result.bitmaps.size() < 2) {
                result.bitmaps.push_back(b);
            }
        } else if (type == exfat::kUpcaseTableEntry && !result.upcase) {
            ExfatUpcaseTable u;
            u.checksum = r.le32(at + exfat::upcase_entry::TableChecksum);
            u.firstCluster = r.le32(at + exfat::dirent::FirstCluster);
            u.dataLength = r.le64(at + exfat::dirent::DataLength);
            if (boot.IsHeapCluster(u.firstCluster)) result.upcase = u;
            else result.why = "up-case table starts outside the cluster heap";
        } else if (type == exfat::kVolumeLabelEntry && result.label.empty()) {
            size_t count = r.u8(at + exfat::label_entry::CharacterCount);
            if (count > exfat::label_entry::MaxCharacters) count = exfat::label_entry::MaxCharacters;
            AppendUtf16Le(r, at + exfat::label_entry::VolumeLabel, count, result.label);
        }
    }
    if (result.why.empty()) {
        if (result.bitmaps.size() != boot.numberOfFats) result.why = "the root lists no allocation bitmap for each FAT";
        else if (!result.ActiveBitmap(boot)) result.why = "no allocation bitmap goes with the FAT in use";
        else if (!result.upcase) result.why = "the root lists no up-case table";
    }
    return result;
}

bool ExfatClusterInUse(std::span<const uint8_t> bitmap, uint64_t cluster) {
    if (cluster < exfat::kFirstCluster) return false;
    const uint64_t bit = cluster - exfat::kFirstCluster;
    if (bit / 8 >= bitmap.size()) return false;
    return (bitmap[size_t(bit / 8)] >> (bit % 8)) & 1;
}

}  // namespace veld
