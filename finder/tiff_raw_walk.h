// The walk of camera RAW files: the TIFF-based ones (CR2, NEF, NRW, ARW, SR2,
// DNG, ORF, RW2, PEF, SRW, ERF, 3FR, and plain TIFF) and Fujifilm's RAF. Such
// a file has no end marker: it ends at the furthest byte that any of its
// structures points at. The walk also names the format (from the header and
// the camera's make), reads the EXIF data and finds the largest embedded
// JPEG picture, which stands in for the RAW picture in thumbnails and
// preview.
#pragma once

#include <cstddef>
#include <cstdint>

#include "finder/del_file_info.h"
#include "finder/search_session.h"

namespace veld {

// Follows the file's structures from a start cluster of the session's
// volume. Returns the file's last cluster, or 0 when no file was found;
// media receives format, length and preview, exif the EXIF data.
uint64_t WalkTiffRaw(SearchSession& session, uint64_t start, MediaInfo* media, JpegInfo* exif);

}  // namespace veld
