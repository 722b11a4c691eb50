// Box layouts read here (all big-endian; a "full box" has a u8 version and a
// u24 flags after its header):
//   meta  full box; child boxes follow
//   pitm  full box; primary item ID: u16 (version 0) or u32
//   iinf  full box; entry count u16 (version 0) or u32; "infe" boxes follow
//   infe  full box (version 2 or 3): item ID u16 (v2) or u32 (v3), u16
//         protection index, 4-character item type ("Exif", "hvc1", ...)
//   iloc  full box; u4 offset size, u4 length size, u4 base offset size,
//         u4 index size (versions 1, 2); item count u16 (v < 2) or u32; per
//         item: ID u16 (v < 2) or u32, (v 1, 2) u16 construction method (low
//         4 bits: 0 file offset, 1 inside "idat", 2 another item), u16 data
//         reference index, base offset, u16 extent count, per extent: (v 1,
//         2 with index size) index, offset, length
//   iprp  holds "ipco" (property boxes, numbered from 1) and "ipma"
//   ispe  full box; u32 width, u32 height
//   iref  full box; per reference a box of its type ("dimg": the tiles of a
//         grid): from item ID u16 (version 0) or u32, u16 count, the IDs
//   idat  the data of items whose construction method is 1
//   grid  (an item's data) u8 version, u8 flags (bit 0: 32-bit sizes), u8
//         rows - 1, u8 columns - 1, output width and height u16 or u32
//   ipma  full box; u32 entry count; per entry: item ID u16 (version 0) or
//         u32, u8 association count, per association u8 (flags bit 0 clear)
//         or u16: top bit essential, the rest the property's number
//   mvhd  full box; version 0: u32 creation, u32 modification, u32 time
//         scale, u32 duration; version 1: u64, u64, u32, u64
//   tkhd  full box; width and height as 16.16 fixed point at 84/88
//         (version 0) or 96/100 (version 1) from the box's start
#include "finder/isobmff_boxes.h"

#include <algorithm>
#include <cstring>

namespace veld {

const uint8_t kCanonPreviewUuid[16] = {0xea, 0xf4, 0x2b, 0x5e, 0x1c, 0x98, 0x4b, 0x88,
                                       0xb9, 0xfb, 0xb7, 0xdc, 0x40, 0x6e, 0x4d, 0x16};
const uint8_t kCanonMetadataUuid[16] = {0x85, 0xc0, 0xb6, 0x87, 0x82, 0x0f, 0x11, 0xe0,
                                        0x81, 0x11, 0xf4, 0xce, 0x46, 0x2b, 0x6a, 0x48};

namespace {

constexpr uint32_t kFullBoxHeader = 12;  // header, u8 version, u24 flags
constexpr int kMaxItems = 4096;           // more items than any camera writes
constexpr int kMaxExtents = 4096;
constexpr int kMaxBoxes = 4096;           // children of one box looked at
// Tile references of a grid counted; a grid of more is refused anyway (its
// tiles' pixels alone pass any decode limit).
constexpr size_t kMaxTileReferences = 1 << 16;

// Reads an unsigned value of 0, 4 or 8 bytes (the sizes iloc allows).
uint64_t SizedValue(const ByteReader& r, uint64_t at, unsigned bytes) {
    if (bytes == 4) return r.be32(at);
    if (bytes == 8) return r.be64(at);
    return 0;
}

// Calls visit(header, offset) for each child box in [from, end).
template <typename Visit>
void ForEachBox(const ByteReader& r, uint64_t from, uint64_t end, Visit visit) {
    uint64_t at = from;
    for (int n = 0; n < kMaxBoxes && at + 8 <= end; ++n) {
        const BoxHeader box = ReadBoxHeader(r, at, end);
        if (box.size == 0) return;
        visit(box, at);
        at += box.size;
    }
}

void ParseIloc(const ByteReader& r, uint64_t at, uint64_t end, HeifMeta* meta, uint32_t exifItem, bool haveExif,
               uint32_t primary) {
    const uint8_t version = r.u8(at + 8);
    uint64_t p = at + kFullBoxHeader;
    const uint8_t sizes1 = r.u8(p), sizes2 = r.u8(p + 1);
    const unsigned offsetSize = sizes1 >> 4, lengthSize = sizes1 & 15, baseSize = sizes2 >> 4;
    const unsigned indexSize = (version == 1 || version == 2) ? (sizes2 & 15) : 0;
    p += 2;
    uint32_t items;
    if (version < 2) {
        items = r.be16(p);
        p += 2;
    } else {
        items = r.be32(p);
        p += 4;
    }
    meta->parsed = true;
    for (uint32_t i = 0; i < items && i < uint32_t(kMaxItems) && p < end; ++i) {
        uint32_t id;
        if (version < 2) {
            id = r.be16(p);
            p += 2;
        } else {
            id = r.be32(p);
            p += 4;
        }
        unsigned method = 0;
        if (version == 1 || version == 2) {
            method = r.be16(p) & 15;
            p += 2;
        }
        p += 2;  // data reference index
        const uint64_t base = SizedValue(r, p, baseSize);
        p += baseSize;
        const uint16_t extents = r.be16(p);
        p += 2;
        for (uint16_t e = 0; e < extents && e < kMaxExtents && p <= end; ++e) {
            p += indexSize;
            const uint64_t offset = SizedValue(r, p, offsetSize);
            p += offsetSize;
            const uint64_t length = SizedValue(r, p, lengthSize);
            p += lengthSize;
            if (!r.has(p - lengthSize, lengthSize) && lengthSize) return;  // ran off the bytes
            if (id == primary && e == 0 && method <= 1) {
                meta->primaryData = FileExtent{base + offset, length};
                meta->primaryInIdat = method == 1;
            }
            if (method != 0) continue;  // inside "idat" or another item: no bytes of its own in the file
            const uint64_t from = base + offset;
            if (from < base || from + length < from) continue;  // wraps: damaged
            meta->dataEnd = std::max(meta->dataEnd, from + length);
            if (haveExif && id == exifItem) meta->exif.push_back(FileExtent{from, length});
        }
    }
}

}  // namespace

BoxHeader ReadBoxHeader(const ByteReader& bytes, uint64_t offset, uint64_t end) {
    BoxHeader box;
    if (!bytes.has(offset, 8) || offset + 8 > end) return box;
    const uint32_t size32 = bytes.be32(offset);
    std::memcpy(box.type, bytes.data() + offset + 4, 4);
    uint64_t size = size32;
    if (size32 == 1) {
        if (!bytes.has(offset + 8, 8)) return box;
        size = bytes.be64(offset + 8);
        box.headerSize = 16;
    } else if (size32 == 0) {
        size = end - offset;
    }
    if (size < box.headerSize || size > end - offset) return BoxHeader{};
    box.size = size;
    return box;
}

HeifMeta ParseHeifMeta(const ByteReader& r) {
    HeifMeta meta;
    const BoxHeader top = ReadBoxHeader(r, 0, r.size());
    if (top.size == 0 || !top.is("meta")) return meta;
    const uint64_t end = top.size;
    const uint64_t children = top.headerSize + 4;

    uint32_t primary = 0;
    uint32_t exifItem = 0;
    bool haveExif = false;
    uint64_t ilocAt = 0, ilocEnd = 0;
    uint64_t ipcoAt = 0, ipcoEnd = 0, ipmaAt = 0, ipmaEnd = 0;
    uint64_t irefAt = 0, irefEnd = 0;
    std::vector<uint32_t> gridItems;  // items of type "grid"
    ForEachBox(r, children, end, [&](const BoxHeader& box, uint64_t at) {
        const uint64_t boxEnd = at + box.size;
        if (box.is("idat")) {
            meta.idat = FileExtent{at + box.headerSize, box.size - box.headerSize};
        } else if (box.is("iref")) {
            irefAt = at;
            irefEnd = boxEnd;
        } else if (box.is("pitm")) {
            primary = r.u8(at + 8) == 0 ? r.be16(at + kFullBoxHeader) : r.be32(at + kFullBoxHeader);
        } else if (box.is("iinf")) {
            const uint8_t version = r.u8(at + 8);
            const uint64_t first = at + kFullBoxHeader + (version == 0 ? 2 : 4);
            ForEachBox(r, first, boxEnd, [&](const BoxHeader& infe, uint64_t e) {
                if (!infe.is("infe")) return;
                const uint8_t v = r.u8(e + 8);
                if (v < 2) return;
                const uint64_t p = e + kFullBoxHeader;
                const uint32_t id = v == 2 ? r.be16(p) : r.be32(p);
                const uint64_t typeAt = p + (v == 2 ? 2 : 4) + 2;
                if (r.equals(typeAt, "grid", 4) && gridItems.size() < size_t(kMaxItems)) gridItems.push_back(id);
                if (!haveExif && r.equals(typeAt, "Exif", 4)) {
                    exifItem = id;
                    haveExif = true;
                }
            });
        } else if (box.is("iloc")) {
            ilocAt = at;
            ilocEnd = boxEnd;
        } else if (box.is("iprp")) {
            ForEachBox(r, at + box.headerSize, boxEnd, [&](const BoxHeader& child, uint64_t c) {
                if (child.is("ipco")) {
                    ipcoAt = c + child.headerSize;
                    ipcoEnd = c + child.size;
                } else if (child.is("ipma")) {
                    ipmaAt = c;
                    ipmaEnd = c + child.size;
                }
            });
        }
    });
    if (ilocEnd) ParseIloc(r, ilocAt, ilocEnd, &meta, exifItem, haveExif, primary);
    meta.primaryIsGrid = std::find(gridItems.begin(), gridItems.end(), primary) != gridItems.end();

    // The tiles a grid primary references, each reference once.
    std::vector<uint32_t> tiles;
    if (meta.primaryIsGrid && irefEnd) {
        const bool wideIds = r.u8(irefAt + 8) != 0;
        const unsigned idSize = wideIds ? 4 : 2;
        ForEachBox(r, irefAt + kFullBoxHeader, irefEnd, [&](const BoxHeader& ref, uint64_t q) {
            const uint64_t p = q + ref.headerSize;
            if (!ref.is("dimg") || (wideIds ? r.be32(p) : r.be16(p)) != primary) return;
            const uint16_t count = r.be16(p + idSize);
            for (uint32_t k = 0; k < count && tiles.size() < kMaxTileReferences &&
                                 r.has(p + idSize + 2 + uint64_t(k) * idSize, idSize);
                 ++k) {
                const uint64_t at = p + idSize + 2 + uint64_t(k) * idSize;
                tiles.push_back(wideIds ? r.be32(at) : r.be16(at));
            }
        });
    }

    std::sort(tiles.begin(), tiles.end());
    // The items' properties: the first "ispe" of the primary item, and of
    // each tile.
    if (ipmaEnd && ipcoEnd) {
        const uint8_t version = r.u8(ipmaAt + 8);
        const bool wideIndex = (r.u8(ipmaAt + 11) & 1) != 0;
        uint64_t p = ipmaAt + kFullBoxHeader;
        const uint32_t entries = r.be32(p);
        p += 4;
        for (uint32_t i = 0; i < entries && i < uint32_t(kMaxItems) && p < ipmaEnd; ++i) {
            const uint32_t id = version < 1 ? r.be16(p) : r.be32(p);
            p += version < 1 ? 2 : 4;
            const uint8_t count = r.u8(p);
            p += 1;
            for (uint8_t k = 0; k < count && p < ipmaEnd; ++k) {
                const uint32_t index = wideIndex ? (r.be16(p) & 0x7FFF) : (r.u8(p) & 0x7F);
                p += wideIndex ? 2 : 1;
                if (index == 0) continue;
                const bool isPrimary = id == primary && meta.width == 0;
                const auto same = std::equal_range(tiles.begin(), tiles.end(), id);
                const uint64_t references = uint64_t(same.second - same.first);
                if (!isPrimary && references == 0) continue;
                uint32_t n = 0;
                ForEachBox(r, ipcoAt, ipcoEnd, [&](const BoxHeader& property, uint64_t q) {
                    if (++n != index || !property.is("ispe")) return;
                    const uint32_t w = r.be32(q + kFullBoxHeader), h = r.be32(q + kFullBoxHeader + 4);
                    if (isPrimary) {
                        meta.width = int32_t(std::min<uint32_t>(w, INT32_MAX));
                        meta.height = int32_t(std::min<uint32_t>(h, INT32_MAX));
                    }
                    // Saturates: a sum past what any decoder takes is refused all the same.
                    const unsigned __int128 pixels = (unsigned __int128)references * w * h + meta.tilePixels;
                    meta.tilePixels = pixels > UINT64_MAX ? UINT64_MAX : uint64_t(pixels);
                });
            }
        }
    }
    return meta;
}

uint64_t HeifDecodePixels(const ByteReader& file) {
    uint64_t at = 0;
    for (int n = 0; n < kMaxBoxes && at + 8 <= file.size(); ++n) {
        const BoxHeader box = ReadBoxHeader(file, at, file.size());
        if (box.size == 0) return 0;
        if (!box.is("meta")) {
            at += box.size;
            continue;
        }
        const ByteReader metaBytes(file.data() + at, size_t(box.size));
        const HeifMeta meta = ParseHeifMeta(metaBytes);
        const uint64_t own = uint64_t(uint32_t(meta.width)) * uint32_t(meta.height);
        if (!meta.primaryIsGrid) return own;
        // The grid's header: where its item's data lies, in the file or in "idat".
        const FileExtent data = meta.primaryData;
        uint64_t from = data.offset;
        const ByteReader* in = &file;
        if (meta.primaryInIdat) {
            if (data.offset > meta.idat.length) return UINT64_MAX;
            from = meta.idat.offset + data.offset;
            in = &metaBytes;
        }
        const bool wide = (in->u8(from + 1) & 1) != 0;
        const uint64_t width = wide ? in->be32(from + 4) : in->be16(from + 4);
        const uint64_t height = wide ? in->be32(from + 8) : in->be16(from + 6);
        if (!in->has(from, wide ? 12 : 8)) return UINT64_MAX;
        return std::max({own, width * height, meta.tilePixels});
    }
    return 0;
}

MovieHeader ParseMoov(const ByteReader& r) {
    MovieHeader movie;
    const BoxHeader top = ReadBoxHeader(r, 0, UINT64_MAX);
    if (!r.has(0, 8) || !r.equals(4, "moov", 4)) return movie;
    // A moov read only in part still yields what lies in the bytes read.
    const uint64_t end = top.size ? std::min<uint64_t>(top.size, r.size()) : r.size();
    ForEachBox(r, 8, end, [&](const BoxHeader& box, uint64_t at) {
        if (box.is("mvhd")) {
            const uint8_t version = r.u8(at + 8);
            const uint64_t p = at + kFullBoxHeader;
            uint64_t timescale, duration;
            if (version == 1) {
                movie.created = r.be64(p);
                timescale = r.be32(p + 16);
                duration = r.be64(p + 20);
            } else {
                movie.created = r.be32(p);
                timescale = r.be32(p + 8);
                duration = r.be32(p + 12);
            }
            if (timescale != 0 && duration != UINT64_MAX && duration != 0xFFFFFFFFu)
                movie.durationMs = duration / timescale * 1000 + duration % timescale * 1000 / timescale;
        } else if (box.is("trak") && movie.width == 0) {
            ForEachBox(r, at + box.headerSize, at + box.size, [&](const BoxHeader& child, uint64_t c) {
                if (!child.is("tkhd")) return;
                const bool v1 = r.u8(c + 8) == 1;
                const uint32_t w = r.be32(c + (v1 ? 96 : 84)) >> 16;
                const uint32_t h = r.be32(c + (v1 ? 100 : 88)) >> 16;
                if (w != 0 && h != 0 && movie.width == 0) {
                    movie.width = int32_t(w);
                    movie.height = int32_t(h);
                }
            });
        } else if (box.is("uuid") && r.has(at + 8, 16) && std::memcmp(r.data() + at + 8, kCanonMetadataUuid, 16) == 0) {
            ForEachBox(r, at + 24, at + box.size, [&](const BoxHeader& child, uint64_t c) {
                const FileExtent tiff{c + child.headerSize, child.size - child.headerSize};
                if (child.is("CMT1")) movie.cmt1 = tiff;
                else if (child.is("CMT2")) movie.cmt2 = tiff;
                else if (child.is("CMT4")) movie.cmt4 = tiff;
            });
        }
    });
    return movie;
}

}  // namespace veld
