#include "finder/search_session.h"

#include <cstdio>

#include "finder/thumbnail_pool.h"

namespace veld {

SearchSession::SearchSession() : gcDelFileList(FreeDelFileInfo), DelFolderList(FreeDelFileInfo) {}

SearchSession::~SearchSession() {
    cancelFlag = 1;
    if (worker.joinable()) worker.join();
    thumbnailPool.reset();
}

const char* NotExaminedReasonText(NotExaminedReason reason) {
    switch (reason) {
    case NotExaminedUnreadable: return "the source ends there";
    case NotExaminedReadError: return "the source could not be read there";
    default: return "beyond the end of the source";
    }
}

std::string NotExaminedText(uint64_t first, uint64_t last, NotExaminedReason reason) {
    char text[160];
    std::snprintf(text, sizeof text, "クラスタ %llu～%llu は検査されていません (%s)", (unsigned long long)first,
                  (unsigned long long)last, reason == NotExaminedPastMap ? "ソースの終わりより後" : "読み込みエラー");
    return text;
}

bool SearchSession::ThumbnailPending(size_t index) {
    gcDelFileList.Lock();
    const DelFileInfo* record = gcDelFileList.Get(index);
    const bool pending = record && record->thumbnailPending != 0;
    gcDelFileList.Unlock();
    return pending;
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
