// Parsing of the ISO base media boxes the walk reads for metadata, from bytes
// already read: the "meta" box of a HEIF picture (its items, where they lie,
// the primary picture's size) and the "moov" box of a clip or CR3 (creation
// time, running time, frame size, CR3's TIFF blocks). Parsing only: the
// caller reads the box and checks what the offsets point at.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "base/byte_reader.h"

namespace veld {

// Box header (big-endian): u32 size (header included; 1: a u64 size follows
// the type; 0: to the end of the enclosing space), 4-character type.
struct BoxHeader {
    uint64_t size = 0;        // whole box; 0 when the header is damaged
    uint32_t headerSize = 8;  // 8, or 16 with a 64-bit size
    char type[4] = {0, 0, 0, 0};
    bool is(const char* t) const { return type[0] == t[0] && type[1] == t[1] && type[2] == t[2] && type[3] == t[3]; }
};
// The header of the box at offset inside bytes [0, end): size 0 reaches to
// end; sizes below the header or past end give size 0 (damaged).
BoxHeader ReadBoxHeader(const ByteReader& bytes, uint64_t offset, uint64_t end);

// A run of bytes of the file: offset from the file's first byte, length.
struct FileExtent {
    uint64_t offset = 0;
    uint64_t length = 0;
};

struct HeifMeta {
    bool parsed = false;              // an "iloc" box was read
    uint64_t dataEnd = 0;             // the furthest byte any item's file extents reach
    std::vector<FileExtent> exif;     // extents of the "Exif" item, in order
    int32_t width = 0, height = 0;    // "ispe" of the primary item
    // A primary item of type "grid" is put together from the tiles it
    // references ("dimg"; one tile may be referenced many times).
    bool primaryIsGrid = false;
    uint64_t tilePixels = 0;          // the "ispe" pixels of every reference, summed
    FileExtent primaryData;           // the primary item's first extent
    bool primaryInIdat = false;       // ... counted from the start of "idat"'s data
    FileExtent idat;                  // "idat"'s data inside the meta bytes; 0 length when absent
};
// Parses the body of a "meta" box (bytes from its header on).
HeifMeta ParseHeifMeta(const ByteReader& meta);

// The pixels a decoder makes for the primary picture of a whole HEIF file:
// for a grid the larger of its output canvas (read from the grid item's
// data) and its tiles' pixels, else the primary item's "ispe". 0 when the
// file has no "meta" box; UINT64_MAX when a grid's size cannot be read.
uint64_t HeifDecodePixels(const ByteReader& file);

struct MovieHeader {
    uint64_t created = 0;        // seconds since 1904-01-01 UTC; 0 unknown
    uint64_t durationMs = 0;
    int32_t width = 0, height = 0;  // the first track with a picture size
    // CR3: the TIFF blocks of its Canon box in moov, as offsets inside the
    // bytes given (0 length when absent): IFD0, EXIF IFD, GPS IFD.
    FileExtent cmt1, cmt2, cmt4;
};
// Parses a "moov" box (bytes from its header on; may be cut short: what lies
// in the bytes is read).
MovieHeader ParseMoov(const ByteReader& moov);

// The 16-byte user types of the top-level "uuid" boxes a CR3 carries.
extern const uint8_t kCanonPreviewUuid[16];  // holds "PRVW": a JPEG preview
extern const uint8_t kCanonMetadataUuid[16]; // inside moov: CMT1..CMT4, THMB

}  // namespace veld
