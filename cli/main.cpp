// veld-cli: the command-line front end of the recovery engine.
//   veld-cli info [--json] [--partition N] SOURCE
//   veld-cli search [options] SOURCE
//   veld-cli image [--force] SOURCE FILE
//   veld-cli restore [--yes] FILE TARGET
//   veld-cli erase [--dod] [--yes] TARGET
//   veld-cli update-check
//   veld-cli help [COMMAND], veld-cli --version
#include <QCoreApplication>

#include <cstdio>
#include <cstring>
#include <exception>
#include <string>
#include <vector>

#include "base/trace.h"
#include "base/version.h"
#include "cli/commands.h"
#include "cli/help_text.h"
#include "platform/qt/qt_platform_services.h"
#include "platform/qt/udisks2_client.h"

namespace {

// --help and -h, right after a command or on their own.
bool AsksForHelp(const std::string& arg) { return arg == "--help" || arg == "-h"; }

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    veld::InstallQtPlatformServices();
    // A card reader this user may not open is asked of UDisks2.
    veld::InstallUDisks2DeviceService();
    veld::SetMessageBoxSink([](const veld::MessageBoxRequest& box) { std::fprintf(stderr, "%s\n", box.text.c_str()); });

    std::vector<std::string> args(argv + 1, argv + argc);
    if (args.empty()) {
        std::fputs(veld::CliOverviewText().c_str(), stderr);
        return 2;
    }
    if (AsksForHelp(args[0])) {
        std::fputs(veld::CliOverviewText().c_str(), stdout);
        return 0;
    }
    if (args[0] == "--version" || args[0] == "-v") {
        std::printf("veld-cli %s\n", veld::kVersionText);
        return 0;
    }
    std::string command = args[0];
    args.erase(args.begin());
    // "help COMMAND" and "COMMAND --help" print the command's page.
    if (command == "help" || (!args.empty() && AsksForHelp(args[0]))) {
        std::string topic = command == "help" ? (args.empty() ? std::string() : args[0]) : command;
        if (AsksForHelp(topic)) topic = "help";  // "help --help"
        if (topic.empty()) {
            std::fputs(veld::CliOverviewText().c_str(), stdout);
            return 0;
        }
        const std::string page = veld::CliCommandHelpText(topic);
        if (page.empty()) {
            std::fprintf(stderr, "unknown command: %s\n%s", topic.c_str(), veld::CliOverviewText().c_str());
            return 2;
        }
        std::fputs(page.c_str(), stdout);
        return 0;
    }
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
    std::fprintf(stderr, "unknown command: %s\n%s", command.c_str(), veld::CliOverviewText().c_str());
    return 2;
}
