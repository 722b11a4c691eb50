// The worker pattern shared by the disk tools (image creation, image writing,
// complete erase): one worker thread per job, and a few plain atomic cells
// that the interface polls every 100 ms - the running state, the cancel
// request, the result and the progress counters. The interface never touches
// the job's device, file or buffers while the worker runs.
//
//   job.Open(...)            the open step; a non-zero code: nothing started
//   job.Start()              worker running
//   ... poll job.cells() every 100 ms; job.RequestCancel() on Cancel ...
//   job.Finish()             waits for the worker, releases everything, result
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <thread>

namespace veld {

// Every transfer moves this many bytes per read or write call (the last chunk
// of a source may be shorter). A multiple of every sector size in use.
constexpr uint32_t kDiskChunkBytes = 1u << 20;

// Result codes of a disk tool's worker.
enum DiskToolResult : int {
    DiskToolOk = 0,
    DiskToolCancelled = -1,
    DiskToolReadError = -2,       // the source (card or image file) could not be read
    DiskToolWriteError = -3,      // the target (image file or card) could not be written
    DiskToolVerifyMismatch = -6,  // read back, the target differs from what was written
    DiskToolVerifyReadError = -7, // the target could not be read back
};

// Result codes of a disk tool's open step (before anything is written).
enum DiskToolOpenResult : int {
    DiskOpenOk = 0,
    DiskOpenSourceFailed = -1,    // the card or target could not be opened
    DiskOpenFileFailed = -5,      // the image file could not be created or opened
    DiskOpenFileExists = -8,      // the image file exists and may not be replaced
    DiskOpenSameFile = -9,        // the image file is the source or target itself
    DiskOpenSizeUnknown = -10,    // the device reports no size (no medium)
    DiskOpenNotRemovable = -20,   // a device that is not a removable drive
    DiskOpenMounted = -21,        // the target or one of its partitions is mounted
    DiskOpenSizeMismatch = -22,   // the image and the target differ in size
};

// What the worker is doing; the interface shows it as its status line.
enum DiskJobPhase : int {
    DiskPhaseNone = 0,
    DiskPhaseImaging = 1,    // card -> image file
    DiskPhaseWriting = 2,    // image file -> card
    DiskPhaseErasing = 3,    // one erase pass
    DiskPhaseVerifying = 4,  // reading the target back
};

struct DiskJobCells {
    std::atomic<int> cancelRequest{0};   // set to 1 by the interface
    std::atomic<int> running{-1};        // -1 before the worker took over, 1 running, 0 finished
    std::atomic<int> result{0};          // DiskToolResult, final once running is 0
    std::atomic<int> phase{DiskPhaseNone};
    std::atomic<int> pass{0};            // erase pass, 1-based; 0 when the job has none
    std::atomic<int> passCount{0};
    std::atomic<int64_t> progress{0};    // chunks finished in this phase
    std::atomic<int64_t> total{0};       // chunks of this phase
    std::atomic<int64_t> bytesDone{0};   // bytes finished in this phase
    std::atomic<int64_t> bytesTotal{0};  // bytes of this phase
    std::atomic<int64_t> failedOffset{-1};  // byte offset where the worker failed
    std::atomic<int> failedErrno{0};        // the system's error number then, 0 if none
};

// "%d/%d": chunks finished of the phase's chunks.
std::string DiskProgressCounterText(const DiskJobCells& cells);
// Percentage of the phase, truncated (0..100).
int DiskProgressPercent(const DiskJobCells& cells);

// "1,234,567 バイト (1.2 MiB)".
std::string ByteCountText(int64_t bytes);

class DiskJob {
public:
    DiskJob() = default;
    DiskJob(const DiskJob&) = delete;
    DiskJob& operator=(const DiskJob&) = delete;
    // A worker still running is asked to stop and waited for.
    virtual ~DiskJob();

    // Starts the worker after a successful open step and returns once it has
    // taken over. False when no thread could be started (nothing was done).
    bool Start();
    void RequestCancel() { cells_.cancelRequest.store(1); }
    // Waits up to timeoutMs for the worker to end; true once it has.
    bool WaitFinished(int timeoutMs);
    // Waits for the worker however long it takes, then releases the device,
    // the file and the buffers by the tool's rules; returns the result code.
    // Without a started worker it only releases what the open step took.
    int Finish();

    DiskJobCells& cells() { return cells_; }
    const DiskJobCells& cells() const { return cells_; }
    // Texts for the user about the job's end; valid after Finish().
    std::string OutcomeText() const;  // the tool's message for the result
    std::string DetailText() const;   // where and why it failed, how far it got
    // Why the open step failed (the message to show), after a non-zero Open.
    const std::string& OpenFailureText() const { return openFailure_; }

protected:
    // The worker's body: returns the result code.
    virtual int Work() = 0;
    // Releases the job's resources after the worker ended (or was never started).
    virtual void Release(int result) = 0;
    virtual std::string ResultText(int result) const = 0;
    virtual std::string Describe(int result) const;

    bool CancelRequested() const { return cells_.cancelRequest.load(std::memory_order_relaxed) != 0; }
    void BeginPhase(int phase, int64_t bytes);
    void ChunkDone(int64_t bytes);
    // Records where the worker failed and the system's error number.
    void NoteFailure(int64_t offset, int error);
    int OpenFailed(int code, std::string text);

    DiskJobCells cells_;
    std::string openFailure_;
    uint32_t sectorSize_ = 512;  // unit of the sector numbers in messages

private:
    void Run();
    std::thread worker_;
    bool released_ = false;
};

// The messages the disk tools share.
const char* DiskToolOpenErrorText();  // "オープンエラー"
const char* DiskToolAbortedText();    // "処理を中止しました"

}  // namespace veld
