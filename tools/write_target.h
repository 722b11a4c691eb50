// The rules a target must pass before a tool writes to it (image writing,
// complete erase): a device must be a removable drive - never the system
// disk - and neither the target nor any of its partitions may be mounted.
// The description (name and size) is what the user confirms.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace veld {

// Where the rules look; tests point them at fake trees.
struct WriteTargetRules {
    std::string mountTable = "/proc/self/mounts";
    std::string sysRoot = "/sys";
    std::string devRoot = "/dev";
};

struct WriteTarget {
    std::string path;         // what is opened: the device node or the file
    bool isDevice = false;    // a block device (or a node below the device folder)
    std::string name;         // what the user recognises: reader model and kernel name, or the path
    int64_t sizeBytes = -1;   // -1 when unknown (no medium, no permission)
};

// Finds the target of a drive letter (letter non-zero) or of a path.
// False with a message when there is no such drive or file.
bool LocateWriteTarget(char letter, const std::string& path, const WriteTargetRules& rules, WriteTarget* target,
                       std::string* message);

// Applies the rules; 0 (DiskOpenOk) or DiskOpenNotRemovable / DiskOpenMounted
// with the message to show.
int CheckWriteTarget(const WriteTarget& target, const WriteTargetRules& rules, std::string* message);

// Where the target, one of its partitions, or a loop device over the target
// file is mounted, as the mount table lists it.
std::vector<std::string> MountPointsOf(const std::string& path, const WriteTargetRules& rules);

// True when the path is a removable drive (one the drive listing offers) or
// the whole disk of one.
bool IsRemovableDevicePath(const std::string& path, const WriteTargetRules& rules);

// "E: Generic SD Reader (sdb1), 31,914,983,424 バイト (29.7 GiB)" - the name and
// size the user checks before the first byte is written.
std::string WriteTargetSummary(const WriteTarget& target);

}  // namespace veld
