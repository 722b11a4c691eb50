// A whole search of an in-memory exFAT card - the boot region, the
// allocation bitmap, the live tree with its claims, the deleted files and
// folders with their planned chains, the signature search of the free
// clusters - then every found file extracted to memory. Inputs that do not
// open as exFAT end at once, so the fuzzer stays with the exFAT paths (the
// search harness covers the others).
#include <cstddef>
#include <cstdint>
#include <vector>

#include "finder/search_session.h"
#include "search/extraction.h"
#include "search/search_driver.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace veld;
    SearchSession session;
    session.volume = DiskIO_OpenMemory(std::vector<uint8_t>(data, data + size));
    if (!session.volume || session.volume->volumeKind != VolumeExfat) return 0;
    SearchOptions options;  // the detailed search over the whole card
    session.options = options;
    SearchOpenVolume(session, options);

    ExtractRequest request;
    request.toMemory = true;
    for (size_t i = 0; i < session.gcDelFileList.Count(); ++i) {
        auto record = session.gcDelFileList.CopyAt(i);
        if (record) ExtractFoundFile(*session.volume, *record, request);
    }
    return 0;
}
