#include "finder/exfat_entry_set.h"

#include <cstdio>

#include "base/byte_reader.h"
#include "volume/exfat_layout.h"
#include "volume/utf16_text.h"

namespace veld {
namespace {

namespace fe = exfat::file_entry;
namespace se = exfat::stream_entry;
constexpr size_t kSlot = exfat::dirent::Size;
constexpr uint8_t kTypeMask = 0xC0;           // InUse and secondary bits
constexpr uint8_t kLiveSecondary = 0xC0;
constexpr uint8_t kDeletedSecondary = 0x40;
constexpr uint8_t kDeletedFileEntry = exfat::kFileEntry & ~exfat::kInUseBit;        // 0x05
constexpr uint8_t kDeletedStream = exfat::kStreamExtensionEntry & ~exfat::kInUseBit; // 0x40
constexpr uint8_t kDeletedName = exfat::kFileNameEntry & ~exfat::kInUseBit;         // 0x41

ExfatTimestamp TimestampAt(const ByteReader& r, int stamp, int tenMs, int offset) {
    ExfatTimestamp t;
    t.packed = r.le32(uint64_t(stamp));
    t.tenMs = tenMs >= 0 ? r.u8(uint64_t(tenMs)) : 0;
    t.utcOffset = r.u8(uint64_t(offset));
    return t;
}

void AddNote(std::string& note, const std::string& text) {
    if (!note.empty()) note += "; ";
    note += text;
}

}  // namespace

int ExfatTimestamp::OffsetMinutes() const {
    if (!OffsetValid()) return 0;
    int quarters = utcOffset & 0x7F;
    if (quarters & 0x40) quarters -= 0x80;  // seven-bit two's complement
    return quarters * 15;
}

std::string ExfatTimestampText(const ExfatTimestamp& time) {
    const uint32_t date = time.packed >> 16;
    const uint32_t clock = time.packed & 0xFFFF;
    const unsigned seconds = (clock & 31) * 2 + time.tenMs / 100;
    char text[48];
    std::snprintf(text, sizeof text, "%04u/%02u/%02u %02u:%02u:%02u", (date >> 9) + 1980, (date >> 5) & 15, date & 31,
                  clock >> 11, (clock >> 5) & 63, seconds);
    return text;
}

uint16_t ExfatSetChecksum(std::span<const uint8_t> entries, bool asLive) {
    uint16_t sum = 0;
    for (size_t i = 0; i < entries.size(); ++i) {
        if (i == size_t(fe::SetChecksum) || i == size_t(fe::SetChecksum) + 1) continue;
        uint8_t byte = entries[i];
        if (asLive && i % kSlot == size_t(exfat::dirent::EntryType)) byte |= exfat::kInUseBit;
        sum = uint16_t(((sum & 1) ? 0x8000 : 0) + (sum >> 1) + byte);
    }
    return sum;
}

std::optional<ExfatEntrySet> ParseExfatEntrySet(std::span<const uint8_t> directory, size_t slot) {
    ByteReader dir(directory);
    const size_t slotCount = directory.size() / kSlot;
    if (slot >= slotCount) return std::nullopt;
    const uint64_t base = uint64_t(slot) * kSlot;
    const uint8_t type = dir.u8(base);
    if (type != exfat::kFileEntry && type != kDeletedFileEntry) return std::nullopt;

    ExfatEntrySet set;
    set.slot = slot;
    set.deleted = type == kDeletedFileEntry;
    const uint8_t secondaries = dir.u8(base + fe::SecondaryCount);
    if (secondaries < fe::MinSecondaries || secondaries > fe::MaxSecondaries) return std::nullopt;
    ByteReader file(dir.slice(base, kSlot));
    set.attributes = file.le16(fe::FileAttributes);
    set.created = TimestampAt(file, fe::CreateTimestamp, fe::Create10msIncrement, fe::CreateUtcOffset);
    set.modified = TimestampAt(file, fe::LastModifiedTimestamp, fe::LastModified10msIncrement, fe::LastModifiedUtcOffset);
    set.accessed = TimestampAt(file, fe::LastAccessedTimestamp, -1, fe::LastAccessedUtcOffset);

    // The stream extension comes first among the secondaries.
    const uint8_t streamType = set.deleted ? kDeletedStream : exfat::kStreamExtensionEntry;
    if (slot + 1 >= slotCount || dir.u8(base + kSlot) != streamType) return std::nullopt;
    ByteReader stream(dir.slice(base + kSlot, kSlot));
    set.streamFlags = stream.u8(se::GeneralSecondaryFlags);
    set.nameLength = stream.u8(se::NameLength);
    set.nameHash = stream.le16(se::NameHash);
    set.validDataLength = stream.le64(se::ValidDataLength);
    set.firstCluster = stream.le32(se::FirstCluster);
    set.dataLength = stream.le64(se::DataLength);

    // Then the name entries, then any other secondaries, all of the set's
    // state (live or deleted).
    const uint8_t nameType = set.deleted ? kDeletedName : exfat::kFileNameEntry;
    const uint8_t secondaryState = set.deleted ? kDeletedSecondary : kLiveSecondary;
    const size_t namesNeeded = (size_t(set.nameLength) + exfat::name_entry::UnitsPerEntry - 1) /
                               exfat::name_entry::UnitsPerEntry;
    size_t read = 1;  // secondaries read: the stream extension
    size_t names = 0;
    bool nameEnded = false;
    while (read < secondaries && slot + 1 + read < slotCount) {
        const uint64_t at = base + (1 + read) * kSlot;
        const uint8_t t = dir.u8(at);
        if (names < namesNeeded) {
            if (t != nameType) break;
            const size_t units = set.nameLength - names * exfat::name_entry::UnitsPerEntry;
            const size_t take = units < size_t(exfat::name_entry::UnitsPerEntry) ? units : exfat::name_entry::UnitsPerEntry;
            if (!nameEnded) nameEnded = !AppendUtf16Le(dir, at + exfat::name_entry::FileName, take, set.name);
            ++names;
        } else if ((t & kTypeMask) != secondaryState) {
            break;
        }
        ++read;
    }
    set.slots = 1 + read;
    set.complete = read == secondaries && names == namesNeeded;
    if (!set.complete && !set.deleted) return std::nullopt;

    if (set.nameLength == 0) AddNote(set.note, "the set has no name");
    if (set.complete) {
        const uint16_t stored = file.le16(fe::SetChecksum);
        const std::span<const uint8_t> bytes = dir.slice(base, set.slots * kSlot);
        set.checksumOk = ExfatSetChecksum(bytes, false) == stored || (set.deleted && ExfatSetChecksum(bytes, true) == stored);
        if (!set.checksumOk) AddNote(set.note, "set checksum does not match");
    } else {
        AddNote(set.note, "set cut short after " + std::to_string(set.slots) + " of " + std::to_string(1 + secondaries) +
                              " entries; name incomplete");
    }
    if (set.validDataLength > set.dataLength) AddNote(set.note, "valid data length exceeds the data length");
    if (!set.AllocationPossible() && (set.firstCluster != 0 || set.dataLength != 0))
        AddNote(set.note, "clusters given without AllocationPossible");
    return set;
}

std::vector<ExfatEntrySet> ParseExfatDirectory(std::span<const uint8_t> directory) {
    std::vector<ExfatEntrySet> sets;
    ByteReader dir(directory);
    const size_t slotCount = directory.size() / kSlot;
    size_t slot = 0;
    // Each turn moves on by at least one slot, so the walk ends after at most
    // slotCount turns.
    while (slot < slotCount) {
        if (dir.u8(uint64_t(slot) * kSlot) == exfat::kEndOfDirectory) break;
        std::optional<ExfatEntrySet> set = ParseExfatEntrySet(directory, slot);
        if (!set) {
            ++slot;
            continue;
        }
        slot += set->slots;
        sets.push_back(std::move(*set));
    }
    return sets;
}

}  // namespace veld
