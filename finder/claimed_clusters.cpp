#include "finder/claimed_clusters.h"

#include <algorithm>

#include "base/byte_reader.h"
#include "finder/carved_bytes.h"
#include "finder/cluster_classifier.h"
#include "finder/cluster_window.h"

namespace veld {
namespace {

// APP segments looked at for EXIF after the start-of-image marker.
constexpr int kMaxAppSegments = 4;

// FF D8, then application segments (FF Ex, u16 length) one of which is APP1
// with "Exif\0\0": the start of a camera's or phone's photo.
bool IsPhotoStart(const uint8_t* bytes, size_t length) {
    const ByteReader r(bytes, length);
    if (r.be16(0) != 0xFFD8) return false;
    uint64_t at = 2;
    for (int n = 0; n < kMaxAppSegments && r.ok(); ++n) {
        const uint16_t marker = r.be16(at);
        if (marker < 0xFFE0 || marker > 0xFFEF) return false;
        if (marker == 0xFFE1 && r.equals(at + 4, "Exif\0\0", 6)) return true;
        at += 2 + r.be16(at + 2);
    }
    return false;
}

// Whether one cluster's bytes can be the inside of a file.
bool CanBeInsideOfFile(const DiskVolume& volume, const uint8_t* bytes, size_t length, Claim claim) {
    switch (ClassifyCluster(volume, bytes, length)) {
    case ContentClass::Folder:
    case ContentClass::Fill:
    case ContentClass::Mp4Start:
    case ContentClass::RawStart:
    case ContentClass::AviStart:
    case ContentClass::TsStart:
    case ContentClass::PsStart: return false;
    case ContentClass::JpegStart: return claim == Claim::ByField && !IsPhotoStart(bytes, length);
    default: return true;
    }
}

}  // namespace

uint64_t ProvenLength(SearchSession& session, uint64_t start, uint64_t from, uint64_t to, Claim claim) {
    if (!session.volume || session.volume->clusterSize == 0 || to <= from) return to;
    DiskVolume& volume = *session.volume;
    const uint64_t cs = volume.clusterSize;
    to = std::min(to, CarvedBytes(volume, start).limit());
    ClusterWindow window(volume, start, session.sequential);
    uint64_t k = (from + cs - 1) / cs;  // the first cluster starting at or after `from`
    window.Advance(k);
    for (; k * cs < to; ++k, window.Advance(1)) {
        if (!window.Read() || !CanBeInsideOfFile(volume, window.data(), cs, claim)) {
            to = k * cs;
            break;
        }
        if (session.Cancelled()) break;
    }
    return LengthBeforeLiveCluster(session, start, to);
}

}  // namespace veld
