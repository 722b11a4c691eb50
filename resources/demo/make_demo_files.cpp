// Writes the files of the demo card into a folder: camera-style photos
// (scenes drawn here, JPEG with an EXIF block naming the camera, the date,
// the picture size and a GPS position) and one short MP4 clip.
//
//   make_demo_files <folder>
//
// Photos: photo01.jpg ... photo10.jpg, 320 x 240. Clip: clip.mp4.
#include <cstdio>
#include <jpeglib.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace {

struct Rgb {
    uint8_t r, g, b;
};

Rgb Mix(Rgb a, Rgb b, double t) {
    auto m = [t](uint8_t x, uint8_t y) { return uint8_t(std::lround(x + (y - x) * t)); };
    return {m(a.r, b.r), m(a.g, b.g), m(a.b, b.b)};
}

// A landscape that differs with the index: sky, sun or moon, hills, a
// house, trees and a lake.
std::vector<uint8_t> DrawScene(int index, int width, int height) {
    std::vector<uint8_t> pixels(size_t(width) * height * 3);
    const bool night = index % 4 == 3;
    const Rgb skyTop = night ? Rgb{10, 16, 50} : Rgb{uint8_t(40 + 15 * index), 110, 220};
    const Rgb skyLow = night ? Rgb{40, 50, 110} : Rgb{250, uint8_t(180 + 5 * index), 150};
    const Rgb hill = {uint8_t(40 + 10 * (index % 5)), uint8_t(140 - 6 * index), 60};
    const double sunX = width * (0.2 + 0.07 * index), sunY = height * (0.18 + 0.02 * (index % 3));
    const double phase = index * 0.9;
    const int houseX = 40 + 23 * index % (width - 80);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            Rgb c = Mix(skyTop, skyLow, double(y) / height);
            const double dx = x - sunX, dy = y - sunY;
            if (dx * dx + dy * dy < 18 * 18) c = night ? Rgb{235, 235, 210} : Rgb{255, 230, 90};
            const double horizon = height * 0.62 + 18 * std::sin(x * 0.03 + phase) + 9 * std::sin(x * 0.11 + phase);
            if (y > horizon) c = Mix(hill, Rgb{20, 60, 20}, (y - horizon) / (height - horizon + 1));
            if (index % 2 == 0 && y > height * 0.82 && std::abs(x - width * 0.7) < 60 - (y - height * 0.82))
                c = Rgb{60, 120, 200};  // lake
            // House: wall and roof.
            const int wallTop = int(height * 0.55);
            if (x >= houseX && x < houseX + 40 && y >= wallTop && y < wallTop + 30) c = Rgb{220, 200, 170};
            if (y < wallTop && y >= wallTop - 18 && std::abs(x - (houseX + 20)) < (y - (wallTop - 18)) * 1.3)
                c = Rgb{170, 40, 30};
            if (x >= houseX + 16 && x < houseX + 24 && y >= wallTop + 14 && y < wallTop + 30) c = Rgb{90, 60, 40};
            // Trees.
            for (int t = 0; t < 3; ++t) {
                const int tx = (width / 4) * (t + 1) + 11 * index % 30 - 15;
                const int ty = int(height * 0.7);
                if (std::abs(x - tx) < 3 && y > ty && y < ty + 20) c = Rgb{100, 70, 40};
                const double ddx = x - tx, ddy = y - ty;
                if (ddx * ddx + ddy * ddy < 12 * 12) c = Rgb{30, uint8_t(110 + 20 * t), 40};
            }
            uint8_t* p = &pixels[(size_t(y) * width + x) * 3];
            // A little texture so the JPEG data is not trivially smooth.
            const int noise = int((x * 7 + y * 13 + index * 5) % 9) - 4;
            p[0] = uint8_t(std::clamp(c.r + noise, 0, 255));
            p[1] = uint8_t(std::clamp(c.g + noise, 0, 255));
            p[2] = uint8_t(std::clamp(c.b + noise, 0, 255));
        }
    }
    return pixels;
}

// --- EXIF block (TIFF layout, little-endian) ------------------------------
// IFD entry: u16 tag, u16 type, u32 count, u32 value or offset (from the
// TIFF header). Types: 2 ASCII, 3 SHORT, 4 LONG, 5 RATIONAL.
class TiffWriter {
public:
    void u16(std::vector<uint8_t>& b, size_t at, uint32_t v) {
        b[at] = uint8_t(v);
        b[at + 1] = uint8_t(v >> 8);
    }
    void u32(std::vector<uint8_t>& b, size_t at, uint32_t v) {
        for (int i = 0; i < 4; ++i) b[at + i] = uint8_t(v >> (8 * i));
    }
};

struct Entry {
    uint16_t tag, type;
    uint32_t count;
    std::vector<uint8_t> data;  // value bytes (placed inline when <= 4)
};

Entry Ascii(uint16_t tag, const std::string& text) {
    std::vector<uint8_t> d(text.begin(), text.end());
    d.push_back(0);
    return {tag, 2, uint32_t(d.size()), d};
}
Entry Long(uint16_t tag, uint32_t v) {
    return {tag, 4, 1, {uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16), uint8_t(v >> 24)}};
}
Entry Rationals(uint16_t tag, const std::vector<std::pair<uint32_t, uint32_t>>& values) {
    std::vector<uint8_t> d;
    for (auto [n, den] : values)
        for (uint32_t v : {n, den})
            for (int i = 0; i < 4; ++i) d.push_back(uint8_t(v >> (8 * i)));
    return {tag, 5, uint32_t(values.size()), d};
}

// Lays out one IFD at offset base (from the TIFF header); returns its bytes:
// the entries, the next-IFD word 0, then the values that do not fit inline.
std::vector<uint8_t> LayoutIfd(const std::vector<Entry>& entries, uint32_t base) {
    TiffWriter w;
    const uint32_t fixed = 2 + 12 * uint32_t(entries.size()) + 4;
    std::vector<uint8_t> out(fixed, 0);
    w.u16(out, 0, uint32_t(entries.size()));
    uint32_t extra = base + fixed;
    for (size_t i = 0; i < entries.size(); ++i) {
        const Entry& e = entries[i];
        const size_t at = 2 + 12 * i;
        w.u16(out, at, e.tag);
        w.u16(out, at + 2, e.type);
        w.u32(out, at + 4, e.count);
        if (e.data.size() <= 4) {
            for (size_t k = 0; k < e.data.size(); ++k) out[at + 8 + k] = e.data[k];
        } else {
            w.u32(out, at + 8, extra);
            out.insert(out.end(), e.data.begin(), e.data.end());
            if (e.data.size() % 2) out.push_back(0);
            extra = base + uint32_t(out.size());
        }
    }
    return out;
}

std::vector<uint8_t> MakeExif(int index, int width, int height) {
    char date[32];
    std::snprintf(date, sizeof date, "2024:%02d:%02d %02d:%02d:%02d", 5 + index % 4, 3 + index, 9 + index % 8,
                  10 + index * 3, 5 * index % 60);
    // Sizes first, offsets second: IFD0 at 8, the EXIF IFD and GPS IFD after it.
    std::vector<Entry> ifd0 = {Ascii(0x010F, "Veld Optics"), Ascii(0x0110, "DemoCam " + std::to_string(1 + index % 2)),
                               Ascii(0x0132, date), Long(0x8769, 0), Long(0x8825, 0)};
    std::vector<Entry> exif = {Ascii(0x9003, date), Long(0xA002, uint32_t(width)), Long(0xA003, uint32_t(height))};
    const uint32_t latMin = uint32_t(10 + 3 * index), lonMin = uint32_t(40 - 2 * index);
    std::vector<Entry> gps = {Ascii(0x0001, "N"), Rationals(0x0002, {{35, 1}, {latMin, 1}, {1234, 100}}),
                              Ascii(0x0003, "E"), Rationals(0x0004, {{139, 1}, {lonMin, 1}, {5678, 100}})};

    const uint32_t ifd0Base = 8;
    std::vector<uint8_t> ifd0Bytes = LayoutIfd(ifd0, ifd0Base);
    const uint32_t exifBase = ifd0Base + uint32_t(ifd0Bytes.size());
    std::vector<uint8_t> exifBytes = LayoutIfd(exif, exifBase);
    const uint32_t gpsBase = exifBase + uint32_t(exifBytes.size());
    std::vector<uint8_t> gpsBytes = LayoutIfd(gps, gpsBase);
    // Patch the two pointer entries (entries 3 and 4 of IFD0).
    TiffWriter w;
    w.u32(ifd0Bytes, 2 + 12 * 3 + 8, exifBase);
    w.u32(ifd0Bytes, 2 + 12 * 4 + 8, gpsBase);

    std::vector<uint8_t> block = {'E', 'x', 'i', 'f', 0, 0, 'I', 'I', 42, 0, 8, 0, 0, 0};
    block.insert(block.end(), ifd0Bytes.begin(), ifd0Bytes.end());
    block.insert(block.end(), exifBytes.begin(), exifBytes.end());
    block.insert(block.end(), gpsBytes.begin(), gpsBytes.end());
    return block;
}

bool WriteJpeg(const std::string& path, int index) {
    const int width = 320, height = 240;
    std::vector<uint8_t> pixels = DrawScene(index, width, height);
    std::vector<uint8_t> exif = MakeExif(index, width, height);
    FILE* file = std::fopen(path.c_str(), "wb");
    if (!file) return false;
    jpeg_compress_struct cinfo;
    jpeg_error_mgr jerr;
    cinfo.err = jpeg_std_error(&jerr);
    jpeg_create_compress(&cinfo);
    jpeg_stdio_dest(&cinfo, file);
    cinfo.image_width = width;
    cinfo.image_height = height;
    cinfo.input_components = 3;
    cinfo.in_color_space = JCS_RGB;
    jpeg_set_defaults(&cinfo);
    jpeg_set_quality(&cinfo, 88, TRUE);
    cinfo.write_JFIF_header = FALSE;  // cameras write the EXIF segment first
    jpeg_start_compress(&cinfo, TRUE);
    jpeg_write_marker(&cinfo, JPEG_APP0 + 1, exif.data(), unsigned(exif.size()));
    while (cinfo.next_scanline < cinfo.image_height) {
        JSAMPROW row = &pixels[size_t(cinfo.next_scanline) * width * 3];
        jpeg_write_scanlines(&cinfo, &row, 1);
    }
    jpeg_finish_compress(&cinfo);
    jpeg_destroy_compress(&cinfo);
    return std::fclose(file) == 0;
}

// --- MP4 clip ---------------------------------------------------------------
void Be32(std::vector<uint8_t>& b, uint32_t v) {
    for (int i = 3; i >= 0; --i) b.push_back(uint8_t(v >> (8 * i)));
}
void Atom(std::vector<uint8_t>& out, const char* type, const std::vector<uint8_t>& body) {
    Be32(out, uint32_t(body.size() + 8));
    out.insert(out.end(), type, type + 4);
    out.insert(out.end(), body.begin(), body.end());
}

// ftyp, moov (with a movie header), mdat: enough for the atom walk to find
// where the clip ends; the media data is a made-up pattern.
bool WriteClip(const std::string& path) {
    std::vector<uint8_t> ftyp = {'i', 's', 'o', 'm', 0, 0, 2, 0, 'i', 's', 'o', 'm', 'm', 'p', '4', '1'};
    std::vector<uint8_t> mvhd(100, 0);
    mvhd[15] = 0xE8;  // time scale 1000 (bytes 12..15)
    mvhd[14] = 0x03;
    mvhd[18] = 0x13;  // duration 5000 (bytes 16..19)
    mvhd[19] = 0x88;
    mvhd[20] = 0x00;  // rate 1.0
    mvhd[21] = 0x01;
    mvhd[24] = 0x01;  // volume 1.0
    mvhd[99] = 2;     // next track id
    std::vector<uint8_t> moovBody;
    Atom(moovBody, "mvhd", mvhd);
    std::vector<uint8_t> media(45000);
    uint32_t state = 0x12345678;
    for (auto& byte : media) {
        state = state * 1103515245u + 12345u;
        byte = uint8_t(state >> 16);
    }
    std::vector<uint8_t> clip;
    Atom(clip, "ftyp", ftyp);
    Atom(clip, "moov", moovBody);
    Atom(clip, "mdat", media);
    FILE* file = std::fopen(path.c_str(), "wb");
    if (!file) return false;
    const bool ok = std::fwrite(clip.data(), 1, clip.size(), file) == clip.size();
    return std::fclose(file) == 0 && ok;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s <folder>\n", argv[0]);
        return 2;
    }
    const std::string folder = argv[1];
    for (int i = 1; i <= 10; ++i) {
        char name[32];
        std::snprintf(name, sizeof name, "/photo%02d.jpg", i);
        if (!WriteJpeg(folder + name, i)) {
            std::fprintf(stderr, "cannot write %s%s\n", folder.c_str(), name);
            return 1;
        }
    }
    if (!WriteClip(folder + "/clip.mp4")) {
        std::fprintf(stderr, "cannot write %s/clip.mp4\n", folder.c_str());
        return 1;
    }
    return 0;
}
