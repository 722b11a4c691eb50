// The state of the single current search, kept in one process-wide place.
// ResetSearch clears all of it.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <thread>

#include "platform/window_message.h"
#include "volume/disk_volume.h"

namespace veld {

enum SearchFlag : int32_t {
    SearchImagesOnly = 1,  // register only files whose content type is image/*
    SearchDetailed = 2,    // also examine clusters that are claimed
};

struct SearchOptions {
    int64_t firstCluster = 2;
    int64_t lastCluster = 0;   // never below firstCluster
    int32_t rangeOnly = 0;     // 1: only the signature search, over the range
    int32_t flags = SearchDetailed;
};

enum SearchResult : int {
    SearchOk = 0,
    SearchOpenFailed = -1,
    SearchNoMarker = -3,
    SearchNotAnalysed = -4,
};

struct SearchState {
    std::unique_ptr<DiskVolume> volume;       // kept after the search for the views
    MessageTarget* startWindow = nullptr;     // receives 3025 and 3026
    std::thread worker;
    std::atomic<int> runningState{0};         // -1 starting, 1 running, 0 not running
    std::atomic<int> resultCode{0};
    std::atomic<int> cancelFlag{0};
    std::atomic<int> directoryPhase{0};       // 1 while the live tree is scanned
    std::atomic<int> folderCount{0};
    std::atomic<int> fileCount{0};
    std::atomic<int> shownCount{0};           // found files handed to the views
    SearchOptions options;
};
extern SearchState gSearch;

inline bool SearchCancelled() { return gSearch.cancelFlag.load(std::memory_order_relaxed) != 0; }

}  // namespace veld
