// Drive letters on Linux. Removable block devices (USB disks, SD/MMC readers)
// are given letters from D: upward in a stable order: devices sorted by their
// kernel name, and within a device its partitions in number order; a device
// without partitions takes a letter itself. The same card in the same reader
// therefore keeps its letter between runs. After them come the loop devices
// set up over image files (losetup, udisksctl loop-setup), in the same way;
// loop devices without a file, and those of packaged software (".snap"),
// are not drives.
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
    // Filled from the desktop's disk service when it knows the device (see
    // ApplyServiceView): it can open the device for the user, and it has
    // read the file system without the user's rights.
    bool fromService = false;
    std::string fileSystem;   // "FAT12", "FAT16", "FAT32", "exFAT", "NTFS"; "" unknown
};

// What the desktop's disk service says of one block device.
struct ServiceDriveView {
    std::string devicePath;   // the node, for example /dev/sdb1
    std::string vendor;       // of the reader ("Generic")
    std::string model;        // of the reader ("SD/MMC Reader")
    int64_t sizeBytes = -1;   // -1 when no medium is in the reader
    std::string fileSystem;   // as in RemovableDrive; "" unknown
};

// Takes the service's name, size and file system for every listed drive it
// knows; letters and order stay the kernel's, so that the window and the
// command line give a card the same letter.
void ApplyServiceView(std::vector<RemovableDrive>& drives, const std::vector<ServiceDriveView>& view);

// Lists the removable devices under sysRoot (normally /sys) with device nodes
// under devRoot (normally /dev). Missing folders give an empty list.
std::vector<RemovableDrive> ListRemovableDrives(const std::string& sysRoot = "/sys",
                                                const std::string& devRoot = "/dev");

// The device path mapped to a letter (either case), or "" when none is.
std::string DevicePathOfDriveLetter(char letter);

// 0 for A, 1 for B, ... 25 for Z (either case); -1 for any other character.
int DriveNumberOfLetter(char letter);

}  // namespace veld
