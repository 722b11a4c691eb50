// The progress of a search. Each search has one SearchProgress; Report maps a
// phase onto the lines and the percentage bar of whatever progress display is
// attached to it (the GUI's progress window, the command line's status line);
// with none attached, reports are only remembered.
#pragma once

#include <atomic>
#include <cstdint>
#include <shared_mutex>
#include <string>

namespace veld {

class ProgressDisplay {
public:
    virtual ~ProgressDisplay() = default;
    // Line 1: phase heading; 2: detail; 3: latest found file.
    virtual void SetLine(int line, const std::string& text) = 0;
    virtual void SetPercent(int percent) = 0;
};

// Progress phases reported by the engine.
enum ProgressPhase : int {
    PhaseFoundFile = 0,
    PhaseFatRead = 1,
    PhaseFolder = 4,
    PhaseLiveTreeDone = 5,
    PhaseBeforeClusters = 6,
    PhaseClustersStart = 21,
    PhaseCluster = 22,
    PhaseJpegWindow = 23,
    PhaseClustersEnd = 25,
    // After the signature search: the last thumbnails and the states that
    // depend on every file found (the bar stays full).
    PhaseFinishing = 26,
    PhaseMp4Window = 31,
};

class SearchProgress {
public:
    // Attaches the display (null detaches). Reports hold the lock shared while
    // they talk to the display, so detaching waits for a report in flight and
    // the display can be destroyed once this returns.
    void Attach(ProgressDisplay* display);
    // Any thread.
    void Report(int phase, double value, const std::string& text);
    // The value of the last report whose value was not -1.
    double LastValue() const { return lastValue_.load(); }
    // The signature search publishes its cluster range for the cluster percentage.
    void SetClusterRange(uint64_t first, uint64_t last);

    // The FAT reader's last reported percentage. It is kept across the
    // searches of one session: a percentage equal to the last one reported
    // is not reported again.
    int lastFatPercent = -1;

private:
    std::shared_mutex lock_;
    ProgressDisplay* display_ = nullptr;
    std::atomic<double> lastValue_{0.0};
    std::atomic<uint64_t> firstCluster_{0};
    std::atomic<uint64_t> lastCluster_{0};
};

// Heading of a phase, or nullptr when the phase leaves the heading alone.
const char* ProgressPhaseHeading(int phase);
// Percentage of value within [first, last]; 100 when the range is empty.
int ClusterPercent(double value, uint64_t first, uint64_t last);

}  // namespace veld
