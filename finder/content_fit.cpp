#include "finder/content_fit.h"

#include <algorithm>
#include <cstring>
#include <unordered_set>

#include "volume/boot_sector.h"
#include "volume/cluster_map.h"

namespace veld {
namespace {

// How many clusters after the last good one are tried where a picture's
// structure breaks, and how many breaks one picture may have.
constexpr int kCandidatesPerBreak = 64;
constexpr int kMaxBreaks = 32;
// The most bytes one read of a picture's consecutive clusters takes.
constexpr uint64_t kRunBytes = 1u << 20;

uint64_t ClusterEnd(const DiskVolume& volume) {
    return volume.clusterCount > 0 ? uint64_t(volume.clusterCount) + 2 : 0;
}

// Reads count consecutive clusters from cluster on into `into` in one go;
// false when any of them cannot be read. A source that ends inside the last
// of them (an image cut there) gives the rest of that cluster as zeros: a
// picture that ends before the source does is all there, and one that runs
// on past it breaks where the zeros begin.
bool ReadClusters(DiskVolume& volume, uint64_t cluster, uint64_t count, uint8_t* into) {
    const uint32_t cs = volume.clusterSize;
    if (cluster < 2 || count == 0 || cluster + count > ClusterEnd(volume) || cs == 0) return false;
    const uint64_t bytes = count * cs;
    uint32_t done = 0;
    const int64_t at = ClusterOffset(volume, cluster);
    if (at < 0 || !DiskIO_ReadAt(&volume, uint64_t(at), into, uint32_t(bytes), &done)) return false;
    if (done == bytes) return true;
    const int64_t size = volume.device ? volume.device->Size() : -1;
    if (done == 0 || done <= bytes - cs || size < 0 || at + int64_t(done) < size) return false;
    std::memset(into + done, 0, size_t(bytes - done));
    return true;
}

bool ReadCluster(DiskVolume& volume, uint64_t cluster, std::vector<uint8_t>& buffer) {
    buffer.resize(volume.clusterSize);
    return ReadClusters(volume, cluster, 1, buffer.data());
}

// How many of clusters[from..end) follow clusters[from] one by one on the
// card, at most limit.
uint64_t RunLength(const std::vector<uint64_t>& clusters, uint64_t from, uint64_t end, uint64_t limit) {
    uint64_t n = 1;
    while (from + n < end && n < limit && clusters[size_t(from + n)] == clusters[size_t(from)] + n) ++n;
    return n;
}


}  // namespace

ContentFit JpegFitOf(const JpegStructureScan& scan, uint64_t size, uint32_t clusterSize) {
    if (!scan.started() || size == 0 || clusterSize == 0) return ContentFit::Fails;
    if (scan.faultAt() != JpegStructureScan::kNoFault && scan.faultAt() < size) return ContentFit::Fails;
    const uint64_t end = scan.lastEnd();
    if (end == 0 || end > size) return ContentFit::Fails;
    if (end == size) return ContentFit::Exact;
    return ClustersForBytes(end, clusterSize) == ClustersForBytes(size, clusterSize) ? ContentFit::Slack
                                                                                     : ContentFit::Fails;
}

ContentFit MediaFitOf(uint64_t walkedLength, bool partlyMissing, uint64_t size, uint32_t clusterSize) {
    if (partlyMissing || walkedLength == 0 || size == 0 || clusterSize == 0) return ContentFit::Fails;
    if (walkedLength == size) return ContentFit::Exact;
    if (walkedLength < size && ClustersForBytes(walkedLength, clusterSize) == ClustersForBytes(size, clusterSize))
        return ContentFit::Slack;
    return ContentFit::Fails;
}

JpegFit CheckJpegFit(DiskVolume& volume, const std::vector<uint64_t>& clusters, uint64_t size,
                     std::vector<uint8_t>* bytes) {
    JpegFit out;
    const uint32_t cs = volume.clusterSize;
    if (cs == 0 || size == 0) {
        out.fit = ContentFit::Fails;
        return out;
    }
    const uint64_t needed = ClustersForBytes(size, cs);
    const bool keep = bytes && size <= kMaxFitBytes;
    // Kept bytes are read where they go, whole clusters, cut to the size at the end.
    std::vector<uint8_t> buffer;
    std::vector<uint8_t>& into = keep ? *bytes : buffer;
    into.clear();
    if (keep) into.reserve(size_t(needed * cs));
    JpegStructureScan scan;
    // Clusters that follow one another on the card are read together, a run
    // of up to kRunBytes at a time; the structure is still judged cluster by
    // cluster, so a run only costs the read of what follows a break in it.
    const uint64_t runLimit = std::max<uint64_t>(1, kRunBytes / cs);
    uint64_t runFirst = 0, runCount = 0;  // the run in buffer, by index into clusters
    uint64_t singlyUntil = 0;             // after a run that failed, its clusters one by one
    for (uint64_t i = 0; i < needed; ++i) {
        // Once the structure has broken, or ended short of the last cluster,
        // nothing later can mend it.
        if (scan.finished() && !(scan.faultAt() == JpegStructureScan::kNoFault &&
                                 ClustersForBytes(scan.lastEnd(), cs) == needed))
            break;
        if (i >= clusters.size()) {
            out.unreadable = true;
            break;
        }
        if (i >= runFirst + runCount) {
            runFirst = i;
            runCount = i < singlyUntil ? 1 : RunLength(clusters, i, std::min<uint64_t>(needed, clusters.size()), runLimit);
            const size_t from = keep ? size_t(i * cs) : 0;
            into.resize(from + size_t(runCount * cs));
            if (runCount > 1 && !ReadClusters(volume, clusters[size_t(i)], runCount, into.data() + from)) {
                singlyUntil = i + runCount;
                runCount = 1;
                into.resize(from + cs);
            }
            if (runCount == 1 && !ReadClusters(volume, clusters[size_t(i)], 1, into.data() + from)) {
                out.unreadable = true;
                break;
            }
        }
        const uint8_t* at = into.data() + (keep ? size_t(i * cs) : size_t((i - runFirst) * cs));
        scan.Feed(at, size_t(std::min<uint64_t>(cs, size - i * cs)));
    }
    if (keep && bytes->size() > size) bytes->resize(size_t(size));
    out.faultAt = scan.faultAt();
    out.fit = out.unreadable ? ContentFit::Fails : JpegFitOf(scan, size, cs);
    if (keep && (!Confirms(out.fit) || bytes->size() != size)) bytes->clear();
    return out;
}

bool DecodesClean(const std::vector<uint8_t>& bytes) {
    return !bytes.empty() && JpegDecodesWhole(bytes.data(), bytes.size());
}

Reassembly ReassembleJpeg(DiskVolume& volume, std::vector<uint64_t> clusters, uint64_t size,
                          const std::function<bool(uint64_t)>& usable) {
    Reassembly out;
    const uint32_t cs = volume.clusterSize;
    const uint64_t end = ClusterEnd(volume);
    if (cs == 0 || size == 0 || clusters.empty() || clusters[0] < 2) {
        out.clusters = std::move(clusters);
        out.fit.fit = ContentFit::Fails;
        return out;
    }
    const uint64_t needed = ClustersForBytes(size, cs);
    clusters.resize(size_t(needed), 0);
    const bool keep = size <= kMaxFitBytes;

    std::unordered_set<uint64_t> used;  // clusters already in the list before the one tried
    // The clusters the list continues with after cluster `from`, from index `at` on.
    auto continueFrom = [&](size_t at, uint64_t from) {
        uint64_t c = from + 1;
        for (size_t k = at; k < clusters.size(); ++k) {
            while (c < end && (used.count(c) || !usable(c))) ++c;
            clusters[k] = c < end ? c : 0;
            if (c < end) ++c;
        }
    };

    JpegStructureScan scan;
    std::vector<uint8_t> buffer;
    int breaks = 0;
    bool failed = false;
    for (uint64_t i = 0; i < needed && !failed; ++i) {
        const size_t take = size_t(std::min<uint64_t>(cs, size - i * cs));
        // Whether the structure goes on through a cluster's bytes: no break in
        // them, and no end before the last cluster (in the last, the end).
        auto goesOn = [&](const JpegStructureScan& before, JpegStructureScan& after) {
            after = before;
            after.Feed(buffer.data(), take);
            if (after.faultAt() != JpegStructureScan::kNoFault) return false;
            if (i + 1 < needed) return !after.finished();
            return after.lastEnd() > i * cs;
        };
        JpegStructureScan next;
        const uint64_t c = clusters[size_t(i)];
        if (c >= 2 && ReadCluster(volume, c, buffer) && goesOn(scan, next)) {
            scan = next;
        } else if (i == 0 || ++breaks > kMaxBreaks) {
            failed = true;
            break;
        } else {
            // Try the clusters after the last good one for the one that goes on.
            bool found = false;
            int tried = 0;
            for (uint64_t cand = clusters[size_t(i - 1)] + 1; cand < end && tried < kCandidatesPerBreak; ++cand) {
                if (cand == c || used.count(cand) || !usable(cand)) continue;
                ++tried;
                if (!ReadCluster(volume, cand, buffer) || !goesOn(scan, next)) continue;
                clusters[size_t(i)] = cand;
                scan = next;
                found = true;
                break;
            }
            if (!found) {
                failed = true;
                break;
            }
            used.insert(clusters[size_t(i)]);
            continueFrom(size_t(i + 1), clusters[size_t(i)]);
            if (keep) out.bytes.insert(out.bytes.end(), buffer.begin(), buffer.begin() + std::ptrdiff_t(take));
            continue;
        }
        used.insert(c);
        if (keep) out.bytes.insert(out.bytes.end(), buffer.begin(), buffer.begin() + std::ptrdiff_t(take));
    }
    out.fit.faultAt = scan.faultAt();
    out.fit.fit = failed ? ContentFit::Fails : JpegFitOf(scan, size, cs);
    if (!keep || !Confirms(out.fit.fit) || out.bytes.size() != size) out.bytes.clear();
    out.clusters = std::move(clusters);
    return out;
}

}  // namespace veld
