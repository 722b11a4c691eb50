// The MP4/MOV atom walk from cluster 2 of an in-memory card.
#include <cstddef>
#include <cstdint>

#include "finder/isobmff_walk.h"
#include "walk_card.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    veld::SearchSession session;
    bool modeBit = false;
    if (!veld::fuzz::OpenWalkCard(session, data, size, &modeBit)) return 0;
    veld::Mp4Info info;
    veld::WalkIsoBmff(session, 2, &info);
    return 0;
}
