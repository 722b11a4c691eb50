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
    // Clusters the source does not hold are no read error: only a read the
    // source refused is one.
    std::snprintf(text, sizeof text, "クラスタ %llu～%llu は検査されていません (%s)", (unsigned long long)first,
                  (unsigned long long)last, reason == NotExaminedReadError ? "読み込みエラー" : "ソースの終わりより後");
    return text;
}

std::string NotExaminedMessage(const std::vector<ClusterRange>& ranges) {
    constexpr size_t kShown = 10;
    std::string text = "カードの一部を検査できませんでした。これらのクラスタにあるファイルは見つかっていない可能性があります。";
    for (size_t i = 0; i < ranges.size() && i < kShown; ++i)
        text += "\n" + NotExaminedText(ranges[i].first, ranges[i].last, ranges[i].reason);
    if (ranges.size() > kShown) text += "\nほか " + std::to_string(ranges.size() - kShown) + " 範囲";
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
    pendingFiles.clear();
    holdDeletedFiles = false;
    lostStarts.clear();
    namedByStart.clear();
    carvedByStart.clear();
    listedByKey.clear();
    checkedRuns.clear();
    liveRuns.clear();
    folderPaths.clear();
}

}  // namespace veld
