// What the search harnesses do with the card they opened: the detailed search
// over the whole card, then every found file extracted to memory, as the
// preview does.
#pragma once

#include <cstddef>

#include "finder/search_session.h"
#include "search/extraction.h"
#include "search/search_driver.h"

namespace veld::fuzz {

inline void SearchAndExtract(SearchSession& session) {
    SearchOptions options;  // the detailed search over the whole card
    session.options = options;
    SearchOpenVolume(session, options);

    ExtractRequest request;
    request.toMemory = true;
    for (size_t i = 0; i < session.gcDelFileList.Count(); ++i) {
        auto record = session.gcDelFileList.CopyAt(i);
        if (record) ExtractFoundFile(*session.volume, *record, request);
    }
}

}  // namespace veld::fuzz
