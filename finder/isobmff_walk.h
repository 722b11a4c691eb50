// The ISO base media walk: follows the top-level boxes of an MP4, MOV, 3GP or
// 3G2 clip, a HEIF, HEIC or AVIF picture or a Canon CR3 from its start cluster
// to find where the file ends; the brands of its "ftyp" box say which it is.
// Then reads its metadata: a clip's creation time, running time and frame
// size, a picture's EXIF data, size and (CR3) embedded preview.
#pragma once

#include <cstdint>

#include "finder/del_file_info.h"
#include "finder/media_format.h"
#include "finder/search_session.h"

namespace veld {

// The format the brands of an "ftyp" box name: the major brand, or for the
// generic HEIF brands and unknown ones the compatible brands in order;
// FormatMp4 when none is known.
MediaFormat IsoBmffFormatOfBrands(const std::string& major, const std::string* compatible, size_t count);

// Follows the top-level boxes from a start cluster of the session's volume.
// Returns the last cluster of the file, or 0 when no file was found there.
// info receives the "ftyp" fields, media the format, length and metadata,
// exif (when not null) the EXIF data of a picture.
uint64_t WalkIsoBmff(SearchSession& session, uint64_t start, Mp4Info* info, MediaInfo* media = nullptr,
                     JpegInfo* exif = nullptr);

}  // namespace veld
