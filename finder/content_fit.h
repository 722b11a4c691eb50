// Whether the bytes a found file's clusters hold are the file its entry
// describes: a JPEG's structure must start at its first byte and end where
// its size ends; a clip's top-level boxes must add up to its size. A file
// whose clusters were reassembled from pieces is trusted only as far as this
// says so. For JPEG pictures whose structure breaks inside a cluster, the
// clusters after the last good one are tried in turn for the one that goes on
// (ReassembleJpeg).
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include "base/jpeg_memory_decode.h"
#include "finder/jpeg_structure.h"
#include "volume/disk_volume.h"

namespace veld {

enum class ContentFit : uint8_t {
    Unknown = 0,  // nothing in the format tells where the file ends
    Fails = 1,    // the bytes do not start, or do not end, as the file must
    Slack = 2,    // the structure ends inside the last cluster the size needs, short of the size
    Exact = 3,    // the structure ends exactly at the size
};
// Whether a fit confirms the file: Slack or Exact.
inline bool Confirms(ContentFit fit) { return fit == ContentFit::Slack || fit == ContentFit::Exact; }

// The fit a JPEG structure scan of a file's first size bytes gives.
ContentFit JpegFitOf(const JpegStructureScan& scan, uint64_t size, uint32_t clusterSize);

// The fit a clip's walk gives: the length its boxes add up to against the size.
ContentFit MediaFitOf(uint64_t walkedLength, bool partlyMissing, uint64_t size, uint32_t clusterSize);

struct JpegFit {
    ContentFit fit = ContentFit::Unknown;
    uint64_t faultAt = JpegStructureScan::kNoFault;  // first byte where the structure breaks
    bool unreadable = false;                         // a cluster could not be read
};

// Reads a JPEG's clusters in order, up to size bytes, and scans its
// structure. bytes (when not null) receives what was read, as saving would
// write it, when size is at most kMaxFitBytes.
constexpr uint64_t kMaxFitBytes = 256ull << 20;
JpegFit CheckJpegFit(DiskVolume& volume, const std::vector<uint64_t>& clusters, uint64_t size,
                     std::vector<uint8_t>* bytes = nullptr);

// Decodes the bytes of a JPEG whose clusters were put together from pieces
// with libjpeg: a structure that ends right can still join two pictures'
// data, whose blocks then do not end where the data does (or the decoder
// meets codes no table holds). True when it decodes clean to its end.
bool DecodesClean(const std::vector<uint8_t>& bytes);

// Rebuilds a fragmented JPEG's cluster list. From the list given (the first
// cluster and a guess for the rest), wherever the structure breaks inside
// cluster k, the clusters after cluster k - 1 that usable() allows are tried
// in turn (a bounded number) for the first one through which the structure
// goes on; the list continues from it with the clusters usable() allows. The
// result is the best list found (the one given when nothing better was), its
// fit, and with confirmed fits the file's bytes for a decoder check.
struct Reassembly {
    std::vector<uint64_t> clusters;
    JpegFit fit;
    std::vector<uint8_t> bytes;
};
Reassembly ReassembleJpeg(DiskVolume& volume, std::vector<uint64_t> clusters, uint64_t size,
                          const std::function<bool(uint64_t)>& usable);

}  // namespace veld
