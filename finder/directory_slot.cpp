#include "finder/directory_slot.h"

#include "finder/del_file_info.h"

namespace veld {
namespace {

constexpr uint8_t kLongNameAttribute = 0x0F;
constexpr uint8_t kLastPieceFlag = 0x40;
constexpr int kMaxPieces = 20;               // 20 × 13 characters cover a 255-character name
constexpr uint8_t kReservedAttributes = 0xC0;
constexpr uint8_t kDeletedMark = 0xE5;
constexpr uint8_t kDeletedKanjiMark = 0x05;  // a name whose real first byte is 0xE5

}  // namespace

bool SlotNamesAnEntry(const ByteReader& slot) {
    if (!slot.has(0, dirent::Size)) return false;
    const uint8_t first = slot.u8(0);
    const uint8_t attributes = slot.u8(dirent::Attributes);
    if (attributes == kLongNameAttribute) {
        if (first == kDeletedMark) return true;
        const int number = first & ~kLastPieceFlag;
        return number >= 1 && number <= kMaxPieces;
    }
    if (attributes & kReservedAttributes) return false;
    for (int k = 0; k < 11; ++k) {
        const uint8_t c = slot.u8(uint64_t(k));
        if (c >= 0x20) continue;
        if (k == 0 && c == kDeletedKanjiMark) continue;
        return false;
    }
    return true;
}

bool BlockHasNamedEntry(const uint8_t* block, size_t bytes) {
    for (size_t at = 0; at + dirent::Size <= bytes; at += dirent::Size)
        if (SlotNamesAnEntry(ByteReader(block + at, dirent::Size))) return true;
    return false;
}

}  // namespace veld
