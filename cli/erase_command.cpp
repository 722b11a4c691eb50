// veld-cli erase [--dod] TARGET: overwrites every byte of a card (or a block
// device, or a file). --dod writes three passes and verifies the last; a
// device needs --yes.
#include <cstdio>

#include "cli/commands.h"
#include "cli/disk_tool_runner.h"
#include "tools/disk_erase.h"

namespace veld {

int RunEraseCommand(const std::vector<std::string>& args) {
    bool yes = false;
    EraseMode mode = ErasePlain;
    std::vector<std::string> operands;
    for (const auto& a : args) {
        if (a == "--yes")
            yes = true;
        else if (a == "--dod")
            mode = EraseDod;
        else if (a.size() > 1 && a[0] == '-') {
            std::fprintf(stderr, "unknown option: %s\n", a.c_str());
            return kExitUsage;
        } else
            operands.push_back(a);
    }
    if (operands.size() != 1 || operands[0].empty()) {
        std::fprintf(stderr, "veld-cli erase: TARGET is needed (an empty name is none)\n");
        return kExitUsage;
    }
    SourceArgument target = ParseSource(operands[0]);

    DiskEraseJob job;
    if (job.Open(target.driveLetter, target.path, mode)) return ReportOpenFailure(job, job.OpenFailureText());
    if (!ConfirmedOnCommandLine(job.Target(), yes, "消去")) {
        job.Finish();
        return kExitFailed;
    }
    std::fprintf(stderr, "%s を消去します%s\n", WriteTargetSummary(job.Target()).c_str(),
                 mode == EraseDod ? " (米国防省基準)" : "");
    return RunDiskJobToEnd(job);
}

}  // namespace veld
