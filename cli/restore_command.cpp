// veld-cli restore FILE TARGET: writes an image file back onto a card (or a
// block device, or a file), then reads the target back to verify it. The
// image must be exactly the target's size; a device needs --yes.
#include <cstdio>
#include <filesystem>

#include "cli/commands.h"
#include "cli/disk_tool_runner.h"
#include "tools/disk_image.h"
#include "tools/disk_restore.h"

namespace veld {

int RunRestoreCommand(const std::vector<std::string>& args) {
    bool yes = false;
    std::vector<std::string> operands;
    for (const auto& a : args) {
        if (a == "--yes")
            yes = true;
        else if (a.size() > 1 && a[0] == '-') {
            std::fprintf(stderr, "unknown option: %s\n", a.c_str());
            return kExitUsage;
        } else
            operands.push_back(a);
    }
    if (operands.size() != 2 || operands[0].empty() || operands[1].empty()) {
        std::fprintf(stderr, "veld-cli restore: FILE and TARGET are needed (an empty name is none)\n");
        return kExitUsage;
    }
    // The image is looked for under its name with ".img", as the tool names it.
    const std::string imagePath =
        ImageFilePath(std::filesystem::absolute(operands[0]).lexically_normal().string());
    SourceArgument target = ParseSource(operands[1]);

    DiskRestoreJob job;
    if (job.Open(imagePath, target.driveLetter, target.path)) return ReportOpenFailure(job, job.OpenFailureText());
    if (!ConfirmedOnCommandLine(job.Target(), yes, "上書き")) {
        job.Finish();
        return kExitFailed;
    }
    std::fprintf(stderr, "%s → %s\n", imagePath.c_str(), WriteTargetSummary(job.Target()).c_str());
    return RunDiskJobToEnd(job);
}

}  // namespace veld
