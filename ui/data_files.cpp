#include "ui/data_files.h"

#include <filesystem>

// Set by the build: the data folder relative to the folder the executables
// are installed in ("../share/veld" for the usual prefix layout).
#ifndef VELD_DATA_FROM_BINDIR
#define VELD_DATA_FROM_BINDIR "../share/veld"
#endif

namespace veld {

namespace fs = std::filesystem;

std::string InstalledDataFolder(const std::string& exeFolder) {
    return (fs::path(exeFolder) / VELD_DATA_FROM_BINDIR).lexically_normal().string();
}

std::string DataFilePath(const std::string& exeFolder, const std::string& name) {
    const fs::path beside = fs::path(exeFolder) / name;
    const fs::path installed = fs::path(InstalledDataFolder(exeFolder)) / name;
    std::error_code ec;
    if (fs::is_regular_file(beside, ec)) return beside.string();
    if (fs::is_regular_file(installed, ec)) return installed.string();
    return beside.string();
}

}  // namespace veld
