#pragma once

#include <cstddef>
#include <cstdint>

#include "base/byte_reader.h"
#include "finder/del_file_info.h"

namespace veld {

// Reads make, model, date, pixel size, orientation and GPS position from the
// TIFF data of an EXIF segment (from the byte-order mark on). Every offset is
// checked against length and IFD chains are bounded. 1 when the walk
// completed, 0 when the byte-order mark is neither "II" nor "MM".
int ParseExif(const uint8_t* tiff, size_t length, JpegInfo* info);
// The same for a whole TIFF file (RAW) or a block cut out of one: the EXIF
// and GPS pointers are taken at their full 32 bits.
int ParseTiffMetadata(const uint8_t* tiff, size_t length, JpegInfo* info);
// A TIFF block whose IFD0 holds the GPS tags themselves (CR3's GPS box).
int ParseGpsTiff(const uint8_t* tiff, size_t length, JpegInfo* info);

// The value of the 12-byte directory entry at entryOffset as text: ASCII and
// UNDEFINED values as their bytes (at most 100), rationals as "%8.1lf, " per
// value, single integers as "%d"; empty for counts outside 1..1000, types
// outside 1..10 and values outside the block. The text lives in a buffer of
// the calling thread that the next call overwrites.
const char* ExifValueText(const ByteReader& tiff, uint64_t entryOffset, bool bigEndian);

}  // namespace veld
