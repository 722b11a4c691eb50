#include "finder/found_file_lists.h"

#include "finder/search_state.h"

namespace veld {

SearchState gSearch;
RecordArray<DelFileInfo> gcDelFileList(FreeDelFileInfo);
RecordArray<DelFileInfo> DelFolderList(FreeDelFileInfo);
RecordArray<int32_t> ThumbnailQueue;
RecordArray<ExtensionCount> ExtensionTally;
std::atomic<int32_t> FoundCount{0};
std::atomic<int32_t> ThumbnailCount{0};

void ClearFoundFileLists() {
    gcDelFileList.Clear();
    DelFolderList.Clear();
    ThumbnailQueue.Clear();
    ExtensionTally.Clear();
    FoundCount = 0;
    ThumbnailCount = 0;
}

}  // namespace veld
