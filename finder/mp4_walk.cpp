// Follows the top-level atoms of an MP4/QuickTime clip from its start cluster
// to find where the clip ends, and registers a carved clip.
//
// Atom header (big-endian):
//   0  u32  size, header included; 1: a u64 size follows the type; 0: the
//           atom runs to the end of the file
//   4  4 bytes type ("ftyp", "moov", "mdat", ...)
//   8  u64  the large size, only when size is 1
// "ftyp" body: 8 major brand, 12 u32 minor version, 16.. compatible brands.
#include "finder/mp4_walk.h"

#include <algorithm>
#include <vector>

#include "base/byte_reader.h"
#include "finder/carved_file.h"
#include "finder/cluster_classifier.h"
#include "finder/cluster_window.h"
#include "finder/registry.h"
#include "volume/boot_sector.h"
#include "volume/cluster_map.h"

namespace veld {
namespace {

constexpr int kAtomSize = 0;       // u32
constexpr int kAtomType = 4;       // 4 characters
constexpr int kAtomLargeSize = 8;  // u64 when the size field is 1
constexpr int kMajorBrand = 8;
constexpr int kMinorVersion = 12;
constexpr int kBrand1 = 16;
constexpr int kBrand2 = 20;
constexpr uint32_t kHeader = 8;
constexpr uint64_t kLargeHeader = 16;


bool Accepted(const ByteReader& r, uint64_t o) {
    // "wide" is QuickTime's 8-byte placeholder before "mdat" (room for a 64-bit
    // size); cameras write it in every MOV clip. "skip" is padding like "free",
    // "uuid" holds a maker's own data (many cameras put one at the top level),
    // "pnot" a QuickTime preview reference.
    static const char* const kTypes[] = {"ftyp", "moov", "mdat", "free", "prfl", "wide", "skip", "uuid", "pnot"};
    for (const char* t : kTypes)
        if (r.equals(o + kAtomType, t, 4)) return true;
    return false;
}

}  // namespace

uint64_t WalkMp4Atoms(SearchSession& session, uint64_t start, Mp4Info* info) {
    if (!info) return 0;
    *info = Mp4Info{};
    if (!session.volume) return 0;
    ClusterWindow window(*session.volume, start, session.sequential);
    if (!window.usable()) return 0;
    const uint32_t cs = window.clusterSize();
    const uint64_t a = start;

    uint64_t o = 0;  // next atom header inside the window
    bool ftyp = false, moov = false, mdat = false;
    uint64_t current = 0;
    bool ok = true;
    bool first = true;

    for (;;) {
        if (!window.Read()) {
            ok = false;  // past the volume, or a failed or short read: the next header is not all there
            break;
        }
        const ByteReader r = window.reader();
        const uint64_t windowCluster = window.cluster();
        // A cluster of one byte value where an atom header should be: the clip
        // was overwritten or never finished. The one exception is a complete
        // clip whose last atom ends exactly at this cluster's start: every byte
        // of it lies before, so it ends here like any other clip.
        if (window.FirstClusterUniform()) {
            const uint64_t length = (windowCluster - a) * cs;
            if (!first && o == 0 && ftyp && moov && mdat && length <= kMaxCarvedLength) {
                info->length = uint32_t(length);
                current = windowCluster - 1;  // the clip's last cluster
            } else {
                ok = false;
            }
            break;
        }
        if (first) {
            if (ClassifyContent(window.data(), cs) != CC_MP4_START) {
                ok = false;
                break;
            }
            first = false;
        }
        info->found = 1;
        current = windowCluster;

        bool finished = false;
        while (o < cs) {
            const uint32_t size32 = r.be32(o + kAtomSize);
            if (!Accepted(r, o)) {
                // The clip ends where the first foreign header begins (normally
                // the zero slack after the last atom).
                if (ftyp && moov && mdat) {
                    const uint64_t length = (current - a) * cs + o;
                    if (length > kMaxCarvedLength) ok = false;
                    else info->length = uint32_t(length);
                } else {
                    ok = false;
                }
                finished = true;
                break;
            }
            // Atom size: 1 takes the 64-bit size after the type. Size 0 ("to the
            // end of the file") gives no end we could find on a card, so the clip's
            // length is unknown: the walk fails. Any other size below a header's
            // length is damage and fails the walk as well; so no atom ever advances
            // the walk by less than 8 bytes.
            uint64_t size = size32;
            if (size32 == 1) {
                size = r.be64(o + kAtomLargeSize);
                if (size < kLargeHeader) {
                    ok = false;
                    finished = true;
                    break;
                }
            } else if (size32 < kHeader) {
                ok = false;
                finished = true;
                break;
            }

            if (r.equals(o + kAtomType, "ftyp", 4)) {
                ftyp = true;
                info->ftypSize = size32;
                if (size32 > 4) info->atomType = r.text(o + kAtomType, 4);
                if (size32 > 8) info->majorBrand = r.text(o + kMajorBrand, 4);
                if (size32 > 12) info->minorVersion = r.be32(o + kMinorVersion);
                if (size32 > 16) info->compatibleBrand1 = r.text(o + kBrand1, 4);
                if (size32 > 20) info->compatibleBrand2 = r.text(o + kBrand2, 4);
            } else if (r.equals(o + kAtomType, "moov", 4)) {
                moov = true;
            } else if (r.equals(o + kAtomType, "mdat", 4)) {
                mdat = true;
            }

            // An atom reaching past the 32-bit length limit ends the walk before the
            // window arithmetic could overflow.
            if (size > kMaxCarvedLength + cs) {
                ok = false;
                finished = true;
                break;
            }
            o += size;
            if (o >= cs) {
                window.Advance(o / cs);
                o %= cs;
                break;
            }
        }
        if (finished || !ok) break;

        session.progress.Report(PhaseMp4Window, double(current), "");
    }

    if (current != 0 && current >= a) info->clusterCount = uint32_t(current - a + 1);
    return ok ? current : 0;
}

void RegisterCarvedMp4(SearchSession& session, const std::string& name, uint32_t length, uint64_t start,
                       const Mp4Info& info) {
    DelFileInfo record = CarvedFileRecord(name, length, start, info.clusterCount, CC_MP4_START);
    record.mp4 = info;
    RegisterFoundFile(session, std::move(record));
}

}  // namespace veld
