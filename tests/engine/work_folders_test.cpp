// The temporary work folders: their paths, folder creation and cleanup.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <unistd.h>

#include "base/settings.h"
#include "search/work_folders.h"
#include "support/mkfs_tools.h"

namespace veld {
namespace {

namespace fs = std::filesystem;
using test::TempDir;

void Touch(const std::string& path) { std::ofstream(path) << "data"; }

TEST(WorkFolders, PathsFollowTheTemporaryFolder) {
    const std::string temp = TempFolderPath();
    ASSERT_FALSE(temp.empty());
    EXPECT_EQ(temp.back(), '/');
    EXPECT_EQ(WorkFolderPath(), temp + "~VELDTMP");
    EXPECT_EQ(EtcFolderPath(), temp + "~VELDTMPETC");
}

TEST(WorkFolders, MakeFolderPathCreatesMissingLevels) {
    TempDir dir("veld-folders");
    const std::string deep = dir.File("a/b/c");
    EXPECT_EQ(MakeFolderPath(deep), 0);
    EXPECT_TRUE(fs::is_directory(deep));
    EXPECT_EQ(MakeFolderPath(deep), 0);          // existing levels are passed over
    EXPECT_EQ(MakeFolderPath(deep + "/"), 0);
    EXPECT_EQ(MakeFolderPath("relative/path"), -1);
    EXPECT_EQ(MakeFolderPath(""), -1);
    Touch(dir.File("file"));
    EXPECT_EQ(MakeFolderPath(dir.File("file/below")), -1);  // a file where a level should be
    EXPECT_FALSE(fs::exists(dir.File("file/below")));
}

TEST(WorkFolders, DeleteFilesInFolderKeepsSubFolders) {
    TempDir dir("veld-folders");
    const std::string folder = dir.File("work");
    ASSERT_EQ(MakeFolderPath(folder + "/sub"), 0);
    Touch(folder + "/one.jpg");
    Touch(folder + "/#SC00001.JPG");
    Touch(folder + "/sub/inner.jpg");

    DeleteFilesInFolder(folder, false);  // not enabled: nothing happens
    EXPECT_TRUE(fs::exists(folder + "/one.jpg"));

    DeleteFilesInFolder(folder, true);
    EXPECT_FALSE(fs::exists(folder + "/one.jpg"));
    EXPECT_FALSE(fs::exists(folder + "/#SC00001.JPG"));
    EXPECT_TRUE(fs::exists(folder + "/sub/inner.jpg"));

    DeleteFilesInFolder(dir.File("missing"), true);  // a missing folder is no fault

    // Paths of nine characters or fewer are never cleaned.
    const std::string before = fs::current_path().string();
    ASSERT_EQ(::chdir(dir.path().c_str()), 0);
    ASSERT_EQ(MakeFolderPath(dir.File("short")), 0);
    Touch("short/keep.txt");
    DeleteFilesInFolder("short", true);
    EXPECT_TRUE(fs::exists("short/keep.txt"));
    DeleteFilesInFolder("./short/../short", true);  // a longer path to it: cleaned
    EXPECT_FALSE(fs::exists("short/keep.txt"));
    ASSERT_EQ(::chdir(before.c_str()), 0);
}

}  // namespace
}  // namespace veld
