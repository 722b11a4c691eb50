// A whole search of an in-memory card (boot sector, FAT, directory passes,
// signature search, registration with EXIF and thumbnails), then every found
// file extracted to memory, as the preview does.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "search_and_extract.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace veld;
    SearchSession session;
    session.volume = DiskIO_OpenMemory(std::vector<uint8_t>(data, data + size));
    fuzz::SearchAndExtract(session);
    return 0;
}
