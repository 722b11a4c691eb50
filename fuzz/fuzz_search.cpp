// A whole search over an in-memory card (boot sector, FAT, directory passes,
// signature search, registration with EXIF and thumbnails), then every found
// file extracted to memory, as the preview does.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "finder/search_session.h"
#include "search/extraction.h"
#include "search/search_driver.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace veld;
    SearchSession session;
    SearchOptions options;  // the detailed search over the whole card
    session.options = options;
    session.volume = DiskIO_OpenMemory(std::vector<uint8_t>(data, data + size));
    SearchOpenVolume(session, options);

    ExtractRequest request;
    request.toMemory = true;
    for (size_t i = 0; i < session.gcDelFileList.Count(); ++i) {
        auto record = session.gcDelFileList.CopyAt(i);
        if (record) ExtractFoundFile(*session.volume, *record, request);
    }
    return 0;
}
