// Start codes (big-endian u32 0x000001xx):
//   BA  pack header. MPEG-2: byte 4 begins with bits 01; 14 bytes, plus the
//       stuffing count in the low 3 bits of byte 13. MPEG-1: byte 4 begins
//       with bits 0010; 12 bytes. Both carry a 33-bit system clock reference
//       (90 kHz) in bytes 4 to 8, split by marker bits.
//   B9  program end code (4 bytes): the clip ends after it
//   BB  system header, BC and up: packets; u16 length of the rest at 4
//   B3  (inside a video packet) sequence header: 12-bit width, 12-bit height
#include "finder/mpeg_ps_walk.h"

#include <algorithm>

#include "base/byte_reader.h"
#include "finder/cluster_window.h"
#include "finder/file_starts.h"
#include "finder/media_format.h"
#include "volume/cluster_map.h"

namespace veld {
namespace {

using mpegps::kEndCode;
using mpegps::kPackHeader;
using mpegps::kSystemHeader;
constexpr uint32_t kSequenceHeader = 0x000001B3;
constexpr uint64_t kPacketLength = 4;  // u16 after the start code
constexpr uint64_t kScrWrap = 1ull << 33;


bool IsStartCode(const ByteReader& r, uint64_t o) { return (r.be32(o) >> 8) == 1 && r.ok(); }

void ReadSequenceSize(const uint8_t* bytes, size_t length, MediaInfo* media) {
    const ByteReader r(bytes, length);
    for (size_t i = 0; i + 7 <= length; ++i) {
        if (bytes[i] != 0 || r.be32(i) != kSequenceHeader) continue;
        media->width = (r.u8(i + 4) << 4) | (r.u8(i + 5) >> 4);
        media->height = ((r.u8(i + 5) & 0x0F) << 8) | r.u8(i + 6);
        return;
    }
}

}  // namespace


uint64_t WalkMpegPs(SearchSession& session, uint64_t start, MediaInfo* media) {
    if (!media) return 0;
    *media = MediaInfo{};
    if (!session.volume) return 0;
    ClusterWindow window(*session.volume, start, session.sequential);
    if (!window.usable()) return 0;
    const uint64_t cs = window.clusterSize();
    uint64_t p = 0;  // next start code, from the clip's first byte
    uint64_t end = 0;
    bool cut = false;  // the source ended before the packs did
    bool first = true;
    uint64_t firstScr = 0, lastScr = 0;
    bool haveScr = false;
    for (;;) {
        if (!window.Read()) {
            end = p;  // the source ends: what came before is kept
            cut = !first;
            break;
        }
        if (window.FirstClusterUniform()) {
            end = p;  // the packs stop here (many recorders write no end code)
            break;
        }
        const uint64_t windowStart = (window.cluster() - start) * cs;
        const ByteReader r = window.reader();
        if (first) {
            if (!IsMpegPsStart(window.data(), window.bytesRead())) return 0;
            ReadSequenceSize(window.data(), window.bytesRead(), media);
            first = false;
        }
        bool stopped = false;
        while (p < windowStart + cs) {
            const uint64_t o = p - windowStart;
            const uint32_t code = r.be32(o);
            uint64_t length = 0;
            if (!IsStartCode(r, o)) {
                stopped = true;
            } else if (code == kEndCode) {
                p += 4;
                stopped = true;
            } else if (code == kPackHeader) {
                uint64_t scr = 0;
                length = MpegPackLength(r, o, &scr);
                if (length == 0) stopped = true;
                // A pack at a cluster's start whose clock goes back is the
                // first of the next recording, written right after this one.
                if (haveScr && o == 0 && p > 0 && scr < lastScr && IsMpegPsStart(window.data(), window.bytesRead()))
                    stopped = true;
                if (stopped) break;
                if (!haveScr) firstScr = scr;
                lastScr = scr;
                haveScr = true;
            } else if ((code & 0xFF) >= (kSystemHeader & 0xFF)) {
                length = kPacketLength + 2 + r.be16(o + kPacketLength);
            } else {
                stopped = true;
            }
            if (stopped) break;
            p += length;
        }
        if (stopped) {
            end = p;
            break;
        }
        if (p > kMaxCarvedLength) {
            end = 0;
            break;
        }
        window.Advance((p - windowStart) / cs);
        session.progress.Report(PhaseMp4Window, double(window.cluster()), "");
    }
    if (end == 0 || end > kMaxCarvedLength) return 0;
    media->format = FormatMpg;
    media->length = uint32_t(end);
    media->partlyMissing = cut ? 1 : 0;
    if (haveScr) media->durationMs = uint32_t(((lastScr + kScrWrap - firstScr) % kScrWrap) / 90);
    const uint64_t last = start + (end - 1) / cs;
    media->clusterCount = uint32_t(last - start + 1);
    return last;
}

}  // namespace veld
