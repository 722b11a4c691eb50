// How far a found file may take the clusters that one of its size or offset
// fields claims beyond what its walk has read. A field may promise anything;
// the card proves only clusters that can hold the file's data: not fill (one
// byte value), not a folder, not the start of another file, not a cluster a
// live file or folder holds.
#pragma once

#include <cstddef>
#include <cstdint>

#include "finder/search_session.h"

namespace veld {

// What claims the clusters: a size or offset field of the file (its data may
// hold anything, so a picture start counts only when it carries EXIF, as a
// camera's photo does; a clip's frames may be JPEG pictures), or nothing at
// all (a recording never closed: any picture start ends it).
enum class Claim : uint8_t { ByField, Unbounded };

// The length, at most `to` bytes from the file's start cluster, that the card
// proves: the clusters whose first byte lies in [from, to) are read in order
// (through the search's read-ahead) and the first that cannot be the file's
// ends it there. `to` when all pass; also cut before a live cluster and at the
// volume's end.
uint64_t ProvenLength(SearchSession& session, uint64_t start, uint64_t from, uint64_t to, Claim claim);

}  // namespace veld
