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
// Clusters the search did not reach (past the source's end, or after a read
// that failed) are recorded in session.notExamined and traced.
int SearchClusters(SearchSession& session, uint64_t first, uint64_t last);

}  // namespace veld
