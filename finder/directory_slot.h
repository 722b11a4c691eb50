// What one 32-byte slot of a FAT directory can be, judged by its bytes alone:
// used by the cluster classifier and the directory scanner to tell a block of
// directory entries from other data that happens to begin its slots with a
// deleted mark (for example a free area erased with 0xE5).
#pragma once

#include <cstddef>
#include <cstdint>

#include "base/byte_reader.h"

namespace veld {

// True when the slot can be an entry with a name: a long-name piece (attribute
// 0x0F) with a deleted mark or a sequence number 1..20 (with or without the
// last-piece flag), or a short entry whose attribute byte has no reserved bit
// (0x40, 0x80) set and whose eleven name bytes hold no control character (the
// first may be 0x05, a deleted name beginning with 0xE5). An end-of-directory
// slot (first byte 0) names nothing.
bool SlotNamesAnEntry(const ByteReader& slot);

// True when at least one whole slot of the block names an entry.
bool BlockHasNamedEntry(const uint8_t* block, size_t bytes);

}  // namespace veld
