// The JPEG marker walk from cluster 2 of an in-memory card, in the full mode
// of the signature search or (mode bit set) the EXIF-only mode of
// registration.
#include <cstddef>
#include <cstdint>

#include "finder/jpeg_walk.h"
#include "walk_card.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    veld::SearchSession session;
    bool modeBit = false;
    if (!veld::fuzz::OpenWalkCard(session, data, size, &modeBit)) return 0;
    veld::JpegInfo info;
    veld::WalkJpeg(session, 2, &info, modeBit ? veld::JpegWalkExifOnly : veld::JpegWalkFull);
    return 0;
}
