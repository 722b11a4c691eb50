// How far a found file may take the clusters that one of its size or offset
// fields claims beyond what its walk has read. A field may promise anything;
// the card proves only clusters that can hold what the field says lies there:
// not a folder, not the start of another file, not a cluster a live file or
// folder holds, and for data not fill (one byte value) running on for long or
// up to the claimed end.
#pragma once

#include <cstdint>
#include <vector>

#include "finder/search_session.h"

namespace veld {

// What the claimed clusters are said to hold.
enum class Claim : uint8_t {
    // A file's data (frames, strips, items) behind a size or offset field.
    // It may hold JPEG pictures (a clip's frames), so a picture start counts
    // as another file only when it carries EXIF, as a camera's photo does;
    // short runs of fill inside it are padding.
    Data,
    // Padding a format declares ("free", "JUNK"): fill is what it holds.
    Padding,
    // Nothing claims them (a recording never closed): any picture start and
    // any cluster of fill end it.
    Unbounded,
};

// The length, at most `to` bytes from the file's start cluster, that the card
// proves: the clusters whose first byte lies in [from, to) are read in order
// (through the search's read-ahead) and the first that cannot be the file's
// ends it there (for data, the first of the run of fill that ends it). `to`
// when all pass; also cut before a live cluster and at the volume's end.
// ownStarts (sorted byte offsets from the file's start) are where the file's
// structure says its own embedded pictures or data runs begin: a cluster
// starting there may look like a file's start.
uint64_t ProvenLength(SearchSession& session, uint64_t start, uint64_t from, uint64_t to, Claim claim,
                      const std::vector<uint64_t>* ownStarts = nullptr);

}  // namespace veld
