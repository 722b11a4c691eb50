// The walk of AVI clips: a RIFF "AVI " chunk, followed for clips over 1 GiB
// by OpenDML "AVIX" RIFF chunks; the clip ends after the last of them. Reads
// the frame size, running time and recording time from the header list.
#pragma once

#include <cstddef>
#include <cstdint>

#include "finder/del_file_info.h"
#include "finder/search_session.h"

namespace veld {


// Follows the RIFF chunks from a start cluster of the session's volume.
// Returns the clip's last cluster, or 0 when no clip was found.
uint64_t WalkRiffAvi(SearchSession& session, uint64_t start, MediaInfo* media);

}  // namespace veld
