#include "search/search_driver.h"

#include <chrono>
#include <cstdio>
#include <exception>

#include "base/byte_reader.h"
#include "base/search_progress.h"
#include "base/trace.h"
#include "finder/directory_scanner.h"
#include "finder/found_file_lists.h"
#include "finder/signature_search.h"
#include "volume/boot_sector.h"
#include "volume/boot_sector_trace.h"
#include "volume/cluster_map.h"

namespace veld {
namespace {

// What the starter hands the worker; copied by the worker before it reports
// that it runs.
struct WorkerStart {
    char driveLetter = 0;
    std::string imagePath;
    SearchOptions options;
    MessageTarget* startWindow = nullptr;
};

void JoinFinishedWorker() {
    if (gSearch.worker.joinable() && gSearch.runningState.load() == 0) gSearch.worker.join();
}

void WorkerBody(WorkerStart start) {
    int result = 0;
    gSearch.resultCode = 0;
    gSearch.runningState = 1;
    try {
        result = RunSearch(start.driveLetter, start.imagePath, start.options);
    } catch (...) {
        // Nothing escapes the worker: whatever went wrong is reported and
        // the search still ends normally with what it found.
        MessageBoxText("検索エラー");
        result = 0;
    }
    gSearch.resultCode = result;
    // Nothing registers after the search: the start window is not needed
    // any more, and it may go away once it has our last message.
    gSearch.startWindow = nullptr;
    gSearch.runningState = 0;
    if (start.startWindow) start.startWindow->PostMessage(MsgSearchFinished, result, 0);
}

void ScanDeletedFolders(DiskVolume& volume, const BootSector& boot) {
    // The list can grow while it is walked (folders inside deleted folders),
    // so its length is read afresh before every step.
    for (size_t i = 0; i < DelFolderList.Count(); ++i) {
        if (SearchCancelled()) break;
        std::optional<DelFileInfo> folder = DelFolderList.CopyAt(i);
        if (!folder || !IsDirectoryAttribute(folder->entry[dirent::Attributes])) continue;
        uint32_t start = folder->startCluster();
        std::string name = folder->name.value_or(std::string());
        if (name.empty()) name = TrimmedShortName(folder->entry);
        int state = ClusterState(start);
        if (state != FA_EMPTY) {
            TraceLine(">>Skip Search Del Dir %s is %s", name.c_str(), ClusterStateName(state));
            continue;
        }
        TraceLine(">>Search Del Dir %s", name.c_str());
        ScanDirectory(volume, boot, start, 0, 0, false, true, "");
    }
}

}  // namespace

void ResetSearch() {
    if (gSearch.worker.joinable()) gSearch.worker.join();
    gSearch.folderCount = 0;
    gSearch.fileCount = 0;
    ClearFoundFileLists();
    gSearch.shownCount = 0;
    gSearch.startWindow = nullptr;
    gSearch.volume.reset();
    FreeFat();
}

int StartSearchWorker(MessageTarget* startWindow, char driveLetter, const std::string& imagePath,
                      const SearchOptions& options) {
    JoinFinishedWorker();
    if (gSearch.worker.joinable()) return -1;  // a search is still running
    gSearch.runningState = 0;
    gSearch.resultCode = 0;
    gSearch.cancelFlag = 0;
    gSearch.startWindow = startWindow;
    gSearch.options = options;
    WorkerStart start{driveLetter, imagePath, options, startWindow};
    gSearch.runningState = -1;
    try {
        gSearch.worker = std::thread(WorkerBody, std::move(start));
    } catch (const std::exception&) {
        gSearch.runningState = 0;
        return -1;
    }
    while (gSearch.runningState.load() == -1) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    return 0;
}

int RunSearch(char driveLetter, const std::string& imagePath, const SearchOptions& options) {
    TraceLine("Open drive %c:", driveLetter ? driveLetter : ' ');
    gSearch.volume.reset();
    gSearch.volume = DiskIO_Open(imagePath, driveLetter);
    if (!gSearch.volume) return SearchOpenFailed;
    return SearchOpenVolume(options);
}

int SearchOpenVolume(const SearchOptions& options) {
    if (!gSearch.volume) return SearchOpenFailed;
    DiskVolume& volume = *gSearch.volume;
    const BootSector boot = volume.bootSector;

    if (volume.volumeKind == VolumeNone) return SearchNotAnalysed;
    if (volume.volumeKind == VolumeFat16 || volume.volumeKind == VolumeFat32) {
        if (!HasBootMarker(boot)) {
            TraceLine("Marker NG %x %x", boot[510], boot[511]);
            return SearchNoMarker;
        }
    }
    TraceLine("Marker OK");
    TraceBootSector(boot);

    const bool fat32 = IsFat32Layout(boot);
    const uint64_t rootPosition = RootDirectoryPosition(boot);
    ReadFat(volume, boot);  // a partial FAT still lets the search go on

    if (options.rangeOnly == 0 && volume.volumeKind != VolumeRaw && volume.volumeKind != VolumeNtfs) {
        gSearch.directoryPhase = 1;
        ScanDirectory(volume, boot, uint32_t(rootPosition), uint32_t(rootPosition >> 32), 0, !fat32, false, "");
        ReportProgress(PhaseLiveTreeDone, 0, "");
        gSearch.directoryPhase = 0;
        TraceLine("ディレクトリ数=%d ファイル数=%d", gSearch.folderCount.load(), gSearch.fileCount.load());
        TraceLine("%s", "");
        TraceLine("●削除フォルダ検索");
        gSearch.folderCount = 0;
        gSearch.fileCount = 0;
        ScanDeletedFolders(volume, boot);
        TraceLine("%s", "");
        TraceLine("ディレクトリ数=%d ファイル数=%d", gSearch.folderCount.load(), gSearch.fileCount.load());
    }

    ReportProgress(PhaseBeforeClusters, 0, "");
    TraceLine("●削除ファイル保存1 gcDelFileList.m_iNum=%d", int(gcDelFileList.Count()));
    TraceLine("%s", "");
    TraceLine("●クラスタサーチ");

    uint32_t first = 2, last = uint32_t(uint64_t(volume.clusterCount) & 0xFFFFFFFFu);
    if (options.rangeOnly) {
        first = uint32_t(uint64_t(options.firstCluster) & 0xFFFFFFFFu);
        last = uint32_t(uint64_t(options.lastCluster) & 0xFFFFFFFFu);
    }
    if (!SearchCancelled() && first <= last) SearchClusters(volume, first, last);

    TraceLine("●削除ファイル保存2 gcDelFileList.m_iNum=%d", int(gcDelFileList.Count()));
    ExtensionTally.ForEach([](ExtensionCount& e) {
        TraceLine("Extention = %3.3s\n", e.extension.c_str());
        return true;
    });
    return SearchOk;
}

bool WaitForSearchWorker(int milliseconds) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
    while (gSearch.runningState.load() != 0 && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    if (gSearch.runningState.load() != 0) return false;  // joined by the next ResetSearch
    if (gSearch.worker.joinable()) gSearch.worker.join();
    return true;
}

void RequestCancel() { gSearch.cancelFlag = 1; }

std::string SearchErrorText(int resultCode) {
    if (resultCode == SearchOpenFailed)
        return "ドライブが開けません\n他のアプリケーションがドライブを使っていないか確認してください。";
    return std::to_string(resultCode);
}

}  // namespace veld
