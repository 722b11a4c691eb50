#include "support/test_jpeg.h"

#include <cstdio>
#include <cstring>
#include <jpeglib.h>
#include <stdexcept>

namespace veld::test {

namespace {

// ---- TIFF block ---------------------------------------------------------

class TiffWriter {
public:
    explicit TiffWriter(bool bigEndian) : big_(bigEndian) {}

    void put16(std::vector<uint8_t>& out, uint16_t v) const {
        if (big_) { out.push_back(uint8_t(v >> 8)); out.push_back(uint8_t(v)); }
        else { out.push_back(uint8_t(v)); out.push_back(uint8_t(v >> 8)); }
    }
    void put32(std::vector<uint8_t>& out, uint32_t v) const {
        if (big_) {
            for (int s = 24; s >= 0; s -= 8) out.push_back(uint8_t(v >> s));
        } else {
            for (int s = 0; s <= 24; s += 8) out.push_back(uint8_t(v >> s));
        }
    }
    void set32(std::vector<uint8_t>& out, size_t at, uint32_t v) const {
        std::vector<uint8_t> tmp;
        put32(tmp, v);
        std::memcpy(out.data() + at, tmp.data(), 4);
    }

private:
    bool big_;
};

// One 12-byte directory entry before layout: tag, type, count and the value
// bytes already in file byte order (inline when 4 bytes or fewer).
struct Entry {
    uint16_t tag = 0;
    uint16_t type = 0;
    uint32_t count = 0;
    std::vector<uint8_t> value;
    int pointsTo = -1;  // IFD index whose offset becomes the value (pointer tags)
};

struct Ifd {
    std::vector<Entry> entries;
};

Entry AsciiEntry(uint16_t tag, const std::string& text) {
    Entry e{tag, 2, uint32_t(text.size() + 1), {}, -1};
    e.value.assign(text.begin(), text.end());
    e.value.push_back(0);
    return e;
}

Entry NumberEntry(const TiffWriter& w, uint16_t tag, uint32_t v, bool asShort) {
    Entry e{tag, uint16_t(asShort ? 3 : 4), 1, {}, -1};
    if (asShort) w.put16(e.value, uint16_t(v));
    else w.put32(e.value, v);
    return e;
}

Entry RationalEntry(const TiffWriter& w, uint16_t tag, const std::array<Rational, 3>& r) {
    Entry e{tag, 5, 3, {}, -1};
    for (const auto& [num, den] : r) {
        w.put32(e.value, num);
        w.put32(e.value, den);
    }
    return e;
}

Entry RefEntry(uint16_t tag, char ref) {
    Entry e{tag, 2, 2, {uint8_t(ref), 0}, -1};
    return e;
}

Entry PointerEntry(uint16_t tag, int ifdIndex) {
    Entry e{tag, 4, 1, {}, ifdIndex};
    return e;
}

// Lays out the IFDs one after another from offset 8, followed by the values
// that do not fit into the 4-byte value field.
std::vector<uint8_t> LayOut(const TiffWriter& w, bool bigEndian, std::vector<Ifd>& ifds) {
    std::vector<uint32_t> ifdOffset(ifds.size());
    uint32_t at = 8;
    for (size_t i = 0; i < ifds.size(); ++i) {
        ifdOffset[i] = at;
        at += uint32_t(2 + 12 * ifds[i].entries.size() + 4);
    }
    uint32_t dataAt = at;

    std::vector<uint8_t> out;
    out.push_back(bigEndian ? 'M' : 'I');
    out.push_back(bigEndian ? 'M' : 'I');
    w.put16(out, 42);
    w.put32(out, ifds.empty() ? 0 : 8);

    std::vector<uint8_t> data;
    for (size_t i = 0; i < ifds.size(); ++i) {
        w.put16(out, uint16_t(ifds[i].entries.size()));
        for (Entry& e : ifds[i].entries) {
            if (e.pointsTo >= 0) {
                e.value.clear();
                w.put32(e.value, ifdOffset[size_t(e.pointsTo)]);
            }
            w.put16(out, e.tag);
            w.put16(out, e.type);
            w.put32(out, e.count);
            if (e.value.size() <= 4) {
                std::vector<uint8_t> field = e.value;
                field.resize(4, 0);
                out.insert(out.end(), field.begin(), field.end());
            } else {
                w.put32(out, uint32_t(dataAt + data.size()));
                data.insert(data.end(), e.value.begin(), e.value.end());
                if (data.size() % 2) data.push_back(0);  // TIFF values start on even offsets
            }
        }
        w.put32(out, 0);  // no next IFD: the EXIF and GPS IFDs are reached through pointers
    }
    out.insert(out.end(), data.begin(), data.end());
    return out;
}

// ---- JPEG encoding --------------------------------------------------------

struct VectorDestination {
    jpeg_destination_mgr pub;
    std::vector<uint8_t>* out;
    std::vector<uint8_t> chunk;
};

void DestInit(j_compress_ptr cinfo) {
    auto* d = reinterpret_cast<VectorDestination*>(cinfo->dest);
    d->chunk.resize(16384);
    d->pub.next_output_byte = d->chunk.data();
    d->pub.free_in_buffer = d->chunk.size();
}

boolean DestEmpty(j_compress_ptr cinfo) {
    auto* d = reinterpret_cast<VectorDestination*>(cinfo->dest);
    d->out->insert(d->out->end(), d->chunk.begin(), d->chunk.end());
    d->pub.next_output_byte = d->chunk.data();
    d->pub.free_in_buffer = d->chunk.size();
    return TRUE;
}

void DestTerm(j_compress_ptr cinfo) {
    auto* d = reinterpret_cast<VectorDestination*>(cinfo->dest);
    size_t used = d->chunk.size() - d->pub.free_in_buffer;
    d->out->insert(d->out->end(), d->chunk.begin(), d->chunk.begin() + long(used));
}

[[noreturn]] void EncoderError(j_common_ptr cinfo) {
    char text[JMSG_LENGTH_MAX];
    (*cinfo->err->format_message)(cinfo, text);
    throw std::runtime_error(std::string("test JPEG encoder: ") + text);
}

void PutBe32(std::vector<uint8_t>& out, uint32_t v) {
    for (int s = 24; s >= 0; s -= 8) out.push_back(uint8_t(v >> s));
}

// Four characters, blank-padded.
void PutFourCc(std::vector<uint8_t>& out, const std::string& code) {
    for (size_t i = 0; i < 4; ++i) out.push_back(i < code.size() ? uint8_t(code[i]) : uint8_t(' '));
}

void PutAtomHeader(std::vector<uint8_t>& out, uint32_t size, const std::string& type) {
    PutBe32(out, size);
    PutFourCc(out, type);
}

}  // namespace

std::vector<uint8_t> MakeExifTiff(const TestExif& exif) {
    TiffWriter w(exif.bigEndian);
    std::vector<Ifd> ifds(1);
    Ifd exifIfd, gpsIfd;

    if (!exif.make.empty()) ifds[0].entries.push_back(AsciiEntry(271, exif.make));
    if (!exif.model.empty()) ifds[0].entries.push_back(AsciiEntry(272, exif.model));
    if (exif.orientation) ifds[0].entries.push_back(NumberEntry(w, 274, exif.orientation, true));
    if (!exif.dateTime.empty()) ifds[0].entries.push_back(AsciiEntry(306, exif.dateTime));

    if (!exif.dateTimeOriginal.empty()) exifIfd.entries.push_back(AsciiEntry(36867, exif.dateTimeOriginal));
    if (exif.pixelX) exifIfd.entries.push_back(NumberEntry(w, 40962, exif.pixelX, exif.pixelAsShort));
    if (exif.pixelY) exifIfd.entries.push_back(NumberEntry(w, 40963, exif.pixelY, exif.pixelAsShort));

    if (exif.hasGps) {
        gpsIfd.entries.push_back(RefEntry(1, exif.latRef));
        gpsIfd.entries.push_back(RationalEntry(w, 2, exif.lat));
        gpsIfd.entries.push_back(RefEntry(3, exif.lonRef));
        gpsIfd.entries.push_back(RationalEntry(w, 4, exif.lon));
    }

    if (!exifIfd.entries.empty()) {
        ifds[0].entries.push_back(PointerEntry(34665, int(ifds.size())));
        ifds.push_back(exifIfd);
    }
    if (!gpsIfd.entries.empty()) {
        ifds[0].entries.push_back(PointerEntry(34853, int(ifds.size())));
        ifds.push_back(gpsIfd);
    }
    return LayOut(w, exif.bigEndian, ifds);
}

std::vector<uint8_t> MakeExifSegment(const TestExif& exif) {
    std::vector<uint8_t> tiff = MakeExifTiff(exif);
    size_t length = 2 + 6 + tiff.size();  // the length field counts itself
    if (length > 0xFFFF) throw std::length_error("EXIF segment too long");
    std::vector<uint8_t> seg;
    seg.reserve(2 + length);
    for (int b : {0xFF, 0xE1, int(length >> 8), int(length & 0xFF), int('E'), int('x'), int('i'), int('f'), 0, 0})
        seg.push_back(uint8_t(b));
    seg.insert(seg.end(), tiff.begin(), tiff.end());
    return seg;
}

std::array<uint8_t, 3> TestJpegPixel(int x, int y, int width, int height) {
    int checker = ((x / 16) + (y / 16)) % 2 ? 48 : 0;
    uint8_t r = uint8_t(width > 1 ? x * 200 / (width - 1) + checker : checker);
    uint8_t g = uint8_t(height > 1 ? y * 200 / (height - 1) + checker : checker);
    uint8_t b = uint8_t(160 - checker);
    return {r, g, b};
}

std::vector<uint8_t> MakeTestJpeg(int width, int height, const TestExif* exif, bool grayscale) {
    if (width <= 0 || height <= 0) throw std::invalid_argument("picture size");
    std::vector<uint8_t> jpeg;

    jpeg_compress_struct cinfo;
    jpeg_error_mgr jerr;
    cinfo.err = jpeg_std_error(&jerr);
    jerr.error_exit = EncoderError;
    jpeg_create_compress(&cinfo);

    VectorDestination dest{};
    dest.out = &jpeg;
    dest.pub.init_destination = DestInit;
    dest.pub.empty_output_buffer = DestEmpty;
    dest.pub.term_destination = DestTerm;
    cinfo.dest = &dest.pub;

    cinfo.image_width = JDIMENSION(width);
    cinfo.image_height = JDIMENSION(height);
    cinfo.input_components = grayscale ? 1 : 3;
    cinfo.in_color_space = grayscale ? JCS_GRAYSCALE : JCS_RGB;
    try {
        jpeg_set_defaults(&cinfo);
        jpeg_set_quality(&cinfo, 85, TRUE);
        jpeg_start_compress(&cinfo, TRUE);
        std::vector<uint8_t> row(size_t(width) * size_t(cinfo.input_components));
        while (cinfo.next_scanline < cinfo.image_height) {
            int y = int(cinfo.next_scanline);
            for (int x = 0; x < width; ++x) {
                auto px = TestJpegPixel(x, y, width, height);
                if (grayscale) row[size_t(x)] = uint8_t((px[0] * 3 + px[1] * 6 + px[2]) / 10);
                else std::memcpy(&row[size_t(x) * 3], px.data(), 3);
            }
            JSAMPROW rows[1] = {row.data()};
            jpeg_write_scanlines(&cinfo, rows, 1);
        }
        jpeg_finish_compress(&cinfo);
    } catch (...) {
        jpeg_destroy_compress(&cinfo);
        throw;
    }
    jpeg_destroy_compress(&cinfo);

    if (exif) {
        std::vector<uint8_t> seg = MakeExifSegment(*exif);
        jpeg.insert(jpeg.begin() + 2, seg.begin(), seg.end());
    }
    return jpeg;
}

std::vector<uint8_t> MakeTestMp4(size_t mdatBytes, const TestMp4& options) {
    std::vector<uint8_t> clip;

    // ftyp: major brand, minor version, compatible brands.
    PutAtomHeader(clip, uint32_t(16 + 4 * options.compatibleBrands.size()), "ftyp");
    PutFourCc(clip, options.majorBrand);
    PutBe32(clip, options.minorVersion);
    for (const std::string& b : options.compatibleBrands) PutFourCc(clip, b);

    uint32_t state = options.seed ? options.seed : 1;
    for (const std::string& type : options.order) {
        if (type == "mdat") {
            if (mdatBytes + 8 > 0xFFFFFFFFu) throw std::length_error("mdat too large");
            PutAtomHeader(clip, uint32_t(8 + mdatBytes), "mdat");
            for (size_t i = 0; i < mdatBytes; ++i) {
                state ^= state << 13;
                state ^= state >> 17;
                state ^= state << 5;
                clip.push_back(uint8_t(state >> 24));
            }
        } else if (type == "moov") {
            // moov { mvhd version 0: flags, times, time scale 1000, duration, rate 1.0, volume 1.0, matrix, next track 2 }
            const uint32_t mvhdSize = 108;
            PutAtomHeader(clip, 8 + mvhdSize, "moov");
            PutAtomHeader(clip, mvhdSize, "mvhd");
            std::vector<uint8_t> body(mvhdSize - 8, 0);
            auto set32 = [&](size_t at, uint32_t v) {
                for (int i = 0; i < 4; ++i) body[at + size_t(i)] = uint8_t(v >> (24 - 8 * i));
            };
            set32(12, 1000);        // time scale
            set32(16, 5000);        // duration: 5 s
            set32(20, 0x00010000);  // rate 1.0
            body[24] = 0x01;        // volume 1.0
            set32(36, 0x00010000);  // matrix a
            set32(52, 0x00010000);  // matrix d
            set32(68, 0x40000000);  // matrix w
            set32(96, 2);           // next track id
            clip.insert(clip.end(), body.begin(), body.end());
        } else {
            PutAtomHeader(clip, 8, type);
        }
    }
    return clip;
}

std::vector<AtomPlace> TopLevelAtoms(const std::vector<uint8_t>& clip) {
    std::vector<AtomPlace> atoms;
    size_t at = 0;
    while (at + 8 <= clip.size() && atoms.size() < 1000) {
        size_t size = (size_t(clip[at]) << 24) | (size_t(clip[at + 1]) << 16) |
                      (size_t(clip[at + 2]) << 8) | size_t(clip[at + 3]);
        if (size < 8 || size > clip.size() - at) break;
        atoms.push_back({std::string(reinterpret_cast<const char*>(&clip[at + 4]), 4), at, size});
        at += size;
    }
    return atoms;
}

}  // namespace veld::test
