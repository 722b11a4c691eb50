// Decoding of HEIF, HEIC and AVIF pictures held in memory into a 24-bit
// bitmap (libheif, with its HEVC and AV1 decoders). The picture comes out
// upright: the file's own rotation and mirroring are applied.
#pragma once

#include <cstddef>
#include <cstdint>

#include "base/dib24.h"

namespace veld {

// The primary picture; with preferThumbnail its stored thumbnail instead when
// it has one (phones store one of about 320 x 240). Without primaryAllowed
// only a stored thumbnail is decoded (the caller found the primary too costly).
// Null on any error.
DibPtr HeifMemoryDecode(const uint8_t* data, size_t size, bool preferThumbnail, bool primaryAllowed = true);

}  // namespace veld
