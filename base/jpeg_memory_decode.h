// Decoding of JPEG bytes held in memory into a 24-bit bitmap (libjpeg).
#pragma once

#include <cstddef>
#include <cstdint>

#include "base/dib24.h"

namespace veld {

// What decoding found wrong with the data: libjpeg's warnings of corrupt data
// (premature end, bad Huffman code, markers out of turn, extraneous bytes) or
// an error after the header, with the byte of the data it had reached then.
struct JpegDecodeReport {
    bool corrupt = false;
    uint64_t at = 0;
};

// Decodes JPEG bytes with libjpeg from memory; null on any error. Truncated
// data decodes up to where it ends. report, when given, receives the verdict.
DibPtr JpegMemoryDecode(const uint8_t* data, size_t size, JpegDecodeReport* report = nullptr);

// Whether the data decodes whole: every scan's entropy-coded data read to
// the last block, ending exactly at the end-of-image marker, without a
// warning of corrupt data. Costs the coefficients' memory (about three bytes
// per pixel), not a bitmap.
bool JpegDecodesWhole(const uint8_t* data, size_t size, JpegDecodeReport* report = nullptr);

// The same bitmap as ScaleBitmap(*JpegMemoryDecode(data, size), width,
// height, keepAspect), and null in the same cases, but only the picture rows
// the reduction samples are decoded: the others are skipped after entropy
// decoding, without inverse DCT, upsampling or colour conversion. The rows
// after the last sampled one are not decoded, so the report covers the data
// up to them.
DibPtr JpegScaledDecode(const uint8_t* data, size_t size, int width, int height, bool keepAspect,
                        JpegDecodeReport* report = nullptr);

}  // namespace veld
