// The walks of the formats beyond JPEG from cluster 2 of an in-memory card:
// bits 3 to 5 of the first byte choose the ISO media, TIFF/RAF, RIFF AVI,
// MPEG transport stream or program stream walk, or (5 and up) the search's
// own path: the cluster classified, the file carved and registered, which
// reads its metadata and makes its thumbnail.
#include <cstddef>
#include <cstdint>

#include "finder/cluster_classifier.h"
#include "finder/isobmff_walk.h"
#include "finder/media_carving.h"
#include "finder/mpeg_ps_walk.h"
#include "finder/mpeg_ts_walk.h"
#include "finder/riff_avi_walk.h"
#include "finder/tiff_raw_walk.h"
#include "volume/boot_sector.h"
#include "walk_card.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    veld::SearchSession session;
    bool modeBit = false;
    if (!veld::fuzz::OpenWalkCard(session, data, size, &modeBit)) return 0;
    veld::MediaInfo media;
    veld::JpegInfo exif;
    veld::Mp4Info mp4;
    switch ((data[0] >> 3) & 7) {
    case 0: veld::WalkIsoBmff(session, 2, &mp4, &media, &exif); break;
    case 1: veld::WalkTiffRaw(session, 2, &media, &exif); break;
    case 2: veld::WalkRiffAvi(session, 2, &media); break;
    case 3: veld::WalkMpegTs(session, 2, &media); break;
    case 4: veld::WalkMpegPs(session, 2, &media); break;
    default: {
        const veld::ContentClass cls = veld::ReadAndClassifyCluster(*session.volume, 2);
        if (veld::IsMediaStartClass(cls)) veld::CarveMediaFile(session, 2, cls);
        break;
    }
    }
    return 0;
}
