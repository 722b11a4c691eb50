// A decoded picture: 24 bits per pixel, rows bottom-up, pixels in blue,
// green, red order, each row padded to a multiple of four bytes.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

namespace veld {

struct Dib24 {
    int width = 0;
    int height = 0;
    std::vector<uint8_t> bits;  // stride() * height bytes, last picture row first

    int stride() const { return ((width * 3) + 3) / 4 * 4; }
    // Row y counted from the top of the picture.
    uint8_t* row(int y) { return bits.data() + size_t(height - 1 - y) * size_t(stride()); }
    const uint8_t* row(int y) const { return bits.data() + size_t(height - 1 - y) * size_t(stride()); }
};

using DibPtr = std::shared_ptr<Dib24>;

}  // namespace veld
