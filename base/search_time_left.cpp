#include "base/search_time_left.h"

#include <cstdio>

#include "base/search_progress.h"

namespace veld {

bool IsClusterPhaseHeading(const std::string& heading) {
    // "詳細検索", "詳細検索(JPEG)", ...: the cluster phases share the start.
    return heading.rfind(ProgressPhaseHeading(PhaseCluster), 0) == 0;
}

void SearchTimeLeft::Restart(int percent, Clock::time_point now) {
    startedAt_ = now;
    startPercent_ = percent;
}

void SearchTimeLeft::Heading(const std::string& heading, Clock::time_point now) {
    if (IsClusterPhaseHeading(heading) != IsClusterPhaseHeading(heading_)) Restart(percent_, now);
    heading_ = heading;
}

void SearchTimeLeft::Percent(int percent, Clock::time_point now) {
    if (percent < percent_) Restart(percent, now);
    percent_ = percent;
}

int64_t SearchTimeLeft::SecondsLeft(Clock::time_point now) const {
    const double seconds = std::chrono::duration<double>(now - startedAt_).count();
    const int done = percent_ - startPercent_;
    if (!IsClusterPhaseHeading(heading_) || done <= 0 || percent_ >= 100 || seconds < 1.0) return -1;
    return int64_t(seconds * (100 - percent_) / done + 0.5);
}

double SearchTimeLeft::RangePerSecond(Clock::time_point now) const {
    if (SecondsLeft(now) < 0) return 0;
    const double seconds = std::chrono::duration<double>(now - startedAt_).count();
    return (percent_ - startPercent_) / 100.0 / seconds;
}

std::string TimeLeftText(int64_t seconds) {
    char text[48];
    std::snprintf(text, sizeof text, "残り %lld:%02lld", (long long)(seconds / 60), (long long)(seconds % 60));
    return text;
}

}  // namespace veld
