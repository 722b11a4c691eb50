// The signature search over a range of clusters: every cluster that no
// directory entry accounted for is read once and classified; starts of
// JPEG, ISO media (MP4/MOV/3GP, HEIF, CR3), RAW, AVI and MPEG files are walked
// and registered as carved files, directory-like clusters are scanned as
// deleted folders (exFAT: folders known by their entry sets).
#include "finder/signature_search.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <optional>
#include <span>
#include <vector>

#include "base/trace.h"
#include "finder/carved_file.h"
#include "finder/cluster_classifier.h"
#include "finder/directory_scanner.h"
#include "finder/exfat_orphan_folders.h"
#include "finder/jpeg_walk.h"
#include "finder/media_carving.h"
#include "volume/boot_sector.h"
#include "volume/file_system.h"
#include "volume/cluster_map.h"
#include "volume/read_ahead.h"

namespace veld {
namespace {

// Whether the outer loop reads the cluster, by the state the directory
// passes left in the map. Directory clusters are marked as such either way.
bool ShouldExamine(ClusterMap& map, uint64_t cluster, bool detailed, bool skipAllocated) {
    const ClusterUse state = ClusterState(map, cluster);
    // exFAT: what the allocation bitmap marks in use belongs to a live file or
    // folder, whether or not a directory entry led there; only free clusters
    // (and, in the detailed search, those of deleted files) are examined.
    if (skipAllocated && AllocatedOnCard(map, cluster)) {
        if (state == ClusterUse::LiveFolder) SetClusterClass(map, cluster, ContentClass::Folder);
        return false;
    }
    if (state == ClusterUse::Empty || state == ClusterUse::NoMap) return true;
    if (state == ClusterUse::DeletedFolder || state == ClusterUse::LiveFolder) SetClusterClass(map, cluster, ContentClass::Folder);
    return detailed;
}

void MarkWalked(ClusterMap& map, uint64_t from, uint64_t last, ContentClass contentClass) {
    for (uint64_t k = from; k < last; ++k) SetClusterClass(map, k, contentClass);
}

bool AllZero(const uint8_t* bytes, size_t size) {
    return size == 0 || (bytes[0] == 0 && std::memcmp(bytes, bytes + 1, size - 1) == 0);
}

// Where a picture or clip that starts at cluster c ends, when its file is
// known before the walk: a deleted picture whose bytes the content check read
// over consecutive clusters (listed already), or a live file, whose clusters
// are its own as far as the map still says so (a live file is never listed,
// so what a walk of it found would not be either). 0 when it is not known.
uint64_t KnownRunEnd(const SearchSession& session, uint64_t c, ContentClass cls) {
    if (cls == ContentClass::JpegStart)
        if (auto checked = session.checkedRuns.find(c); checked != session.checkedRuns.end() && checked->second >= c)
            return checked->second;
    if (cls != ContentClass::JpegStart && !IsMediaStartClass(cls)) return 0;
    const auto live = session.liveRuns.find(c);
    const ClusterMap& map = session.clusterMap;
    if (live == session.liveRuns.end() || ClusterState(map, c) != ClusterUse::LiveFile) return 0;
    uint64_t end = c;
    while (end < live->second && ClusterState(map, end + 1) == ClusterUse::LiveFile) ++end;
    return end;
}

// The clusters after the start of every known run (above), in [first, last]:
// the search asks for none of them when the run's start is a picture's or a
// clip's, so its reader need not read them.
std::vector<std::pair<uint64_t, uint64_t>> KnownRunInsides(const SearchSession& session, uint64_t first, uint64_t last) {
    std::vector<std::pair<uint64_t, uint64_t>> insides;
    insides.reserve(session.checkedRuns.size() + session.liveRuns.size());
    for (const auto* runs : {&session.checkedRuns, &session.liveRuns})
        for (const auto& [start, end] : *runs)
            if (end > start && start < last && end >= first) insides.emplace_back(std::max(start + 1, first), std::min(end, last));
    std::sort(insides.begin(), insides.end());
    std::vector<std::pair<uint64_t, uint64_t>> merged;
    for (const auto& s : insides) {
        if (!merged.empty() && s.first <= merged.back().second + 1)
            merged.back().second = std::max(merged.back().second, s.second);
        else
            merged.push_back(s);
    }
    return merged;
}

// A walk that starts at the cluster the search is at reads on through the
// search's reader; the pointer is cleared when the walk returns.
class SequentialWalk {
public:
    SequentialWalk(SearchSession& session, ReadAhead& reader) : session_(session) { session.sequential = &reader; }
    ~SequentialWalk() { session_.sequential = nullptr; }
    SequentialWalk(const SequentialWalk&) = delete;
    SequentialWalk& operator=(const SequentialWalk&) = delete;

private:
    SearchSession& session_;
};

// Whether the cluster is the volume's partial last cluster: a FAT cluster
// count is rounded up, so when the data sectors are no whole number of
// clusters the last one lies partly past the volume's declared end. The
// volume's own count leaves it out - no file can be given it - so a source
// that ends in it (or before it) loses nothing of the volume's files there.
bool PartialLastCluster(const DiskVolume& volume, uint64_t cluster) {
    if (!volume.fileSystem || volume.clusterSize == 0) return false;
    if (volume.clusterCount <= 0 || cluster != uint64_t(volume.clusterCount) + 1) return false;
    const uint64_t declared = volume.fileSystem->DeclaredBytes(volume);
    return declared != 0 && volume.dataStart + uint64_t(volume.clusterCount) * volume.clusterSize > declared;
}

}  // namespace

// Records and traces the clusters from..last that the search did not read; a
// range that continues the previous one for the same reason extends it.
void NoteNotExamined(SearchSession& session, uint64_t from, uint64_t last, NotExaminedReason reason) {
    if (from > last) return;
    auto& ranges = session.notExamined;
    if (!ranges.empty() && ranges.back().reason == reason && ranges.back().last + 1 == from)
        ranges.back().last = last;
    else
        ranges.push_back(ClusterRange{from, last, reason});
    TraceLine("Clusters %llu-%llu not examined: %s", (unsigned long long)from, (unsigned long long)last,
              NotExaminedReasonText(reason));
}

int SearchClusters(SearchSession& session, uint64_t first, uint64_t last) {
    SearchProgress& progress = session.progress;
    session.notExamined.clear();
    progress.SetClusterRange(first, last);
    progress.Report(PhaseClustersStart, double(first), "");
    if (!session.volume) {
        progress.Report(PhaseClustersEnd, double(last), "");
        return 0;
    }

    DiskVolume& volume = *session.volume;
    ClusterMap& map = session.clusterMap;
    const uint32_t cs = volume.clusterSize;
    const bool detailed = (session.options.flags & SearchDetailed) != 0;
    // Folder-like free clusters are read as deleted folders where the volume's
    // directory scan reads such blocks (FAT); exFAT's allocated clusters are
    // left out altogether.
    const bool fatFolders = volume.fileSystem && volume.fileSystem->Scan() == DirectoryScan::Fat;
    const bool skipAllocated = map.fileSystem && map.fileSystem->SkipsAllocatedClusters();
    // exFAT folders cut off by a format are known by their entry sets.
    std::optional<ExfatOrphanFolders> exfatFolders;
    if (volume.fileSystem && volume.fileSystem->Scan() == DirectoryScan::Exfat) exfatFolders.emplace(session);

    const uint64_t begin = std::max<uint64_t>(first, 2);
    if (cs != 0 && volume.device && begin <= last) {
        // The range is read in large blocks, the next ones in flight while
        // the current one is examined; a reader thread does it when the
        // source can be read from two threads at once. A cancel is looked at
        // after each cluster, as before, so the cluster in hand is finished.
        ReadAheadOptions readOptions;
        readOptions.readerThread = volume.device->PositionalReads();
        readOptions.notWanted = KnownRunInsides(session, begin, last);
        ReadAhead reader(*volume.device, ClusterOffset(volume, begin), begin, last, cs, {}, readOptions);
        // Cluster numbers below 2 have no data area. The last number of the
        // 64-bit range is handled before the counter could wrap.
        for (uint64_t c = begin; c <= last; ++c) {
            // Past the map every cluster answers FA_END, which only the detailed
            // search examines: the map covers all the source holds, so a range
            // beyond it (the claimed size of a damaged boot sector) lies past
            // the source's end.
            if (!detailed && map.present && c >= map.size()) {
                if (c == last && PartialLastCluster(volume, c))
                    TraceLine("The volume's partial last cluster %llu lies past the source's end", (unsigned long long)c);
                else
                    NoteNotExamined(session, c, last, NotExaminedPastMap);
                break;
            }
            if (!ShouldExamine(map, c, detailed, skipAllocated)) {
                if (c == UINT64_MAX) break;
                continue;
            }

            const ClusterSpan span = reader.Get(c);
            if (span.status == ReadStatus::Error) {
                // A cluster that cannot be read is skipped and reported; the
                // search goes on after it.
                NoteNotExamined(session, c, c, NotExaminedReadError);
                progress.Report(PhaseCluster, double(c), "");
                if (session.Cancelled() || c == last) break;
                continue;
            }
            if (span.status != ReadStatus::Ok || span.bytes < cs) {
                // The source (or the partition it is read through) ends here.
                if (c == last && PartialLastCluster(volume, c))
                    TraceLine("The volume ends inside its partial last cluster %llu", (unsigned long long)c);
                else
                    NoteNotExamined(session, c, last, NotExaminedUnreadable);
                break;
            }
            const uint8_t* cluster = span.data;

            if (AllZero(cluster, cs)) {
                SetClusterClass(map, c, ContentClass::Fill);
                progress.Report(PhaseCluster, double(c), "");
                if (session.Cancelled() || c == UINT64_MAX) break;
                continue;
            }

            const ContentClass cls = exfatFolders && exfatFolders->Examine(c, std::span<const uint8_t>(cluster, cs))
                                         ? ContentClass::Folder
                                         : ClassifyCluster(volume, cluster, cs);
            SetClusterClass(map, c, cls);

            if (cls == ContentClass::Folder) {
                if (fatFolders) {
                    try {
                        // A search over part of the card has not read the tree: what
                        // it meets is read where it is, without a place in it.
                        if (session.options.rangeOnly)
                            ScanDirectory(session, c, 0, false, true, "");
                        else
                            ScanLostFolder(session, c);
                    } catch (...) {
                        // A damaged folder must not end the search.
                        TraceLine("ERROR signature search: folder scan of cluster %llu failed: %s", (unsigned long long)c,
                                  CaughtExceptionText().c_str());
                    }
                }
            } else if (const uint64_t known = KnownRunEnd(session, c, cls); known >= c) {
                // Its file is known already: not walked, and not read again.
                const uint64_t walkedTo = std::min(known, last);
                MarkWalked(map, c, walkedTo + 1, cls == ContentClass::JpegStart ? ContentClass::JpegData : MediaDataClass(cls));
                SetClusterClass(map, c, cls);
                c = walkedTo;
            } else if (cls == ContentClass::JpegStart) {
                // A walk that ends early keeps what it walked, partly missing;
                // one that fails at the start (no picture there) registers nothing.
                JpegInfo info;
                uint64_t walkedTo = 0;
                {
                    SequentialWalk through(session, reader);
                    walkedTo = WalkJpeg(session, c, &info, JpegWalkFull);
                }
                if (walkedTo != 0 && info.length > 0)
                    RegisterCarvedJpeg(session, CarvedFileName(c, "jpg"), info.length, c, info);
                MarkWalked(map, c, walkedTo, ContentClass::JpegData);
                if (walkedTo > c) c = walkedTo;  // the walked clusters are not read again
            } else if (IsMediaStartClass(cls)) {
                // ISO media (MP4, MOV, 3GP, HEIF, CR3), RAW, AVI and MPEG
                // streams: a walk that finds nothing registers nothing.
                uint64_t walkedTo = 0;
                {
                    SequentialWalk through(session, reader);
                    walkedTo = CarveMediaFile(session, c, cls);
                }
                MarkWalked(map, c, walkedTo, MediaDataClass(cls));
                if (walkedTo > c) c = walkedTo;
            }
            progress.Report(PhaseCluster, double(c), "");
            if (session.Cancelled() || c >= last) break;
        }
    }

    progress.Report(PhaseClustersEnd, double(last), "");
    return 0;
}

}  // namespace veld
