// exFAT directory entry sets: a file entry (0x85) followed by its stream
// extension (0xC0) and file name entries (0xC1), live or deleted. A deleted
// set is the same bytes with bit 7 (InUse) of every entry type cleared (0x05,
// 0x40, 0x41); nothing else changes, so its clusters, size, times and name
// are still there until new entries reuse the slots.
//
//   std::vector<uint8_t> dir = ...;   // the folder's clusters, joined in order
//   for (const ExfatEntrySet& set : ParseExfatDirectory(dir))
//       if (set.deleted) Register(set.name, set.firstCluster, set.dataLength, ...);
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace veld {

// A timestamp as stored: the FAT date in the high 16 bits and the FAT time in
// the low 16 (two-second units), a 10 ms increment (0..199) and the offset
// from UTC of the clock that wrote it (bit 7 valid, bits 0..6 a signed number
// of 15-minute steps).
struct ExfatTimestamp {
    uint32_t packed = 0;
    uint8_t tenMs = 0;
    uint8_t utcOffset = 0;

    bool OffsetValid() const { return (utcOffset & 0x80) != 0; }
    // Minutes east of UTC (+540 for Japan); 0 when not valid.
    int OffsetMinutes() const;
};

// "yyyy/mm/dd hh:mm:ss", as FAT records show their time. The stored fields
// are the wall-clock time of the camera that wrote them (its local time);
// the UTC offset only tells which zone that was. So the text is the camera's
// local time as it stands, whatever the zone of the machine Veld runs on, and
// agrees with the EXIF time and with what the same camera writes on FAT. The
// 10 ms increment adds its whole seconds (0 or 1).
std::string ExfatTimestampText(const ExfatTimestamp& time);

struct ExfatEntrySet {
    size_t slot = 0;            // the file entry's slot (32-byte unit) in the directory bytes
    size_t slots = 0;           // slots the set takes, as far as it could be read
    bool deleted = false;       // InUse clear in the file entry
    uint16_t attributes = 0;    // R 0x01, H 0x02, S 0x04, D 0x10, A 0x20 as on FAT
    ExfatTimestamp created, modified, accessed;
    std::string name;           // UTF-8
    uint8_t nameLength = 0;     // UTF-16 units the stream entry announces
    uint16_t nameHash = 0;      // as stored; checking it needs the volume's up-case table
    uint8_t streamFlags = 0;    // AllocationPossible 0x01, NoFatChain 0x02
    uint32_t firstCluster = 0;
    uint64_t dataLength = 0;
    uint64_t validDataLength = 0;
    bool checksumOk = false;    // the set checksum matches (a deleted set is summed as it was when live)
    bool complete = false;      // every secondary entry the file entry announces was read
    std::string note;           // what is doubtful about the set, for the trace

    bool IsDirectory() const { return (attributes & 0x10) != 0; }
    bool AllocationPossible() const { return (streamFlags & 0x01) != 0; }
    bool NoFatChain() const { return (streamFlags & 0x02) != 0; }
};

// The set whose file entry is at slot of the directory bytes, or nullopt when
// that slot is no file entry or the set is unusable:
// - a live set needs its stream extension, then ceil(nameLength / 15) name
//   entries, then only other live secondaries, within its 2..18 secondaries.
//   A live set whose checksum does not match is kept (checksumOk false, noted):
//   its clusters are better counted as in use than handed to a deleted file.
// - a deleted set needs its deleted stream extension; it is read as far as
//   deleted secondaries follow (a later set may have taken its last slots:
//   complete false, the name cut short). A checksum that does not match is
//   kept and noted: the slots or the name may have been partly reused, but the
//   stream entry still leads to the data.
std::optional<ExfatEntrySet> ParseExfatEntrySet(std::span<const uint8_t> directory, size_t slot);

// Every file set in the directory bytes, live and deleted, in slot order, up
// to the end-of-directory entry (type 0x00). Slots that start no usable set
// are stepped over one at a time, so a broken set never hides the next one.
std::vector<ExfatEntrySet> ParseExfatDirectory(std::span<const uint8_t> directory);

// The set checksum over the given entries (32 bytes each), the file entry's
// checksum field skipped. asLive sets bit 7 of every entry type first, which
// gives the sum a deleted set had when it was written.
uint16_t ExfatSetChecksum(std::span<const uint8_t> entries, bool asLive);

}  // namespace veld
