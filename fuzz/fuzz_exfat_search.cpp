// A whole search of an in-memory exFAT card - the boot region, the
// allocation bitmap, the live tree with its claims, the deleted files and
// folders with their planned chains, the signature search of the free
// clusters - then every found file extracted to memory. Inputs that do not
// open as exFAT end at once, so the fuzzer stays with the exFAT paths (the
// search harness covers the others).
#include <cstddef>
#include <cstdint>
#include <vector>

#include "search_and_extract.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace veld;
    SearchSession session;
    session.volume = DiskIO_OpenMemory(std::vector<uint8_t>(data, data + size));
    if (!session.volume || session.volume->volumeKind != VolumeExfat) return 0;
    fuzz::SearchAndExtract(session);
    return 0;
}
