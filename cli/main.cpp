// veld-cli: the command-line front end of the recovery engine.
//   veld-cli info [--json] [--partition N] SOURCE
//   veld-cli search [options] SOURCE
//   veld-cli image [--force] SOURCE FILE
//   veld-cli restore [--yes] FILE TARGET
//   veld-cli erase [--dod] [--yes] TARGET
//   veld-cli update-check
#include <QCoreApplication>

#include <cstdio>
#include <cstring>
#include <exception>
#include <string>
#include <vector>

#include "base/trace.h"
#include "cli/commands.h"
#include "platform/qt/qt_platform_services.h"

namespace {

void PrintUsage() {
    std::fprintf(stderr,
                 "使い方:\n"
                 "  veld-cli info [--json] [--partition N] SOURCE\n"
                 "  veld-cli search [--first N] [--last N] [--pictures-only] [--no-detail] [--trace]\n"
                 "                  [--partition N] [--threads N] [--save DIR [--flat]] [--json] SOURCE\n"
                 "  veld-cli image [--force] SOURCE FILE\n"
                 "  veld-cli restore [--yes] FILE TARGET\n"
                 "  veld-cli erase [--dod] [--yes] TARGET\n"
                 "  veld-cli update-check\n"
                 "SOURCE: a disk image file, a drive letter such as E:, or a block device\n"
                 "--partition N: the partition of a whole-card image or disk to open (1, 2, ...)\n"
                 "--threads N: thumbnail workers beside the search (0: none; one per spare core unless given)\n"
                 "FILE: a disk image file; \".img\" is added unless the name ends in it\n"
                 "TARGET: a drive letter, a removable block device (with --yes) or a file\n");
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    veld::InstallQtPlatformServices();
    veld::SetMessageBoxSink([](const veld::MessageBoxRequest& box) { std::fprintf(stderr, "%s\n", box.text.c_str()); });

    std::vector<std::string> args(argv + 1, argv + argc);
    if (args.empty() || args[0] == "--help" || args[0] == "-h") {
        PrintUsage();
        return args.empty() ? 2 : 0;
    }
    std::string command = args[0];
    args.erase(args.begin());
    // Every command reports what went wrong; nothing escapes as an abort.
    try {
        if (command == "info") return veld::RunInfoCommand(args);
        if (command == "search") return veld::RunSearchCommand(args);
        if (command == "image") return veld::RunImageCommand(args);
        if (command == "restore") return veld::RunRestoreCommand(args);
        if (command == "erase") return veld::RunEraseCommand(args);
        if (command == "update-check") return veld::RunUpdateCheckCommand(args);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "veld-cli %s: %s\n", command.c_str(), e.what());
        return 1;
    } catch (...) {
        std::fprintf(stderr, "veld-cli %s: %s\n", command.c_str(), veld::CaughtExceptionText().c_str());
        return 1;
    }
    std::fprintf(stderr, "unknown command: %s\n", command.c_str());
    PrintUsage();
    return 2;
}
