// How far libjpeg gets through a JPEG's bytes before the data goes wrong: the
// test that confirms a picture put together from pieces (it must decode whole
// to its end of image). Where the first warning comes does not show where a
// wrong piece begins: the entropy decoder often resynchronises and warns
// much later, or not before the end. The bytes are
// decoded at an eighth of the picture's size (entropy decoding in full, next
// to nothing after it); the first warning of corrupt data (a code no table
// holds, a marker out of turn, bytes left over before a marker, data ending
// before the picture does) or an error gives the byte the decoder had reached.
// Data that merely runs out (the bytes of a picture still being put together)
// is not a fault of the bytes given.
#pragma once

#include <cstddef>
#include <cstdint>

namespace veld {

struct JpegDecodeProbe {
    // Bytes the decoder read before the first sign of wrong data; the whole
    // size when there was none. The decoder reads a little ahead, so the
    // fault lies at most a few hundred bytes before this.
    uint64_t goodUntil = 0;
    // Rows of the picture (at full size) decoded before that.
    uint32_t rows = 0;
    // True when every row decoded without a sign of wrong data and the end
    // of image came inside the bytes given; end is the byte after it.
    bool whole = false;
    uint64_t end = 0;
};

JpegDecodeProbe ProbeJpegDecode(const uint8_t* data, size_t size);

}  // namespace veld
