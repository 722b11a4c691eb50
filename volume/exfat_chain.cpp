#include "volume/exfat_chain.h"

#include <map>

#include "volume/exfat_layout.h"

namespace veld {

uint64_t ExfatClustersFor(const ExfatBoot& boot, uint64_t bytes) {
    const uint64_t size = boot.ClusterSize();
    return bytes / size + (bytes % size != 0 ? 1 : 0);
}

ExfatChain ExfatContiguousRun(const ExfatBoot& boot, uint64_t first, uint64_t wanted) {
    ExfatChain chain;
    if (wanted == 0) {
        chain.complete = true;
        return chain;
    }
    if (!boot.IsHeapCluster(first)) {
        chain.why = "first cluster is outside the cluster heap";
        return chain;
    }
    const uint64_t available = uint64_t(boot.clusterCount) - (first - exfat::kFirstCluster);
    const uint64_t count = wanted < available ? wanted : available;
    chain.runs.push_back({first, count});
    chain.clusters = count;
    chain.complete = count == wanted;
    if (!chain.complete) chain.why = "the clusters run past the end of the cluster heap";
    return chain;
}

ExfatChain FollowExfatChain(const ExfatBoot& boot, uint64_t first, uint64_t wanted,
                            const std::function<uint32_t(uint32_t)>& fatEntry) {
    ExfatChain chain;
    if (wanted == 0) {
        chain.complete = true;
        return chain;
    }
    if (!boot.IsHeapCluster(first)) {
        chain.why = "first cluster is outside the cluster heap";
        return chain;
    }
    // Runs taken so far by first cluster, to see a chain that comes back.
    std::map<uint64_t, uint64_t> taken;
    auto isTaken = [&](uint64_t cluster) {
        auto it = taken.upper_bound(cluster);
        if (it == taken.begin()) return false;
        --it;
        return cluster < it->first + it->second;
    };
    auto add = [&](uint64_t cluster) {
        if (!chain.runs.empty() && chain.runs.back().first + chain.runs.back().count == cluster) {
            ++chain.runs.back().count;
            ++taken[chain.runs.back().first];
        } else {
            chain.runs.push_back({cluster, 1});
            taken[cluster] = 1;
        }
        ++chain.clusters;
    };

    uint64_t cluster = first;
    add(cluster);
    // Each step adds one cluster that was not taken before, so the walk ends
    // after at most wanted and at most clusterCount steps.
    while (chain.clusters < wanted) {
        const uint32_t next = fatEntry(uint32_t(cluster));
        if (next == exfat::kFatEndOfChain) {
            chain.why = "the chain ends early";
            return chain;
        }
        if (next == exfat::kFatBadCluster) {
            chain.why = "the chain leads to a bad cluster";
            return chain;
        }
        if (!boot.IsHeapCluster(next)) {
            chain.why = "the chain leads outside the cluster heap";
            return chain;
        }
        if (isTaken(next)) {
            chain.why = "the chain loops back";
            return chain;
        }
        cluster = next;
        add(cluster);
    }
    chain.complete = true;
    return chain;
}

}  // namespace veld
