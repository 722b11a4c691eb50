// The signature search over a range of clusters: every cluster that no
// directory entry accounted for is read once and classified; JPEG and MP4/MOV
// starts are walked and registered as carved files, directory-like clusters
// are scanned as deleted folders.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <vector>

#include "base/search_progress.h"
#include "finder/directory_scanner.h"
#include "finder/search_state.h"
#include "finder/signature_search.h"
#include "volume/boot_sector.h"
#include "volume/cluster_map.h"

namespace veld {
namespace {

// Whether the outer loop reads the cluster, by the state the directory
// passes left in the map. Directory clusters are marked as such either way.
bool ShouldExamine(uint64_t cluster, bool detailed) {
    const int state = ClusterState(cluster);
    if (state == FA_EMPTY || state == kNoClusterMap) return true;
    if (state == FA_DEL_DIR || state == FA_USE_DIR) SetClusterClass(cluster, CC_DIR);
    return detailed;
}

std::string CarvedName(uint64_t cluster, const char* extension) {
    char name[32];
    std::snprintf(name, sizeof name, "#%08u.%s", unsigned(cluster), extension);
    return name;
}

void MarkWalked(uint64_t from, uint64_t last, uint8_t contentClass) {
    for (uint64_t k = from; k < last; ++k) SetClusterClass(k, contentClass);
}

}  // namespace

int SearchClusters(DiskVolume& volume, uint32_t first, uint32_t last) {
    SetProgressClusterRange(first, last);
    ReportProgress(PhaseClustersStart, double(first), "");

    const uint32_t cs = volume.clusterSize;
    const bool detailed = (gSearch.options.flags & SearchDetailed) != 0;
    const bool fatVolume = volume.volumeKind == VolumeFat16 || volume.volumeKind == VolumeFat32;

    if (cs != 0) {
        const std::vector<uint8_t> zeros(cs, 0);
        std::vector<uint8_t> buffer(cs, 0);
        // 64-bit counter: a range ending at the largest 32-bit number still ends.
        // Cluster numbers below 2 have no data area.
        for (uint64_t c = std::max<uint32_t>(first, 2); c <= last; ++c) {
            // Past the map every cluster answers FA_END, which only the detailed
            // search examines: a range beyond the map (the claimed size of a
            // damaged boot sector) has nothing more to offer.
            if (!detailed && gFat.present && c >= gFat.size()) break;
            if (!ShouldExamine(c, detailed)) continue;

            uint32_t done = 0;
            if (DiskIO_Seek(&volume, ClusterOffset(volume, c)) < 0 ||
                !DiskIO_Read(&volume, buffer.data(), cs, &done) || done != cs)
                break;  // the source ends or cannot be read: the search ends here

            if (std::memcmp(buffer.data(), zeros.data(), cs) == 0) {
                SetClusterClass(c, CC_FILL);
                ReportProgress(PhaseCluster, double(c), "");
                if (SearchCancelled()) break;
                continue;
            }

            const int cls = ClassifyCluster(volume, buffer.data(), cs);
            SetClusterClass(c, uint8_t(cls));

            if (cls == CC_DIR) {
                if (fatVolume) {
                    try {
                        ScanDirectory(volume, volume.bootSector, uint32_t(c), 0, 0, false, true, "");
                    } catch (...) {
                        // A damaged folder must not end the search.
                    }
                }
            } else if (cls == CC_JPEG_START) {
                // A walk that fails found no end, so nothing could be recovered:
                // no record is made for it (an empty one would look complete).
                JpegInfo info;
                const uint32_t walkedTo = WalkJpeg(volume, uint32_t(c), &info, JpegWalkFull);
                if (walkedTo != 0 && info.length > 0)
                    RegisterCarvedJpeg(CarvedName(c, "jpg"), info.length, uint32_t(c), info);
                MarkWalked(c, walkedTo, CC_JPEG_DATA);
                if (walkedTo > c) c = walkedTo;  // the walked clusters are not read again
            } else if (cls == CC_MP4_START) {
                Mp4Info info;
                const uint32_t walkedTo = WalkMp4Atoms(volume, uint32_t(c), &info);
                if (walkedTo != 0 && info.length > 0)
                    RegisterCarvedMp4(CarvedName(c, "mp4"), info.length, uint32_t(c), info);
                MarkWalked(c, walkedTo, CC_MP4_DATA);
                if (walkedTo > c) c = walkedTo;
            }

            ReportProgress(PhaseCluster, double(c), "");
            if (SearchCancelled()) break;
        }
    }

    ReportProgress(PhaseClustersEnd, double(last), "");
    return 0;
}

}  // namespace veld
