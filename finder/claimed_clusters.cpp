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
// Fill inside a file's data at least this long (or reaching the claimed end)
// was never the file's: formats pad to a sector or two, a cut recording or a
// freed card leaves far more.
constexpr uint64_t kLongFill = 64u << 10;

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

enum class Verdict : uint8_t { Inside, Fill, Foreign };

// What one cluster's bytes say about the file claiming them; ownStart when
// the file's structure puts the start of its own embedded data there.
Verdict Judge(const DiskVolume& volume, const uint8_t* bytes, size_t length, Claim claim, bool ownStart) {
    const ContentClass kind = ClassifyCluster(volume, bytes, length);
    if (kind == ContentClass::Fill) return claim == Claim::Padding ? Verdict::Inside : Verdict::Fill;
    if (kind == ContentClass::Folder) return Verdict::Foreign;
    if (ownStart) return Verdict::Inside;
    switch (kind) {
    case ContentClass::Mp4Start:
    case ContentClass::RawStart:
    case ContentClass::AviStart:
    case ContentClass::TsStart:
    case ContentClass::PsStart: return Verdict::Foreign;
    case ContentClass::JpegStart:
        return claim == Claim::Unbounded || IsPhotoStart(bytes, length) ? Verdict::Foreign : Verdict::Inside;
    default: return Verdict::Inside;
    }
}

}  // namespace

uint64_t ProvenLength(SearchSession& session, uint64_t start, uint64_t from, uint64_t to, Claim claim,
                      const std::vector<uint64_t>* ownStarts) {
    if (!session.volume || session.volume->clusterSize == 0) return to;
    DiskVolume& volume = *session.volume;
    const uint64_t cs = volume.clusterSize;
    to = std::min(to, CarvedBytes(volume, start).limit());
    ClusterWindow window(volume, start, session.sequential);
    uint64_t k = (from + cs - 1) / cs;  // the first cluster starting at or after `from`
    uint64_t fillFrom = UINT64_MAX;     // the first cluster of the run of fill the scan is in
    window.Advance(k);
    for (; k * cs < to; ++k, window.Advance(1)) {
        if (!window.Read()) {
            to = k * cs;
            break;
        }
        const bool own = ownStarts && std::binary_search(ownStarts->begin(), ownStarts->end(), k * cs);
        const Verdict verdict = Judge(volume, window.data(), cs, claim, own);
        if (verdict == Verdict::Fill) {
            fillFrom = std::min(fillFrom, k);
            if (claim == Claim::Unbounded || (k + 1 - fillFrom) * cs >= kLongFill) {
                to = fillFrom * cs;
                break;
            }
            continue;
        }
        if (verdict == Verdict::Foreign) {
            // Fill just before another file's start was never this one's either.
            to = std::min(fillFrom, k) * cs;
            break;
        }
        fillFrom = UINT64_MAX;
        if (session.Cancelled()) break;
    }
    // Data that ends in fill up to the claimed end ends where the fill begins.
    if (fillFrom != UINT64_MAX) to = std::min(to, fillFrom * cs);
    return LengthBeforeLiveCluster(session, start, to);
}

}  // namespace veld
