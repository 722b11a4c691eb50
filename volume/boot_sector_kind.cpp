#include "volume/boot_sector_kind.h"

#include "base/byte_reader.h"
#include "volume/exfat_layout.h"

namespace veld {
namespace {

// FAT boot sector fields (BIOS parameter block) read here.
constexpr int kJump = 0;               // u8   EB (short jump, then 90) or E9 (near jump)
constexpr int kOemName = 3;            // 8 bytes
constexpr int kBytesPerSector = 11;    // u16
constexpr int kSectorsPerCluster = 13; // u8
constexpr int kReservedSectors = 14;   // u16
constexpr int kNumberOfFats = 16;      // u8
constexpr int kTotalSectors16 = 19;    // u16
constexpr int kMedia = 21;             // u8
constexpr int kSectorsPerFat16 = 22;   // u16
constexpr int kTotalSectors32 = 32;    // u32
constexpr int kSectorsPerFat32 = 36;   // u32
constexpr int kMarker = 510;           // 55 AA

bool IsPowerOfTwo(uint32_t v) { return v != 0 && (v & (v - 1)) == 0; }

bool HasMarker(const ByteReader& r) { return r.u8(kMarker) == 0x55 && r.u8(kMarker + 1) == 0xAA; }

bool IsFat(const ByteReader& r) {
    const uint8_t jump = r.u8(kJump);
    if (!(jump == 0xE9 || (jump == 0xEB && r.u8(kJump + 2) == 0x90))) return false;
    const uint32_t bytesPerSector = r.le16(kBytesPerSector);
    if (!IsPowerOfTwo(bytesPerSector) || bytesPerSector < 512 || bytesPerSector > 4096) return false;
    const uint32_t sectorsPerCluster = r.u8(kSectorsPerCluster);
    if (!IsPowerOfTwo(sectorsPerCluster)) return false;
    if (r.le16(kReservedSectors) == 0 || r.u8(kNumberOfFats) == 0) return false;
    if (r.le16(kTotalSectors16) == 0 && r.le32(kTotalSectors32) == 0) return false;
    if (r.le16(kSectorsPerFat16) == 0 && r.le32(kSectorsPerFat32) == 0) return false;
    const uint8_t media = r.u8(kMedia);
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
    if (r.equals(kOemName, "NTFS    ", 8)) return BootSectorKind::Ntfs;
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

}  // namespace veld
