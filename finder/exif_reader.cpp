// EXIF reader: walks the IFDs of the TIFF block inside a JPEG's "Exif" APP1
// segment and picks out make, model, date, pixel size and GPS position.
//
// TIFF layout (offsets from the byte-order mark, multi-byte values in the
// byte order the mark names):
//   0  2 bytes  "II" little-endian (Intel) or "MM" big-endian (Motorola)
//   2  u16      42
//   4  u32      offset of IFD0
// IFD at offset b:
//   b           u16 number of entries n
//   b + 2 + 12i entry i (table below)
//   b + 2 + 12n u32 offset of the next IFD, 0 at the end of the chain
// Entry (12 bytes):
//   0  u16  tag
//   2  u16  field type (1 BYTE, 2 ASCII, 3 SHORT, 4 LONG, 5 RATIONAL, 6 SBYTE,
//           7 UNDEFINED, 8 SSHORT, 9 SLONG, 10 SRATIONAL)
//   4  u32  count of values
//   8  4 bytes  the value itself when it fits, else its offset
#include "finder/exif_reader.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <set>

namespace veld {

namespace {

namespace tiff {
constexpr uint64_t ByteOrder = 0;     // "II" or "MM"
constexpr uint64_t FirstIfd = 4;      // u32
constexpr uint64_t IfdCountSize = 2;  // u16 entry count
constexpr uint64_t EntrySize = 12;
constexpr uint64_t EntryTag = 0;      // u16
constexpr uint64_t EntryType = 2;     // u16
constexpr uint64_t EntryCount = 4;    // u32
constexpr uint64_t EntryValue = 8;    // u32 value or offset
}  // namespace tiff

namespace tag {
constexpr uint16_t GpsLatitudeRef = 1;
constexpr uint16_t GpsLatitude = 2;
constexpr uint16_t GpsLongitudeRef = 3;
constexpr uint16_t GpsLongitude = 4;
constexpr uint16_t Make = 271;
constexpr uint16_t Model = 272;
constexpr uint16_t Orientation = 274;  // 0x0112
constexpr uint16_t DateTime = 306;
constexpr uint16_t ExifIfdPointer = 34665;
constexpr uint16_t GpsIfdPointer = 34853;
constexpr uint16_t DateTimeOriginal = 36867;
constexpr uint16_t PixelXDimension = 40962;
constexpr uint16_t PixelYDimension = 40963;
}  // namespace tag

namespace type {
constexpr uint16_t Byte = 1;
constexpr uint16_t Ascii = 2;
constexpr uint16_t Short = 3;
constexpr uint16_t Rational = 5;
constexpr uint16_t SByte = 6;
constexpr uint16_t Undefined = 7;
constexpr uint16_t SShort = 8;
constexpr uint16_t SRational = 10;
}  // namespace type

constexpr size_t kValueTextSize = 1024;
constexpr size_t kValueTextZeroed = 101;  // covers the longest ASCII copy (100) and its terminator
constexpr size_t kTextFieldBytes = 50;    // make and model
constexpr size_t kDateBytes = 21;
// IFD0, IFD1, EXIF and GPS are all a camera writes; anything far beyond is a
// damaged or hostile chain.
constexpr int kMaxIfdsVisited = 32;

enum class Mode { Main, Exif, Gps };

// Text of at most maxBytes, cut at the first NUL.
std::string FieldText(const char* text, size_t maxBytes) {
    return std::string(text, strnlen(text, maxBytes));
}

int32_t DecimalValue(const char* text) {
    long long v = std::strtoll(text, nullptr, 10);
    if (v > std::numeric_limits<int32_t>::max()) return std::numeric_limits<int32_t>::max();
    if (v < std::numeric_limits<int32_t>::min()) return std::numeric_limits<int32_t>::min();
    return int32_t(v);
}

// Truncation to a whole number that stays defined for any value the text held.
int32_t WholeNumber(double v) {
    if (!std::isfinite(v)) return 0;
    if (v >= 2147483647.0) return std::numeric_limits<int32_t>::max();
    if (v <= -2147483648.0) return std::numeric_limits<int32_t>::min();
    return int32_t(v);
}

// "%lf, %lf, %lf" of a GPS rational text into degrees, minutes, seconds.
void ReadDms(const char* text, int32_t* deg, int32_t* min, int32_t* sec) {
    double d = 0, m = 0, s = 0;
    std::sscanf(text, "%lf, %lf, %lf", &d, &m, &s);
    *deg = WholeNumber(d);
    *min = WholeNumber(m);
    *sec = WholeNumber(s);
}

}  // namespace

const char* ExifValueText(const ByteReader& tiff, uint64_t entryOffset, bool bigEndian) {
    thread_local char text[kValueTextSize];
    std::memset(text, 0, kValueTextZeroed);
    text[kValueTextSize - 1] = 0;

    if (!tiff.has(entryOffset, tiff::EntrySize)) return text;
    const uint16_t fieldType = tiff.u16(entryOffset + tiff::EntryType, bigEndian);
    const uint32_t count = tiff.u32(entryOffset + tiff::EntryCount, bigEndian);
    const uint64_t field = entryOffset + tiff::EntryValue;
    const uint32_t fieldValue = tiff.u32(field, bigEndian);

    if (count < 1 || count > 1000 || fieldType < 1 || fieldType > 10) return text;

    if (fieldType == type::Ascii || fieldType == type::Undefined) {
        if (count < 5) {
            std::memcpy(text, tiff.data() + field, 4);
        } else {
            // The value lies elsewhere; a range outside the block leaves the text empty.
            uint64_t n = count < 100 ? count : 100;
            if (tiff.has(fieldValue, n)) std::memcpy(text, tiff.data() + fieldValue, size_t(n));
        }
        return text;
    }

    if (fieldType == type::Rational || fieldType == type::SRational) {
        size_t used = 0;
        for (uint32_t i = 0; i < count; ++i) {
            uint64_t at = uint64_t(fieldValue) + 8 * uint64_t(i);
            if (!tiff.has(at, 8)) break;
            uint32_t numerator = tiff.u32(at, bigEndian);
            uint32_t denominator = tiff.u32(at + 4, bigEndian);
            char piece[64];
            if (denominator == 0) std::snprintf(piece, sizeof piece, "0.0, ");
            else std::snprintf(piece, sizeof piece, "%8.1lf, ", double(numerator) / double(denominator));
            size_t len = std::strlen(piece);
            if (used + len >= kValueTextSize - 1) break;
            std::memcpy(text + used, piece, len + 1);
            used += len;
        }
        return text;
    }

    if (count != 1) return text;
    int32_t value;
    if (fieldType == type::Short || fieldType == type::SShort) value = tiff.u16(field, bigEndian);
    else if (fieldType == type::Byte || fieldType == type::SByte) value = tiff.u8(field);
    else value = int32_t(fieldValue);
    std::snprintf(text, kValueTextSize, "%d", value);
    return text;
}

namespace {

// The walk itself: from IFD0 in the given mode; pointers to the EXIF and GPS
// IFDs are masked with pointerMask.
int ParseTiffIfds(const uint8_t* data, size_t length, JpegInfo* info, Mode startMode, uint32_t pointerMask) {
    const ByteReader tiff(data, data ? length : 0);
    bool bigEndian;
    if (tiff.equals(tiff::ByteOrder, "II", 2)) bigEndian = false;
    else if (tiff.equals(tiff::ByteOrder, "MM", 2)) bigEndian = true;
    else return 0;

    uint64_t ifd = tiff.u32(tiff::FirstIfd, bigEndian);
    uint32_t pendingExif = 0;
    uint32_t pendingGps = 0;
    Mode mode = startMode;
    std::set<uint64_t> visited;

    for (;;) {
        // Read the IFD at ifd unless it was read before (a chain or pointer that
        // leads back) or the walk has read as many IFDs as a picture can hold.
        uint64_t next = 0;
        if (ifd != 0 && visited.size() < size_t(kMaxIfdsVisited) && visited.insert(ifd).second &&
            tiff.has(ifd, tiff::IfdCountSize)) {
            const uint16_t entries = tiff.u16(ifd, bigEndian);
            const bool inIfd0 = mode == Mode::Main && visited.size() == 1;
            for (uint32_t i = 0; i < entries; ++i) {
                const uint64_t entry = ifd + tiff::IfdCountSize + tiff::EntrySize * i;
                if (!tiff.has(entry, tiff::EntrySize)) break;
                const uint16_t entryTag = tiff.u16(entry + tiff::EntryTag, bigEndian);
                const char* text = ExifValueText(tiff, entry, bigEndian);
                switch (entryTag) {
                case tag::Make:
                    info->make = FieldText(text, kTextFieldBytes);
                    break;
                case tag::Model:
                    info->model = FieldText(text, kTextFieldBytes);
                    break;
                case tag::DateTime:
                case tag::DateTimeOriginal:
                    // The first of the two met wins; the colons after year and
                    // month become slashes: "yyyy/mm/dd hh:mm:ss".
                    {
                        std::string date = FieldText(text, kDateBytes);
                        if (date.size() > 4) date[4] = '/';
                        if (date.size() > 7) date[7] = '/';
                        if (info->dateTime.empty()) info->dateTime = date;
                        if (entryTag == tag::DateTimeOriginal && info->dateTimeOriginal.empty())
                            info->dateTimeOriginal = date;
                    }
                    break;
                case tag::Orientation:
                    // How the stored rows and columns are to be turned for
                    // display. IFD0's describes the picture; IFD1, read after
                    // it, may carry the thumbnail's own.
                    if (inIfd0 && info->orientation == 0) {
                        const int32_t value = DecimalValue(text);
                        if (value >= 1 && value <= 8) info->orientation = uint16_t(value);
                    }
                    break;
                case tag::ExifIfdPointer:
                    pendingExif = tiff.u32(entry + tiff::EntryValue, bigEndian) & pointerMask;
                    break;
                case tag::GpsIfdPointer:
                    pendingGps = tiff.u32(entry + tiff::EntryValue, bigEndian) & pointerMask;
                    break;
                case tag::PixelXDimension:
                    info->exifWidth = DecimalValue(text);
                    break;
                case tag::PixelYDimension:
                    info->exifHeight = DecimalValue(text);
                    break;
                default:
                    break;
                }
                if (mode == Mode::Gps) {
                    switch (entryTag) {
                    case tag::GpsLatitudeRef: info->latRef = text[0]; break;
                    case tag::GpsLatitude: ReadDms(text, &info->latDeg, &info->latMin, &info->latSec); break;
                    case tag::GpsLongitudeRef: info->lonRef = text[0]; break;
                    case tag::GpsLongitude: ReadDms(text, &info->lonDeg, &info->lonMin, &info->lonSec); break;
                    default: break;
                    }
                }
            }
            const uint64_t nextAt = ifd + tiff::IfdCountSize + tiff::EntrySize * entries;
            if (tiff.has(nextAt, 4)) next = tiff.u32(nextAt, bigEndian);
        }

        if (next != 0) {
            ifd = next;  // IFD1 follows IFD0, in the same mode
        } else if (pendingExif != 0) {
            ifd = pendingExif;
            pendingExif = 0;
            mode = Mode::Exif;
        } else if (pendingGps != 0) {
            ifd = pendingGps;
            pendingGps = 0;
            mode = Mode::Gps;
        } else {
            return 1;
        }
    }
}

}  // namespace

// Only the low 16 bits of the EXIF and GPS pointers are kept: an EXIF segment
// is at most 64 KiB.
int ParseExif(const uint8_t* data, size_t length, JpegInfo* info) {
    return ParseTiffIfds(data, length, info, Mode::Main, 0xFFFF);
}

int ParseTiffMetadata(const uint8_t* data, size_t length, JpegInfo* info) {
    return ParseTiffIfds(data, length, info, Mode::Main, 0xFFFFFFFFu);
}

int ParseGpsTiff(const uint8_t* data, size_t length, JpegInfo* info) {
    return ParseTiffIfds(data, length, info, Mode::Gps, 0xFFFFFFFFu);
}

}  // namespace veld
