// The JPEG marker walk from cluster 2 of an in-memory card, in the full mode
// of the signature search or (mode bit set) the EXIF-only mode of
// registration.
#include <cstddef>
#include <cstdint>

#include "finder/signature_search.h"
#include "walk_card.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    veld::fuzz::WalkCard card = veld::fuzz::MakeWalkCard(data, size);
    if (!card.volume) return 0;
    veld::JpegInfo info;
    veld::WalkJpeg(*card.volume, 2, &info, card.modeBit ? veld::JpegWalkExifOnly : veld::JpegWalkFull);
    veld::FreeFat();
    return 0;
}
