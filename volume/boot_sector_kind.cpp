#include "volume/boot_sector_kind.h"

#include <algorithm>

#include "base/byte_reader.h"
#include "volume/boot_sector.h"
#include "volume/bpb_layout.h"
#include "volume/exfat_layout.h"

namespace veld {
namespace {

bool IsPowerOfTwo(uint32_t v) { return v != 0 && (v & (v - 1)) == 0; }

bool HasMarker(const ByteReader& r) { return r.u8(bpb::Marker) == 0x55 && r.u8(bpb::Marker + 1) == 0xAA; }

bool IsFat(const ByteReader& r) {
    const uint8_t jump = r.u8(bpb::Jump);
    if (!(jump == 0xE9 || (jump == 0xEB && r.u8(bpb::Jump + 2) == 0x90))) return false;
    const uint32_t bytesPerSector = r.le16(bpb::BytesPerSector);
    if (!IsPowerOfTwo(bytesPerSector) || bytesPerSector < 512 || bytesPerSector > 4096) return false;
    const uint32_t sectorsPerCluster = r.u8(bpb::SectorsPerCluster);
    if (!IsPowerOfTwo(sectorsPerCluster)) return false;
    if (r.le16(bpb::ReservedSectors) == 0 || r.u8(bpb::NumberOfFats) == 0) return false;
    if (r.le16(bpb::TotalSectors16) == 0 && r.le32(bpb::TotalSectors32) == 0) return false;
    if (r.le16(bpb::SectorsPerFat16) == 0 && r.le32(bpb::SectorsPerFat32) == 0) return false;
    const uint8_t media = r.u8(bpb::MediaDescriptor);
    return (media == 0xF0 || media >= 0xF8) && r.ok();
}

}  // namespace

BootSectorKind BootSectorKindOf(std::span<const uint8_t> sector) {
    ByteReader r(sector);
    if (!r.has(0, 512) || !HasMarker(r)) return BootSectorKind::None;
    if (r.equals(exfat::boot::FileSystemName, "EXFAT   ", 8)) {
        const uint8_t shift = r.u8(exfat::boot::BytesPerSectorShift);
        return shift >= 9 && shift <= 12 ? BootSectorKind::Exfat : BootSectorKind::None;
    }
    if (r.equals(bpb::OemName, "NTFS    ", 8)) return BootSectorKind::Ntfs;
    return IsFat(r) ? BootSectorKind::Fat : BootSectorKind::None;
}

const char* BootSectorKindName(BootSectorKind kind) {
    switch (kind) {
        case BootSectorKind::Fat: return "fat";
        case BootSectorKind::Exfat: return "exfat";
        case BootSectorKind::Ntfs: return "ntfs";
        case BootSectorKind::None: break;
    }
    return "none";
}

std::string FileSystemNameOf(std::span<const uint8_t> sector) {
    switch (BootSectorKindOf(sector)) {
        case BootSectorKind::Exfat: return "exFAT";
        case BootSectorKind::Ntfs: return "NTFS";
        case BootSectorKind::None: return "";
        case BootSectorKind::Fat: break;
    }
    BootSector boot{};
    std::copy(sector.begin(), sector.begin() + boot.size(), boot.begin());
    if (IsFat32Layout(boot)) return "FAT32";
    switch (FatTypeOf(boot)) {
        case 12: return "FAT12";
        case 16: return "FAT16";
        default: break;
    }
    // No type text: decided by the cluster count, as FAT itself does.
    return ClusterCountOf(boot) < 4085 ? "FAT12" : "FAT16";
}

}  // namespace veld
