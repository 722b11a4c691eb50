// Decoding of JPEG bytes held in memory into a 24-bit bitmap (libjpeg).
#pragma once

#include <cstddef>
#include <cstdint>

#include "base/dib24.h"

namespace veld {

// Decodes JPEG bytes with libjpeg from memory; null on any error. Truncated
// data decodes up to where it ends.
DibPtr JpegMemoryDecode(const uint8_t* data, size_t size);

// The same bitmap as ScaleBitmap(*JpegMemoryDecode(data, size), width,
// height, keepAspect), and null in the same cases, but only the picture rows
// the reduction samples are decoded: the others are skipped after entropy
// decoding, without inverse DCT, upsampling or colour conversion.
DibPtr JpegScaledDecode(const uint8_t* data, size_t size, int width, int height, bool keepAspect);

}  // namespace veld
