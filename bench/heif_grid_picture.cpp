// Box layouts written here (big-endian; a full box has u8 version and u24
// flags after its 8-byte header):
//   ftyp  major brand, u32 minor version, compatible brands
//   meta  full box: hdlr, pitm, iinf, iref (grid only), iprp, iloc
//   hdlr  full box: u32 0, handler "pict", 3 x u32 0, name "\0"
//   pitm  full box v0: u16 primary item
//   iinf  full box v0: u16 count, then "infe" v2: u16 item, u16 protection,
//         4-char type, name "\0"
//   iref  full box v0: "dimg" box: u16 from item, u16 count, u16 per target
//   iprp  "ipco" (properties, numbered from 1), "ipma" full box v0: u32
//         entries; per entry u16 item, u8 count, u8 per property (top bit:
//         essential)
//   iloc  full box v0: u8 offset size 4 | length size 4, u8 0, u16 count;
//         per item u16 item, u16 data reference 0, u16 extents 1, u32 offset
//         (from the file's start), u32 length
//   grid  item data: u8 version 0, u8 flags 0 (16-bit sizes), u8 rows - 1,
//         u8 columns - 1, u16 output width, u16 output height
//   hvcC  u8 1, u8 profile space/tier/profile, u32 compatibility flags,
//         6 bytes constraint flags, u8 level, u16 0xF000, u8 0xFC, u8 0xFC |
//         chroma format, u8 0xF8 | luma depth - 8, u8 0xF8 | chroma depth - 8,
//         u16 frame rate 0, u8 layers and length size (4 bytes), u8 arrays;
//         per array u8 0x80 | NAL type, u16 1, u16 length, the NAL unit
#include "heif_grid_picture.h"

#include <cstring>

namespace veld::bench {
namespace {

using Bytes = std::vector<uint8_t>;

constexpr uint8_t kNalVps = 32, kNalSps = 33, kNalPps = 34;
constexpr uint8_t kLastSliceType = 31;  // NAL types 0..31 carry picture data
constexpr uint16_t kGridItem = 1, kTileItem = 2;

class Writer {
public:
    void U8(uint32_t v) { out_.push_back(uint8_t(v)); }
    void U16(uint32_t v) { U8(v >> 8), U8(v); }
    void U32(uint32_t v) { U16(v >> 16), U16(v); }
    void Text(const char* s, size_t n) { out_.insert(out_.end(), s, s + n); }
    void Put(const Bytes& b) { out_.insert(out_.end(), b.begin(), b.end()); }
    // Opens a box; Close patches its size.
    size_t Open(const char* type) {
        const size_t at = out_.size();
        U32(0);
        Text(type, 4);
        return at;
    }
    size_t OpenFull(const char* type, uint8_t version, uint32_t flags) {
        const size_t at = Open(type);
        U8(version);
        U8(flags >> 16), U8(flags >> 8), U8(flags);
        return at;
    }
    void Close(size_t at) {
        const uint32_t size = uint32_t(out_.size() - at);
        for (int k = 0; k < 4; ++k) out_[at + size_t(k)] = uint8_t(size >> (24 - 8 * k));
    }
    void PatchU32(size_t at, uint32_t v) {
        for (int k = 0; k < 4; ++k) out_[at + size_t(k)] = uint8_t(v >> (24 - 8 * k));
    }
    size_t size() const { return out_.size(); }
    Bytes& bytes() { return out_; }

private:
    Bytes out_;
};

// The NAL units of an Annex B stream, start codes and trailing zeros removed.
std::vector<Bytes> NalUnits(const Bytes& s) {
    std::vector<Bytes> units;
    size_t i = 0, start = SIZE_MAX;
    auto finish = [&](size_t end) {
        if (start == SIZE_MAX) return;
        while (end > start && s[end - 1] == 0) --end;
        if (end > start) units.emplace_back(s.begin() + std::ptrdiff_t(start), s.begin() + std::ptrdiff_t(end));
    };
    while (i + 3 <= s.size()) {
        if (s[i] == 0 && s[i + 1] == 0 && s[i + 2] == 1) {
            finish(i);
            i += 3;
            start = i;
        } else {
            ++i;
        }
    }
    finish(s.size());
    return units;
}

uint8_t NalType(const Bytes& unit) { return uint8_t((unit[0] >> 1) & 0x3F); }

// The SPS payload without emulation prevention bytes (00 00 03 -> 00 00).
Bytes Rbsp(const Bytes& unit) {
    Bytes out;
    int zeros = 0;
    for (size_t i = 2; i < unit.size(); ++i) {
        if (zeros >= 2 && unit[i] == 3) {
            zeros = 0;
            continue;
        }
        zeros = unit[i] == 0 ? zeros + 1 : 0;
        out.push_back(unit[i]);
    }
    return out;
}

// hvcC from the parameter sets; the profile, tier and level bytes are the
// SPS's own (its profile_tier_level follows a first byte of IDs and flags).
Bytes HvcC(const Bytes& vps, const Bytes& sps, const Bytes& pps) {
    const Bytes r = Rbsp(sps);
    Writer w;
    w.U8(1);
    for (size_t k = 1; k <= 12; ++k) w.U8(k < r.size() ? r[k] : 0);  // profile .. level
    w.U16(0xF000);
    w.U8(0xFC);
    w.U8(0xFC | 1);  // 4:2:0
    w.U8(0xF8);      // 8-bit luma
    w.U8(0xF8);      // 8-bit chroma
    w.U16(0);
    w.U8((1 << 3) | (1 << 2) | 3);  // one temporal layer, nested, 4-byte lengths
    w.U8(3);
    for (const Bytes* unit : {&vps, &sps, &pps}) {
        w.U8(0x80 | NalType(*unit));
        w.U16(1);
        w.U16(uint32_t(unit->size()));
        w.Put(*unit);
    }
    return w.bytes();
}

void Infe(Writer& w, uint16_t item, const char* type, bool hidden) {
    const size_t infe = w.OpenFull("infe", 2, hidden ? 1 : 0);
    w.U16(item);
    w.U16(0);
    w.Text(type, 4);
    w.U8(0);
    w.Close(infe);
}

void Ispe(Writer& w, uint32_t width, uint32_t height) {
    const size_t ispe = w.OpenFull("ispe", 0, 0);
    w.U32(width);
    w.U32(height);
    w.Close(ispe);
}

}  // namespace

std::vector<uint8_t> MakeHeifPicture(const std::vector<uint8_t>& annexB, uint32_t tileWidth, uint32_t tileHeight,
                                     const HeifGrid* grid, std::string* why) {
    Bytes vps, sps, pps, slices;
    for (const Bytes& unit : NalUnits(annexB)) {
        const uint8_t type = NalType(unit);
        if (type == kNalVps && vps.empty()) vps = unit;
        if (type == kNalSps && sps.empty()) sps = unit;
        if (type == kNalPps && pps.empty()) pps = unit;
        if (type <= kLastSliceType) {
            for (int k = 0; k < 4; ++k) slices.push_back(uint8_t(unit.size() >> (24 - 8 * k)));
            slices.insert(slices.end(), unit.begin(), unit.end());
        }
    }
    if (vps.empty() || sps.empty() || pps.empty() || slices.empty()) {
        if (why) *why = "the HEVC stream lacks a VPS, SPS, PPS or slice";
        return {};
    }
    const uint16_t tileItem = grid ? kTileItem : kGridItem;
    Bytes gridData;
    if (grid) {
        Writer g;
        g.U8(0);
        g.U8(0);
        g.U8(grid->rows - 1);
        g.U8(grid->columns - 1);
        g.U16(grid->outputWidth);
        g.U16(grid->outputHeight);
        gridData = g.bytes();
    }

    Writer w;
    const size_t ftyp = w.Open("ftyp");
    w.Text("heic", 4);
    w.U32(0);
    w.Text("mif1heic", 8);
    w.Close(ftyp);

    const size_t meta = w.OpenFull("meta", 0, 0);
    const size_t hdlr = w.OpenFull("hdlr", 0, 0);
    w.U32(0);
    w.Text("pict", 4);
    w.U32(0), w.U32(0), w.U32(0);
    w.U8(0);
    w.Close(hdlr);
    const size_t pitm = w.OpenFull("pitm", 0, 0);
    w.U16(kGridItem);
    w.Close(pitm);
    const size_t iinf = w.OpenFull("iinf", 0, 0);
    w.U16(grid ? 2 : 1);
    if (grid) Infe(w, kGridItem, "grid", false);
    Infe(w, tileItem, "hvc1", grid != nullptr);
    w.Close(iinf);
    if (grid) {
        const size_t iref = w.OpenFull("iref", 0, 0);
        const size_t dimg = w.Open("dimg");
        const uint32_t tiles = grid->rows * grid->columns;
        w.U16(kGridItem);
        w.U16(tiles);
        for (uint32_t k = 0; k < tiles; ++k) w.U16(kTileItem);
        w.Close(dimg);
        w.Close(iref);
    }
    const size_t iprp = w.Open("iprp");
    const size_t ipco = w.Open("ipco");
    const size_t hvcC = w.Open("hvcC");  // property 1
    w.Put(HvcC(vps, sps, pps));
    w.Close(hvcC);
    Ispe(w, tileWidth, tileHeight);  // property 2
    if (grid) Ispe(w, grid->ispeWidth, grid->ispeHeight);  // property 3
    w.Close(ipco);
    const size_t ipma = w.OpenFull("ipma", 0, 0);
    w.U32(grid ? 2 : 1);
    if (grid) {
        w.U16(kGridItem);
        w.U8(1);
        w.U8(3);
    }
    w.U16(tileItem);
    w.U8(2);
    w.U8(0x80 | 1);
    w.U8(2);
    w.Close(ipma);
    w.Close(iprp);
    const size_t iloc = w.OpenFull("iloc", 0, 0);
    w.U8(0x44);
    w.U8(0);
    w.U16(grid ? 2 : 1);
    size_t gridOffsetAt = 0, tileOffsetAt = 0;
    if (grid) {
        w.U16(kGridItem);
        w.U16(0);
        w.U16(1);
        gridOffsetAt = w.size();
        w.U32(0);
        w.U32(uint32_t(gridData.size()));
    }
    w.U16(tileItem);
    w.U16(0);
    w.U16(1);
    tileOffsetAt = w.size();
    w.U32(0);
    w.U32(uint32_t(slices.size()));
    w.Close(iloc);
    w.Close(meta);

    const size_t mdat = w.Open("mdat");
    if (grid) {
        w.PatchU32(gridOffsetAt, uint32_t(w.size()));
        w.Put(gridData);
    }
    w.PatchU32(tileOffsetAt, uint32_t(w.size()));
    w.Put(slices);
    w.Close(mdat);
    return w.bytes();
}

}  // namespace veld::bench
