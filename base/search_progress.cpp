#include "base/search_progress.h"

#include <cstdio>
#include <mutex>

namespace veld {

void SearchProgress::Attach(ProgressDisplay* display) {
    std::unique_lock<std::shared_mutex> guard(lock_);
    display_ = display;
}

void SearchProgress::SetClusterRange(uint64_t first, uint64_t last) {
    firstCluster_.store(first);
    lastCluster_.store(last);
}

const char* ProgressPhaseHeading(int phase) {
    switch (phase) {
        case 1: return "FAT読み込み";
        case 4: case 5: return "ディレクトリ検索";
        case 6: case 12: return "ディレクトリ検索2";
        case 21: case 22: case 25: return "詳細検索";
        case 23: return "詳細検索(JPEG)";
        case 26: return "仕上げ";
        case 30: return "詳細検索(MP3)";
        case 31: return "詳細検索(MP4)";
        default: return nullptr;
    }
}

int ClusterPercent(double value, uint64_t first, uint64_t last) {
    if (last <= first) return 100;  // an empty range has nothing left to do
    double p = (value - first) / double(last - first) * 100.0;
    if (p < 0) return 0;
    if (p > 100) return 100;
    return int(p);
}

void SearchProgress::Report(int phase, double value, const std::string& text) {
    if (value != -1) lastValue_.store(value);
    std::shared_lock<std::shared_mutex> guard(lock_);
    ProgressDisplay* display = display_;
    if (!display) return;

    if (phase == 0) {
        if (!text.empty()) display->SetLine(3, text);
        return;
    }
    const char* heading = ProgressPhaseHeading(phase);
    if (!heading) return;

    std::string second = text;
    int percent = 0;
    switch (phase) {
        case 1:
            percent = int(value);
            break;
        case 22: case 23: case 30: case 31: {
            const uint64_t first = firstCluster_.load(), last = lastCluster_.load();
            percent = ClusterPercent(value, first, last);
            char line[96];
            std::snprintf(line, sizeof line, "クラスタ %llu/%llu(%3.1lf%%)", (unsigned long long)(value > 0 ? value : 0),
                          (unsigned long long)last, last ? value / double(last) * 100.0 : 100.0);
            second = line;
            break;
        }
        case 25: case 26:
            percent = 100;
            break;
        default:
            percent = 0;
            break;
    }
    display->SetPercent(percent);
    display->SetLine(1, heading);
    if (!second.empty()) display->SetLine(2, second);
}

}  // namespace veld
