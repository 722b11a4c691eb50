// Test helpers around the system's own tools: a temporary folder that removes
// itself, running a command with its output captured, and real FAT images
// made by mkfs.fat and filled with mtools (mmd, mcopy, mdel, mdeltree on
// "-i image ::/path"), so that tests also see volumes laid out by another
// formatter than our builder.
//
//   TempDir dir;
//   if (auto why = MkfsToolsMissing(); !why.empty()) GTEST_SKIP() << why;
//   std::string img = dir.File("card.img");
//   ASSERT_EQ(MakeFatImage(img, {.fatType = 16, .sizeKiB = 16384}), "");
//   MtoolsImage card(img);
//   ASSERT_EQ(card.Mkdir("DCIM"), "");
//   ASSERT_EQ(card.PutBytes("DCIM/IMG_0001.JPG", bytes), "");
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <utility>
#include <vector>

namespace veld::test {

// A fresh folder under the system's temporary folder, removed with all its
// contents when the object goes.
class TempDir {
public:
    explicit TempDir(const std::string& prefix = "veld-test");
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& path() const { return path_; }
    std::string File(const std::string& name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

struct CommandResult {
    int exitCode = -1;   // -1 when the command could not run or was killed
    std::string out;     // standard output
    std::string err;     // standard error
};

// Runs argv[0] (looked up in PATH) with the arguments, no shell involved;
// env holds extra NAME=VALUE settings for the child.
CommandResult RunCommand(const std::vector<std::string>& argv, const std::vector<std::string>& env = {});

// The full path of a tool found in PATH or the system's sbin folders, or "".
std::string FindTool(const std::string& name);

// "" when mkfs.fat and the mtools are there, otherwise why tests must skip.
std::string MkfsToolsMissing();

struct MkfsOptions {
    int fatType = 16;              // -F 12, 16 or 32
    uint64_t sizeKiB = 8192;       // image size in KiB
    int sectorsPerCluster = 0;     // -s; 0 leaves it to mkfs.fat
    int sectorSize = 0;            // -S; 0 leaves 512
    int reservedSectors = 0;       // -R; 0 leaves the default
    int rootEntries = 0;           // -r; 0 leaves the default
};
// Creates the image file; "" on success, else mkfs.fat's complaint.
std::string MakeFatImage(const std::string& path, const MkfsOptions& options);

// mtools on one image file. Paths are given without the "::" prefix, with
// "/" separators ("DCIM/100CANON/IMG_0001.JPG"). Each call answers "" on
// success, else the tool's error output.
class MtoolsImage {
public:
    explicit MtoolsImage(std::string imagePath) : image_(std::move(imagePath)) {}

    std::string Mkdir(const std::string& path);
    std::string Put(const std::string& localFile, const std::string& path);
    std::string PutBytes(const std::string& path, std::span<const uint8_t> bytes);
    std::string Delete(const std::string& path);
    std::string DeleteTree(const std::string& path);
    // mdir's listing of a folder (for diagnostics).
    std::string List(const std::string& path = "");

private:
    std::string Run(const std::string& tool, std::vector<std::string> args);
    std::string image_;
};

}  // namespace veld::test
