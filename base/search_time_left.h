// The time a search has left, for every progress display (the window's and
// the command line's): the signature search's percentage is the only one
// that measures the card, so its pace since it began gives the rest.
//
// It is fed what the display is told, as it comes: the phase heading (line
// 1) and the percentage. The pace is measured again from where the search
// enters or leaves the signature search, and from a percentage that goes
// back (a new phase).
#pragma once

#include <chrono>
#include <cstdint>
#include <string>

namespace veld {

class SearchTimeLeft {
public:
    using Clock = std::chrono::steady_clock;

    explicit SearchTimeLeft(Clock::time_point now = Clock::now()) : startedAt_(now) {}

    void Heading(const std::string& heading, Clock::time_point now);
    void Percent(int percent, Clock::time_point now);

    // Seconds left at the pace so far, or -1 while that is not known:
    // outside the signature search, before it has run a second and moved a
    // percent, and once it is at 100 %.
    int64_t SecondsLeft(Clock::time_point now) const;
    // The part of the searched range examined per second (0 while the
    // seconds left are not known).
    double RangePerSecond(Clock::time_point now) const;

    const std::string& heading() const { return heading_; }
    int percent() const { return percent_; }

private:
    void Restart(int percent, Clock::time_point now);

    std::string heading_;
    int percent_ = 0;
    int startPercent_ = 0;
    Clock::time_point startedAt_;
};

// Whether a phase heading is one of the signature search's.
bool IsClusterPhaseHeading(const std::string& heading);
// "残り 1:05": the minutes and seconds left.
std::string TimeLeftText(int64_t seconds);

}  // namespace veld
