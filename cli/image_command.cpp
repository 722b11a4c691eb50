// veld-cli image SOURCE FILE: saves the whole volume of a card (or of an
// image or block device) into the image file FILE, ".img" appended unless
// FILE already ends in it. The source is only read.
#include <cstdio>
#include <filesystem>

#include "cli/commands.h"
#include "cli/disk_tool_runner.h"
#include "tools/disk_image.h"

namespace veld {

int RunImageCommand(const std::vector<std::string>& args) {
    bool replace = false;
    std::vector<std::string> operands;
    for (const auto& a : args) {
        if (a == "--force")
            replace = true;
        else if (a.size() > 1 && a[0] == '-') {
            std::fprintf(stderr, "unknown option: %s\n", a.c_str());
            return kExitUsage;
        } else
            operands.push_back(a);
    }
    if (operands.size() != 2 || operands[0].empty() || operands[1].empty()) {
        std::fprintf(stderr, "veld-cli image: SOURCE and FILE are needed (an empty name is none)\n");
        return kExitUsage;
    }
    SourceArgument source = ParseSource(operands[0]);
    // As the file dialog would give it: a full path.
    const std::string imagePath =
        ImageFilePath(std::filesystem::absolute(operands[1]).lexically_normal().string());
    if (imagePath.empty()) {
        std::fprintf(stderr, "veld-cli image: FILE is missing\n");
        return kExitUsage;
    }

    DiskImageJob job;
    if (int code = job.Open(source.driveLetter, source.path, imagePath, replace)) {
        std::string text = job.OpenFailureText();
        if (code == DiskOpenSourceFailed) text = std::string(DiskToolOpenErrorText()) + "\n" + OpenFailureText(source);
        if (code == DiskOpenFileExists) text += " (--force で上書きします)";
        return ReportOpenFailure(job, text);
    }
    std::fprintf(stderr, "%s → %s (%s)\n", operands[0].c_str(), imagePath.c_str(), ByteCountText(job.ImageSize()).c_str());
    int status = RunDiskJobToEnd(job);
    if (status == kExitOk) std::printf("%s\n", imagePath.c_str());
    return status;
}

}  // namespace veld
