#include "support/test_media.h"

#include <algorithm>
#include <map>

namespace veld::test {
namespace {

// A growing file with little- or big-endian fields and later patching.
class Out {
public:
    explicit Out(bool big) : big_(big) {}
    MediaBytes b;

    void U8(uint8_t v) { b.push_back(v); }
    void U16(uint16_t v) { Put(b.size(), v, 2, true); }
    void U32(uint32_t v) { Put(b.size(), v, 4, true); }
    void Text(const std::string& t) { b.insert(b.end(), t.begin(), t.end()); }
    void Bytes(const MediaBytes& d) { b.insert(b.end(), d.begin(), d.end()); }
    void Patch16(size_t at, uint16_t v) { Put(at, v, 2, false); }
    void Patch32(size_t at, uint32_t v) { Put(at, v, 4, false); }
    void Align() {
        if (b.size() & 1) b.push_back(0);
    }
    size_t Append(const MediaBytes& d) {
        Align();
        const size_t at = b.size();
        Bytes(d);
        return at;
    }
    MediaBytes Encode16(uint16_t v) const {
        Out o(big_);
        o.U16(v);
        return o.b;
    }
    MediaBytes Encode32(const std::vector<uint32_t>& values) const {
        Out o(big_);
        for (uint32_t v : values) o.U32(v);
        return o.b;
    }

private:
    void Put(size_t at, uint32_t v, int bytes, bool append) {
        if (append) b.resize(b.size() + size_t(bytes));
        for (int i = 0; i < bytes; ++i) {
            const int shift = big_ ? 8 * (bytes - 1 - i) : 8 * i;
            b[at + size_t(i)] = uint8_t(v >> shift);
        }
    }
    bool big_;
};

struct Entry {
    uint16_t tag, type;
    uint32_t count;
    MediaBytes value;  // in the file's byte order
};

// An IFD at the end of the file, its long values after it. fields receives
// each tag's value position (the inline field, or the appended values);
// returns the IFD's offset, *next the position of its next-IFD field.
size_t WriteIfd(Out& out, std::vector<Entry> entries, std::map<uint16_t, size_t>* fields, size_t* next = nullptr) {
    std::sort(entries.begin(), entries.end(), [](const Entry& x, const Entry& y) { return x.tag < y.tag; });
    out.Align();
    const size_t at = out.b.size();
    out.U16(uint16_t(entries.size()));
    for (const Entry& e : entries) {
        out.U16(e.tag);
        out.U16(e.type);
        out.U32(e.count);
        MediaBytes field = e.value;
        field.resize(4, 0);
        if (e.value.size() <= 4) out.Bytes(field);
        else out.U32(0);
    }
    if (next) *next = out.b.size();
    out.U32(0);
    for (size_t k = 0; k < entries.size(); ++k) {
        const size_t field = at + 2 + 12 * k + 8;
        if (entries[k].value.size() <= 4) {
            (*fields)[entries[k].tag] = field;
        } else {
            const size_t value = out.Append(entries[k].value);
            out.Patch32(field, uint32_t(value));
            (*fields)[entries[k].tag] = value;
        }
    }
    return at;
}

MediaBytes Ascii(const std::string& text) {
    MediaBytes b(text.begin(), text.end());
    b.push_back(0);
    return b;
}
Entry AsciiEntry(uint16_t tag, const std::string& text) {
    MediaBytes v = Ascii(text);
    return Entry{tag, 2, uint32_t(v.size()), v};
}

MediaBytes Payload(size_t n, uint32_t seed) {
    MediaBytes b(n);
    uint32_t x = seed * 2654435761u + 1;
    for (auto& v : b) {
        x = x * 1103515245u + 12345u;
        v = uint8_t(x >> 24);
    }
    return b;
}

PlacedRun gLastPreview;

}  // namespace

PlacedRun LastRawPreview() { return gLastPreview; }

MediaBytes MakeTestRaw(const TestRaw& raw) {
    Out out(raw.bigEndian);
    out.Text(raw.bigEndian ? "MM" : "II");
    out.U16(raw.magic);
    const bool rw2 = raw.magic == 0x55;
    out.U32(rw2 ? 24 : 16);  // IFD0 right after the header
    if (rw2) {
        // Panasonic's 16-byte signature after the IFD0 offset.
        out.Bytes(MediaBytes{0x88, 0xe7, 0x74, 0xd8, 0xf8, 0x25, 0x1d, 0x4d, 0x94, 0x7a, 0x6e, 0x77, 0x82, 0x2b, 0x5d, 0x6a});
    } else if (raw.cr2Marker) {
        out.Text("CR");
        out.U8(2);
        out.U8(0);
    } else {
        out.U32(0);
    }
    const size_t cr2RawIfdField = out.b.size();
    if (!rw2) out.U32(0);

    const MediaBytes jpeg = MakeTestJpeg(raw.previewWidth, raw.previewHeight);
    const auto L = [&](uint32_t v) { return out.Encode32({v}); };
    const auto S = [&](uint16_t v) { return out.Encode16(v); };

    // IFD0: the camera, the date, pointers to the other IFDs.
    std::vector<Entry> ifd0{AsciiEntry(271, raw.make), AsciiEntry(272, raw.model), Entry{274, 3, 1, S(raw.orientation)},
                            AsciiEntry(306, raw.dateTime), Entry{34665, 4, 1, L(0)}};
    if (raw.hasGps) ifd0.push_back(Entry{34853, 4, 1, L(0)});
    if (!raw.cr2Marker) ifd0.push_back(Entry{330, 4, 1, L(0)});
    if (raw.dng) ifd0.push_back(Entry{50706, 1, 4, MediaBytes{1, 4, 0, 0}});
    if (raw.preview == RawPreview::Ifd0Strip) {
        ifd0.push_back(Entry{256, 3, 1, S(uint16_t(raw.previewWidth))});
        ifd0.push_back(Entry{257, 3, 1, S(uint16_t(raw.previewHeight))});
        ifd0.push_back(Entry{259, 3, 1, S(6)});
        ifd0.push_back(Entry{273, 4, 1, L(0)});
        ifd0.push_back(Entry{279, 4, 1, L(uint32_t(jpeg.size()))});
    }
    if (raw.preview == RawPreview::Rw2JpgFromRaw) ifd0.push_back(Entry{46, 7, uint32_t(jpeg.size()), jpeg});
    std::map<uint16_t, size_t> f0;
    size_t ifd0Next = 0;
    WriteIfd(out, ifd0, &f0, &ifd0Next);
    if (raw.preview == RawPreview::Rw2JpgFromRaw) gLastPreview = PlacedRun{f0[46], jpeg.size()};

    // EXIF IFD, with the maker note.
    MediaBytes maker;
    if (raw.preview == RawPreview::MakerNote) {
        Out m(raw.bigEndian);
        m.U16(2);
        for (uint16_t t : {uint16_t(0x0201), uint16_t(0x0202)}) {
            m.U16(t);
            m.U16(4);
            m.U32(1);
            m.U32(t == 0x0202 ? uint32_t(jpeg.size()) : 0);
        }
        m.U32(0);
        maker = m.b;
    } else if (raw.preview == RawPreview::NikonMakerNote) {
        Out m(raw.bigEndian);
        m.Text(std::string("Nikon\0\x02\x10\0\0", 10));
        m.Text(raw.bigEndian ? "MM" : "II");
        m.U16(42);
        m.U32(8);
        m.U16(1);  // IFD at 8: the preview IFD's pointer
        m.U16(0x0011);
        m.U16(4);
        m.U32(1);
        m.U32(26);
        m.U32(0);
        m.U16(2);  // preview IFD at 26
        m.U16(0x0201);
        m.U16(4);
        m.U32(1);
        m.U32(56);
        m.U16(0x0202);
        m.U16(4);
        m.U32(1);
        m.U32(uint32_t(jpeg.size()));
        m.U32(0);
        m.Bytes(jpeg);  // at 56 from the inner header
        maker = m.b;
    } else {
        maker = MediaBytes{'V', 'E', 'L', 'D', 0, 0, 0, 0, 0, 0, 0, 0};
    }
    std::map<uint16_t, size_t> fe;
    const size_t exifIfd = WriteIfd(out,
                                    {AsciiEntry(36867, raw.dateTime), Entry{37500, 7, uint32_t(maker.size()), maker}},
                                    &fe);
    out.Patch32(f0[34665], uint32_t(exifIfd));
    const size_t makerAt = fe[37500];
    if (raw.preview == RawPreview::NikonMakerNote) gLastPreview = PlacedRun{makerAt + 10 + 56, jpeg.size()};

    if (raw.hasGps) {
        auto rational3 = [&](uint32_t a, uint32_t b, uint32_t c) {
            return out.Encode32({a, 1, b, 1, c, 100});
        };
        std::map<uint16_t, size_t> fg;
        const size_t gps = WriteIfd(out,
                                    {Entry{1, 2, 2, MediaBytes{'N', 0}}, Entry{2, 5, 3, rational3(35, 39, 2934)},
                                     Entry{3, 2, 2, MediaBytes{'E', 0}}, Entry{4, 5, 3, rational3(139, 44, 5012)}},
                                    &fg);
        out.Patch32(f0[34853], uint32_t(gps));
    }

    // IFD1 with the JPEG preview's pointer.
    std::map<uint16_t, size_t> f1;
    if (raw.preview == RawPreview::Ifd1Jpeg) {
        const size_t ifd1 =
            WriteIfd(out, {Entry{259, 3, 1, S(6)}, Entry{513, 4, 1, L(0)}, Entry{514, 4, 1, L(uint32_t(jpeg.size()))}},
                     &f1);
        out.Patch32(ifd0Next, uint32_t(ifd1));
    }

    // The raw data's IFD: 16-bit samples in two strips (or tiles).
    const uint32_t half = raw.rawHeight / 2;
    const uint32_t partBytes = raw.rawWidth * half * 2;
    std::vector<Entry> rawIfd{Entry{254, 4, 1, L(0)},
                              Entry{256, 4, 1, L(raw.rawWidth)},
                              Entry{257, 4, 1, L(raw.rawHeight)},
                              Entry{258, 3, 1, S(16)},
                              Entry{259, 3, 1, S(1)},
                              Entry{262, 3, 1, S(32803)},
                              Entry{277, 3, 1, S(1)}};
    if (raw.rawInTiles) {
        rawIfd.push_back(Entry{322, 4, 1, L(raw.rawWidth)});
        rawIfd.push_back(Entry{323, 4, 1, L(half)});
        rawIfd.push_back(Entry{324, 4, 2, out.Encode32({0, 0})});
        rawIfd.push_back(Entry{325, 4, 2, out.Encode32({partBytes, partBytes})});
    } else {
        rawIfd.push_back(Entry{273, 4, 2, out.Encode32({0, 0})});
        rawIfd.push_back(Entry{278, 4, 1, L(half)});
        rawIfd.push_back(Entry{279, 4, 2, out.Encode32({partBytes, partBytes})});
    }
    std::map<uint16_t, size_t> fr;
    const size_t rawAt = WriteIfd(out, rawIfd, &fr);
    if (raw.cr2Marker) {
        out.Patch32(cr2RawIfdField, uint32_t(rawAt));
        // CR2 chains its IFDs: IFD0 (preview), then the raw IFD.
        out.Patch32(ifd0Next, uint32_t(rawAt));
    } else {
        out.Patch32(f0[330], uint32_t(rawAt));
    }

    // The preview JPEG, then the raw data last.
    if (raw.preview == RawPreview::Ifd1Jpeg || raw.preview == RawPreview::Ifd0Strip ||
        raw.preview == RawPreview::MakerNote) {
        const size_t at = out.Append(jpeg);
        gLastPreview = PlacedRun{at, jpeg.size()};
        if (raw.preview == RawPreview::Ifd1Jpeg) out.Patch32(f1[513], uint32_t(at));
        if (raw.preview == RawPreview::Ifd0Strip) out.Patch32(f0[273], uint32_t(at));
        if (raw.preview == RawPreview::MakerNote) out.Patch32(makerAt + 2 + 8, uint32_t(at));
    }
    const uint16_t dataTag = raw.rawInTiles ? 324 : 273;
    const size_t first = out.Append(Payload(partBytes, 1));
    const size_t second = out.Append(Payload(partBytes, 2));
    out.Patch32(fr[dataTag], uint32_t(first));
    out.Patch32(fr[dataTag] + 4, uint32_t(second));
    return out.b;
}

MediaBytes MakeTestRaf(const std::string& model, const std::string& dateTime, size_t cfaBytes) {
    TestExif exif;
    exif.make = "FUJIFILM";
    exif.model = model;
    exif.dateTime = dateTime;
    exif.dateTimeOriginal = dateTime;
    const MediaBytes jpeg = MakeTestJpeg(160, 120, &exif);
    Out out(true);
    out.Text("FUJIFILMCCD-RAW 0201FF383501");
    MediaBytes name(32, 0);
    std::copy(model.begin(), model.begin() + std::min<size_t>(model.size(), 31), name.begin());
    out.Bytes(name);
    out.Text("0100");
    out.Bytes(MediaBytes(20, 0));
    const size_t pairs = out.b.size();  // 84
    for (int k = 0; k < 6; ++k) out.U32(0);
    out.Bytes(MediaBytes(160 - out.b.size(), 0));
    const size_t jpegAt = out.Append(jpeg);
    out.Align();
    while (out.b.size() % 4) out.U8(0);
    const size_t headerAt = out.b.size();
    out.U32(1);  // one entry: the raw picture's size
    out.U16(0x100);
    out.U16(4);
    out.U16(2000);
    out.U16(3000);
    const size_t headerLength = out.b.size() - headerAt;
    const size_t cfaAt = out.Append(Payload(cfaBytes, 7));
    const uint32_t values[6] = {uint32_t(jpegAt), uint32_t(jpeg.size()), uint32_t(headerAt), uint32_t(headerLength),
                                uint32_t(cfaAt), uint32_t(cfaBytes)};
    for (int k = 0; k < 6; ++k) out.Patch32(pairs + 4 * size_t(k), values[k]);
    return out.b;
}

namespace {

// Box writing: the size is patched when the box closes.
struct Boxes {
    Out out{true};
    std::vector<size_t> open;
    void Begin(const char* type) {
        open.push_back(out.b.size());
        out.U32(0);
        out.Text(std::string(type, 4));
    }
    void BeginFull(const char* type, uint8_t version, uint32_t flags = 0) {
        Begin(type);
        out.U32(uint32_t(version) << 24 | flags);
    }
    void End() {
        const size_t at = open.back();
        open.pop_back();
        out.Patch32(at, uint32_t(out.b.size() - at));
    }
};

}  // namespace

MediaBytes MakeTestHeif(const TestHeif& heif) {
    const MediaBytes tiff = MakeExifTiff(heif.exif);
    MediaBytes exifItem{0, 0, 0, 6, 'E', 'x', 'i', 'f', 0, 0};
    exifItem.insert(exifItem.end(), tiff.begin(), tiff.end());
    const MediaBytes picture = Payload(heif.pictureBytes, 3);
    const TestHeifGrid& grid = heif.grid;
    const bool isGrid = grid.tileReferences > 0;
    // Items: 1 the primary picture ("hvc1", or the grid), 2 EXIF, 3 the tile.
    std::vector<uint16_t> items{1, 2};
    if (isGrid) items.push_back(3);
    MediaBytes gridHeader;
    if (isGrid) {
        Out g(true);
        g.U8(0);
        g.U8(1);  // 32-bit output size
        g.U8(0);
        g.U8(uint8_t(grid.tileReferences - 1));
        g.U32(grid.outputWidth);
        g.U32(grid.outputHeight);
        gridHeader = g.b;
    }

    Boxes w;
    w.Begin("ftyp");
    w.out.Text(heif.majorBrand);
    w.out.U32(0);
    for (const std::string& brand : heif.compatibleBrands) w.out.Text(brand);
    w.End();
    w.BeginFull("meta", 0);
    w.BeginFull("hdlr", 0);
    w.out.U32(0);
    w.out.Text("pict");
    for (int k = 0; k < 3; ++k) w.out.U32(0);
    w.out.U8(0);
    w.End();
    w.BeginFull("pitm", 0);
    w.out.U16(1);
    w.End();
    w.BeginFull("iinf", 0);
    w.out.U16(uint16_t(items.size()));
    for (uint16_t id : items) {
        w.BeginFull("infe", 2);
        w.out.U16(id);
        w.out.U16(0);
        w.out.Text(id == 2 ? "Exif" : id == 1 && isGrid ? "grid" : "hvc1");
        w.out.U8(0);
        w.End();
    }
    w.End();
    if (isGrid) {
        w.BeginFull("iref", 0);
        w.Begin("dimg");
        w.out.U16(1);
        w.out.U16(grid.tileReferences);
        for (uint16_t k = 0; k < grid.tileReferences; ++k) w.out.U16(3);
        w.End();
        w.End();
    }
    // Version 1 for a construction method (the grid's header in "idat").
    w.BeginFull("iloc", isGrid && grid.inIdat ? 1 : 0);
    w.out.U8(0x44);  // offsets and lengths of 4 bytes
    w.out.U8(0x00);  // no base offset, no index
    w.out.U16(uint16_t(items.size()));
    std::map<uint16_t, size_t> offsetField;
    for (uint16_t id : items) {
        const bool inIdat = isGrid && grid.inIdat && id == 1;
        w.out.U16(id);
        if (isGrid && grid.inIdat) w.out.U16(inIdat ? 1 : 0);  // construction method
        w.out.U16(0);  // data reference
        w.out.U16(1);  // one extent
        offsetField[id] = w.out.b.size();
        w.out.U32(0);
        const size_t length = id == 2 ? exifItem.size() : id == 1 && isGrid ? gridHeader.size() : picture.size();
        w.out.U32(uint32_t(length + (id != 2 && heif.itemsPastEnd ? heif.pastEndBytes : 0)));
    }
    w.End();
    if (isGrid && grid.inIdat) {
        w.Begin("idat");
        w.out.Bytes(gridHeader);
        w.End();
    }
    w.Begin("iprp");
    w.Begin("ipco");
    w.BeginFull("ispe", 0);
    w.out.U32(heif.width);
    w.out.U32(heif.height);
    w.End();
    if (isGrid) {
        w.BeginFull("ispe", 0);
        w.out.U32(grid.tileWidth);
        w.out.U32(grid.tileHeight);
        w.End();
    }
    w.End();
    w.BeginFull("ipma", 0);
    w.out.U32(isGrid ? 2 : 1);
    w.out.U16(1);
    w.out.U8(1);
    w.out.U8(0x81);  // essential, property 1
    if (isGrid) {
        w.out.U16(3);
        w.out.U8(1);
        w.out.U8(0x82);  // essential, property 2
    }
    w.End();
    w.End();
    w.End();  // meta
    const size_t mdatAt = w.out.b.size();
    w.Begin("mdat");
    w.out.Patch32(offsetField[2], uint32_t(w.out.b.size()));
    w.out.Bytes(exifItem);
    if (isGrid && !grid.inIdat) {
        w.out.Patch32(offsetField[1], uint32_t(w.out.b.size()));
        w.out.Bytes(gridHeader);
    }
    w.out.Patch32(offsetField[isGrid ? 3 : 1], uint32_t(w.out.b.size()));
    w.out.Bytes(picture);
    w.End();
    if (heif.mdatSizeZero) w.out.Patch32(mdatAt, 0);
    return w.out.b;
}

namespace {
PlacedRun gLastCr3Preview;

// A TIFF block whose IFD0 holds the given entries (no further IFDs).
MediaBytes TiffBlock(const std::vector<Entry>& entries) {
    Out out(false);
    out.Text("II");
    out.U16(42);
    out.U32(8);
    std::map<uint16_t, size_t> fields;
    WriteIfd(out, entries, &fields);
    return out.b;
}
}  // namespace

PlacedRun LastCr3Preview() { return gLastCr3Preview; }

MediaBytes MakeTestCr3(const TestCr3& cr3) {
    static const uint8_t kCanon[16] = {0x85, 0xc0, 0xb6, 0x87, 0x82, 0x0f, 0x11, 0xe0,
                                       0x81, 0x11, 0xf4, 0xce, 0x46, 0x2b, 0x6a, 0x48};
    static const uint8_t kPreview[16] = {0xea, 0xf4, 0x2b, 0x5e, 0x1c, 0x98, 0x4b, 0x88,
                                         0xb9, 0xfb, 0xb7, 0xdc, 0x40, 0x6e, 0x4d, 0x16};
    Out le(false);
    const MediaBytes orientation = [&] {
        Out o(false);
        o.U16(cr3.orientation);
        return o.b;
    }();
    const MediaBytes jpeg = MakeTestJpeg(320, 214);
    Boxes w;
    w.Begin("ftyp");
    w.out.Text("crx ");
    w.out.U32(1);
    w.out.Text("crx isom");
    w.End();
    w.Begin("moov");
    w.Begin("uuid");
    w.out.Bytes(MediaBytes(kCanon, kCanon + 16));
    w.Begin("CMT1");
    w.out.Bytes(TiffBlock({AsciiEntry(271, "Canon"), AsciiEntry(272, cr3.model), Entry{274, 3, 1, orientation},
                           AsciiEntry(306, cr3.dateTime)}));
    w.End();
    w.Begin("CMT2");
    w.out.Bytes(TiffBlock({AsciiEntry(36867, cr3.dateTime)}));
    w.End();
    w.Begin("CMT4");
    w.out.Bytes(TiffBlock({Entry{1, 2, 2, MediaBytes{'S', 0}}}));
    w.End();
    w.End();
    w.BeginFull("mvhd", 0);
    for (uint32_t v : {0u, 0u, 1000u, 0u}) w.out.U32(v);
    w.out.Bytes(MediaBytes(80, 0));
    w.End();
    w.End();  // moov
    w.Begin("uuid");
    w.out.Bytes(MediaBytes(kPreview, kPreview + 16));
    w.out.U32(0);
    w.out.U32(1);
    w.Begin("PRVW");
    w.out.U32(0);
    w.out.U16(1);
    w.out.U16(320);
    w.out.U16(214);
    w.out.U16(1);
    w.out.U32(uint32_t(jpeg.size()));
    gLastCr3Preview = PlacedRun{w.out.b.size(), jpeg.size()};
    w.out.Bytes(jpeg);
    w.End();
    w.End();
    w.Begin("mdat");
    w.out.Bytes(Payload(cr3.mdatBytes, 9));
    w.End();
    return w.out.b;
}

MediaBytes MakeTestAvi(const TestAvi& avi) {
    Out out(false);
    std::vector<size_t> open;
    auto begin = [&](const char* id, const char* form) {
        out.Text(std::string(id, 4));
        open.push_back(out.b.size());
        out.U32(0);
        if (form) out.Text(std::string(form, 4));
    };
    auto end = [&] {
        const size_t at = open.back();
        open.pop_back();
        out.Patch32(at, uint32_t(out.b.size() - at - 4));
        out.Align();
    };
    const uint32_t total = avi.framesPerPiece * uint32_t(1 + avi.extraPieces);
    auto frames = [&](uint32_t seed) {
        begin("LIST", "movi");
        for (uint32_t k = 0; k < avi.framesPerPiece; ++k) {
            begin("00dc", nullptr);
            out.Bytes(Payload(avi.frameBytes, seed * 1000 + k));
            end();
        }
        end();
    };

    begin("RIFF", "AVI ");
    begin("LIST", "hdrl");
    begin("avih", nullptr);
    const uint32_t avih[14] = {40000, 0, 0, 0x10, avi.framesPerPiece, 0, 1, 0, avi.width, avi.height, 0, 0, 0, 0};
    for (uint32_t v : avih) out.U32(v);
    end();
    begin("LIST", "strl");
    begin("strh", nullptr);
    out.Text("vidsMJPG");
    for (int k = 0; k < 12; ++k) out.U32(k == 3 ? 1 : (k == 4 ? 25 : 0));
    end();
    begin("strf", nullptr);
    for (uint32_t v : {40u, avi.width, avi.height}) out.U32(v);
    out.U16(1);
    out.U16(24);
    out.Text("MJPG");
    for (int k = 0; k < 5; ++k) out.U32(0);
    end();
    end();
    begin("LIST", "odml");
    begin("dmlh", nullptr);
    out.U32(total);
    out.Bytes(MediaBytes(244, 0));
    end();
    end();
    end();  // hdrl
    begin("IDIT", nullptr);
    out.Text(avi.recorded);
    out.U8('\n');
    out.U8(0);
    end();
    frames(1);
    begin("idx1", nullptr);
    for (uint32_t k = 0; k < avi.framesPerPiece; ++k) {
        out.Text("00dc");
        out.U32(0x10);
        out.U32(0);
        out.U32(uint32_t(avi.frameBytes));
    }
    end();
    end();  // RIFF AVI
    for (int piece = 0; piece < avi.extraPieces; ++piece) {
        begin("RIFF", "AVIX");
        frames(uint32_t(piece + 2));
        end();
    }
    return out.b;
}

MediaBytes MakeTestTs(size_t packets) {
    Out out(true);
    for (size_t k = 0; k < packets; ++k) {
        out.U32(uint32_t(k * 1000));  // arrival time stamp
        const size_t start = out.b.size();
        out.U8(0x47);
        const bool pcr = k % 10 == 1;
        const uint16_t pid = k == 0 ? 0x0000 : 0x1011;
        out.U16(uint16_t((k == 0 || pcr ? 0x4000 : 0) | pid));
        out.U8(uint8_t((pcr ? 0x30 : 0x10) | (k & 15)));
        if (pcr) {
            out.U8(7);
            out.U8(0x10);
            const uint64_t base = uint64_t(k / 10) * 3600;  // 40 ms at 90 kHz
            out.U32(uint32_t(base >> 1));
            out.U8(uint8_t((base & 1) << 7 | 0x7E));
            out.U8(0);
        }
        const MediaBytes payload = Payload(188 - (out.b.size() - start), uint32_t(k));
        out.Bytes(payload);
    }
    return out.b;
}

MediaBytes MakeTestPs(size_t packs, bool endCode, uint16_t width, uint16_t height) {
    Out out(true);
    for (size_t k = 0; k < packs; ++k) {
        const uint64_t scr = uint64_t(k) * 3600;
        out.U32(0x000001BA);
        out.U8(uint8_t(0x44 | ((scr >> 27) & 0x38) | ((scr >> 28) & 0x03)));
        out.U8(uint8_t(scr >> 20));
        out.U8(uint8_t(((scr >> 12) & 0xF8) | 0x04 | ((scr >> 13) & 0x03)));
        out.U8(uint8_t(scr >> 5));
        out.U8(uint8_t(((scr << 3) & 0xF8) | 0x04));
        out.U8(0x01);  // SCR extension, marker
        out.U8(0x01);  // mux rate (22 bits), two marker bits
        out.U8(0x89);
        out.U8(0xC3);
        out.U8(0xF8);  // no stuffing
        const size_t body = 2048 - 14 - 6;
        out.U32(0x000001E0);
        out.U16(uint16_t(body));
        MediaBytes payload = Payload(body, uint32_t(k));
        for (auto& v : payload)
            if (v == 0) v = 1;  // no start code inside the payload by chance
        if (k == 0) {
            const uint8_t sequence[] = {0x00, 0x00, 0x01, 0xB3, uint8_t(width >> 4),
                                        uint8_t((width & 15) << 4 | height >> 8), uint8_t(height)};
            std::copy(std::begin(sequence), std::end(sequence), payload.begin() + 8);
        }
        out.Bytes(payload);
    }
    if (endCode) out.U32(0x000001B9);
    return out.b;
}

}  // namespace veld::test
