#include "platform/removable_drives.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <filesystem>
#include <fstream>
#include <map>

namespace veld {
namespace fs = std::filesystem;
namespace {

std::string ReadFirstLine(const fs::path& file) {
    std::ifstream in(file);
    std::string line;
    std::getline(in, line);
    while (!line.empty() && std::isspace(static_cast<unsigned char>(line.back()))) line.pop_back();
    size_t start = 0;
    while (start < line.size() && std::isspace(static_cast<unsigned char>(line[start]))) ++start;
    return line.substr(start);
}

int64_t ReadNumber(const fs::path& file, int64_t fallback) {
    // The leading decimal number of the first line; a file that holds none
    // (missing, empty, not a number, out of range) answers the fallback.
    const std::string text = ReadFirstLine(file);
    int64_t value = 0;
    const std::from_chars_result parsed = std::from_chars(text.data(), text.data() + text.size(), value, 10);
    return parsed.ec == std::errc() ? value : fallback;
}

// A disk counts as removable when the kernel says so, or when it hangs off a
// USB or MMC bus (SD readers often report removable=0).
bool IsRemovableDisk(const fs::path& blockDir) {
    if (ReadNumber(blockDir / "removable", 0) == 1) return true;
    std::error_code ec;
    fs::path device = fs::canonical(blockDir / "device", ec);
    if (ec) return false;
    std::string p = device.string();
    return p.find("/usb") != std::string::npos || p.find("/mmc") != std::string::npos;
}

// A loop device over an image file a user set up: it has a backing file,
// which is not a snap package's.
bool IsImageLoop(const fs::path& blockDir, std::string* backingFile) {
    *backingFile = ReadFirstLine(blockDir / "loop" / "backing_file");
    if (backingFile->empty()) return false;
    const std::string snap = ".snap";
    const bool packaged = backingFile->size() >= snap.size() &&
                          backingFile->compare(backingFile->size() - snap.size(), snap.size(), snap) == 0;
    return !packaged;
}

bool NaturalLess(const std::string& a, const std::string& b) {
    size_t i = 0, j = 0;
    while (i < a.size() && j < b.size()) {
        if (std::isdigit(static_cast<unsigned char>(a[i])) && std::isdigit(static_cast<unsigned char>(b[j]))) {
            size_t i2 = i, j2 = j;
            while (i2 < a.size() && std::isdigit(static_cast<unsigned char>(a[i2]))) ++i2;
            while (j2 < b.size() && std::isdigit(static_cast<unsigned char>(b[j2]))) ++j2;
            unsigned long long x = std::stoull(a.substr(i, std::min<size_t>(i2 - i, 18)));
            unsigned long long y = std::stoull(b.substr(j, std::min<size_t>(j2 - j, 18)));
            if (x != y) return x < y;
            i = i2;
            j = j2;
        } else {
            if (a[i] != b[j]) return a[i] < b[j];
            ++i;
            ++j;
        }
    }
    return a.size() - i < b.size() - j;
}

RemovableDrive Describe(const fs::path& dir, const std::string& name, const std::string& devRoot,
                        const std::string& model, uint32_t sectorSize) {
    RemovableDrive d;
    d.kernelName = name;
    d.devicePath = (fs::path(devRoot) / name).string();
    // The size file counts 512-byte units whatever the logical sector size.
    int64_t units = ReadNumber(dir / "size", -1);
    d.sizeBytes = units > 0 ? units * 512 : -1;
    d.sectorSize = sectorSize;
    d.displayName = model.empty() ? name : model + " (" + name + ")";
    return d;
}

}  // namespace

std::vector<RemovableDrive> ListRemovableDrives(const std::string& sysRoot, const std::string& devRoot) {
    std::vector<RemovableDrive> drives;
    std::error_code ec;
    fs::path blockRoot = fs::path(sysRoot) / "block";
    std::vector<std::string> disks, loops;
    std::map<std::string, std::string> backingFiles;
    for (const auto& entry : fs::directory_iterator(blockRoot, ec)) {
        std::string name = entry.path().filename().string();
        if (name.rfind("loop", 0) == 0) {
            std::string backing;
            if (IsImageLoop(entry.path(), &backing)) {
                loops.push_back(name);
                backingFiles[name] = backing;
            }
            continue;
        }
        if (name.rfind("ram", 0) == 0 || name.rfind("zram", 0) == 0) continue;
        if (IsRemovableDisk(entry.path())) disks.push_back(name);
    }
    std::sort(disks.begin(), disks.end(), NaturalLess);
    std::sort(loops.begin(), loops.end(), NaturalLess);
    // Card readers first, so that a card keeps its letter whatever loop
    // devices come and go.
    disks.insert(disks.end(), loops.begin(), loops.end());

    char letter = 'D';
    for (const auto& disk : disks) {
        fs::path dir = blockRoot / disk;
        std::string label;
        if (auto loop = backingFiles.find(disk); loop != backingFiles.end()) {
            label = "ループデバイス " + fs::path(loop->second).filename().string();
        } else {
            std::string vendor = ReadFirstLine(dir / "device" / "vendor");
            std::string model = ReadFirstLine(dir / "device" / "model");
            if (model.empty()) model = ReadFirstLine(dir / "device" / "name");  // MMC cards
            label = vendor.empty() ? model : (model.empty() ? vendor : vendor + " " + model);
        }
        uint32_t sectorSize = uint32_t(ReadNumber(dir / "queue" / "logical_block_size", 512));
        if (sectorSize == 0) sectorSize = 512;

        std::vector<std::string> parts;
        for (const auto& sub : fs::directory_iterator(dir, ec)) {
            if (fs::exists(sub.path() / "partition")) parts.push_back(sub.path().filename().string());
        }
        std::sort(parts.begin(), parts.end(), NaturalLess);
        if (parts.empty()) {
            if (letter > 'Z') break;
            drives.push_back(Describe(dir, disk, devRoot, label, sectorSize));
            drives.back().letter = letter++;
        } else {
            for (const auto& part : parts) {
                if (letter > 'Z') break;
                drives.push_back(Describe(dir / part, part, devRoot, label, sectorSize));
                drives.back().letter = letter++;
            }
        }
    }
    return drives;
}

void ApplyServiceView(std::vector<RemovableDrive>& drives, const std::vector<ServiceDriveView>& view) {
    for (RemovableDrive& drive : drives) {
        for (const ServiceDriveView& seen : view) {
            std::error_code ec;
            if (seen.devicePath != drive.devicePath && !fs::equivalent(seen.devicePath, drive.devicePath, ec))
                continue;
            std::string label = seen.vendor.empty() ? seen.model
                                : seen.model.empty() ? seen.vendor
                                                     : seen.vendor + " " + seen.model;
            if (!label.empty()) drive.displayName = label + " (" + drive.kernelName + ")";
            drive.sizeBytes = seen.sizeBytes > 0 ? seen.sizeBytes : -1;
            drive.fileSystem = seen.fileSystem;
            drive.fromService = true;
            break;
        }
    }
}

std::string DevicePathOfDriveLetter(char letter) {
    if (DriveNumberOfLetter(letter) < 0) return {};
    char upper = char(std::toupper(static_cast<unsigned char>(letter)));
    for (const auto& d : ListRemovableDrives())
        if (d.letter == upper) return d.devicePath;
    return {};
}

int DriveNumberOfLetter(char letter) {
    if (letter >= 'A' && letter <= 'Z') return letter - 'A';
    if (letter >= 'a' && letter <= 'z') return letter - 'a';
    return -1;
}

}  // namespace veld
