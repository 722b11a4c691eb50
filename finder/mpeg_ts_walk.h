// The walk of MPEG transport stream clips in 192-byte packets (AVCHD .MTS,
// .M2TS): a 4-byte arrival time stamp, then a 188-byte packet beginning with
// the sync byte 0x47. The clip ends where the packet pattern ends.
#pragma once

#include <cstddef>
#include <cstdint>

#include "finder/del_file_info.h"
#include "finder/search_session.h"

namespace veld {

// Follows the packets from a start cluster of the session's volume. Returns
// the clip's last cluster, or 0 when no clip was found; media receives the
// length and the running time (from the program clock references).
uint64_t WalkMpegTs(SearchSession& session, uint64_t start, MediaInfo* media);

}  // namespace veld
