// The process-wide lists of the current search's results, emptied by
// ResetSearch. Only registration appends to gcDelFileList.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

#include "finder/del_file_info.h"
#include "finder/record_array.h"

namespace veld {

struct ExtensionCount {
    std::string extension;
    int32_t count = 0;
};

extern RecordArray<DelFileInfo> gcDelFileList;  // m_iNum is gcDelFileList.Count()
extern RecordArray<DelFileInfo> DelFolderList;
extern RecordArray<int32_t> ThumbnailQueue;
extern RecordArray<ExtensionCount> ExtensionTally;

extern std::atomic<int32_t> FoundCount;      // records accepted since the search started
extern std::atomic<int32_t> ThumbnailCount;  // thumbnails made during registration

// Empties the four lists and zeroes both counters.
void ClearFoundFileLists();

}  // namespace veld
