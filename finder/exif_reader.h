#pragma once

#include <cstddef>
#include <cstdint>

#include "finder/del_file_info.h"

namespace veld {

// Reads make, model, date, pixel size and GPS position from the TIFF data of
// an EXIF segment (from the byte-order mark on). Every offset is checked
// against length and IFD chains are bounded. 1 when the walk completed, 0
// when the byte-order mark is neither "II" nor "MM".
int ParseExif(const uint8_t* tiff, size_t length, JpegInfo* info);

}  // namespace veld
