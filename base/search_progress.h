// The engine's one progress entry point. ReportProgress maps a phase onto the
// lines and the percentage bar of whatever progress display is attached (the
// GUI's progress window, the command line's status line); with none attached
// reports are ignored.
#pragma once

#include <cstdint>
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
    PhaseMp4Window = 31,
};

void AttachProgressDisplay(ProgressDisplay* display);
void ReportProgress(int phase, double value, const std::string& text);
// The value of the last report whose value was not -1.
double LastProgressValue();
// The signature search publishes its cluster range for the cluster percentage.
void SetProgressClusterRange(uint32_t first, uint32_t last);
// Heading of a phase, or nullptr when the phase leaves the heading alone.
const char* ProgressPhaseHeading(int phase);
// Percentage of value within [first, last]; 100 when the range is empty.
int ClusterPercent(double value, uint32_t first, uint32_t last);

}  // namespace veld
