#include "finder/search_session.h"

namespace veld {

SearchSession::SearchSession() : gcDelFileList(FreeDelFileInfo), DelFolderList(FreeDelFileInfo) {}

SearchSession::~SearchSession() {
    cancelFlag = 1;
    if (worker.joinable()) worker.join();
}

void SearchSession::ClearFoundFileLists() {
    gcDelFileList.Clear();
    DelFolderList.Clear();
    ThumbnailQueue.Clear();
    ExtensionTally.Clear();
    FoundCount = 0;
    ThumbnailCount = 0;
}

}  // namespace veld
