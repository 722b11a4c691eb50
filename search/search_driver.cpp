#include "search/search_driver.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <exception>

#include "base/byte_reader.h"
#include "base/search_progress.h"
#include "base/trace.h"
#include "finder/deleted_files.h"
#include "finder/directory_scanner.h"
#include "finder/exfat_directory_scanner.h"
#include "finder/registry.h"
#include "finder/signature_search.h"
#include "finder/thumbnail_pool.h"
#include "volume/cluster_map.h"
#include "volume/file_system.h"

namespace veld {
namespace {

// What the starter hands the worker; copied by the worker before it reports
// that it runs.
struct WorkerStart {
    SearchSession* session = nullptr;
    char driveLetter = 0;
    std::string imagePath;
    SearchOptions options;
    MessageTarget* startWindow = nullptr;
};

void JoinFinishedWorker(SearchSession& session) {
    if (session.worker.joinable() && session.runningState.load() == 0) session.worker.join();
}

void WorkerBody(WorkerStart start) {
    SearchSession& session = *start.session;
    int result = 0;
    session.resultCode = 0;
    session.runningState = 1;
    try {
        result = RunSearch(session, start.driveLetter, start.imagePath, start.options);
    } catch (...) {
        // Nothing escapes the worker: the search ends with what it found so
        // far, and its result says that it failed (the start window tells
        // the user, "検索エラー").
        TraceLine("ERROR search worker: the search stopped on %s", CaughtExceptionText().c_str());
        result = SearchFailed;
    }
    session.resultCode = result;
    // Nothing registers after the search: the start window is not needed
    // any more, and it may go away once it has our last message.
    session.startWindow = nullptr;
    session.runningState = 0;
    if (start.startWindow) start.startWindow->PostMessage(MsgSearchFinished, result, 0);
}

void ScanDeletedFolders(SearchSession& session) {
    // The list can grow while it is walked (folders inside deleted folders),
    // so its length is read afresh before every step.
    for (size_t i = 0; i < session.DelFolderList.Count(); ++i) {
        if (session.Cancelled()) break;
        std::optional<DelFileInfo> folder = session.DelFolderList.CopyAt(i);
        if (!folder || !IsDirectoryAttribute(folder->attributes)) continue;
        const uint64_t start = folder->startCluster;
        std::string name = folder->name.value_or(std::string());
        if (name.empty()) name = ShortNameOf(*folder);
        ClusterUse state = ClusterState(session.clusterMap, start);
        if (state != ClusterUse::Empty) {
            TraceLine(">>Skip Search Del Dir %s is %s", name.c_str(), ClusterStateName(state));
            continue;
        }
        TraceLine(">>Search Del Dir %s", name.c_str());
        // Its files are listed under it, in the folder its entry stood in.
        std::string path = folder->folder.value_or(std::string());
        if (!path.empty()) path += '\\';
        ScanDirectory(session, start, 0, false, true, path + name);
    }
}

// The thumbnail workers for one search: started when the machine has a core
// to spare (or as many as the options ask), and at the end every thumbnail
// they were given is handed to its record before they stop. A cancelled
// search's workers skip what they had not started.
class ThumbnailWorkers {
public:
    ThumbnailWorkers(SearchSession& session, const SearchOptions& options) : session_(session) {
        const unsigned threads =
            options.thumbnailThreads < 0 ? ThumbnailPool::SpareCores() : unsigned(options.thumbnailThreads);
        StartThumbnailWorkers(session, threads);
    }
    ~ThumbnailWorkers() { StopThumbnailWorkers(session_); }
    ThumbnailWorkers(const ThumbnailWorkers&) = delete;
    ThumbnailWorkers& operator=(const ThumbnailWorkers&) = delete;

private:
    SearchSession& session_;
};

}  // namespace

void ResetSearch(SearchSession& session) {
    if (session.worker.joinable()) session.worker.join();
    session.folderCount = 0;
    session.fileCount = 0;
    session.ClearFoundFileLists();
    session.shownCount = 0;
    session.startWindow = nullptr;
    session.volume.reset();
    session.notExamined.clear();
    FreeFat(session.clusterMap);
}

int StartSearchWorker(SearchSession& session, MessageTarget* startWindow, char driveLetter,
                      const std::string& imagePath, const SearchOptions& options) {
    JoinFinishedWorker(session);
    if (session.worker.joinable()) return -1;  // a search is still running
    session.runningState = 0;
    session.resultCode = 0;
    session.cancelFlag = 0;
    session.startWindow = startWindow;
    session.options = options;
    WorkerStart start{&session, driveLetter, imagePath, options, startWindow};
    session.runningState = -1;
    try {
        session.worker = std::thread(WorkerBody, std::move(start));
    } catch (const std::exception&) {
        session.runningState = 0;
        return -1;
    }
    while (session.runningState.load() == -1) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    return 0;
}

int RunSearch(SearchSession& session, char driveLetter, const std::string& imagePath, const SearchOptions& options) {
    TraceLine("Open drive %c:", driveLetter ? driveLetter : ' ');
    session.volume.reset();
    session.volume = DiskIO_Open(imagePath, driveLetter, options.partition);
    if (!session.volume) {
        session.lastOpenError = DiskIO_LastOpenError();
        session.lastOpenDenied = DiskIO_LastOpenDenied();
        return SearchOpenFailed;
    }
    session.lastOpenError.clear();
    session.notExamined.clear();
    session.lastOpenDenied = false;
    return SearchOpenVolume(session, options);
}

int SearchOpenVolume(SearchSession& session, const SearchOptions& options) {
    if (!session.volume) return SearchOpenFailed;
    DiskVolume& volume = *session.volume;
    // The passes read the options from the session (a search over part of
    // the card places the folders it meets differently).
    if (&options != &session.options) session.options = options;

    if (!volume.accessNote.empty()) TraceLine("%s", volume.accessNote.c_str());
    if (!volume.partitionNote.empty()) TraceLine("%s", volume.partitionNote.c_str());
    if (!volume.fileSystem) return SearchNotAnalysed;
    const std::shared_ptr<FileSystem> fileSystem = volume.fileSystem;
    if (!fileSystem->BootSectorSound(volume)) return SearchNoMarker;
    TraceLine("Marker OK");
    fileSystem->TraceBootSector(volume);

    ThumbnailWorkers workers(session, options);
    ReadFat(session.clusterMap, volume, &session.progress);  // a partial FAT still lets the search go on

    switch (options.rangeOnly == 0 ? fileSystem->Scan() : DirectoryScan::None) {
    case DirectoryScan::Exfat:
        // Deleted folders are descended by the exFAT scanner itself, with their paths.
        session.directoryPhase = 1;
        session.holdDeletedFiles = true;
        ScanExfatVolume(session);
        RegisterHeldFiles(session);
        session.progress.Report(PhaseLiveTreeDone, 0, "");
        session.directoryPhase = 0;
        TraceLine("ディレクトリ数=%d ファイル数=%d", session.folderCount.load(), session.fileCount.load());
        break;
    case DirectoryScan::Fat:
        session.directoryPhase = 1;
        // Deleted files wait until every entry of the passes is known.
        session.holdDeletedFiles = true;
        ScanFatRoot(session);
        session.progress.Report(PhaseLiveTreeDone, 0, "");
        session.directoryPhase = 0;
        TraceLine("ディレクトリ数=%d ファイル数=%d", session.folderCount.load(), session.fileCount.load());
        TraceLine("%s", "");
        TraceLine("●削除フォルダ検索");
        session.folderCount = 0;
        session.fileCount = 0;
        ScanDeletedFolders(session);
        RegisterHeldFiles(session);
        TraceLine("%s", "");
        TraceLine("ディレクトリ数=%d ファイル数=%d", session.folderCount.load(), session.fileCount.load());
        break;
    case DirectoryScan::None:
        break;
    }

    session.progress.Report(PhaseBeforeClusters, 0, "");
    TraceLine("●削除ファイル保存1 gcDelFileList.m_iNum=%d", int(session.gcDelFileList.Count()));
    TraceLine("%s", "");
    TraceLine("●クラスタサーチ");

    // Data clusters are numbered 2 .. cluster count + 1. A range whose end
    // is the cluster count (the end the options offer) reaches the last one.
    const uint64_t clusterEnd = volume.clusterCount > 0 ? uint64_t(volume.clusterCount) + 2 : 0;
    uint64_t first = 2, last = clusterEnd > 2 ? clusterEnd - 1 : 0;
    if (options.rangeOnly) {
        first = uint64_t(std::max<int64_t>(options.firstCluster, 0));
        last = uint64_t(std::max<int64_t>(options.lastCluster, 0));
        if (clusterEnd > 2 && last == clusterEnd - 2) last = clusterEnd - 1;
    }
    if (!session.Cancelled() && first <= last) SearchClusters(session, first, last);
    // The last step can take seconds on a card of many pictures: said, so
    // that a full bar does not look like a hang.
    session.progress.Report(PhaseFinishing, -1, "縮小画像の作成とファイルの状態の確定");
    // The pictures' verdicts reach their states before the states are
    // compared; the walk itself never waited for a decode.
    FinishThumbnails(session);
    SettleOverwrittenStarts(session);

    TraceLine("●削除ファイル保存2 gcDelFileList.m_iNum=%d", int(session.gcDelFileList.Count()));
    session.ExtensionTally.ForEach([](ExtensionCount& e) {
        TraceLine("Extention = %3.3s\n", e.extension.c_str());
        return true;
    });
    return SearchOk;
}

bool WaitForSearchWorker(SearchSession& session, int milliseconds) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
    while (session.runningState.load() != 0 && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    if (session.runningState.load() != 0) return false;  // joined by the next ResetSearch
    if (session.worker.joinable()) session.worker.join();
    return true;
}

void RequestCancel(SearchSession& session) { session.cancelFlag = 1; }

std::string SearchErrorText(int resultCode) {
    if (resultCode == SearchOpenFailed)
        return "ドライブが開けません\n他のアプリケーションがドライブを使っていないか確認してください。";
    if (resultCode == SearchFailed) return "検索エラー";
    return std::to_string(resultCode);
}

}  // namespace veld
