// One search and what it builds: the open source with its geometry, the FAT
// copy and cluster map, the found-file lists, the thumbnail queue and the
// extension tally, the progress and the worker's state. Every routine of the
// finder and the search driver takes the session it works for, so several
// searches (and their results) can exist side by side. The members keep the
// names of the design (session.gcDelFileList).
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "base/search_progress.h"
#include "finder/del_file_info.h"
#include "finder/record_array.h"
#include "platform/window_message.h"
#include "volume/cluster_map.h"
#include "volume/disk_volume.h"

namespace veld {

class ReadAhead;
class ThumbnailPool;

enum SearchFlag : int32_t {
    SearchImagesOnly = 1,  // register only files whose content type is image/*
    SearchDetailed = 2,    // also examine clusters that are claimed
};

struct SearchOptions {
    int64_t firstCluster = 2;
    int64_t lastCluster = 0;   // never below firstCluster
    int32_t rangeOnly = 0;     // 1: only the signature search, over the range
    int32_t flags = SearchDetailed;
    // The partition of a partitioned source to search (its table number), or
    // kPartitionAuto: the first that holds a volume, else the whole source.
    int32_t partition = kPartitionAuto;
    // Workers decoding thumbnails beside the search: -1 one per spare core,
    // 0 none (each thumbnail is made on the spot). The results are the same.
    int32_t thumbnailThreads = -1;
};

enum SearchResult : int {
    SearchOk = 0,
    SearchOpenFailed = -1,
    SearchNoMarker = -3,
    SearchNotAnalysed = -4,
    SearchFailed = -5,      // the search stopped on an error; what it found so far stays listed
};

// Why the signature search left clusters of its range unread.
enum NotExaminedReason : int32_t {
    NotExaminedPastMap = 1,     // beyond the cluster map, which ends where the source does
    NotExaminedUnreadable = 2,  // the source ended there
    NotExaminedReadError = 3,   // the source reported an error reading these clusters
};
// A short English description of the reason, for the trace.
const char* NotExaminedReasonText(NotExaminedReason reason);
// The user-facing text telling which clusters were not examined and why.
std::string NotExaminedText(uint64_t first, uint64_t last, NotExaminedReason reason);

// Cluster numbers first..last (inclusive).
struct ClusterRange {
    uint64_t first = 0;
    uint64_t last = 0;
    NotExaminedReason reason = NotExaminedPastMap;
};

// The message after a search that left clusters unexamined: one line per
// range (the first ones, and how many more).
std::string NotExaminedMessage(const std::vector<ClusterRange>& ranges);

// How a deleted file's clusters are known.
enum class ClusterLayout : uint8_t {
    Guess,       // its chain is gone (FAT): from the start, the clusters no other file claims
    Contiguous,  // written in one run (exFAT NoFatChain): the run from the start
    Planned,     // a chain the card still holds
};

// A deleted file found through its entry while the directory passes run: it
// is registered with the others once every entry is known, so that which
// file owns which cluster does not depend on the order entries are met.
struct PendingFile {
    DelFileInfo record;
    std::vector<uint64_t> planned;  // Planned: the chain, start first
    ClusterLayout layout = ClusterLayout::Guess;
};

struct ExtensionCount {
    std::string extension;
    int32_t count = 0;
};

struct SearchSession {
    SearchSession();
    // A worker still running is asked to stop and joined first.
    ~SearchSession();
    SearchSession(const SearchSession&) = delete;
    SearchSession& operator=(const SearchSession&) = delete;

    std::unique_ptr<DiskVolume> volume;       // kept after the search for the views and extraction
    ClusterMap clusterMap;                    // the cluster map of the volume
    // The found files in the order they were registered; only registration
    // appends. m_iNum is gcDelFileList.Count().
    RecordArray<DelFileInfo> gcDelFileList;
    RecordArray<DelFileInfo> DelFolderList;   // deleted folders, scanned after the live tree
    RecordArray<int32_t> ThumbnailQueue;      // indices of found files that have a thumbnail
    RecordArray<ExtensionCount> ExtensionTally;
    std::atomic<int32_t> FoundCount{0};       // records accepted since the search started
    std::atomic<int32_t> ThumbnailCount{0};   // thumbnails made during registration

    SearchOptions options;
    SearchProgress progress;
    MessageTarget* startWindow = nullptr;     // receives 3025 and 3026
    std::thread worker;
    std::atomic<int> runningState{0};         // -1 starting, 1 running, 0 not running
    std::atomic<int> resultCode{0};
    std::atomic<int> cancelFlag{0};
    std::atomic<int> directoryPhase{0};       // 1 while the live tree is scanned
    std::atomic<int> folderCount{0};
    std::atomic<int> fileCount{0};
    std::atomic<int> shownCount{0};           // found files handed to the views

    // Deleted files held back while the directory passes run
    // (holdDeletedFiles); RegisterDeletedFiles takes them all at their end.
    std::vector<PendingFile> pendingFiles;
    bool holdDeletedFiles = false;
    // Start clusters of deleted files whose first cluster holds another
    // file's data: they block no other file's clusters.
    std::unordered_set<uint64_t> lostStarts;
    // Listed records by start cluster: those found through an entry, and
    // those found by their signature (indices in gcDelFileList), so that one
    // file found both ways is listed once.
    std::unordered_multimap<uint64_t, int32_t> namedByStart;
    std::unordered_multimap<uint64_t, int32_t> carvedByStart;
    // Listed records by what makes two of them the same find (their first
    // cluster; for an empty file its folder and name), so that registration
    // meets only the few it may repeat.
    std::unordered_multimap<uint64_t, int32_t> listedByKey;
    // JPEG files found through an entry whose bytes were checked over
    // consecutive clusters: start cluster -> last cluster. The signature
    // search does not walk them again.
    std::unordered_map<uint64_t, uint64_t> checkedRuns;
    // Live files' first runs of consecutive clusters: start cluster -> last
    // cluster. A live file is never listed, so the signature search does not
    // walk a picture or clip that starts there (as far as the clusters are
    // still the live file's).
    std::unordered_map<uint64_t, uint64_t> liveRuns;
    // Folders read as directories (FAT), by first cluster: the folder text
    // their entries are listed under. A folder found in free space is placed
    // under the folder its ".." entry names when that one is here.
    std::unordered_map<uint64_t, std::string> folderPaths;

    // The state code the most recent RegisterFoundFile decided (also for
    // records it released), for the trace and the tests.
    int lastRegistrationState = 0;
    // Why the search's source could not be opened (RunSearch), as the
    // platform said it on the worker.
    std::string lastOpenError;
    bool lastOpenDenied = false;
    // The clusters of the search's range that were not examined (other than
    // by a cancel), in cluster order: clusters that could not be read, and
    // the rest of the range when the source ends before it.
    std::vector<ClusterRange> notExamined;
    // The signature search's sequential reader while a walk starts from the
    // cluster the search is at: the walk reads forward through it. Null
    // otherwise (walks then read the volume directly).
    ReadAhead* sequential = nullptr;
    // The thumbnail workers while a search runs with them.
    std::unique_ptr<ThumbnailPool> thumbnailPool;

    // Whether found file index has its thumbnail still being made (safe from
    // any thread while the search runs).
    bool ThumbnailPending(size_t index);

    bool Cancelled() const { return cancelFlag.load(std::memory_order_relaxed) != 0; }
    // Empties the four lists and zeroes both counters.
    void ClearFoundFileLists();
};

}  // namespace veld
