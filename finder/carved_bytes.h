// Random reads inside a file that is taken to lie in consecutive clusters from
// its start cluster, as a carved file does: the walks that follow offsets
// (TIFF IFDs and strips, RIFF chunk sizes, HEIF item locations) read through
// it. Every read is bounded by the volume's last cluster and by the 32-bit
// length a found file can have.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "finder/search_session.h"

namespace veld {

class CarvedBytes {
public:
    CarvedBytes(DiskVolume& volume, uint64_t start);

    // The most bytes the file can span from its start: to the volume's end,
    // at most the 32-bit length limit. 0 when the start is not a data cluster.
    uint64_t limit() const { return limit_; }
    // Bytes [offset, offset + count) of the file, fewer (down to none) where
    // the limit lies before their end or a read fails.
    std::vector<uint8_t> Read(uint64_t offset, size_t count);

private:
    DiskVolume& volume_;
    uint64_t start_;
    uint64_t limit_ = 0;
};

// Where a file spanning length bytes from start runs into a cluster that a
// live file or folder holds: the length cut back to that cluster's first
// byte; length itself when no such cluster lies within it.
uint64_t LengthBeforeLiveCluster(const SearchSession& session, uint64_t start, uint64_t length);

}  // namespace veld
