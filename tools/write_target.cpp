#include "tools/write_target.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <optional>
#include <set>
#include <sys/stat.h>

#include "platform/raw_device.h"
#include "platform/removable_drives.h"
#include "tools/disk_job.h"
#include "volume/disk_volume.h"

namespace veld {
namespace fs = std::filesystem;
namespace {

// The canonical form of an existing path; a missing one only normalised.
std::string Canonical(const std::string& path) {
    std::error_code ec;
    fs::path real = fs::canonical(path, ec);
    return ec ? fs::path(path).lexically_normal().string() : real.string();
}

bool SameFile(const std::string& a, const std::string& b) {
    std::error_code ec;
    return fs::equivalent(a, b, ec) && !ec;
}

bool IsBelow(const std::string& path, const std::string& folder) {
    std::string root = Canonical(folder);
    if (!root.empty() && root.back() != '/') root += '/';
    return Canonical(path).rfind(root, 0) == 0;
}

std::string FirstLine(const fs::path& file) {
    std::ifstream in(file);
    std::string line;
    std::getline(in, line);
    while (!line.empty() && std::isspace(static_cast<unsigned char>(line.back()))) line.pop_back();
    return line;
}

// The mount table writes blanks, tabs, newlines and backslashes in names as
// three-digit octal escapes ("\040").
std::string Unescape(const std::string& field) {
    auto isOctal = [](char c) { return c >= '0' && c <= '7'; };
    std::string out;
    for (size_t i = 0; i < field.size(); ++i) {
        if (field[i] == '\\' && i + 3 < field.size() && isOctal(field[i + 1]) && isOctal(field[i + 2]) &&
            isOctal(field[i + 3])) {
            out += char((field[i + 1] - '0') * 64 + (field[i + 2] - '0') * 8 + (field[i + 3] - '0'));
            i += 3;
        } else {
            out += field[i];
        }
    }
    return out;
}

// A regular file's device and inode numbers.
struct FileIdentity {
    dev_t device;
    ino_t inode;
    bool operator==(const FileIdentity&) const = default;
};

std::optional<FileIdentity> RegularFileIdentity(const std::string& path) {
    struct stat st {};
    if (path.empty() || ::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return std::nullopt;
    return FileIdentity{st.st_dev, st.st_ino};
}

// Kernel names of the partitions of a disk, from its sysfs folder.
std::vector<std::string> PartitionsOf(const std::string& kernelName, const std::string& sysRoot) {
    std::vector<std::string> names;
    std::error_code ec;
    for (const auto& sub : fs::directory_iterator(fs::path(sysRoot) / "block" / kernelName, ec))
        if (fs::exists(sub.path() / "partition")) names.push_back(sub.path().filename().string());
    return names;
}

// The disk that holds a partition, by its place in the sysfs block tree.
std::string DiskOfPartition(const std::string& partition, const std::string& sysRoot) {
    std::error_code ec;
    for (const auto& disk : fs::directory_iterator(fs::path(sysRoot) / "block", ec))
        if (fs::exists(disk.path() / partition / "partition")) return disk.path().filename().string();
    return {};
}

}  // namespace

bool IsRemovableDevicePath(const std::string& path, const WriteTargetRules& rules) {
    for (const auto& drive : ListRemovableDrives(rules.sysRoot, rules.devRoot)) {
        if (SameFile(path, drive.devicePath)) return true;
        std::string disk = DiskOfPartition(drive.kernelName, rules.sysRoot);
        if (!disk.empty() && SameFile(path, (fs::path(rules.devRoot) / disk).string())) return true;
    }
    return false;
}

std::vector<std::string> MountPointsOf(const std::string& path, const WriteTargetRules& rules) {
    const std::string real = Canonical(path);
    std::set<std::string> names{real};
    std::set<dev_t> devices;
    auto addDevice = [&](const std::string& p) {
        struct stat st {};
        if (::stat(p.c_str(), &st) == 0 && S_ISBLK(st.st_mode)) devices.insert(st.st_rdev);
    };
    addDevice(real);
    // A whole disk counts as mounted when any of its partitions is.
    if (IsBelow(real, rules.devRoot)) {
        for (const auto& part : PartitionsOf(fs::path(real).filename().string(), rules.sysRoot)) {
            std::string node = (fs::path(rules.devRoot) / part).string();
            names.insert(Canonical(node));
            addDevice(node);
        }
    }
    // A file is known by its inode, not by its name: a hard link, a bind
    // mount or any other path to the same file is the same file.
    const std::optional<FileIdentity> file = RegularFileIdentity(path);
    auto isTheFile = [&](const std::string& p) {
        const std::optional<FileIdentity> other = RegularFileIdentity(p);
        return file && other && *other == *file;
    };
    // Loop devices over the file, and their partitions (loop3, loop3p1).
    std::set<std::string> loops;
    std::error_code ec;
    for (const auto& disk : fs::directory_iterator(fs::path(rules.sysRoot) / "block", ec)) {
        const std::string name = disk.path().filename().string();
        if (name.rfind("loop", 0) != 0) continue;
        const std::string backing = FirstLine(disk.path() / "loop" / "backing_file");
        if (backing.empty() || !(isTheFile(backing) || Canonical(backing) == real)) continue;
        loops.insert(name);
        for (const auto& part : PartitionsOf(name, rules.sysRoot)) loops.insert(part);
    }

    std::vector<std::string> points;
    std::ifstream table(rules.mountTable);
    for (std::string line; std::getline(table, line);) {
        size_t sourceEnd = line.find_first_of(" \t");
        if (sourceEnd == std::string::npos) continue;
        size_t pointStart = line.find_first_not_of(" \t", sourceEnd);
        if (pointStart == std::string::npos) continue;
        size_t pointEnd = line.find_first_of(" \t", pointStart);
        const std::string source = Unescape(line.substr(0, sourceEnd));
        const std::string point = Unescape(line.substr(pointStart, pointEnd - pointStart));
        if (source.empty() || source[0] != '/') continue;  // proc, tmpfs and the like

        bool match = names.count(Canonical(source)) > 0 || isTheFile(source);
        if (!match && !devices.empty()) {
            struct stat st {};
            match = ::stat(source.c_str(), &st) == 0 && S_ISBLK(st.st_mode) && devices.count(st.st_rdev) > 0;
        }
        // A file mounted through a loop device, or through one of its partitions.
        if (!match) match = loops.count(fs::path(Canonical(source)).filename().string()) > 0;
        if (match && std::find(points.begin(), points.end(), point) == points.end()) points.push_back(point);
    }
    return points;
}

bool LocateWriteTarget(char letter, const std::string& path, const WriteTargetRules& rules, WriteTarget* target,
                       std::string* message) {
    *target = WriteTarget{};
    const auto drives = ListRemovableDrives(rules.sysRoot, rules.devRoot);
    if (letter != 0) {
        char upper = char(std::toupper(static_cast<unsigned char>(letter)));
        for (const auto& d : drives) {
            if (d.letter != upper) continue;
            target->path = d.devicePath;
            target->isDevice = true;
            target->name = std::string(1, upper) + ": " + d.displayName;
            target->sizeBytes = d.sizeBytes;
            return true;
        }
        *message = std::string(1, upper) + ": にリムーバブルドライブがありません";
        return false;
    }
    struct stat st {};
    if (path.empty() || ::stat(path.c_str(), &st) != 0) {
        *message = path + ": ファイルがありません";
        return false;
    }
    if (S_ISDIR(st.st_mode)) {
        *message = path + ": フォルダには書き込めません";
        return false;
    }
    if (!S_ISREG(st.st_mode) && !S_ISBLK(st.st_mode)) {
        *message = path + ": " + kNotFileOrDeviceText;
        return false;
    }
    target->path = path;
    target->isDevice = !S_ISREG(st.st_mode) || IsBelow(path, rules.devRoot);
    target->name = path;
    for (const auto& d : drives) {
        if (!SameFile(path, d.devicePath)) continue;
        target->name = std::string(1, d.letter) + ": " + d.displayName + " - " + path;
        target->sizeBytes = d.sizeBytes;
    }
    if (target->sizeBytes < 0) {
        if (auto device = OpenRawPath(path, false)) target->sizeBytes = device->Size();
    }
    return true;
}

int CheckWriteTarget(const WriteTarget& target, const WriteTargetRules& rules, std::string* message) {
    if (target.isDevice && !IsRemovableDevicePath(target.path, rules)) {
        *message = target.path + " はリムーバブルドライブではないため、書き込みも消去もできません";
        return DiskOpenNotRemovable;
    }
    std::vector<std::string> points = MountPointsOf(target.path, rules);
    if (!points.empty()) {
        std::string where;
        for (const auto& p : points) where += (where.empty() ? "" : ", ") + p;
        *message = target.name + " はマウントされています (" + where +
                   ")。\nアンマウントしてから、もう一度実行してください";
        return DiskOpenMounted;
    }
    return DiskOpenOk;
}

std::string WriteTargetSummary(const WriteTarget& target) {
    return target.name + ", " + (target.sizeBytes >= 0 ? ByteCountText(target.sizeBytes) : "サイズ不明");
}

}  // namespace veld
