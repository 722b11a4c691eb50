// The settings file: defaults for missing and empty values, the "GET_ERROR"
// sentinel, case-insensitive names, and the off-screen rule of the window
// rectangle.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "base/settings.h"
#include "platform/platform_services.h"
#include "support/mkfs_tools.h"

namespace veld {
namespace {

class Settings : public ::testing::Test {
protected:
    void SetUp() override {
        ini_ = dir_.File("Veld.ini");
        std::ofstream(ini_) << "[Config]\n"
                               "SaveDir=\n"
                               "ListWidth0=\n"
                               "ListWidth1=abc\n"
                               "ListWidth2=120px\n"
                               "ListWidth3=-7\n"
                               "Dir=GET_ERROR\n"
                               "[searchoption]\n"
                               "searchdetail=0\n";
    }
    test::TempDir dir_;
    std::string ini_;
};

TEST_F(Settings, IntegersFallBackOnlyWhenMissingOrEmpty) {
    EXPECT_EQ(ReadIniInt("Config", "ListWidth9", -1, ini_), -1);   // missing key
    EXPECT_EQ(ReadIniInt("Nowhere", "ListWidth0", -1, ini_), -1);  // missing section
    EXPECT_EQ(ReadIniInt("Config", "ListWidth0", -1, ini_), -1);   // empty value
    EXPECT_EQ(ReadIniInt("Config", "ListWidth1", -1, ini_), 0);    // no digits
    EXPECT_EQ(ReadIniInt("Config", "ListWidth2", -1, ini_), 120);  // leading digits
    EXPECT_EQ(ReadIniInt("Config", "ListWidth3", -1, ini_), -7);
    EXPECT_EQ(ReadIniInt("Config", "X", 5, dir_.File("absent.ini")), 5);
}

TEST_F(Settings, TextsKeepEmptyValuesButNotTheSentinel) {
    EXPECT_EQ(ReadIniString("Config", "SaveDir", "/home/docs", ini_), "");
    EXPECT_EQ(ReadIniString("Config", "Missing", "/home/docs", ini_), "/home/docs");
    EXPECT_EQ(ReadIniString("Config", "Dir", "/home/docs", ini_), "/home/docs");
}

TEST_F(Settings, SectionAndKeyNamesIgnoreCase) {
    EXPECT_EQ(ReadIniInt("SearchOption", "SearchDetail", 1, ini_), 0);
    EXPECT_EQ(ReadIniInt("SEARCHOPTION", "SEARCHDETAIL", 1, ini_), 0);
    ASSERT_TRUE(WriteIniInt("searchOPTION", "Pic", 1, ini_));
    EXPECT_EQ(ReadIniInt("SearchOption", "pic", 0, ini_), 1);
    ASSERT_TRUE(WriteIniInt("SearchOption", "PIC", 0, ini_));
    EXPECT_EQ(ReadIniInt("SearchOption", "Pic", 1, ini_), 0);
    // Writing an absent value removes the key.
    ASSERT_TRUE(WriteIniString("SearchOption", "Pic", nullptr, ini_));
    EXPECT_EQ(ReadIniInt("SearchOption", "Pic", 9, ini_), 9);
    ASSERT_TRUE(WriteIniString("Config", "SaveDir", "/cards/out", ini_));
    EXPECT_EQ(ReadIniString("config", "savedir", "", ini_), "/cards/out");
    // Other keys survive the rewrites.
    EXPECT_EQ(ReadIniInt("Config", "ListWidth2", -1, ini_), 120);
}

TEST_F(Settings, LongTextsAreCutTo255Bytes) {
    std::string longText(400, 'x');
    ASSERT_TRUE(WriteIniString("Config", "SaveDir", longText.c_str(), ini_));
    EXPECT_EQ(ReadIniString("Config", "SaveDir", "", ini_), std::string(255, 'x'));
}

TEST_F(Settings, WindowRectIsNotSavedOffScreen) {
    // These write to the settings file in use (a temporary one in the tests).
    const std::string name = "SettingsTestWnd";
    auto stored = [&](const char* suffix) { return ReadIniInt("WindowPos", name + suffix, -999); };
    EXPECT_EQ(SaveWindowRect(name, {1024 - 49, 10, 1100, 300}, 1024, 768), 0);
    EXPECT_EQ(stored("-L"), -999);
    EXPECT_EQ(SaveWindowRect(name, {10, 768 - 49, 300, 800}, 1024, 768), 0);
    EXPECT_EQ(SaveWindowRect(name, {-1, 10, 300, 300}, 1024, 768), 0);
    EXPECT_EQ(SaveWindowRect(name, {10, 10, -5, 300}, 1024, 768), 0);
    EXPECT_EQ(stored("-T"), -999);
    EXPECT_EQ(SaveWindowRect(name, {1024 - 50, 768 - 50, 1200, 900}, 1024, 768), 1);
    EXPECT_EQ(stored("-L"), 974);
    EXPECT_EQ(stored("-T"), 718);
    EXPECT_EQ(stored("-R"), 1200);
    EXPECT_EQ(stored("-B"), 900);
}

// The documents folder is where dialogs start and files are saved: one that
// does not exist is made (not the home folder offered in its place); where it
// cannot be made, the home folder is offered, or nothing.
TEST_F(Settings, DocumentsFolderIsMadeWhenMissingElseTheHomeIsOffered) {
    const PlatformServices saved = Platform();
    PlatformServices services = saved;
    std::string documents = dir_.File("Documents");
    std::string home = dir_.path();
    services.documentsFolder = [&] { return documents; };
    services.homeFolder = [&] { return home; };
    InstallPlatformServices(services);

    EXPECT_EQ(UserDocumentsFolder(), documents);
    EXPECT_TRUE(std::filesystem::is_directory(documents));
    // Its parent is missing: nothing is made, the home stands in.
    documents = dir_.File("nowhere/Documents");
    EXPECT_EQ(UserDocumentsFolder(), home);
    EXPECT_FALSE(std::filesystem::exists(dir_.File("nowhere")));
    home = dir_.File("gone");
    EXPECT_EQ(UserDocumentsFolder(), "");

    InstallPlatformServices(saved);
}

}  // namespace
}  // namespace veld
