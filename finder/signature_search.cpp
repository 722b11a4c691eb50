// The signature search over a range of clusters: every cluster that no
// directory entry accounted for is read once and classified; JPEG and MP4/MOV
// starts are walked and registered as carved files, directory-like clusters
// are scanned as deleted folders.
#include "finder/signature_search.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <vector>

#include "base/trace.h"
#include "finder/carved_file.h"
#include "finder/cluster_classifier.h"
#include "finder/directory_scanner.h"
#include "finder/jpeg_walk.h"
#include "finder/mp4_walk.h"
#include "volume/boot_sector.h"
#include "volume/cluster_map.h"

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

}  // namespace

// Records and traces the clusters from..last that the search did not read.
void NoteNotExamined(SearchSession& session, uint64_t from, uint64_t last, NotExaminedReason reason) {
    if (from > last) return;
    session.notExamined = ClusterRange{from, last, reason};
    TraceLine("Clusters %llu-%llu not examined: %s", (unsigned long long)from, (unsigned long long)last,
              NotExaminedReasonText(reason));
}

int SearchClusters(SearchSession& session, uint64_t first, uint64_t last) {
    SearchProgress& progress = session.progress;
    session.notExamined.reset();
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

    if (cs != 0) {
        const std::vector<uint8_t> zeros(cs, 0);
        std::vector<uint8_t> buffer(cs, 0);
        // Cluster numbers below 2 have no data area. The last number of the
        // 64-bit range is handled before the counter could wrap.
        for (uint64_t c = std::max<uint64_t>(first, 2); c <= last; ++c) {
            // Past the map every cluster answers FA_END, which only the detailed
            // search examines: the map covers all the source holds, so a range
            // beyond it (the claimed size of a damaged boot sector) lies past
            // the source's end.
            if (!detailed && map.present && c >= map.size()) {
                NoteNotExamined(session, c, last, NotExaminedPastMap);
                break;
            }
            if (!ShouldExamine(map, c, detailed)) {
                if (c == UINT64_MAX) break;
                continue;
            }

            uint32_t done = 0;
            if (DiskIO_Seek(&volume, ClusterOffset(volume, c)) < 0 ||
                !DiskIO_Read(&volume, buffer.data(), cs, &done) || done != cs) {
                // The source ends or cannot be read: the search ends here.
                NoteNotExamined(session, c, last, NotExaminedUnreadable);
                break;
            }

            if (std::memcmp(buffer.data(), zeros.data(), cs) == 0) {
                SetClusterClass(map, c, CC_FILL);
                progress.Report(PhaseCluster, double(c), "");
                if (session.Cancelled() || c == UINT64_MAX) break;
                continue;
            }

            const int cls = ClassifyCluster(volume, buffer.data(), cs);
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
                const uint64_t walkedTo = WalkJpeg(session, c, &info, JpegWalkFull);
                if (walkedTo != 0 && info.length > 0)
                    RegisterCarvedJpeg(session, CarvedFileName(c, "jpg"), info.length, c, info);
                MarkWalked(map, c, walkedTo, CC_JPEG_DATA);
                if (walkedTo > c) c = walkedTo;  // the walked clusters are not read again
            } else if (cls == CC_MP4_START) {
                Mp4Info info;
                const uint64_t walkedTo = WalkMp4Atoms(session, c, &info);
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
