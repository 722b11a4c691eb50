// The EXIF reader over arbitrary TIFF blocks, and the value texts of the
// first directory entries.
#include <cstddef>
#include <cstdint>

#include "finder/exif_reader.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    veld::JpegInfo info;
    veld::ParseExif(data, size, &info);
    // The entries of the first directory, as the trace shows them.
    veld::ByteReader tiff(data, size);
    const bool bigEndian = tiff.equals(0, "MM", 2);
    const uint32_t ifd = bigEndian ? tiff.be32(4) : tiff.le32(4);
    for (uint64_t k = 0; k < 4; ++k) veld::ExifValueText(tiff, uint64_t(ifd) + 2 + 12 * k, bigEndian);
    return 0;
}
