// The walk of MPEG program stream clips (.MPG, and the .MOD and .TOD of
// camcorders): pack headers and packets up to the program end code
// 0x000001B9. Reads the frame size of the first video sequence header and the
// running time from the packs' system clock references.
#pragma once

#include <cstddef>
#include <cstdint>

#include "finder/del_file_info.h"
#include "finder/search_session.h"

namespace veld {


// Follows the packs from a start cluster of the session's volume. Returns the
// clip's last cluster, or 0 when no clip was found. The clip ends after the
// end code, or where the packs stop (many recorders write no end code); one
// that the source's end cuts short is kept as far as it goes, partly missing.
uint64_t WalkMpegPs(SearchSession& session, uint64_t start, MediaInfo* media);

}  // namespace veld
