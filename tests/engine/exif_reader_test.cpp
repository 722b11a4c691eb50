// The EXIF reader over real camera pictures (both byte orders, GPS) and over
// TIFF blocks built by hand, including hostile ones.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "finder/exif_reader.h"
#include "support/test_jpeg.h"

namespace veld {
namespace {

namespace fs = std::filesystem;

// Runs ParseExif over an exact-size heap copy, so that a read one byte past
// the block is caught by AddressSanitizer.
JpegInfo Parse(const std::vector<uint8_t>& block, int* rc = nullptr) {
    std::unique_ptr<uint8_t[]> copy(new uint8_t[block.size() ? block.size() : 1]);
    if (!block.empty()) std::memcpy(copy.get(), block.data(), block.size());
    JpegInfo info;
    int r = ParseExif(copy.get(), block.size(), &info);
    if (rc) *rc = r;
    return info;
}

// A TIFF block written entry by entry, for cases no camera writes.
class RawTiff {
public:
    struct Entry {
        uint16_t tag = 0;
        uint16_t type = 0;
        uint32_t count = 0;
        uint32_t value = 0;       // in the block's byte order
        const char* raw = nullptr;  // or these four bytes verbatim
    };

    explicit RawTiff(bool bigEndian, size_t size = 512) : big_(bigEndian), bytes(size, 0) {
        bytes[0] = bytes[1] = bigEndian ? 'M' : 'I';
        put16(2, 42);
        put32(4, 8);
    }
    void put16(size_t at, uint16_t v) {
        grow(at + 2);
        bytes[at + (big_ ? 0 : 1)] = uint8_t(v >> 8);
        bytes[at + (big_ ? 1 : 0)] = uint8_t(v);
    }
    void put32(size_t at, uint32_t v) {
        grow(at + 4);
        for (int i = 0; i < 4; ++i) bytes[at + size_t(big_ ? 3 - i : i)] = uint8_t(v >> (8 * i));
    }
    void text(size_t at, const std::string& s) {
        grow(at + s.size());
        std::memcpy(bytes.data() + at, s.data(), s.size());
    }
    void ifd(size_t at, const std::vector<Entry>& entries, uint32_t next = 0) {
        put16(at, uint16_t(entries.size()));
        for (size_t i = 0; i < entries.size(); ++i) {
            size_t e = at + 2 + 12 * i;
            put16(e, entries[i].tag);
            put16(e + 2, entries[i].type);
            put32(e + 4, entries[i].count);
            if (entries[i].raw) std::memcpy(bytes.data() + e + 8, entries[i].raw, 4);
            else put32(e + 8, entries[i].value);
        }
        put32(at + 2 + 12 * entries.size(), next);
    }
    void rational(size_t at, uint32_t num, uint32_t den) {
        put32(at, num);
        put32(at + 4, den);
    }

private:
    void grow(size_t n) {
        if (bytes.size() < n) bytes.resize(n, 0);
    }
    bool big_;

public:
    std::vector<uint8_t> bytes;
};

// ---- Real pictures ---------------------------------------------------------

std::vector<uint8_t> ReadFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// The TIFF block of the first "Exif" APP1 segment among the markers before
// the first scan; empty when there is none.
std::vector<uint8_t> ExifBlockOf(const std::vector<uint8_t>& jpeg) {
    size_t at = 2;
    while (at + 4 <= jpeg.size() && jpeg[at] == 0xFF && jpeg[at + 1] != 0xDA) {
        size_t len = size_t(jpeg[at + 2]) << 8 | jpeg[at + 3];
        if (len < 2 || at + 2 + len > jpeg.size()) break;
        if (jpeg[at + 1] == 0xE1 && len >= 8 && std::memcmp(&jpeg[at + 4], "Exif\0\0", 6) == 0)
            return std::vector<uint8_t>(jpeg.begin() + long(at + 10), jpeg.begin() + long(at + 2 + len));
        at += 2 + len;
    }
    return {};
}

std::vector<fs::path> SharedPhotos() {
    std::vector<fs::path> photos;
    fs::path root(VELD_SHARED_PHOTOS);
    std::error_code ec;
    if (!fs::is_directory(root, ec)) return photos;
    for (auto& e : fs::recursive_directory_iterator(root, ec))
        if (e.is_regular_file() && e.path().extension() == ".jpg") photos.push_back(e.path());
    std::sort(photos.begin(), photos.end());
    return photos;
}

// What the reader should find, worked out separately from it: a recursive
// walk that gathers the raw entries per directory kind, then applies the
// field rules (first 50 bytes of make/model, first date met, single SHORT or
// LONG sizes, rationals shown with one decimal and then truncated).
struct Expected {
    std::string make, model, date;
    int32_t width = 0, height = 0;
    char latRef = 0, lonRef = 0;
    int32_t lat[3] = {0, 0, 0}, lon[3] = {0, 0, 0};
    bool bigEndian = false;
    bool gps = false;
};

Expected ReferenceRead(const std::vector<uint8_t>& t) {
    Expected x;
    x.bigEndian = t[0] == 'M';
    auto u16 = [&](size_t o) -> uint32_t {
        if (o + 2 > t.size()) return 0;
        return x.bigEndian ? (t[o] << 8 | t[o + 1]) : (t[o + 1] << 8 | t[o]);
    };
    auto u32 = [&](size_t o) -> uint32_t {
        if (o + 4 > t.size()) return 0;
        return x.bigEndian ? (u16(o) << 16 | u16(o + 2)) : (u16(o + 2) << 16 | u16(o));
    };
    auto ascii = [&](size_t entry, size_t limit) {
        uint32_t count = u32(entry + 4);
        size_t from = count <= 4 ? entry + 8 : u32(entry + 8);
        std::string s;
        for (size_t i = 0; i < std::min<size_t>({count, limit, 100}) && from + i < t.size() && t[from + i]; ++i)
            s += char(t[from + i]);
        return s;
    };
    auto number = [&](size_t entry) -> int32_t {
        if (u32(entry + 4) != 1) return 0;
        uint32_t type = u16(entry + 2);
        return type == 3 ? int32_t(u16(entry + 8)) : type == 4 ? int32_t(u32(entry + 8)) : 0;
    };
    auto dms = [&](size_t entry, int32_t out[3]) {
        uint32_t count = u32(entry + 4);
        size_t from = u32(entry + 8);
        for (uint32_t i = 0; i < 3 && i < count; ++i) {
            uint32_t den = u32(from + 8 * i + 4);
            double v = den ? double(u32(from + 8 * i)) / den : 0.0;
            out[i] = int32_t(std::trunc(std::round(v * 10) / 10));
        }
    };
    uint32_t exifAt = 0, gpsAt = 0;
    std::set<uint32_t> seen;
    std::function<void(uint32_t, int)> walk = [&](uint32_t at, int kind) {
        if (!at || at + 2 > t.size() || !seen.insert(at).second) return;
        uint32_t n = u16(at);
        for (uint32_t i = 0; i < n && at + 2 + 12 * (i + 1) <= t.size(); ++i) {
            size_t e = at + 2 + 12 * i;
            switch (u16(e)) {
            case 271: x.make = ascii(e, 50); break;
            case 272: x.model = ascii(e, 50); break;
            case 306: case 36867:
                if (x.date.empty()) x.date = ascii(e, 21);
                break;
            case 34665: exifAt = u32(e + 8) & 0xFFFF; break;
            case 34853: gpsAt = u32(e + 8) & 0xFFFF; break;
            case 40962: x.width = number(e); break;
            case 40963: x.height = number(e); break;
            }
            if (kind == 2) {
                x.gps = true;
                switch (u16(e)) {
                case 1: x.latRef = char(t[e + 8]); break;
                case 2: dms(e, x.lat); break;
                case 3: x.lonRef = char(t[e + 8]); break;
                case 4: dms(e, x.lon); break;
                }
            }
        }
        walk(u32(at + 2 + 12 * n), kind);
    };
    walk(u32(4), 0);
    walk(exifAt, 1);
    walk(gpsAt, 2);
    for (size_t p : {4, 7})
        if (x.date.size() > p) x.date[p] = '/';
    return x;
}

TEST(ExifReader, RealPhotosMatchIndependentReading) {
    auto photos = SharedPhotos();
    if (photos.empty()) GTEST_SKIP() << "shared photos not present";
    int withExif = 0, motorola = 0, withGps = 0, withDate = 0;
    for (const auto& path : photos) {
        SCOPED_TRACE(path.filename().string());
        auto block = ExifBlockOf(ReadFile(path));
        if (block.empty()) continue;
        ++withExif;
        Expected x = ReferenceRead(block);
        int rc = 0;
        JpegInfo info = Parse(block, &rc);
        EXPECT_EQ(rc, 1);
        EXPECT_EQ(info.make, x.make);
        EXPECT_EQ(info.model, x.model);
        EXPECT_EQ(info.dateTime, x.date);
        EXPECT_EQ(info.exifWidth, x.width);
        EXPECT_EQ(info.exifHeight, x.height);
        EXPECT_EQ(info.latRef, x.latRef);
        EXPECT_EQ(info.lonRef, x.lonRef);
        EXPECT_EQ(info.latDeg, x.lat[0]);
        EXPECT_EQ(info.latMin, x.lat[1]);
        EXPECT_EQ(info.latSec, x.lat[2]);
        EXPECT_EQ(info.lonDeg, x.lon[0]);
        EXPECT_EQ(info.lonMin, x.lon[1]);
        EXPECT_EQ(info.lonSec, x.lon[2]);
        motorola += x.bigEndian;
        withGps += x.gps;
        withDate += !info.dateTime.empty();
    }
    // The collection holds both byte orders and GPS pictures; make sure the
    // comparison above really covered them.
    EXPECT_GE(withExif, 30);
    EXPECT_GE(motorola, 5);
    EXPECT_GE(withGps, 9);
    EXPECT_GE(withDate, 25);
}

// Values read off these pictures with an independent EXIF tool.
TEST(ExifReader, RealPhotosKnownValues) {
    fs::path root(VELD_SHARED_PHOTOS);
    if (!fs::is_directory(root)) GTEST_SKIP() << "shared photos not present";
    auto parse = [&](const char* name) {
        auto block = ExifBlockOf(ReadFile(root / name));
        EXPECT_FALSE(block.empty()) << name;
        return Parse(block);
    };

    JpegInfo canon = parse("Canon_40D.jpg");  // Intel order, LONG sizes
    EXPECT_EQ(canon.make, "Canon");
    EXPECT_EQ(canon.model, "Canon EOS 40D");
    EXPECT_EQ(canon.dateTime, "2008/07/31 10:38:11");  // DateTime (IFD0) wins over DateTimeOriginal
    EXPECT_EQ(canon.exifWidth, 100);
    EXPECT_EQ(canon.exifHeight, 68);
    EXPECT_EQ(canon.latRef, 0);

    JpegInfo fuji = parse("Fujifilm_FinePix_E500.jpg");  // Motorola order
    EXPECT_EQ(fuji.make, "FUJIFILM");
    EXPECT_EQ(fuji.model, "FinePix E500   ");
    EXPECT_EQ(fuji.dateTime, "2008/07/31 16:49:10");
    EXPECT_EQ(fuji.exifWidth, 59);
    EXPECT_EQ(fuji.exifHeight, 100);

    JpegInfo dc240 = parse("exif-org/kodak-dc240.jpg");  // Motorola order, SHORT sizes
    EXPECT_EQ(dc240.exifWidth, 1280);
    EXPECT_EQ(dc240.exifHeight, 960);
    EXPECT_EQ(dc240.model, "KODAK DC240 ZOOM DIGITAL CAMERA");

    JpegInfo ixus = parse("Canon_DIGITAL_IXUS_400.jpg");  // Intel order, SHORT sizes
    EXPECT_EQ(ixus.exifWidth, 100);
    EXPECT_EQ(ixus.exifHeight, 75);
    EXPECT_EQ(ixus.orientation, 0);  // no Orientation tag
    EXPECT_EQ(canon.orientation, 1);
    EXPECT_EQ(fuji.orientation, 1);

    JpegInfo dc210 = parse("exif-org/kodak-dc210.jpg");  // DateTimeOriginal only
    EXPECT_EQ(dc210.dateTime, "2000/10/26 16:46:51");
    EXPECT_EQ(dc210.exifWidth, 0);

    JpegInfo cx7530 = parse("Kodak_CX7530.jpg");
    // Its sizes are SHORT with count 2: not a single value, so they read as 0.
    EXPECT_EQ(cx7530.exifWidth, 0);
    EXPECT_EQ(cx7530.exifHeight, 0);
    EXPECT_EQ(cx7530.latRef, 'S');  // 0/1, 22278/1000, 0/1
    EXPECT_EQ(cx7530.latDeg, 0);
    EXPECT_EQ(cx7530.latMin, 22);
    EXPECT_EQ(cx7530.latSec, 0);
    EXPECT_EQ(cx7530.lonRef, 'E');  // 36/1, 3385/1000, 0/1
    EXPECT_EQ(cx7530.lonDeg, 36);
    EXPECT_EQ(cx7530.lonMin, 3);

    JpegInfo gps = parse("gps/DSCN0010.jpg");
    EXPECT_EQ(gps.make, "NIKON");
    EXPECT_EQ(gps.model, "COOLPIX P6000");
    EXPECT_EQ(gps.dateTime, "2008/11/01 21:15:07");
    EXPECT_EQ(gps.exifWidth, 640);
    EXPECT_EQ(gps.latRef, 'N');  // 43/1, 28/1, 281400000/100000000
    EXPECT_EQ(gps.latDeg, 43);
    EXPECT_EQ(gps.latMin, 28);
    EXPECT_EQ(gps.latSec, 2);
    EXPECT_EQ(gps.lonRef, 'E');  // 11/1, 53/1, 645599999/100000000 (6.456 shows as 6.5)
    EXPECT_EQ(gps.lonDeg, 11);
    EXPECT_EQ(gps.lonMin, 53);
    EXPECT_EQ(gps.lonSec, 6);

    JpegInfo gps25 = parse("gps/DSCN0025.jpg");  // 538859999/10000000 = 53.886 s
    EXPECT_EQ(gps25.lonMin, 52);
    EXPECT_EQ(gps25.lonSec, 53);

    JpegInfo samsung = parse("Samsung_Digimax_i50_MP3.jpg");  // 43 KB segment
    EXPECT_EQ(samsung.make, "Samsung Techwin");
    EXPECT_EQ(samsung.model, "<Digimax i50 MP3, Samsung #1 MP3>");
}

// Every prefix of a real block must parse without reading past its end.
TEST(ExifReader, TruncatedRealBlocksStayInside) {
    auto photos = SharedPhotos();
    if (photos.empty()) GTEST_SKIP() << "shared photos not present";
    int cut = 0;
    for (const auto& path : photos) {
        auto block = ExifBlockOf(ReadFile(path));
        if (block.empty()) continue;
        size_t step = std::max<size_t>(1, block.size() / 97);
        for (size_t n = 0; n < block.size(); n += step) {
            std::vector<uint8_t> prefix(block.begin(), block.begin() + long(n));
            int rc = -1;
            JpegInfo info = Parse(prefix, &rc);
            EXPECT_EQ(rc, n >= 2 ? 1 : 0);
            EXPECT_LE(info.make.size(), 50u);
            EXPECT_LE(info.dateTime.size(), 21u);
            ++cut;
        }
    }
    EXPECT_GT(cut, 1000);
}

// ---- Built blocks ------------------------------------------------------------

TEST(ExifReader, IntelAndMotorolaOrderGiveSameFields) {
    test::TestExif e;
    e.make = "Canon";
    e.model = "Canon PowerShot A95";
    e.dateTime = "2009:05:17 10:20:30";
    e.pixelX = 2592;
    e.pixelY = 1944;
    e.pixelAsShort = true;
    e.hasGps = true;
    for (bool big : {false, true}) {
        SCOPED_TRACE(big ? "MM" : "II");
        e.bigEndian = big;
        auto block = test::MakeExifTiff(e);
        ASSERT_EQ(block[0], big ? 'M' : 'I');
        int rc = 0;
        JpegInfo info = Parse(block, &rc);
        EXPECT_EQ(rc, 1);
        EXPECT_EQ(info.make, "Canon");
        EXPECT_EQ(info.model, "Canon PowerShot A95");
        EXPECT_EQ(info.dateTime, "2009/05/17 10:20:30");
        EXPECT_EQ(info.exifWidth, 2592);
        EXPECT_EQ(info.exifHeight, 1944);
        // GPS 35/1, 39/1, 2934/100: seconds lose their fraction.
        EXPECT_EQ(info.latRef, 'N');
        EXPECT_EQ(info.latDeg, 35);
        EXPECT_EQ(info.latMin, 39);
        EXPECT_EQ(info.latSec, 29);
        EXPECT_EQ(info.lonRef, 'E');
        EXPECT_EQ(info.lonDeg, 139);
        EXPECT_EQ(info.lonMin, 44);
        EXPECT_EQ(info.lonSec, 50);
    }
}

TEST(ExifReader, DateFromDateTimeOriginalWhenDateTimeAbsent) {
    test::TestExif e;
    e.dateTimeOriginal = "2009:05:17 10:20:30";
    EXPECT_EQ(Parse(test::MakeExifTiff(e)).dateTime, "2009/05/17 10:20:30");
    e.dateTime = "2010:01:02 03:04:05";  // IFD0 is read before the EXIF IFD
    EXPECT_EQ(Parse(test::MakeExifTiff(e)).dateTime, "2010/01/02 03:04:05");
}

TEST(ExifReader, FourCharacterMakeIsReadFromTheValueField) {
    for (bool big : {false, true}) {
        RawTiff t(big);
        // Make "SONY" with count 4 (no terminator) and Model "RC" with count 3, both inline.
        t.ifd(8, {{271, 2, 4, 0, "SONY"}, {272, 2, 3, 0, "RC\0\0"}});
        JpegInfo info = Parse(t.bytes);
        EXPECT_EQ(info.make, "SONY");
        EXPECT_EQ(info.model, "RC");
    }
}

TEST(ExifReader, TextsAreCutAtFiftyBytesAndAtTheFirstZero) {
    RawTiff t(false);
    std::string longMake(70, 'M');
    t.text(200, longMake);
    t.text(300, std::string("AB\0CD", 5));
    t.text(320, "2009:05:17 10:20:30 and more");
    t.ifd(8, {{271, 2, 71, 200}, {272, 2, 5, 300}, {306, 2, 29, 320}});
    JpegInfo info = Parse(t.bytes);
    EXPECT_EQ(info.make, std::string(50, 'M'));
    EXPECT_EQ(info.model, "AB");
    EXPECT_EQ(info.dateTime, "2009/05/17 10:20:30 a");  // 21 bytes
}

TEST(ExifReader, ShortDateTextGetsOnlyTheSlashesItHas) {
    RawTiff t(false);
    t.ifd(8, {{306, 2, 4, 0, "2009"}});
    EXPECT_EQ(Parse(t.bytes).dateTime, "2009");
    RawTiff u(false);
    u.text(100, "2009:05");
    u.ifd(8, {{306, 2, 8, 100}});
    EXPECT_EQ(Parse(u.bytes).dateTime, "2009/05");
}

TEST(ExifReader, RationalTextsAndZeroDenominator) {
    RawTiff t(true);
    t.rational(100, 35, 1);
    t.rational(108, 39, 0);  // denominator 0 reads as 0
    t.rational(116, 2934, 100);
    t.ifd(8, {{2, 5, 3, 100}});
    ByteReader reader(t.bytes.data(), t.bytes.size());
    EXPECT_STREQ(ExifValueText(reader, 10, true), "    35.0, 0.0,     29.3, ");

    // In the GPS IFD the same rationals give 35, 0, 29.
    RawTiff g(true);
    g.ifd(8, {{34853, 4, 1, 40}});
    g.ifd(40, {{1, 2, 2, 0, "N\0\0\0"}, {2, 5, 3, 100}});
    g.rational(100, 35, 1);
    g.rational(108, 39, 0);
    g.rational(116, 2934, 100);
    JpegInfo info = Parse(g.bytes);
    EXPECT_EQ(info.latRef, 'N');
    EXPECT_EQ(info.latDeg, 35);
    EXPECT_EQ(info.latMin, 0);
    EXPECT_EQ(info.latSec, 29);
}

TEST(ExifReader, GpsTagsCountOnlyInTheGpsDirectory) {
    RawTiff t(false);
    // Tags 1 and 2 in IFD0 mean something else there and are ignored.
    t.ifd(8, {{1, 2, 2, 0, "N\0\0\0"}, {2, 5, 3, 100}});
    t.rational(100, 35, 1);
    JpegInfo info = Parse(t.bytes);
    EXPECT_EQ(info.latRef, 0);
    EXPECT_EQ(info.latDeg, 0);
}

TEST(ExifReader, BadCountsAndTypesGiveEmptyTexts) {
    struct Case { uint16_t type; uint32_t count; int32_t width; };
    const Case cases[] = {
        {3, 1, 640},      // control: a SHORT of count 1 reads
        {4, 1, 640},      // and a LONG
        {3, 0, 0},        // count 0
        {3, 1001, 0},     // count above 1000
        {0, 1, 0},        // type 0
        {11, 1, 0},       // type above 10 (FLOAT)
        {3, 2, 0},        // several values are not read as a number
    };
    for (bool big : {false, true}) {
        for (const Case& c : cases) {
            SCOPED_TRACE(testing::Message() << "type " << c.type << " count " << c.count << (big ? " MM" : " II"));
            RawTiff t(big);
            t.ifd(8, {{34665, 4, 1, 40}});
            uint32_t value = c.type == 3 ? (big ? 640u << 16 : 640u) : 640u;
            t.ifd(40, {{40962, c.type, c.count, value}, {40963, c.type, c.count, value}});
            JpegInfo info = Parse(t.bytes);
            EXPECT_EQ(info.exifWidth, c.width);
            EXPECT_EQ(info.exifHeight, c.width);
        }
    }
}

TEST(ExifReader, BadCountsEmptyTextsOfEveryType) {
    // ASCII and RATIONAL values that would read well apart from their count.
    for (uint32_t count : {0u, 1001u, 0xFFFFFFFFu}) {
        SCOPED_TRACE(count);
        RawTiff t(false, 2000);
        t.text(100, "Camera maker");
        t.ifd(8, {{271, 2, count, 100}, {34853, 4, 1, 40}});
        t.ifd(40, {{2, 5, count, 200}});
        t.rational(200, 35, 1);
        JpegInfo info = Parse(t.bytes);
        EXPECT_EQ(info.make, "");
        EXPECT_EQ(info.latDeg, 0);
    }
    RawTiff ok(false, 2000);  // control: count 1000 is still read
    ok.text(100, "Camera maker");
    ok.ifd(8, {{271, 2, 1000, 100}});
    EXPECT_EQ(Parse(ok.bytes).make, "Camera maker");
}

TEST(ExifReader, WrongByteOrderMarkLeavesFieldsUntouched) {
    test::TestExif e;
    e.make = "Canon";
    std::vector<uint8_t> block = test::MakeExifTiff(e);
    block[0] = 'X';
    JpegInfo info;
    info.make = "kept";
    EXPECT_EQ(ParseExif(block.data(), block.size(), &info), 0);
    EXPECT_EQ(info.make, "kept");
    EXPECT_EQ(ParseExif(block.data(), 1, &info), 0);
    EXPECT_EQ(ParseExif(nullptr, 0, &info), 0);
}

TEST(ExifReader, WildOffsetsAreIgnored) {
    for (bool big : {false, true}) {
        SCOPED_TRACE(big ? "MM" : "II");
        RawTiff t(big, 200);
        t.text(150, "Model X");
        t.ifd(8, {
            {271, 2, 20, 0xFFFFFFF0u},       // make far past the end (64-bit sum must not wrap)
            {272, 2, 8, 150},                // a good model after it
            {306, 2, 20, 195},               // date running off the end
            {34853, 4, 1, 0xFFF0},           // GPS IFD past the end
            {34665, 4, 1, 190},              // EXIF IFD whose entries run off the end
        }, 0x7FFFFFFF);                      // next IFD past the end
        t.put16(190, 0xFFFF);                // 65535 entries claimed
        t.bytes.resize(200);
        int rc = 0;
        JpegInfo info = Parse(t.bytes, &rc);
        EXPECT_EQ(rc, 1);
        EXPECT_EQ(info.make, "");
        EXPECT_EQ(info.model, "Model X");
        EXPECT_EQ(info.dateTime, "");

        // A GPS rational list that starts inside and ends outside the block.
        RawTiff g(big, 120);
        g.ifd(8, {{34853, 4, 1, 40}});
        g.ifd(40, {{2, 5, 3, 100}});
        g.rational(100, 35, 1);
        g.rational(108, 39, 1);
        g.bytes.resize(120);  // third rational missing
        JpegInfo gi = Parse(g.bytes);
        EXPECT_EQ(gi.latDeg, 35);
        EXPECT_EQ(gi.latMin, 39);
        EXPECT_EQ(gi.latSec, 0);

        // First IFD past the end: a completed walk with nothing found.
        RawTiff f(big, 16);
        f.put32(4, 0xFFFFFFFFu);
        int frc = 0;
        JpegInfo fi = Parse(f.bytes, &frc);
        EXPECT_EQ(frc, 1);
        EXPECT_EQ(fi.make, "");
    }
}

TEST(ExifReader, LoopingChainsEnd) {
    // IFD0 whose next-IFD offset points at itself.
    RawTiff self(false);
    self.ifd(8, {{271, 2, 4, 0, "ABC\0"}}, 8);
    int rc = 0;
    EXPECT_EQ(Parse(self.bytes, &rc).make, "ABC");
    EXPECT_EQ(rc, 1);

    // IFD0 -> IFD1 -> IFD0, an EXIF IFD pointing to itself, a GPS pointer back
    // to IFD0; the pictures' fields are still read.
    RawTiff loop(true);
    loop.ifd(8, {{271, 2, 4, 0, "ABC\0"}, {34665, 4, 1, 100}, {34853, 4, 1, 150}}, 60);
    loop.ifd(60, {{272, 2, 4, 0, "XYZ\0"}}, 8);
    loop.ifd(100, {{40962, 4, 1, 320}, {34665, 4, 1, 100}, {34853, 4, 1, 150}});
    loop.ifd(150, {{2, 5, 1, 200}, {34853, 4, 1, 8}, {34665, 4, 1, 100}}, 150);
    loop.rational(200, 12, 1);
    JpegInfo info = Parse(loop.bytes, &rc);
    EXPECT_EQ(rc, 1);
    EXPECT_EQ(info.make, "ABC");
    EXPECT_EQ(info.model, "XYZ");
    EXPECT_EQ(info.exifWidth, 320);
    EXPECT_EQ(info.latDeg, 12);

    // A chain of 100 distinct IFDs, each naming its place: the walk stops
    // after a bounded number of them and still completes.
    RawTiff chain(false, 8 + 100 * 20);
    for (uint32_t k = 0; k < 100; ++k) {
        std::string name = "M" + std::to_string(k);
        name.resize(4, '\0');
        chain.ifd(8 + 20 * k, {{271, 2, 4, 0, name.c_str()}}, k + 1 < 100 ? 8 + 20 * (k + 1) : 0);
    }
    info = Parse(chain.bytes, &rc);
    EXPECT_EQ(rc, 1);
    ASSERT_GE(info.make.size(), 2u);
    int reached = std::stoi(info.make.substr(1));
    EXPECT_GE(reached, 3);   // IFD0, IFD1 and more are read
    EXPECT_LT(reached, 99);  // but not the whole chain
}

TEST(ExifReader, DirectoryPointersUseTheLowSixteenBits) {
    // An EXIF segment is at most 64 KiB, so only the low half of the pointer
    // is taken; a pointer of 0x10028 leads to offset 0x28.
    RawTiff t(false);
    t.ifd(8, {{34665, 4, 1, 0x10028}});
    t.ifd(0x28, {{40962, 4, 1, 800}});
    EXPECT_EQ(Parse(t.bytes).exifWidth, 800);
}

TEST(ExifReader, OrientationOfIfd0InBothByteOrders) {
    for (bool big : {false, true}) {
        for (uint16_t value = 1; value <= 8; ++value) {
            test::TestExif e;
            e.bigEndian = big;
            e.make = "Canon";
            e.orientation = value;
            EXPECT_EQ(Parse(test::MakeExifTiff(e)).orientation, value) << big;
        }
    }
    test::TestExif none;
    none.make = "Canon";
    EXPECT_EQ(Parse(test::MakeExifTiff(none)).orientation, 0);
}

TEST(ExifReader, OrientationOfTheThumbnailOrOutOfRangeIsNotThePictures) {
    // IFD1 (the thumbnail's directory) follows IFD0 and may carry its own.
    RawTiff t(false);
    t.ifd(8, {{271, 2, 4, 0, "SONY"}}, 0x40);
    t.ifd(0x40, {{274, 3, 1, 6}});
    EXPECT_EQ(Parse(t.bytes).orientation, 0);

    RawTiff both(true);
    both.ifd(8, {{274, 3, 1, 0x00080000u}}, 0x40);  // SHORT 8 at the start of the field
    both.ifd(0x40, {{274, 3, 1, 0x00030000u}});
    EXPECT_EQ(Parse(both.bytes).orientation, 8);

    for (uint32_t bad : {0u, 9u, 0xFFFFu}) {
        RawTiff odd(false);
        odd.ifd(8, {{274, 3, 1, bad}}, 0x40);
        odd.ifd(0x40, {{274, 3, 1, 6}});
        EXPECT_EQ(Parse(odd.bytes).orientation, 0) << bad;
    }
    // In the EXIF directory the tag means nothing.
    RawTiff exif(false);
    exif.ifd(8, {{34665, 4, 1, 0x40}});
    exif.ifd(0x40, {{274, 3, 1, 6}});
    EXPECT_EQ(Parse(exif.bytes).orientation, 0);
}

TEST(ExifReader, SingleNumbersOfEveryWidth) {
    RawTiff t(true);
    t.ifd(8, {{1, 1, 1, 0, "\x7F\0\0\0"}, {2, 3, 1, 0xBEEF0000u}, {3, 4, 1, 0xFFFFFFFFu}, {4, 9, 1, 123456}});
    ByteReader r(t.bytes.data(), t.bytes.size());
    EXPECT_STREQ(ExifValueText(r, 10, true), "127");
    EXPECT_STREQ(ExifValueText(r, 22, true), "48879");
    EXPECT_STREQ(ExifValueText(r, 34, true), "-1");
    EXPECT_STREQ(ExifValueText(r, 46, true), "123456");
    EXPECT_STREQ(ExifValueText(r, t.bytes.size() - 4, true), "");  // entry itself past the end
}

}  // namespace
}  // namespace veld

namespace veld {
namespace {

// Random byte damage to a block with every kind of directory: the reader
// must finish and stay inside the block (checked under AddressSanitizer).
TEST(ExifReader, RandomlyDamagedBlocksStayInside) {
    test::TestExif e;
    e.make = "Canon";
    e.model = "Canon EOS 40D";
    e.dateTime = "2009:05:17 10:20:30";
    e.dateTimeOriginal = "2009:05:17 10:20:30";
    e.pixelX = 640;
    e.pixelY = 480;
    e.hasGps = true;
    std::mt19937 rng(3);
    int completed = 0;
    for (bool big : {false, true}) {
        e.bigEndian = big;
        const auto block = test::MakeExifTiff(e);
        for (int round = 0; round < 3000; ++round) {
            auto bad = block;
            for (int k = 0; k < 1 + round % 6; ++k) bad[2 + rng() % (bad.size() - 2)] = uint8_t(rng());
            int rc = 0;
            JpegInfo info = Parse(bad, &rc);
            completed += rc;
            EXPECT_LE(info.make.size(), 50u);
            EXPECT_LE(info.model.size(), 50u);
            EXPECT_LE(info.dateTime.size(), 21u);
        }
    }
    EXPECT_EQ(completed, 6000);
}

}  // namespace
}  // namespace veld
