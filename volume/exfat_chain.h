// The clusters of an exFAT file or folder as runs of consecutive clusters:
// from its FAT chain, or from its first cluster onwards for a stream marked
// NoFatChain (whose FAT entries are not kept). Every walk is bounded by the
// clusters the data length needs and by the heap; a chain that loops back,
// leaves the heap or ends early stops there and says so.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "volume/exfat_boot.h"

namespace veld {

struct ClusterRun {
    uint64_t first = 0;
    uint64_t count = 0;
};

struct ExfatChain {
    std::vector<ClusterRun> runs;
    uint64_t clusters = 0;   // in all runs
    bool complete = false;   // as many clusters as wanted
    std::string why;         // incomplete: where the walk stopped
};

// Clusters needed for bytes of data (0 for 0 bytes).
uint64_t ExfatClustersFor(const ExfatBoot& boot, uint64_t bytes);

// wanted clusters from first on, cut at the end of the heap.
ExfatChain ExfatContiguousRun(const ExfatBoot& boot, uint64_t first, uint64_t wanted);

// Follows the FAT from first for up to wanted clusters. fatEntry returns the
// FAT's value for a heap cluster (the caller reads the FAT in use). Stops at
// an end-of-chain or bad-cluster mark, a value outside the heap, or a cluster
// already taken (a loop).
ExfatChain FollowExfatChain(const ExfatBoot& boot, uint64_t first, uint64_t wanted,
                            const std::function<uint32_t(uint32_t)>& fatEntry);

}  // namespace veld
