// Packet layout (192 bytes):
//   0  u32  arrival time stamp (2 copy-control bits, 30-bit 27 MHz clock)
//   4  u8   sync byte 0x47
//   5  u16  1 error bit, 1 payload-unit-start bit, 1 priority bit, 13-bit PID
//   7  u8   2 scrambling bits, 2 adaptation-field bits (bit 1: present), 4-bit
//           continuity counter
//   8  u8   adaptation field length; 9 u8 flags (0x10: a PCR follows)
//  10  33-bit program clock reference base (90 kHz), 6 reserved bits, 9-bit
//      extension
#include "finder/mpeg_ts_walk.h"

#include <algorithm>

#include "base/byte_reader.h"
#include "finder/cluster_window.h"
#include "finder/file_starts.h"
#include "finder/media_format.h"
#include "volume/cluster_map.h"

namespace veld {
namespace {

using mpegts::kPacket;
using mpegts::kSync;
using mpegts::kSyncByte;
constexpr uint64_t kPcrWrap = 1ull << 33;
constexpr uint64_t kMinPackets = 4;

struct PcrClock {
    int pid = -1;      // the PID whose references are followed
    uint64_t last = 0;
    uint64_t elapsed = 0;  // 90 kHz ticks

    void See(const ByteReader& r, uint64_t packet) {
        const uint8_t control = r.u8(packet + 7);
        if (!(control & 0x20) || r.u8(packet + 8) < 7 || !(r.u8(packet + 9) & 0x10)) return;
        const int pid = ((r.u8(packet + 5) & 0x1F) << 8) | r.u8(packet + 6);
        if (pid != this->pid && this->pid >= 0) return;
        const uint64_t base = (uint64_t(r.be32(packet + 10)) << 1) | (r.u8(packet + 14) >> 7);
        if (this->pid >= 0) {
            const uint64_t step = (base + kPcrWrap - last) % kPcrWrap;
            if (step < kPcrWrap / 2) elapsed += step;  // a jump backwards is a discontinuity: ignored
        }
        this->pid = pid;
        last = base;
    }
};

}  // namespace


uint64_t WalkMpegTs(SearchSession& session, uint64_t start, MediaInfo* media) {
    if (!media) return 0;
    *media = MediaInfo{};
    if (!session.volume) return 0;
    ClusterWindow window(*session.volume, start, session.sequential);
    if (!window.usable()) return 0;
    const uint64_t cs = window.clusterSize();
    uint64_t p = 0;        // next packet, from the clip's first byte
    uint64_t end = 0;
    PcrClock clock;
    bool first = true;
    for (;;) {
        if (!window.Read()) {
            // The source ends: whole packets before this window are kept.
            const uint64_t readable = (window.cluster() - start) * cs;
            end = p;
            while (end > readable) end -= kPacket;
            break;
        }
        const uint64_t windowStart = (window.cluster() - start) * cs;
        const ByteReader r = window.reader();
        if (first && !IsMpegTsStart(window.data(), cs)) return 0;
        first = false;
        bool ended = false;
        while (p + kSync < windowStart + cs) {
            const uint64_t at = p - windowStart;
            if (r.u8(at + kSync) != kSyncByte) {
                ended = true;
                break;
            }
            if (r.has(at, kPacket)) clock.See(r, at);
            p += kPacket;
        }
        if (ended) {
            end = p;
            break;
        }
        if (p > kMaxCarvedLength) {
            end = p - kPacket;
            break;
        }
        window.Advance(1);
        session.progress.Report(PhaseMp4Window, double(window.cluster()), "");
    }
    if (end < kMinPackets * kPacket || end > kMaxCarvedLength) return 0;
    media->format = FormatMts;
    media->length = uint32_t(end);
    media->durationMs = uint32_t(std::min<uint64_t>(clock.elapsed / 90, UINT32_MAX));
    const uint64_t last = start + (end - 1) / cs;
    media->clusterCount = uint32_t(last - start + 1);
    return last;
}

}  // namespace veld
