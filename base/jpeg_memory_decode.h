// Decoding of JPEG bytes held in memory into a 24-bit bitmap (libjpeg).
#pragma once

#include <cstddef>
#include <cstdint>

#include "base/dib24.h"

namespace veld {

// What any decode of card bytes refuses: crafted headers can claim pictures
// of 65500 x 65500, and progressive files can hold thousands of scans;
// neither is a camera picture.
inline constexpr uint64_t kJpegMaxPixels = 100ull * 1000 * 1000;
inline constexpr int kJpegMaxScans = 500;

// What decoding found wrong with the data: libjpeg's warnings of corrupt data
// (premature end, bad Huffman code, markers out of turn, extraneous bytes) or
// an error after the header, with the byte of the data it had reached then.
struct JpegDecodeReport {
    bool corrupt = false;
    uint64_t at = 0;
    // After a decode that read to the end of image inside the data: the byte
    // after that marker (data after it, such as a second picture, is not read).
    uint64_t end = 0;
};

// Decodes JPEG bytes with libjpeg from memory; null on any error. Truncated
// data decodes up to where it ends. report, when given, receives the verdict.
DibPtr JpegMemoryDecode(const uint8_t* data, size_t size, JpegDecodeReport* report = nullptr);

// Whether the data decodes whole: every scan's entropy-coded data read to
// the last block, ending exactly at the end-of-image marker, without a
// warning of corrupt data. Costs the coefficients' memory (about three bytes
// per pixel), not a bitmap.
bool JpegDecodesWhole(const uint8_t* data, size_t size, JpegDecodeReport* report = nullptr);

// A thumbnail within width x height (placed as ScaleBitmap places a
// reduction of the whole picture), null where JpegMemoryDecode gives none.
// libjpeg reduces the picture while decoding (the inverse DCT scaled to a
// half, a quarter or an eighth as far as the target allows), and the
// thumbnail samples that. The data is read to its end, so the report is the
// verdict on all of it: the same as a full decode's.
DibPtr JpegScaledDecode(const uint8_t* data, size_t size, int width, int height, bool keepAspect,
                        JpegDecodeReport* report = nullptr);

}  // namespace veld
