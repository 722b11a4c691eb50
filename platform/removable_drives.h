// Drive letters on Linux. Removable block devices (USB disks, SD/MMC readers)
// are given letters from D: upward in a stable order: devices sorted by their
// kernel name, and within a device its partitions in number order; a device
// without partitions takes a letter itself. The same card in the same reader
// therefore keeps its letter between runs.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace veld {

struct RemovableDrive {
    char letter = 0;
    std::string devicePath;   // for example /dev/sdb1
    std::string kernelName;   // for example sdb1
    std::string displayName;  // vendor and model of the reader, or the kernel name
    int64_t sizeBytes = -1;   // -1 when the kernel reports no size (no medium)
    uint32_t sectorSize = 512;
};

// Lists the removable devices under sysRoot (normally /sys) with device nodes
// under devRoot (normally /dev). Missing folders give an empty list.
std::vector<RemovableDrive> ListRemovableDrives(const std::string& sysRoot = "/sys",
                                                const std::string& devRoot = "/dev");

// The device path mapped to a letter (either case), or "" when none is.
std::string DevicePathOfDriveLetter(char letter);

// 0 for A, 1 for B, ... 25 for Z (either case); -1 for any other character.
int DriveNumberOfLetter(char letter);

}  // namespace veld
