// Recognises what one cluster holds by its bytes alone. The tests run in a
// fixed order and the first that holds decides the class.
#include "finder/cluster_classifier.h"

#include <vector>

#include "base/byte_reader.h"
#include "finder/directory_slot.h"
#include "finder/file_starts.h"
#include "volume/boot_sector.h"
#include "volume/cluster_map.h"

namespace veld {
namespace {

constexpr size_t kDirSlot = 32;  // one directory entry; byte 0 is the name's first byte

// First name bytes of a directory slot.
constexpr uint8_t kSlotEmpty = 0x00;     // end of the directory
constexpr uint8_t kSlotKanjiE5 = 0x05;   // deleted mark as stored for a name starting with 0xE5
constexpr uint8_t kSlotDeleted = 0xE5;
constexpr uint8_t kSlotDot = 0x2E;       // "." and ".." of a sub-folder

// The first cluster of a sub-folder: "." and ".." as its first two entries,
// both marked as folders (attribute byte at 11). Such a cluster in free space
// is a folder no entry reaches any more (deleted, or cut off by a format),
// whatever its entries look like.
bool StartsWithDotPair(const uint8_t* b, size_t length) {
    ByteReader r(b, length);
    return r.equals(0, ".          ", 11) && r.equals(kDirSlot, "..         ", 11) && (r.u8(11) & 0x10) != 0 &&
           (r.u8(kDirSlot + 11) & 0x10) != 0;
}

// A directory cluster with deleted entries: more deleted slots than live
// ones, or the "." / ".." pair of a sub-folder followed by empty slots only.
// At least one slot must be an entry with a name: a cluster erased with 0xE5
// (or any pattern that puts a deleted mark at every slot start) is no folder.
bool LooksLikeDirectory(const uint8_t* b, size_t length) {
    if (length < kDirSlot) return false;
    size_t empties = 0, deleted = 0, dots = 0, others = 0;
    bool named = false;
    for (size_t at = 0; at + kDirSlot <= length; at += kDirSlot) {
        switch (b[at]) {
            case kSlotEmpty: ++empties; break;
            case kSlotKanjiE5:
            case kSlotDeleted: ++deleted; break;
            case kSlotDot: ++dots; break;
            default: ++others; break;
        }
        named = named || SlotNamesAnEntry(ByteReader(b + at, kDirSlot));
    }
    return named && (others < deleted || (dots > 1 && empties > 5 && others == 0) || StartsWithDotPair(b, length));
}

bool IsFill(const uint8_t* b, size_t length) {
    for (size_t i = 1; i < length; ++i)
        if (b[i] != b[0]) return false;
    return true;
}

// The first two bytes repeated over the whole cluster (e.g. 0xFF 0x00 ...).
bool IsTwoBytePattern(const uint8_t* b, size_t length) {
    if (length < 6) return false;
    if (b[0] != b[2] || b[1] != b[3] || b[0] != b[4] || b[1] != b[5]) return false;
    const size_t pairs = length / 2;
    for (size_t k = 1; k < pairs; ++k)
        if (b[2 * k] != b[0] || b[2 * k + 1] != b[1]) return false;
    return true;
}

// ASCII and Shift-JIS: 0x01-0x7F single bytes; a lead byte 0x80-0x9F or
// 0xE0-0xFF takes the next byte with it, whatever it is. 0x00 and the
// half-width katakana range 0xA0-0xDF are taken as binary.
bool IsText(const uint8_t* b, size_t length) {
    size_t i = 0;
    while (i < length) {
        const uint8_t x = b[i];
        if (x >= 0x01 && x <= 0x7F) {
            i += 1;
        } else if ((x >= 0x80 && x <= 0x9F) || x >= 0xE0) {
            i += 2;
        } else {
            return false;
        }
    }
    return true;
}

// Entropy-coded JPEG data: 0xFF is only followed by a stuffed 0x00, a
// restart or other marker (0xC0 and up), or another 0xFF fill byte.
ContentClass JpegDataClass(const uint8_t* b, size_t length) {
    if (length < 2) return ContentClass::None;
    bool sawFF = false;
    size_t i = 0;
    while (i <= length - 2) {
        if (b[i] != 0xFF) {
            i += 1;
            continue;
        }
        sawFF = true;
        const uint8_t x = b[i + 1];
        if (x >= 0x03 && x <= 0xBF) return ContentClass::None;
        if (x == 0xD9) return ContentClass::JpegEnd;
        i += x == 0xFF ? 1 : 2;
    }
    return sawFF ? ContentClass::JpegData : ContentClass::None;
}

bool IsMp4Start(const uint8_t* b, size_t length) {
    return ByteReader(b, length).equals(4, "ftyp", 4);  // atom type after the 32-bit size
}

}  // namespace

bool IsJpegStart(const uint8_t* buffer, size_t length) {
    ByteReader r(buffer, length);
    if (!r.has(0, 4)) return false;
    const uint16_t app = r.be16(2);
    return r.u8(0) == 0xFF && r.u8(1) == 0xD8 && app >= 0xFFE0 && app <= 0xFFEF;
}

ContentClass ClassifyContent(const uint8_t* buffer, size_t length) {
    if (!buffer || length == 0) return ContentClass::None;
    if (IsJpegStart(buffer, length)) return ContentClass::JpegStart;
    if (IsText(buffer, length)) return ContentClass::Text;
    if (IsMp4Start(buffer, length)) return ContentClass::Mp4Start;
    if (IsRawStart(buffer, length)) return ContentClass::RawStart;
    if (IsAviStart(buffer, length)) return ContentClass::AviStart;
    if (IsMpegTsStart(buffer, length)) return ContentClass::TsStart;
    if (IsMpegPsStart(buffer, length)) return ContentClass::PsStart;
    return JpegDataClass(buffer, length);
}

ContentClass ClassifyCluster(const DiskVolume& /*volume*/, const uint8_t* buffer, size_t length) {
    if (!buffer || length == 0) return ContentClass::None;
    if (LooksLikeDirectory(buffer, length)) return ContentClass::Folder;
    if (IsFill(buffer, length)) return ContentClass::Fill;
    if (IsTwoBytePattern(buffer, length)) return ContentClass::Pattern2;
    return ClassifyContent(buffer, length);
}

ContentClass ReadAndClassifyCluster(DiskVolume& volume, uint64_t cluster) {
    // Cluster numbers below 2 have no data area (their offset would be the boot sector).
    if (cluster < 2 || volume.clusterSize == 0) return ContentClass::None;
    std::vector<uint8_t> buffer(volume.clusterSize, 0);
    uint32_t done = 0;
    if (!DiskIO_ReadAt(&volume, uint64_t(ClusterOffset(volume, cluster)), buffer.data(), volume.clusterSize, &done) || done == 0)
        return ContentClass::None;
    // At the end of the source only the bytes actually read are judged.
    return ClassifyCluster(volume, buffer.data(), done);
}

}  // namespace veld
