// The signature search over a range of clusters: every cluster that no
// directory entry accounted for is read once and classified; JPEG and MP4/MOV
// starts are walked and registered as carved files, directory-like clusters
// are scanned as deleted folders.
#include "finder/signature_search.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <vector>

#include "base/byte_reader.h"
#include "base/trace.h"
#include "finder/carved_file.h"
#include "finder/cluster_classifier.h"
#include "finder/directory_scanner.h"
#include "finder/jpeg_walk.h"
#include "finder/mp4_walk.h"
#include "volume/boot_sector.h"
#include "volume/cluster_map.h"
#include "volume/read_ahead.h"

namespace veld {
namespace {

// Whether the outer loop reads the cluster, by the state the directory
// passes left in the map. Directory clusters are marked as such either way.
bool ShouldExamine(FatTables& map, uint64_t cluster, bool detailed) {
    const int state = ClusterState(map, cluster);
    // exFAT: what the allocation bitmap marks in use belongs to a live file or
    // folder, whether or not a directory entry led there; only free clusters
    // (and, in the detailed search, those of deleted files) are examined.
    if (map.exfat && FatSaysInUse(map, cluster)) {
        if (state == FA_USE_DIR) SetClusterClass(map, cluster, CC_DIR);
        return false;
    }
    if (state == FA_EMPTY || state == kNoClusterMap) return true;
    if (state == FA_DEL_DIR || state == FA_USE_DIR) SetClusterClass(map, cluster, CC_DIR);
    return detailed;
}

void MarkWalked(FatTables& map, uint64_t from, uint64_t last, uint8_t contentClass) {
    for (uint64_t k = from; k < last; ++k) SetClusterClass(map, k, contentClass);
}

bool AllZero(const uint8_t* bytes, size_t size) {
    return size == 0 || (bytes[0] == 0 && std::memcmp(bytes, bytes + 1, size - 1) == 0);
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

// Whether the cluster is a FAT volume's partial last cluster: the cluster
// count is rounded up, so when the data sectors are no whole number of
// clusters the last one lies partly past the volume's end. The volume's own
// count leaves it out - no file can be given it - so a source that ends in
// it (or before it) loses nothing of the volume's files there.
bool PartialLastCluster(const DiskVolume& volume, uint64_t cluster) {
    if (volume.volumeKind != VolumeFat16 && volume.volumeKind != VolumeFat32) return false;
    if (volume.clusterCount <= 0 || cluster != uint64_t(volume.clusterCount) + 1) return false;
    const ByteReader boot(volume.bootSector.data(), volume.bootSector.size());
    const uint64_t sectorsPerCluster = boot.u8(bpb::SectorsPerCluster);
    const uint64_t bytesPerSector = boot.le16(bpb::BytesPerSector);
    uint64_t sectors = boot.le16(bpb::TotalSectors16);
    if (sectors == 0) sectors = boot.le32(bpb::TotalSectors32);
    if (sectorsPerCluster == 0 || bytesPerSector == 0 || volume.dataStart % bytesPerSector != 0) return false;
    const uint64_t firstData = volume.dataStart / bytesPerSector;
    return sectors > firstData && (sectors - firstData) % sectorsPerCluster != 0;
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
    FatTables& map = session.gFat;
    const uint32_t cs = volume.clusterSize;
    const bool detailed = (session.options.flags & SearchDetailed) != 0;
    const bool fatVolume = volume.volumeKind == VolumeFat16 || volume.volumeKind == VolumeFat32;

    const uint64_t begin = std::max<uint64_t>(first, 2);
    if (cs != 0 && volume.device && begin <= last) {
        // The range is read in large blocks, the next ones in flight while
        // the current one is examined; a reader thread does it when the
        // source can be read from two threads at once. A cancel is looked at
        // after each cluster, as before, so the cluster in hand is finished.
        ReadAheadOptions readOptions;
        readOptions.readerThread = volume.device->PositionalReads();
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
            if (!ShouldExamine(map, c, detailed)) {
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
                SetClusterClass(map, c, CC_FILL);
                progress.Report(PhaseCluster, double(c), "");
                if (session.Cancelled() || c == UINT64_MAX) break;
                continue;
            }

            const int cls = ClassifyCluster(volume, cluster, cs);
            SetClusterClass(map, c, uint8_t(cls));

            if (cls == CC_DIR) {
                if (fatVolume) {
                    try {
                        ScanDirectory(session, c, 0, 0, false, true, "");
                    } catch (...) {
                        // A damaged folder must not end the search.
                        TraceLine("ERROR signature search: folder scan of cluster %llu failed: %s", (unsigned long long)c,
                                  CaughtExceptionText().c_str());
                    }
                }
            } else if (cls == CC_JPEG_START) {
                // A walk that fails found no end, so nothing could be recovered:
                // no record is made for it (an empty one would look complete).
                JpegInfo info;
                uint64_t walkedTo = 0;
                {
                    SequentialWalk through(session, reader);
                    walkedTo = WalkJpeg(session, c, &info, JpegWalkFull);
                }
                if (walkedTo != 0 && info.length > 0)
                    RegisterCarvedJpeg(session, CarvedFileName(c, "jpg"), info.length, c, info);
                MarkWalked(map, c, walkedTo, CC_JPEG_DATA);
                if (walkedTo > c) c = walkedTo;  // the walked clusters are not read again
            } else if (cls == CC_MP4_START) {
                Mp4Info info;
                uint64_t walkedTo = 0;
                {
                    SequentialWalk through(session, reader);
                    walkedTo = WalkMp4Atoms(session, c, &info);
                }
                if (walkedTo != 0 && info.length > 0)
                    RegisterCarvedMp4(session, CarvedFileName(c, "mp4"), info.length, c, info);
                MarkWalked(map, c, walkedTo, CC_MP4_DATA);
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
