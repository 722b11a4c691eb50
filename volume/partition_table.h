// Partition tables at the start of a whole-card image or disk: an MBR with up
// to four primary partitions, or a protective MBR followed by a GPT. The
// parser only reads bytes its caller has read (the first sectors of the
// source); it trusts nothing in them and says why it rejected a table, so the
// search can fall back to reading the source raw and trace the reason.
//
//   std::vector<uint8_t> head = ReadFirstBytes(source, kPartitionTableHeadBytes);
//   PartitionTable table = ReadPartitionTable(head, sourceSize, 0);
//   if (table.scheme == PartitionScheme::None) Trace(table.why);
//   auto pick = DefaultPartition(table, [&](const Partition& p) {
//       return BootSectorKindOf(ReadSector(source, p.offset)) != BootSectorKind::None; });
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "volume/boot_sector_kind.h"

namespace veld {

enum class PartitionScheme { None, Mbr, Gpt };

// "none", "mbr" or "gpt".
const char* PartitionSchemeName(PartitionScheme scheme);

struct Partition {
    int index = 0;          // 1..4 for the MBR slots, 1.. for GPT entries (as sdb1, sdb2, ...)
    uint64_t offset = 0;    // bytes from the start of the source
    uint64_t size = 0;      // bytes
    std::string type;       // MBR: "0x0C FAT32 (LBA)", "0x83"; GPT: "Microsoft basic data" or the type GUID
    std::string name;       // GPT partition name (UTF-8); empty on MBR
    // What the partition's first sector holds by the strict boot-sector
    // test; filled in when a source is opened (the parser leaves None).
    BootSectorKind content = BootSectorKind::None;
    uint8_t mbrType = 0;  // MBR entries: the type byte (05, 0F, 85: extended); 0 on GPT
};

struct PartitionTable {
    PartitionScheme scheme = PartitionScheme::None;
    uint32_t sectorSize = 512;          // the unit the table counts in
    std::vector<Partition> partitions;  // in table order, used entries only
    std::string why;                    // scheme None: why no table was taken
};

// How many bytes from the start of the source the parser wants to see: the
// MBR, the GPT header and a GPT entry array of the usual 128 entries with
// 4096-byte sectors, with room to spare. A smaller source is given whole.
constexpr size_t kPartitionTableHeadBytes = 64 * 1024;

// Reads the table from the first bytes of a source of sourceSize bytes.
// sectorSize is the source's logical sector size; 0 when unknown (an image
// file): the MBR then counts 512-byte sectors and the GPT header is looked for
// at 512 and at 4096 bytes.
//
// An MBR is taken when sector 0 ends in 55 AA, is not itself a FAT, exFAT or
// NTFS boot sector, and its four entries are consistent: boot flags 00 or 80,
// every used entry (type not 0) with a non-zero start and length, inside the
// source and overlapping no other. Any non-zero type byte is accepted; which
// partition holds a volume is decided by reading it. An entry of type EE
// (protective) calls for a GPT at sector 1: its header must carry "EFI PART",
// a valid header CRC32, sector 1 as its own place, a usable area inside the
// source, and an entry array inside the bytes given with a valid CRC32; its
// used entries must lie in the usable area without overlapping. A table that
// fails any test is rejected whole (scheme None, why says which test).
PartitionTable ReadPartitionTable(std::span<const uint8_t> head, uint64_t sourceSize, uint32_t sectorSize);

// Reads the sector at a byte offset of the source; fewer bytes (none) when
// it cannot be read.
using SectorReader = std::function<std::vector<uint8_t>(uint64_t offset)>;

// Appends the logical partitions of an MBR's extended partitions (types 05,
// 0F, 85), numbered 5, 6, ... in chain order as sdb5, sdb6 are. The chain of
// extended boot records is followed within its extended partition, forward
// only and at most 128 records; a record that breaks a rule ends it.
void AddLogicalPartitions(PartitionTable& table, uint64_t sourceSize, const SectorReader& readSector);

// The partition to open when the user names none: the first, in table order,
// for which holdsVolume answers true (the caller reads its first sector and
// looks for a FAT or exFAT boot sector). Returns an index into
// table.partitions, nullopt when none holds a volume.
std::optional<size_t> DefaultPartition(const PartitionTable& table,
                                       const std::function<bool(const Partition&)>& holdsVolume);

// The partition with the given table index (--partition N), or nullopt.
std::optional<size_t> PartitionByIndex(const PartitionTable& table, int index);

}  // namespace veld
