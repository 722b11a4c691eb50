// A whole search over an in-memory card (boot sector, FAT, directory passes,
// signature search, registration with EXIF and thumbnails), then every found
// file extracted to memory, as the preview does.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "finder/found_file_lists.h"
#include "search/extraction.h"
#include "search/search_driver.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace veld;
    ResetSearch();
    SearchOptions options;  // the detailed search over the whole card
    gSearch.options = options;
    gSearch.cancelFlag = 0;
    gSearch.volume = DiskIO_OpenMemory(std::vector<uint8_t>(data, data + size));
    SearchOpenVolume(options);

    ExtractRequest request;
    request.toMemory = true;
    for (size_t i = 0; i < gcDelFileList.Count(); ++i) {
        auto record = gcDelFileList.CopyAt(i);
        if (record) ExtractFoundFile(*gSearch.volume, *record, request);
    }
    ResetSearch();
    return 0;
}
