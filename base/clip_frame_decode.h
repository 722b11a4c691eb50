// The first key frame of a video clip held in memory, decoded with FFmpeg's
// libraries (libavformat, libavcodec, libswscale) into a 24-bit bitmap. The
// clip need not be all there: the parts given are read as the file, the rest
// reads as zeros, so its start (and an index stored at its end) suffice.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

#include "base/dib24.h"

namespace veld {

// Bytes of a file at an offset from its first byte.
struct FilePart {
    uint64_t offset = 0;
    const uint8_t* data = nullptr;
    size_t size = 0;
};

// Asked between the steps of a long decode; true stops it.
using DecodeCancelled = std::function<bool()>;

// The first key frame the clip's video stream decodes to; null when it has
// none, any step fails, or the decode is cancelled. A decode is bounded in
// packets and time whatever the clip holds.
DibPtr ClipFrameDecode(const std::vector<FilePart>& parts, uint64_t fileSize, const DecodeCancelled& cancelled = {});

}  // namespace veld
