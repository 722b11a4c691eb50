// The first key frame of a video clip held in memory, decoded with FFmpeg's
// libraries (libavformat, libavcodec, libswscale) into a 24-bit bitmap. The
// clip need not be all there: the parts given are read as the file, the rest
// reads as zeros, so its start (and an index stored at its end) suffice.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "base/dib24.h"

namespace veld {

// Bytes of a file at an offset from its first byte.
struct FilePart {
    uint64_t offset = 0;
    const uint8_t* data = nullptr;
    size_t size = 0;
};

// The first picture the clip's video stream decodes to; null when it has
// none, or any step fails.
DibPtr ClipFrameDecode(const std::vector<FilePart>& parts, uint64_t fileSize);

}  // namespace veld
