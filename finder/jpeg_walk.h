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
uint32_t WalkJpeg(SearchSession& session, uint32_t start, JpegInfo* info, int mode);
void RegisterCarvedJpeg(SearchSession& session, const std::string& name, uint32_t length, uint32_t start,
                        const JpegInfo& info);

}  // namespace veld
