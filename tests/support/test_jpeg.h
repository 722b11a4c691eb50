// Pictures and clips built in code for planting on test cards: real JPEGs
// encoded with libjpeg (optionally with an EXIF APP1 segment) and minimal
// MP4 clips made of top-level atoms.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace veld::test {

// One unsigned rational: numerator, denominator.
using Rational = std::pair<uint32_t, uint32_t>;

// What goes into the EXIF segment. Empty texts and zero sizes are left out.
// IFD0 holds Make (271), Model (272), Orientation (274), DateTime (306) and
// the pointers to the EXIF IFD (34665) and GPS IFD (34853); the EXIF IFD
// holds DateTimeOriginal (36867), PixelXDimension (40962) and
// PixelYDimension (40963); the GPS IFD holds tags 1 to 4.
struct TestExif {
    bool bigEndian = false;          // "MM" (Motorola) when true, else "II" (Intel)
    std::string make;                // ASCII; four characters or fewer are stored inline
    std::string model;
    std::string dateTime;            // "yyyy:mm:dd hh:mm:ss"
    std::string dateTimeOriginal;
    uint32_t pixelX = 0;             // 0: tag omitted
    uint32_t pixelY = 0;
    bool pixelAsShort = false;       // SHORT (type 3) instead of LONG (type 4)
    uint16_t orientation = 0;        // Orientation (274) in IFD0, SHORT; 0: tag omitted
    bool hasGps = false;
    char latRef = 'N';
    std::array<Rational, 3> lat{{{35, 1}, {39, 1}, {2934, 100}}};   // degrees, minutes, seconds
    char lonRef = 'E';
    std::array<Rational, 3> lon{{{139, 1}, {44, 1}, {5012, 100}}};
};

// The TIFF block of an EXIF segment (from the byte-order mark on).
std::vector<uint8_t> MakeExifTiff(const TestExif& exif);
// A whole APP1 segment: 0xFF 0xE1, big-endian length, "Exif\0\0", TIFF block.
std::vector<uint8_t> MakeExifSegment(const TestExif& exif);

// A real baseline JPEG of the given size showing a gradient with a checker
// pattern (so it compresses to a realistic size), quality 85. With exif, an
// APP1 "Exif" segment is inserted right after the SOI marker (before JFIF).
// Grayscale pictures have one component.
std::vector<uint8_t> MakeTestJpeg(int width, int height, const TestExif* exif = nullptr,
                                  bool grayscale = false);

// The colour MakeTestJpeg paints at (x, y) before compression (R, G, B).
std::array<uint8_t, 3> TestJpegPixel(int x, int y, int width, int height);

// A minimal clip: an "ftyp" atom, then the atoms named in order. "mdat" gets
// mdatBytes of pseudo-random payload, "moov" a trivial "mvhd" inside, any
// other name (e.g. "free", "wide") an empty 8-byte atom of that type.
struct TestMp4 {
    std::string majorBrand = "isom";
    uint32_t minorVersion = 0x200;
    std::vector<std::string> compatibleBrands{"isom", "iso2", "avc1", "mp41"};
    std::vector<std::string> order{"moov", "mdat"};  // {"mdat"} omits moov
    uint32_t seed = 1;
};
std::vector<uint8_t> MakeTestMp4(size_t mdatBytes, const TestMp4& options = {});

// Byte offsets of the top-level atoms MakeTestMp4 wrote: (type, offset, size).
struct AtomPlace {
    std::string type;
    size_t offset = 0;
    size_t size = 0;
};
std::vector<AtomPlace> TopLevelAtoms(const std::vector<uint8_t>& clip);

}  // namespace veld::test
