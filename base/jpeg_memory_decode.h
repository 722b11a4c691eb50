// Decoding of JPEG bytes held in memory into a 24-bit bitmap (libjpeg).
#pragma once

#include <cstddef>
#include <cstdint>

#include "base/dib24.h"

namespace veld {

// Decodes JPEG bytes with libjpeg from memory; null on any error. Truncated
// data decodes up to where it ends.
DibPtr JpegMemoryDecode(const uint8_t* data, size_t size);

}  // namespace veld
