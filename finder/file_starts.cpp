#include "finder/file_starts.h"

namespace veld {

bool IsRawStart(const uint8_t* bytes, size_t length) {
    const ByteReader r(bytes, length);
    if (r.equals(0, raf::Magic, 16)) return true;
    bool big;
    if (r.equals(tiffhdr::ByteOrder, "II", 2)) big = false;
    else if (r.equals(tiffhdr::ByteOrder, "MM", 2)) big = true;
    else return false;
    const uint16_t magic = r.u16(tiffhdr::Magic, big);
    if (magic != tiffhdr::kTiff && magic != tiffhdr::kOrf && magic != tiffhdr::kOrfS && magic != tiffhdr::kRw2) return false;
    const uint32_t ifd = r.u32(tiffhdr::FirstIfd, big);
    // IFD0 follows the header, at an even offset a camera would write.
    return r.ok() && ifd >= 8 && ifd < (64u << 20) && ifd % 2 == 0;
}

bool IsAviStart(const uint8_t* bytes, size_t length) {
    const ByteReader r(bytes, length);
    return r.equals(0, "RIFF", 4) && r.equals(8, "AVI ", 4) && r.le32(4) >= 4;
}

bool IsMpegTsStart(const uint8_t* bytes, size_t length) {
    const ByteReader r(bytes, length);
    if (length < 2 * mpegts::kPacket) return false;
    for (uint64_t p = 0; p + mpegts::kSync < length; p += mpegts::kPacket)
        if (r.u8(p + mpegts::kSync) != mpegts::kSyncByte) return false;
    const uint16_t pid = uint16_t(((r.u8(5) & 0x1F) << 8) | r.u8(6));
    const bool unitStart = (r.u8(5) & 0x40) != 0;
    return unitStart && (pid == mpegts::kPidPat || pid == mpegts::kPidSdt);
}

uint64_t MpegPackLength(const ByteReader& r, uint64_t o, uint64_t* scr) {
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

bool IsMpegPsStart(const uint8_t* bytes, size_t length) {
    const ByteReader r(bytes, length);
    uint64_t scr = 0;
    if (r.be32(0) != mpegps::kPackHeader || !r.ok()) return false;
    const uint64_t pack = MpegPackLength(r, 0, &scr);
    if (pack == 0) return false;
    const uint32_t next = r.be32(pack);
    return r.ok() && (next >> 8) == 1 && (next & 0xFF) >= 0xB9;
}

}  // namespace veld
