// --json without --save writes each record as soon as it is found. A few
// things are settled only when the search ends: a state that the overlap of
// files decides, a folder whose parent turned up later, a record withdrawn as
// the same file as another. What was written is remembered (a digest of the
// line), so that a record whose line would now read otherwise is written
// again, marked "revised": true (and "withdrawn": true when it is no longer
// listed). The last line of an index is the record as the search left it.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <unordered_map>

#include "finder/del_file_info.h"

namespace veld {

class StreamedRecords {
public:
    // The line of a record written now for the first time.
    std::string Line(const DelFileInfo& record);
    // The line that corrects a record written before; none when it was never
    // written or would read the same.
    std::optional<std::string> Revision(const DelFileInfo& record) const;

private:
    std::unordered_map<int32_t, size_t> written_;  // index -> digest of its line
};

}  // namespace veld
