// The help page: beside the program in the build folder, in the data folder
// once installed, and covering what the list shows.
#include "found_files_fixture.h"  // first: see there

#include <QFile>
#include <QProcess>
#include <QTest>

#include <filesystem>

#include "search/found_file_columns.h"
#include "ui/data_files.h"
#include "volume/cluster_map.h"

namespace veld::guitest {
namespace {

namespace fs = std::filesystem;

std::string ExecutableFolder() { return fs::path(VELD_GUI_PATH).parent_path().string(); }

QString PageText(const std::string& path) {
    QFile file(QString::fromStdString(path));
    if (!file.open(QIODevice::ReadOnly)) return {};
    return QString::fromUtf8(file.readAll());
}

TEST_F(MainFrameTest, HelpPageIsFoundBesideTheProgramInTheBuildFolder) {
    const std::string page = DataFilePath(ExecutableFolder(), kHelpPageName);
    EXPECT_EQ(fs::path(page), fs::path(ExecutableFolder()) / "doc" / "VELD.HTM");
    ASSERT_TRUE(fs::is_regular_file(page));
    EXPECT_EQ(PageText(page), PageText(VELD_HELP_SOURCE));  // the build copies the current page
    EXPECT_TRUE(fs::is_regular_file(fs::path(page).parent_path() / "main-window.png"));

    // The help command (F1) opens it and says nothing.
    frame_->setHelpPath(QString::fromStdString(page));
    frame_->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(frame_.get()));
    QTest::keyClick(frame_.get(), Qt::Key_F1);
    ASSERT_EQ(opened_.size(), 1u);
    EXPECT_EQ(opened_[0].toStdString(), page);
    EXPECT_TRUE(messages_.empty());
}

TEST(HelpPage, InstalledProgramFindsItInTheDataFolder) {
    QTemporaryDir prefix;
    ASSERT_TRUE(prefix.isValid());
    QProcess install;
    install.setProcessChannelMode(QProcess::MergedChannels);
    install.start(QStringLiteral(VELD_CMAKE_COMMAND),
                  {QStringLiteral("--install"), QStringLiteral(VELD_BUILD_DIR), QStringLiteral("--prefix"), prefix.path()});
    ASSERT_TRUE(install.waitForFinished(120000));
    ASSERT_EQ(install.exitCode(), 0) << install.readAll().toStdString();

    const fs::path root = prefix.path().toStdString();
    const fs::path bin = root / "bin";
    EXPECT_TRUE(fs::is_regular_file(bin / "veld"));
    EXPECT_TRUE(fs::is_regular_file(bin / "veld-cli"));
    const std::string page = DataFilePath(bin.string(), kHelpPageName);
    EXPECT_EQ(fs::path(page), root / "share" / "veld" / "doc" / "VELD.HTM");
    EXPECT_EQ(PageText(page), PageText(VELD_HELP_SOURCE));
    EXPECT_TRUE(fs::is_regular_file(root / "share" / "veld" / "doc" / "main-window.png"));
    // Nothing of the page beside the installed program.
    EXPECT_FALSE(fs::exists(bin / "doc"));
    // The demo card, when the build made one, goes along.
    if (fs::exists(fs::path(VELD_BUILD_DIR) / kDemoCardName)) {
        EXPECT_EQ(fs::path(DataFilePath(bin.string(), kDemoCardName)), root / "share" / "veld" / kDemoCardName);
    }

    // The installed program runs from there.
    QProcess version;
    version.start(QString::fromStdString((bin / "veld").string()), {QStringLiteral("--version")});
    ASSERT_TRUE(version.waitForFinished(30000));
    EXPECT_EQ(version.exitCode(), 0);
    EXPECT_TRUE(version.readAllStandardOutput().startsWith("Veld V"));
}

// Every state text the list can show is explained, and the command line too.
TEST(HelpPage, ExplainsTheStatesSavingAndTheCommandLine) {
    const QString page = PageText(VELD_HELP_SOURCE);
    ASSERT_FALSE(page.isEmpty());
    std::vector<DelFileInfo> records(8);
    records[0].state = StateComplete;  // not a JPEG start: "良"
    records[1].state = StateComplete;
    records[1].firstClass = ContentClass::JpegStart;
    records[1].jpeg.partlyMissing = 1;
    records[2].state = StateComplete;
    records[2].firstClass = ContentClass::JpegStart;  // size 0
    records[3].state = StateFragmented;
    records[3].clustersNeeded = 4;
    records[3].clustersCollected = 3;
    records[4].state = StateInUse;
    records[5].state = StateBroken;
    records[6].state = StateOverwritten;
    records[7].state = StateMismatch;
    for (const DelFileInfo& record : records) {
        QString state = QString::fromStdString(FoundFileStateText(record));
        ASSERT_FALSE(state.isEmpty());
        state = state.section(QLatin1Char(' '), 0, 0);  // "断片化  75%" is explained as "断片化 nn%"
        EXPECT_TRUE(page.contains(QStringLiteral("<td>") + state)) << state.toStdString();
    }
    for (int c = 0; c < FoundFileColumnCount; ++c) {
        const QString heading = QString::fromStdString(FoundFileColumnHeading(c));
        EXPECT_TRUE(page.contains(QStringLiteral("<td>") + heading + QStringLiteral("</td>"))) << heading.toStdString();
    }
    for (const char* text : {"検索の開始", "ディスクイメージを選択する", "見つかったファイルを保存", "フォルダも復元",
                             "veld-cli info", "veld-cli search", "--save", "--version"})
        EXPECT_TRUE(page.contains(QString::fromUtf8(text))) << text;
}

}  // namespace
}  // namespace veld::guitest
