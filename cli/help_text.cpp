#include "cli/help_text.h"

namespace veld {
namespace {

struct CommandHelp {
    const char* name;
    const char* text;
};

constexpr char kSourceText[] =
    "SOURCE: a disk image file, a drive letter such as E:, or a block device such as /dev/sdb1.\n"
    "A card reader this user may not open is opened through UDisks2, which may ask for the password.\n";

const CommandHelp kCommands[] = {
    {"info",
     "使い方: veld-cli info [--json] [--partition N] SOURCE\n"
     "\n"
     "Prints the volume geometry of SOURCE, its file system (FAT12, FAT16, FAT32, exFAT, NTFS or raw),\n"
     "how many clusters its FAT or allocation bitmap puts in each state, its partition table and the\n"
     "boot-sector lines of the trace.\n"
     "\n"
     "  --json          one JSON object instead of the text lines\n"
     "  --partition N   open partition N of a whole-card image or disk (1, 2, ...)\n"
     "\n"
     "Exit status: 0 done, 1 SOURCE could not be opened, 2 wrong command line or no such partition.\n"},
    {"search",
     "使い方: veld-cli search [--first N] [--last N] [--pictures-only] [--no-detail] [--trace]\n"
     "                        [--partition N] [--threads N] [--save DIR [--flat]] [--json] SOURCE\n"
     "\n"
     "Searches SOURCE for deleted photos and clips and lists every found file with the columns of the\n"
     "main window's list. On a terminal the progress line shows the phase, the share done, the files\n"
     "found and, in the signature search, the rate and the time left.\n"
     "\n"
     "  --first N       first cluster of the range to search (decimal)\n"
     "  --last N        last cluster of the range to search (decimal); a range that is not the whole\n"
     "                  volume runs only the signature search over it\n"
     "  --pictures-only register only picture files (content type image/*)\n"
     "  --no-detail     the signature search skips clusters that are in use\n"
     "  --trace         write the search's trace lines to standard error\n"
     "  --partition N   open partition N of a whole-card image or disk (1, 2, ...)\n"
     "  --threads N     thumbnail workers beside the search (0 to 64; one per spare core unless given)\n"
     "  --save DIR      save the found files below DIR, recreating their folders\n"
     "  --flat          with --save: every file straight into DIR\n"
     "  --json          one JSON object per found file instead of the text columns; without --save\n"
     "                  each is written as the search finds it, so a stopped search keeps them\n"
     "\n"
     "Exit status: 0 done (and every file saved), 1 SOURCE or DIR unusable or a file not saved,\n"
     "2 wrong command line, 130 stopped by Ctrl-C.\n"},
    {"image",
     "使い方: veld-cli image [--force] SOURCE FILE\n"
     "\n"
     "Copies the whole volume of SOURCE into the disk image FILE (\".img\" is added unless the name\n"
     "ends in it). The source is only read.\n"
     "\n"
     "  --force         replace FILE when it exists\n"
     "\n"
     "Exit status: 0 done, 1 failed, 2 wrong command line, 130 stopped by Ctrl-C.\n"},
    {"restore",
     "使い方: veld-cli restore [--yes] FILE TARGET\n"
     "\n"
     "Writes the disk image FILE back onto TARGET and reads it back to compare.\n"
     "TARGET: a drive letter, a removable block device or a file; a device must not be mounted and\n"
     "must be as large as the image.\n"
     "\n"
     "  --yes           write to a block device (after checking the name and size shown without it)\n"
     "\n"
     "Exit status: 0 done, 1 failed or not confirmed, 2 wrong command line, 130 stopped by Ctrl-C.\n"},
    {"erase",
     "使い方: veld-cli erase [--dod] [--yes] TARGET\n"
     "\n"
     "Overwrites every byte of TARGET with zeros.\n"
     "TARGET: a drive letter, a removable block device or a file; a device must not be mounted.\n"
     "\n"
     "  --dod           three passes (0x00, 0xFF, random bytes) and a read-back of the last one\n"
     "  --yes           erase a block device (after checking the name and size shown without it)\n"
     "\n"
     "Exit status: 0 done, 1 failed or not confirmed, 2 wrong command line, 130 stopped by Ctrl-C.\n"},
    {"update-check",
     "使い方: veld-cli update-check\n"
     "\n"
     "Asks the update server named by UpdateUrl in the [Config] section of Veld.ini whether a newer\n"
     "version exists.\n"
     "\n"
     "Exit status: 0 answered, 1 no server set or the check failed, 2 wrong command line.\n"},
    {"help",
     "使い方: veld-cli help [COMMAND]\n"
     "\n"
     "Prints the overview, or the options and exit status of COMMAND.\n"},
};

}  // namespace

const std::vector<std::string>& CliCommandNames() {
    static const std::vector<std::string> names = [] {
        std::vector<std::string> list;
        for (const CommandHelp& c : kCommands) list.emplace_back(c.name);
        return list;
    }();
    return names;
}

std::string CliOverviewText() {
    return std::string(
               "使い方:\n"
               "  veld-cli info [--json] [--partition N] SOURCE\n"
               "  veld-cli search [--first N] [--last N] [--pictures-only] [--no-detail] [--trace]\n"
               "                  [--partition N] [--threads N] [--save DIR [--flat]] [--json] SOURCE\n"
               "  veld-cli image [--force] SOURCE FILE\n"
               "  veld-cli restore [--yes] FILE TARGET\n"
               "  veld-cli erase [--dod] [--yes] TARGET\n"
               "  veld-cli update-check\n"
               "  veld-cli help [COMMAND]\n"
               "  veld-cli --version\n") +
           kSourceText +
           "--partition N: the partition of a whole-card image or disk to open (1, 2, ...)\n"
           "--threads N: thumbnail workers beside the search (0: none; one per spare core unless given)\n"
           "FILE: a disk image file; \".img\" is added unless the name ends in it\n"
           "TARGET: a drive letter, a removable block device (with --yes) or a file\n"
           "veld-cli help COMMAND shows the options and exit status of one command; man veld-cli has more.\n";
}

std::string CliCommandHelpText(const std::string& command) {
    for (const CommandHelp& c : kCommands) {
        if (command != c.name) continue;
        std::string text = c.text;
        // The commands that take a source or target explain it.
        if (command == "info" || command == "search" || command == "image") text += std::string("\n") + kSourceText;
        return text;
    }
    return {};
}

}  // namespace veld
