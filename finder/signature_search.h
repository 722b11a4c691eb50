// The signature search over a range of clusters: every cluster that no
// directory entry accounted for is read once and classified; JPEG and MP4/MOV
// starts are walked and registered as carved files, directory-like clusters
// are scanned as deleted folders.
#pragma once

#include <cstdint>

#include "finder/search_session.h"

namespace veld {

// Examines clusters first..last (inclusive) of the session's volume and
// registers what it finds in the session.
int SearchClusters(SearchSession& session, uint32_t first, uint32_t last);

}  // namespace veld
