#include "cli/disk_tool_runner.h"

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <thread>
#include <unistd.h>

namespace veld {
namespace {

std::atomic<std::atomic<int>*> gCancelCell{nullptr};
volatile std::sig_atomic_t gInterrupted = 0;

extern "C" void OnDiskToolInterrupt(int) {
    gInterrupted = 1;
    if (std::atomic<int>* cell = gCancelCell.load()) cell->store(1);
}

std::string PhaseHeading(const DiskJobCells& cells) {
    switch (cells.phase.load()) {
        case DiskPhaseImaging: return "ディスクイメージ作成中";
        case DiskPhaseWriting: return "ディスクイメージ書込中";
        case DiskPhaseErasing:
            if (cells.passCount.load() > 1)
                return "消去中 (パス " + std::to_string(cells.pass.load()) + "/" +
                       std::to_string(cells.passCount.load()) + ")";
            return "消去中";
        case DiskPhaseVerifying: return "書き込んだ内容を確認中";
        default: return {};
    }
}

// The progress line: rewritten in place on a terminal; elsewhere each phase
// is announced once.
class ProgressLine {
public:
    explicit ProgressLine(bool terminal) : terminal_(terminal) {}
    void Show(const DiskJobCells& cells) {
        std::string heading = PhaseHeading(cells);
        if (heading.empty()) return;
        if (!terminal_) {
            if (heading != last_) std::fprintf(stderr, "%s\n", heading.c_str());
            last_ = heading;
            return;
        }
        std::fprintf(stderr, "\r\033[K%s %3d%%  %s MiB", heading.c_str(), DiskProgressPercent(cells),
                     DiskProgressCounterText(cells).c_str());
        std::fflush(stderr);
        drawn_ = true;
    }
    void End() {
        if (drawn_) std::fprintf(stderr, "\n");
    }

private:
    bool terminal_;
    bool drawn_ = false;
    std::string last_;
};

}  // namespace

int RunDiskJobToEnd(DiskJob& job) {
    gInterrupted = 0;
    gCancelCell.store(&job.cells().cancelRequest);
    std::signal(SIGINT, OnDiskToolInterrupt);
    ProgressLine progress(::isatty(STDERR_FILENO) != 0);
    int result = DiskToolCancelled;
    if (job.Start()) {
        while (job.cells().running.load() != 0) {
            progress.Show(job.cells());
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
        progress.Show(job.cells());
        progress.End();
        result = job.Finish();
    } else {
        job.Finish();
        std::fprintf(stderr, "%s\nスレッドを起動できません\n", DiskToolOpenErrorText());
    }
    std::signal(SIGINT, SIG_DFL);
    gCancelCell.store(nullptr);

    std::fprintf(stderr, "%s\n", job.OutcomeText().c_str());
    if (result == DiskToolOk) return kExitOk;
    std::string detail = job.DetailText();
    if (!detail.empty()) std::fprintf(stderr, "%s\n", detail.c_str());
    if (result != DiskToolCancelled) std::fprintf(stderr, "%s\n", DiskToolAbortedText());
    return result == DiskToolCancelled && gInterrupted ? kExitInterrupted : kExitFailed;
}

int ReportOpenFailure(DiskJob& job, const std::string& text) {
    job.Finish();
    std::fprintf(stderr, "%s\n%s\n", text.c_str(), DiskToolAbortedText());
    return kExitFailed;
}

bool ConfirmedOnCommandLine(const WriteTarget& target, bool yes, const char* what) {
    if (!target.isDevice || yes) return true;
    std::fprintf(stderr,
                 "%s: %s\n"
                 "このデバイスの内容はすべて%sされます。デバイス名とサイズを確かめてから、--yes を付けてもう一度実行してください\n",
                 target.path.c_str(), WriteTargetSummary(target).c_str(), what);
    return false;
}

}  // namespace veld
