// Creating saved files below a folder: never through a link, never over an
// existing entry, with numbered names and folders, shortened names and
// folder paths cut to what Linux takes; the save folder checked up front.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <unistd.h>

#include "search/save_target.h"
#include "search/saved_file_names.h"
#include "support/mkfs_tools.h"

namespace veld {
namespace {

namespace fs = std::filesystem;
using test::TempDir;

std::string ReadText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// Creates and fills one file; its path, or "" with the failure in *why.
std::string Save(const std::string& root, const std::vector<std::string>& folders, const std::string& name,
                 const std::string& text = "data", std::string* note = nullptr) {
    SaveTarget target = SaveTarget::Create(root, folders, name, TakenName::Number);
    EXPECT_TRUE(target.ok()) << target.failure();
    if (!target.ok()) return "";
    EXPECT_TRUE(target.Write(text.data(), text.size()));
    std::string path = target.path();
    if (note) *note = target.note();
    EXPECT_TRUE(target.Finish()) << target.failure();
    return path;
}

TEST(SaveTarget, LinksInTheSaveFolderAreNeverFollowedAndNothingIsWrittenOver) {
    TempDir dir("veld-save");
    const std::string root = dir.File("saved"), outside = dir.File("outside");
    fs::create_directories(root);
    fs::create_directories(outside);
    std::ofstream(outside + "/victim") << "keep";
    std::ofstream(root + "/OLD.JPG") << "old";
    fs::create_symlink(outside + "/victim", root + "/A.JPG");   // a link to a file
    fs::create_symlink(outside + "/new", root + "/B.JPG");      // a dangling link
    fs::create_symlink(outside, root + "/DCIM");                // a linked folder

    EXPECT_EQ(Save(root, {}, "A.JPG"), root + "/A (2).JPG");
    EXPECT_EQ(Save(root, {}, "B.JPG"), root + "/B (2).JPG");
    EXPECT_EQ(Save(root, {"DCIM", "100CANON"}, "C.JPG"), root + "/DCIM (2)/100CANON/C.JPG");
    EXPECT_EQ(Save(root, {}, "OLD.JPG", "new"), root + "/OLD (2).JPG");
    EXPECT_EQ(Save(root, {}, "OLD.JPG", "newer"), root + "/OLD (3).JPG");

    EXPECT_EQ(ReadText(outside + "/victim"), "keep");
    EXPECT_FALSE(fs::exists(outside + "/new"));
    EXPECT_FALSE(fs::exists(outside + "/100CANON"));
    EXPECT_EQ(ReadText(root + "/OLD.JPG"), "old");
    EXPECT_EQ(ReadText(root + "/OLD (2).JPG"), "new");
    EXPECT_TRUE(fs::is_symlink(root + "/A.JPG"));

    // In our own work folder the old file is replaced, a link with it.
    SaveTarget work = SaveTarget::Create(root, {}, "A.JPG", TakenName::Replace);
    ASSERT_TRUE(work.ok()) << work.failure();
    EXPECT_EQ(work.path(), root + "/A.JPG");
    EXPECT_TRUE(work.Finish());
    EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(root + "/A.JPG")));
    EXPECT_EQ(ReadText(outside + "/victim"), "keep");
    // A folder on the name is neither removed nor numbered around: the file
    // cannot be made there, and the failure says why.
    fs::create_directories(root + "/D.JPG/inside");
    SaveTarget blocked = SaveTarget::Create(root, {}, "D.JPG", TakenName::Replace);
    EXPECT_FALSE(blocked.ok());
    EXPECT_NE(blocked.failure().find(root + "/D.JPG"), std::string::npos) << blocked.failure();
    EXPECT_NE(blocked.failure().find("フォルダ"), std::string::npos) << blocked.failure();
    EXPECT_TRUE(fs::is_directory(root + "/D.JPG/inside"));
    EXPECT_FALSE(fs::exists(root + "/D (2).JPG"));
    // The work folder itself must not be a link.
    fs::create_symlink(outside, dir.File("worklink"));
    EXPECT_FALSE(SaveTarget::Create(dir.File("worklink"), {}, "X.JPG", TakenName::Replace).ok());
    EXPECT_FALSE(fs::exists(outside + "/X.JPG"));
}

TEST(SaveTarget, AFileNamedLikeAFolderDoesNotBlockIt) {
    TempDir dir("veld-save");
    const std::string root = dir.path();
    EXPECT_EQ(Save(root, {}, "DCIM"), root + "/DCIM");
    EXPECT_EQ(Save(root, {"DCIM", "100CANON"}, "IMG_0001.JPG"), root + "/DCIM (2)/100CANON/IMG_0001.JPG");
    EXPECT_EQ(Save(root, {"DCIM", "100CANON"}, "IMG_0002.JPG"), root + "/DCIM (2)/100CANON/IMG_0002.JPG");
    // And the other way round: a file named like an existing folder is numbered.
    EXPECT_EQ(Save(root, {"DCIM (2)"}, "100CANON"), root + "/DCIM (2)/100CANON (2)");
}

TEST(SaveTarget, OverlongNamesAndFolderPathsAreCutToWhatLinuxTakes) {
    TempDir dir("veld-save");
    const std::string root = dir.path();
    std::string wide;
    for (int i = 0; i < 251; ++i) wide += "写";  // 753 bytes
    std::string note;
    std::string path = Save(root, {}, wide + ".jpg", "data", &note);
    ASSERT_FALSE(path.empty());
    std::string name = fs::path(path).filename().string();
    EXPECT_LE(name.size(), kDefaultNameMax);
    EXPECT_EQ(name.substr(name.size() - 4), ".jpg");
    EXPECT_EQ(ReadText(path), "data");
    EXPECT_FALSE(note.empty());
    // The same long name again: numbered, still within the limit.
    std::string second = Save(root, {}, wide + ".jpg");
    EXPECT_NE(second, path);
    EXPECT_LE(fs::path(second).filename().string().size(), kDefaultNameMax);

    // Twenty folders of 250 bytes: 5,000 bytes of path. The file goes into
    // the deepest folder that keeps its path within 4,095 bytes.
    std::vector<std::string> folders;
    for (int i = 0; i < 20; ++i) folders.push_back(std::string(249, 'a' + i % 26) + std::to_string(i % 10));
    note.clear();
    std::string deep = Save(root, folders, wide + ".jpg", "deep", &note);
    ASSERT_FALSE(deep.empty());
    EXPECT_LE(deep.size(), kSavePathMax);
    EXPECT_GT(deep.size(), 3500u) << "as many folders as fit are kept";
    EXPECT_EQ(ReadText(deep), "deep");
    EXPECT_NE(note.find("深すぎる"), std::string::npos) << note;
    std::string expected = root;
    for (const std::string& folder : folders) {
        if (fs::path(deep).parent_path().string().size() <= expected.size()) break;
        expected += "/" + folder;
    }
    EXPECT_EQ(fs::path(deep).parent_path().string(), expected) << "the folders kept are the leading ones";
}

TEST(SaveTarget, DiscardLeavesNothingAndUnusableFoldersAreSaid) {
    TempDir dir("veld-save");
    SaveTarget target = SaveTarget::Create(dir.path(), {"DCIM"}, "PART.JPG", TakenName::Number);
    ASSERT_TRUE(target.ok());
    EXPECT_TRUE(target.Write("abc", 3));
    const std::string path = target.path();
    target.Discard();
    EXPECT_FALSE(fs::exists(path));

    EXPECT_EQ(SaveFolderProblem(dir.File("new/level")), "");
    EXPECT_TRUE(fs::is_directory(dir.File("new/level")));
    std::ofstream(dir.File("plain")) << "x";
    EXPECT_NE(SaveFolderProblem(dir.File("plain")), "");
    EXPECT_NE(SaveFolderProblem(dir.File("plain/below")), "");
    EXPECT_FALSE(SaveTarget::Create(dir.File("plain/below"), {}, "A.JPG", TakenName::Number).ok());
    if (::geteuid() != 0) {  // root may write anywhere
        fs::create_directories(dir.File("locked"));
        fs::permissions(dir.File("locked"), fs::perms::owner_read | fs::perms::owner_exec);
        EXPECT_EQ(SaveFolderProblem(dir.File("locked")), "アクセスが拒否されました");
        EXPECT_NE(SaveFolderProblem(dir.File("locked/sub")), "");
        fs::permissions(dir.File("locked"), fs::perms::owner_all);
    }
}

}  // namespace
}  // namespace veld
