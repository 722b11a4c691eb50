// The JPEG walk: follows the marker structure of a picture from its start
// cluster to its end of image, reading the frame size and the EXIF data on
// the way; and the registration of a picture found this way.
#pragma once

#include <cstdint>
#include <string>

#include "finder/del_file_info.h"
#include "finder/search_session.h"

namespace veld {

enum JpegWalkMode { JpegWalkFull = 0, JpegWalkExifOnly = 1 };
// Follows the JPEG marker structure from a start cluster of the session's
// volume; the last cluster examined, or 0 on failure.
uint64_t WalkJpeg(SearchSession& session, uint64_t start, JpegInfo* info, int mode);
void RegisterCarvedJpeg(SearchSession& session, const std::string& name, uint32_t length, uint64_t start,
                        const JpegInfo& info);

}  // namespace veld
