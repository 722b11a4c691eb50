// The bytes a complete erase writes. The random pass must be read back and
// compared, so its bytes are a keyed stream (ChaCha20 under a key drawn from
// the system's cryptographic random source for each erase): every chunk can
// be produced again from its index without keeping the card's worth of
// random bytes in memory.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace veld {

class RandomPattern {
public:
    // Draws a fresh key; false when the system has no random source to give.
    bool Init();
    // Fills out with the stream's bytes for the chunk with this index; the
    // same key and index always give the same bytes. False when the cipher
    // cannot run.
    bool Fill(uint64_t chunkIndex, uint8_t* out, size_t length) const;

private:
    std::array<uint8_t, 32> key_{};
};

}  // namespace veld
