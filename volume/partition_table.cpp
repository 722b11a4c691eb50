#include "volume/partition_table.h"

#include <algorithm>
#include <cstdio>
#include <zlib.h>

#include "volume/boot_sector_kind.h"
#include "base/byte_reader.h"
#include "base/trace.h"
#include "volume/utf16_text.h"

namespace veld {
namespace {

// MBR: four 16-byte entries from byte 446, the marker at 510.
namespace mbr {
constexpr int FirstEntry = 446;
constexpr int EntrySize = 16;
constexpr int Entries = 4;
constexpr int Status = 0;       // u8   0x00, or 0x80 for the boot partition
constexpr int Type = 4;         // u8   0 for an unused entry
constexpr int FirstLba = 8;     // u32  sectors from the start of the disk
constexpr int SectorCount = 12; // u32
constexpr int Marker = 510;     // 55 AA
constexpr uint8_t ProtectiveType = 0xEE;
// An extended partition holds a chain of extended boot records (EBRs), one
// sector each with 55 AA: entry 1 is a logical partition, its first sector
// counted from this EBR; entry 2 (type 05 or 0F, else the chain ends) is the
// next EBR, counted from the extended partition's start.
constexpr int MaxLogical = 128;  // a chain is followed this far at most
inline bool IsExtended(uint8_t type) { return type == 0x05 || type == 0x0F || type == 0x85; }
}  // namespace mbr

// GPT header, at sector 1 (and a backup at the last sector, not read here).
namespace gpt {
constexpr int Signature = 0;         // 8 bytes "EFI PART"
constexpr int HeaderSize = 12;       // u32  92..sector size, bytes the CRC covers
constexpr int HeaderCrc = 16;        // u32  CRC32 of the header with this field zero
constexpr int MyLba = 24;            // u64  1 for the primary header
constexpr int FirstUsableLba = 40;   // u64
constexpr int LastUsableLba = 48;    // u64  inclusive
constexpr int EntriesLba = 72;       // u64  first sector of the entry array
constexpr int EntryCount = 80;       // u32
constexpr int EntrySize = 84;        // u32  128 × 2^n
constexpr int EntriesCrc = 88;       // u32  CRC32 of count × size bytes
constexpr uint32_t MinHeaderSize = 92;
// Entry in the array.
constexpr int TypeGuid = 0;          // 16 bytes, all zero for an unused entry
constexpr int StartLba = 32;         // u64
constexpr int EndLba = 40;           // u64  inclusive
constexpr int Name = 56;             // 72 bytes, 36 UTF-16 units
constexpr int NameUnits = 36;
constexpr uint32_t MinEntrySize = 128;
constexpr uint64_t MaxArrayBytes = 1024 * 1024;  // far above any real table; bounds the work
}  // namespace gpt

struct TypeName {
    uint8_t code;
    const char* name;
};
constexpr TypeName kMbrTypes[] = {
    {0x01, "FAT12"},       {0x04, "FAT16 (<32 MiB)"}, {0x05, "extended"},    {0x06, "FAT16"},
    {0x07, "exFAT/NTFS"},  {0x0B, "FAT32"},           {0x0C, "FAT32 (LBA)"}, {0x0E, "FAT16 (LBA)"},
    {0x0F, "extended (LBA)"}, {0x82, "Linux swap"},   {0x83, "Linux"},       {0x85, "Linux extended"},
    {0xEE, "GPT protective"}, {0xEF, "EFI system"},
};

struct GuidName {
    const char* guid;
    const char* name;
};
constexpr GuidName kGptTypes[] = {
    {"EBD0A0A2-B9E5-4433-87C0-68B6B72699C7", "Microsoft basic data"},
    {"C12A7328-F81F-11D2-BA4B-00A0C93EC93B", "EFI system"},
    {"E3C9E316-0B5C-4DB8-817D-F92DF00215AE", "Microsoft reserved"},
    {"DE94BBA4-06D1-4D40-A16A-BFD50179D6AC", "Windows recovery"},
    {"0FC63DAF-8483-4772-8E79-3D69D8477DE4", "Linux filesystem"},
    {"0657FD6D-A4AB-43C4-84E5-0933C84B4F4F", "Linux swap"},
    {"E6D6D379-F507-44C2-A23C-238F2A3DF928", "Linux LVM"},
    {"21686148-6449-6E6F-744E-656564454649", "BIOS boot"},
    {"48465300-0000-11AA-AA11-00306543ECAC", "Apple HFS+"},
    {"7C3457EF-0000-11AA-AA11-00306543ECAC", "Apple APFS"},
};

std::string MbrTypeText(uint8_t code) {
    char text[40];
    std::snprintf(text, sizeof text, "0x%02X", code);
    std::string result = text;
    for (const auto& t : kMbrTypes)
        if (t.code == code) return result + " " + t.name;
    return result;
}

// The first three GUID fields are little-endian on disk, the last two bytes
// in order: EBD0A0A2-B9E5-4433-87C0-68B6B72699C7 is A2 A0 D0 EB E5 B9 33 44 87 C0 ...
std::string GuidText(const ByteReader& r, uint64_t at) {
    char text[40];
    std::snprintf(text, sizeof text, "%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X", r.le32(at),
                  r.le16(at + 4), r.le16(at + 6), r.u8(at + 8), r.u8(at + 9), r.u8(at + 10), r.u8(at + 11),
                  r.u8(at + 12), r.u8(at + 13), r.u8(at + 14), r.u8(at + 15));
    return text;
}

std::string GptTypeText(const std::string& guid) {
    for (const auto& t : kGptTypes)
        if (guid == t.guid) return t.name;
    return guid;
}

uint32_t Crc32(std::span<const uint8_t> bytes) {
    uLong crc = crc32(0L, Z_NULL, 0);
    return uint32_t(crc32(crc, bytes.data(), uInt(bytes.size())));
}

PartitionTable Rejected(std::string why) {
    PartitionTable table;
    table.why = std::move(why);
    return table;
}

// The table index of a partition that overlaps its predecessor by offset.
std::optional<int> FirstOverlap(std::vector<Partition> parts) {
    std::sort(parts.begin(), parts.end(), [](const Partition& a, const Partition& b) { return a.offset < b.offset; });
    for (size_t i = 1; i < parts.size(); ++i)
        if (parts[i].offset < parts[i - 1].offset + parts[i - 1].size) return parts[i].index;
    return std::nullopt;
}

std::string Numbered(const char* text, int index) { return std::string(text) + " " + std::to_string(index); }

PartitionTable ReadGpt(std::span<const uint8_t> head, uint64_t sourceSize, uint32_t sectorSize) {
    ByteReader all(head);
    // The header sits at sector 1, so its byte offset is the sector size.
    uint32_t unit = 0;
    const std::vector<uint32_t> candidates = sectorSize != 0 ? std::vector<uint32_t>{sectorSize}
                                                             : std::vector<uint32_t>{512, 4096};
    for (uint32_t candidate : candidates) {
        if (all.equals(uint64_t(candidate) + gpt::Signature, "EFI PART", 8)) {
            unit = candidate;
            break;
        }
    }
    if (unit == 0) return Rejected("protective MBR without a GPT header at sector 1");

    ByteReader header(all.slice(unit, unit));
    const uint32_t headerSize = header.le32(gpt::HeaderSize);
    if (headerSize < gpt::MinHeaderSize || headerSize > unit || !header.has(0, headerSize))
        return Rejected("GPT header size " + std::to_string(headerSize) + " is not plausible");
    std::vector<uint8_t> copy(header.data(), header.data() + headerSize);
    StoreLe32(copy.data() + gpt::HeaderCrc, 0);
    if (Crc32(copy) != header.le32(gpt::HeaderCrc)) return Rejected("GPT header CRC32 does not match");
    if (header.le64(gpt::MyLba) != 1) return Rejected("GPT header does not place itself at sector 1");

    const uint64_t sourceSectors = sourceSize / unit;
    const uint64_t firstUsable = header.le64(gpt::FirstUsableLba);
    const uint64_t lastUsable = header.le64(gpt::LastUsableLba);
    if (firstUsable < 2 || firstUsable > lastUsable) return Rejected("GPT usable area is empty or overlaps the header");
    if (lastUsable >= sourceSectors) return Rejected("GPT usable area ends past the end of the source (table points outside the source)");

    const uint64_t entriesLba = header.le64(gpt::EntriesLba);
    const uint32_t entryCount = header.le32(gpt::EntryCount);
    const uint32_t entrySize = header.le32(gpt::EntrySize);
    if (entrySize < gpt::MinEntrySize || entrySize % 8 != 0 || entryCount == 0)
        return Rejected("GPT entry size or count is not plausible");
    const uint64_t arrayBytes = uint64_t(entryCount) * entrySize;
    if (arrayBytes > gpt::MaxArrayBytes) return Rejected("GPT entry array is larger than 1 MiB");
    if (entriesLba < 2 || entriesLba >= sourceSectors || arrayBytes > (sourceSectors - entriesLba) * unit)
        return Rejected("GPT entry array lies outside the source (table points outside the source)");
    const uint64_t arrayOffset = entriesLba * unit;
    if (!all.has(arrayOffset, arrayBytes)) return Rejected("GPT entry array lies beyond the first sectors read");
    const std::span<const uint8_t> array = all.slice(arrayOffset, arrayBytes);
    if (Crc32(array) != header.le32(gpt::EntriesCrc)) return Rejected("GPT entry array CRC32 does not match");

    PartitionTable table;
    table.scheme = PartitionScheme::Gpt;
    table.sectorSize = unit;
    ByteReader entries(array);
    for (uint32_t i = 0; i < entryCount; ++i) {
        const uint64_t at = uint64_t(i) * entrySize;
        bool used = false;
        for (int k = 0; k < 16; ++k) used = used || entries.u8(at + gpt::TypeGuid + uint64_t(k)) != 0;
        if (!used) continue;
        const int index = int(i) + 1;
        const uint64_t start = entries.le64(at + gpt::StartLba);
        const uint64_t end = entries.le64(at + gpt::EndLba);
        if (start > end) return Rejected(Numbered("GPT entry ends before it starts:", index));
        if (end >= sourceSectors)
            return Rejected(Numbered("GPT partition ends past the end of the source (table points outside the source):", index));
        if (start < firstUsable || end > lastUsable)
            return Rejected(Numbered("GPT partition lies outside the usable area:", index));
        Partition p;
        p.index = index;
        p.offset = start * unit;
        p.size = (end - start + 1) * unit;
        p.type = GptTypeText(GuidText(entries, at + gpt::TypeGuid));
        AppendUtf16Le(entries, at + gpt::Name, gpt::NameUnits, p.name);
        table.partitions.push_back(std::move(p));
    }
    if (table.partitions.empty()) return Rejected("GPT lists no partition");
    if (auto index = FirstOverlap(table.partitions)) return Rejected(Numbered("GPT partitions overlap at entry", *index));
    return table;
}

}  // namespace

const char* PartitionSchemeName(PartitionScheme scheme) {
    switch (scheme) {
        case PartitionScheme::Mbr: return "mbr";
        case PartitionScheme::Gpt: return "gpt";
        case PartitionScheme::None: break;
    }
    return "none";
}

PartitionTable ReadPartitionTable(std::span<const uint8_t> head, uint64_t sourceSize, uint32_t sectorSize) {
    ByteReader r(head);
    if (!r.has(0, 512)) return Rejected("source is shorter than one sector");
    if (sourceSize == 0) return Rejected("source size is unknown");
    if (r.u8(mbr::Marker) != 0x55 || r.u8(mbr::Marker + 1) != 0xAA) return Rejected("sector 0 has no 55 AA marker");
    const BootSectorKind kind = BootSectorKindOf(r.slice(0, 512));
    if (kind != BootSectorKind::None)
        return Rejected(std::string("sector 0 is a boot sector (") + BootSectorKindName(kind) + "), not a partition table");

    bool protective = false;
    for (int i = 0; i < mbr::Entries; ++i) {
        const uint64_t at = mbr::FirstEntry + uint64_t(i) * mbr::EntrySize;
        const uint8_t status = r.u8(at + mbr::Status);
        if (status != 0x00 && status != 0x80) return Rejected(Numbered("MBR entry has a boot flag other than 00 or 80:", i + 1));
        protective = protective || r.u8(at + mbr::Type) == mbr::ProtectiveType;
    }
    if (protective) return ReadGpt(head, sourceSize, sectorSize);

    const uint32_t unit = sectorSize != 0 ? sectorSize : 512;
    const uint64_t sourceSectors = sourceSize / unit;
    PartitionTable table;
    table.scheme = PartitionScheme::Mbr;
    table.sectorSize = unit;
    for (int i = 0; i < mbr::Entries; ++i) {
        const uint64_t at = mbr::FirstEntry + uint64_t(i) * mbr::EntrySize;
        const uint8_t type = r.u8(at + mbr::Type);
        if (type == 0) continue;
        const uint64_t first = r.le32(at + mbr::FirstLba);
        const uint64_t count = r.le32(at + mbr::SectorCount);
        if (first == 0 || count == 0) return Rejected(Numbered("MBR entry has a type but no sectors or starts at sector 0:", i + 1));
        if (first + count > sourceSectors)
            return Rejected(Numbered("MBR partition ends past the end of the source (table points outside the source):", i + 1));
        Partition p;
        p.index = i + 1;
        p.offset = first * unit;
        p.size = count * unit;
        p.type = MbrTypeText(type);
        p.mbrType = type;
        table.partitions.push_back(std::move(p));
    }
    if (table.partitions.empty()) return Rejected("MBR lists no partition");
    if (auto index = FirstOverlap(table.partitions)) return Rejected(Numbered("MBR partitions overlap at entry", *index));
    return table;
}

void AddLogicalPartitions(PartitionTable& table, uint64_t sourceSize, const SectorReader& readSector) {
    if (table.scheme != PartitionScheme::Mbr || !readSector) return;
    const uint64_t unit = table.sectorSize;
    std::vector<Partition> logical;
    for (const Partition& extended : table.partitions) {
        if (!mbr::IsExtended(extended.mbrType)) continue;
        const uint64_t extStart = extended.offset;
        const uint64_t extEnd = std::min(extended.offset + extended.size, sourceSize);
        uint64_t ebr = extStart;
        // Each next EBR must lie after the one before it inside the extended
        // partition, so the chain cannot loop; a record that breaks a rule
        // ends it (traced), keeping the partitions found before.
        auto endChain = [&](const char* why) {
            TraceLine("EBR at byte %llu: %s; the logical partitions end here", static_cast<unsigned long long>(ebr), why);
        };
        for (int k = 0; k < mbr::MaxLogical && ebr + unit <= extEnd; ++k) {
            const std::vector<uint8_t> sector = readSector(ebr);
            const ByteReader r(sector);
            if (!r.has(0, 512) || r.u8(mbr::Marker) != 0x55 || r.u8(mbr::Marker + 1) != 0xAA) {
                endChain("unreadable or without the 55 AA marker");
                break;
            }
            const uint64_t part = mbr::FirstEntry;
            const uint64_t next = mbr::FirstEntry + mbr::EntrySize;
            const uint8_t type = r.u8(part + mbr::Type);
            const uint64_t first = r.le32(part + mbr::FirstLba);
            const uint64_t count = r.le32(part + mbr::SectorCount);
            if (type != 0 && first != 0 && count != 0) {
                const uint64_t offset = ebr + first * unit;
                if (offset + count * unit > extEnd) {
                    endChain("its partition runs past the extended partition");
                    break;
                }
                if (!logical.empty() && offset < logical.back().offset + logical.back().size) {
                    endChain("its partition overlaps the one before");
                    break;
                }
                Partition p;
                p.offset = offset;
                p.size = count * unit;
                p.type = MbrTypeText(type);
                p.mbrType = type;
                logical.push_back(std::move(p));
            }
            if (!mbr::IsExtended(r.u8(next + mbr::Type))) break;
            const uint64_t following = extStart + uint64_t(r.le32(next + mbr::FirstLba)) * unit;
            if (following <= ebr) {
                endChain("the next record does not lie after it");
                break;
            }
            ebr = following;
        }
    }
    for (Partition& p : logical) {
        p.index = 5 + int(&p - logical.data());
        table.partitions.push_back(std::move(p));
    }
}

std::optional<size_t> DefaultPartition(const PartitionTable& table,
                                       const std::function<bool(const Partition&)>& holdsVolume) {
    for (size_t i = 0; i < table.partitions.size(); ++i)
        if (holdsVolume(table.partitions[i])) return i;
    return std::nullopt;
}

std::optional<size_t> PartitionByIndex(const PartitionTable& table, int index) {
    for (size_t i = 0; i < table.partitions.size(); ++i)
        if (table.partitions[i].index == index) return i;
    return std::nullopt;
}

}  // namespace veld
