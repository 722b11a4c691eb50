// What the disk tools on the command line share: running a job's worker to
// its end with progress on standard error and Ctrl-C as the Cancel button,
// and the confirmation rule for block devices (--yes).
#pragma once

#include "tools/disk_job.h"
#include "tools/write_target.h"

namespace veld {

// Exit statuses of the disk tools.
constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;
constexpr int kExitInterrupted = 130;

// Starts the opened job, polls it every 100 ms until it ends, prints the
// outcome and returns the exit status (0 only on success).
int RunDiskJobToEnd(DiskJob& job);

// Prints why the open step failed and that nothing was done; exit status 1.
int ReportOpenFailure(DiskJob& job, const std::string& text);

// A device target needs --yes: without it, shows the device's name and size
// and what to do, and answers false.
bool ConfirmedOnCommandLine(const WriteTarget& target, bool yes, const char* what);

}  // namespace veld
