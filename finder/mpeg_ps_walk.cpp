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
#include "finder/media_format.h"
#include "volume/cluster_map.h"

namespace veld {
namespace {

constexpr uint32_t kPackHeader = 0x000001BA;
constexpr uint32_t kEndCode = 0x000001B9;
constexpr uint32_t kSystemHeader = 0x000001BB;
constexpr uint32_t kSequenceHeader = 0x000001B3;
constexpr uint64_t kPacketLength = 4;  // u16 after the start code
constexpr uint64_t kScrWrap = 1ull << 33;

// The length of the pack header at o, and its clock reference; 0 when the
// bytes are no pack header.
uint64_t PackLength(const ByteReader& r, uint64_t o, uint64_t* scr) {
    const uint8_t b4 = r.u8(o + 4), b5 = r.u8(o + 5), b6 = r.u8(o + 6), b7 = r.u8(o + 7), b8 = r.u8(o + 8);
    if ((b4 & 0xC0) == 0x40) {
        *scr = (uint64_t(b4 & 0x38) << 27) | (uint64_t(b4 & 0x03) << 28) | (uint64_t(b5) << 20) |
               (uint64_t(b6 & 0xF8) << 12) | (uint64_t(b6 & 0x03) << 13) | (uint64_t(b7) << 5) | (b8 >> 3);
        return 14 + (r.u8(o + 13) & 7);
    }
    if ((b4 & 0xF0) == 0x20) {
        *scr = (uint64_t(b4 & 0x0E) << 29) | (uint64_t(b5) << 22) | (uint64_t(b6 & 0xFE) << 14) | (uint64_t(b7) << 7) |
               (b8 >> 1);
        return 12;
    }
    return 0;
}

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

bool IsMpegPsStart(const uint8_t* bytes, size_t length) {
    const ByteReader r(bytes, length);
    uint64_t scr = 0;
    if (r.be32(0) != kPackHeader || !r.ok()) return false;
    const uint64_t pack = PackLength(r, 0, &scr);
    if (pack == 0) return false;
    const uint32_t next = r.be32(pack);
    return r.ok() && (next >> 8) == 1 && (next & 0xFF) >= 0xB9;
}

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
                length = PackLength(r, o, &scr);
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
