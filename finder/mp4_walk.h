// The MP4/MOV walk: follows the top-level atoms of a clip from its start
// cluster to find where it ends; and the registration of a clip found this way.
#pragma once

#include <cstdint>
#include <string>

#include "finder/del_file_info.h"
#include "finder/search_session.h"

namespace veld {

// Follows the top-level MP4/MOV atoms from a start cluster of the session's volume.
uint64_t WalkMp4Atoms(SearchSession& session, uint64_t start, Mp4Info* info);
void RegisterCarvedMp4(SearchSession& session, const std::string& name, uint32_t length, uint64_t start,
                       const Mp4Info& info);

}  // namespace veld
