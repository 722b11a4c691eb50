#pragma once

#include <memory>
#include <string>
#include <vector>

#include "volume/disk_volume.h"

namespace veld {

int RunInfoCommand(const std::vector<std::string>& args);
int RunSearchCommand(const std::vector<std::string>& args);
int RunImageCommand(const std::vector<std::string>& args);
int RunRestoreCommand(const std::vector<std::string>& args);
int RunEraseCommand(const std::vector<std::string>& args);
int RunUpdateCheckCommand(const std::vector<std::string>& args);

// How a command-line SOURCE is opened: "E:" (or "e:") is a drive letter, a
// block device path is a drive, anything else an image file.
struct SourceArgument {
    char driveLetter = 0;
    std::string path;  // image file or block device
};
SourceArgument ParseSource(const std::string& text);
// The number of --partition: decimal, from 1, nothing before or after it.
bool ParsePartitionNumber(const std::string& text, int* partition);
// A clear one-line reason why a source could not be opened, from what the
// platform said (error) and whether it refused for lack of permission.
std::string OpenFailureText(const SourceArgument& source, const std::string& error, bool denied);
// The same for an open that failed on the calling thread.
std::string OpenFailureText(const SourceArgument& source);

}  // namespace veld
