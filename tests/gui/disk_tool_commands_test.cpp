// The Tools menu's disk commands driven through the main window, with regular
// files standing in for cards: the image holds the whole card and a search of
// it finds the photo in the last cluster; an image file can be the source; writing back refuses a target of
// another size or a mounted one before any byte is written and asks, naming
// the card, before the first; the erase question; and the progress dialog's
// cancel and error rules over scripted devices.
#include "found_files_fixture.h"  // first: see there

#include <QCheckBox>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QTest>
#include <QTreeWidget>
#include <thread>

#include "base/settings.h"
#include "support/scripted_device.h"
#include "tools/disk_image.h"
#include "ui/tools/erase_confirm_dialog.h"
#include "ui/tools/disk_tool_commands.h"
#include "ui/search/sel_drive_dlg.h"
#include "ui/tools/disk_tool_dialog.h"

namespace veld::guitest {
namespace {

using veld::test::DeviceScript;
using veld::test::FatGeometry;
using veld::test::FatImageBuilder;
using veld::test::MakeTestJpeg;
using veld::test::ScriptedMedium;

bool FileExists(const std::string& path) { return std::filesystem::exists(path); }

void WriteFile(const std::string& path, const std::vector<uint8_t>& bytes) {
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

class DiskToolCommandTest : public MainFrameTest {
protected:
    void TearDown() override {
        SetDiskToolChooserForTest(nullptr);
        SetQuestionAnswererForTest(nullptr);
        SetWriteTargetRulesForTest(WriteTargetRules{});
        MainFrameTest::TearDown();
    }
    // The drive selection gives this card (and image file).
    void Choose(const std::string& device, const std::string& image = "") {
        SetDiskToolChooserForTest([this, device, image](DiskToolKind kind, DiskToolChoice* choice) {
            kinds_.push_back(kind);
            choice->letter = 'E';
            choice->devicePath = device;
            choice->imagePath = image;
            return true;
        });
    }
    void Answer(bool yes, std::function<void()> atQuestion = {}) {
        SetQuestionAnswererForTest([this, yes, atQuestion](const QString& text) {
            questions_.push_back(text);
            if (atQuestion) atQuestion();
            return yes;
        });
    }
    // A FAT16 card with one deleted photo near its start and one ending in
    // its very last cluster.
    std::string BuildCardWithLastClusterPhoto() {
        FatImageBuilder b(FatGeometry::Fat16(16384, 4));
        const uint64_t volumeBytes = uint64_t(b.geometry().totalSectors) * 512;
        const uint32_t lastCluster = uint32_t((volumeBytes - b.DataStart()) / b.ClusterSize()) + 1;
        const auto lastPhoto = MakeTestJpeg(80, 48);
        const uint32_t lastStart = lastCluster + 1 - b.ClustersFor(lastPhoto.size());
        auto root = b.Root();
        root.AddDeletedFile("FIRST.JPG", 3, MakeTestJpeg(96, 64), "first-shot.jpg");
        root.AddDeletedFile("LAST.JPG", lastStart, lastPhoto, "last-shot.jpg");
        const std::string path = TempPath("card-last.img");
        EXPECT_TRUE(b.WriteToFile(path));
        return path;
    }
    std::vector<DiskToolKind> kinds_;
    std::vector<QString> questions_;
};

TEST_F(DiskToolCommandTest, ToolsMenuOffersTheFourCommandsAndGreysWithTheWindow) {
    QStringList texts;
    for (QAction* a : frame_->toolsMenu()->actions())
        if (!a->isSeparator()) texts << a->text();
    EXPECT_EQ(texts, (QStringList{"簡単復活ウィザードを開く(&W)", "ディスクイメージを保存(&S)",
                                  "ディスクイメージからカードに書込", "完全消去(&D)"}));
    frame_->EnableMainUi(false);
    EXPECT_FALSE(frame_->toolsMenu()->menuAction()->isEnabled());
    frame_->EnableMainUi(true);
    EXPECT_TRUE(frame_->toolsMenu()->menuAction()->isEnabled());
}

TEST_F(DiskToolCommandTest, ImageHoldsTheWholeCardAndItsSearchFindsTheLastClusterPhoto) {
    const std::string card = BuildCardWithLastClusterPhoto();
    // Results of an earlier search are discarded once a card is chosen.
    ASSERT_EQ(SearchAndWait(BuildCard()), 0);
    ASSERT_GT(frame_->session().FoundCount.load(), 0);
    messages_.clear();

    // The found files were not saved: they stay, and nothing is written,
    // unless the user agrees.
    Choose(card, TempPath("copy"));
    Answer(false);
    Action("saveDiskImage")->trigger();
    ASSERT_EQ(questions_.size(), 1u);
    EXPECT_TRUE(questions_[0].startsWith(QStringLiteral("見つかったファイル (%1 個) はまだ保存されていません。")
                                             .arg(frame_->session().FoundCount.load())))
        << questions_[0].toStdString();
    EXPECT_TRUE(questions_[0].endsWith(QStringLiteral("ディスクイメージを保存しますか？"))) << questions_[0].toStdString();
    EXPECT_GT(frame_->session().FoundCount.load(), 0);
    EXPECT_FALSE(FileExists(TempPath("copy.img")));
    EXPECT_TRUE(messages_.empty());

    Answer(true);
    Action("saveDiskImage")->trigger();
    EXPECT_EQ(questions_.size(), 2u);
    EXPECT_EQ(kinds_, (std::vector<DiskToolKind>{DiskToolSave, DiskToolSave}));
    EXPECT_EQ(messages_, std::vector<std::string>{"保存が完了しました"});
    EXPECT_EQ(frame_->session().FoundCount.load(), 0) << "the previous results stay after a card was chosen";
    EXPECT_TRUE(frame_->uiEnabled());
    const std::string image = TempPath("copy.img");
    ASSERT_TRUE(FileExists(image)) << "\".img\" is appended";
    EXPECT_EQ(ReadWholeFile(image), ReadWholeFile(card));
    EXPECT_EQ(ReadIniString("Config", "Dir", ""), dir_.path().toStdString());

    messages_.clear();
    ASSERT_EQ(SearchAndWait(image), 0);
    std::vector<std::string> names;
    auto& found = frame_->session().gcDelFileList;
    for (size_t i = 0; i < found.Count(); ++i)
        if (DelFileInfo* record = found.Get(i); record && record->name) names.push_back(*record->name);
    EXPECT_NE(std::find(names.begin(), names.end(), "last-shot.jpg"), names.end()) << "the photo in the last cluster is missing";
    EXPECT_NE(std::find(names.begin(), names.end(), "first-shot.jpg"), names.end());
}

// "ディスクイメージを選択する" in the image tool's drive selection: an image
// file is the source, copied whole.
TEST_F(DiskToolCommandTest, ImageCreationTakesAnImageFileAsItsSource) {
    const std::string source = BuildCardWithLastClusterPhoto();
    CSelDriveDlg::SetDriveListerForTest([] { return std::vector<RemovableDrive>{}; });
    std::vector<bool> asked;  // open (the source) or save (the new image)
    CSelDriveDlg::SetFileChooserForTest([&](const QString&, const QString&, const QString& proposed, bool open) {
        asked.push_back(open);
        if (open) return QString::fromStdString(source);
        EXPECT_TRUE(proposed.startsWith(QStringLiteral("card-last-"))) << proposed.toStdString();
        return QString::fromStdString(TempPath("copy"));
    });
    WhenModalAppears([](QWidget* modal) {
        auto* drives = qobject_cast<CSelDriveDlg*>(modal);
        ASSERT_NE(drives, nullptr);
        EXPECT_FALSE(drives->emptyListNote()->isHidden());
        QTest::mouseClick(drives->imageFileButton(), Qt::LeftButton);
    });
    Action("saveDiskImage")->trigger();
    CSelDriveDlg::SetDriveListerForTest({});
    CSelDriveDlg::SetFileChooserForTest({});

    EXPECT_EQ(asked, (std::vector<bool>{true, false}));
    EXPECT_EQ(messages_, std::vector<std::string>{"保存が完了しました"});
    EXPECT_EQ(ReadWholeFile(TempPath("copy.img")), ReadWholeFile(source));
}

// Each tool's instructions over the drive list show whole (the write-back
// warning is three lines long), above the list.
TEST_F(DiskToolCommandTest, DriveSelectionInstructionsAreNotClipped) {
    CSelDriveDlg::SetDriveListerForTest([] { return std::vector<RemovableDrive>{}; });
    for (const char* tool : {"saveDiskImage", "restoreDiskImage", "completeErase"}) {
        bool seen = false;
        WhenModalAppears([&](QWidget* modal) {
            auto* drives = qobject_cast<CSelDriveDlg*>(modal);
            ASSERT_NE(drives, nullptr);
            seen = true;
            QLabel* message = drives->messageLabel();
            EXPECT_LE(message->heightForWidth(message->width()), message->height()) << tool;
            EXPECT_GT(drives->driveList()->y(), message->geometry().bottom()) << tool;
            EXPECT_LE(drives->selectButton()->geometry().bottom(), drives->height()) << tool;
            drives->reject();
        });
        Action(tool)->trigger();
        EXPECT_TRUE(seen) << tool;
    }
    CSelDriveDlg::SetDriveListerForTest({});
}

TEST_F(DiskToolCommandTest, ShortImagePathDoesNothingAndExistingAppendedNameIsAskedAbout) {
    const std::string card = BuildCardWithLastClusterPhoto();
    Choose(card, "a");
    RunSaveDiskImage(*controller_, frame_.get());
    EXPECT_TRUE(messages_.empty());
    EXPECT_TRUE(questions_.empty());

    // "old" was typed; "old.img" exists and is only replaced on Yes.
    WriteFile(TempPath("old.img"), {1, 2, 3});
    Choose(card, TempPath("old"));
    Answer(false);
    RunSaveDiskImage(*controller_, frame_.get());
    ASSERT_EQ(questions_.size(), 1u);
    EXPECT_TRUE(questions_[0].contains(QStringLiteral("old.img")));
    EXPECT_EQ(ReadWholeFile(TempPath("old.img")), (std::vector<uint8_t>{1, 2, 3}));
    EXPECT_EQ(messages_, std::vector<std::string>{"処理を中止しました"});
}

TEST_F(DiskToolCommandTest, WriteBackRefusesATargetOfAnotherSizeBeforeWriting) {
    const std::string image = BuildCardWithLastClusterPhoto();
    const std::string target = TempPath("small-card.bin");
    const std::vector<uint8_t> original(4 << 20, 0x77);
    WriteFile(target, original);
    Choose(target, image);
    Answer(true);
    frame_->onRestoreDiskImage();

    EXPECT_TRUE(questions_.empty()) << "a refused target is not offered for confirmation";
    ASSERT_EQ(messages_.size(), 2u);
    // Both sizes are named.
    EXPECT_NE(messages_[0].find("8,388,608"), std::string::npos) << messages_[0];
    EXPECT_NE(messages_[0].find("4,194,304"), std::string::npos) << messages_[0];
    EXPECT_EQ(messages_[1], "処理を中止しました");
    EXPECT_EQ(ReadWholeFile(target), original);
}

TEST_F(DiskToolCommandTest, WriteBackAsksNamingTheCardBeforeTheFirstByteAndVerifies) {
    const std::string image = BuildCardWithLastClusterPhoto();
    const std::string target = TempPath("card-target.bin");
    const std::vector<uint8_t> original(ReadWholeFile(image).size(), 0x33);
    WriteFile(target, original);
    Choose(target, image);

    bool untouchedAtQuestion = false;
    Answer(false, [&] { untouchedAtQuestion = ReadWholeFile(target) == original; });
    frame_->onRestoreDiskImage();
    ASSERT_EQ(questions_.size(), 1u);
    EXPECT_TRUE(untouchedAtQuestion);
    EXPECT_TRUE(questions_[0].contains(QString::fromStdString(target)));
    EXPECT_TRUE(questions_[0].contains(QStringLiteral("8,388,608 バイト")));
    EXPECT_EQ(ReadWholeFile(target), original) << "No must leave the card as it was";
    EXPECT_EQ(messages_, std::vector<std::string>{"処理を中止しました"});

    messages_.clear();
    questions_.clear();
    Answer(true, [&] { untouchedAtQuestion = ReadWholeFile(target) == original; });
    frame_->onRestoreDiskImage();
    EXPECT_TRUE(untouchedAtQuestion);
    EXPECT_EQ(messages_, std::vector<std::string>{"保存が完了しました"});
    EXPECT_EQ(ReadWholeFile(target), ReadWholeFile(image));
}

TEST_F(DiskToolCommandTest, MountedTargetIsRefusedForWritingAndErasing) {
    const std::string image = BuildCardWithLastClusterPhoto();
    const std::string target = TempPath("mounted-card.bin");
    const std::vector<uint8_t> original(ReadWholeFile(image).size(), 0x44);
    WriteFile(target, original);
    const std::string mounts = TempPath("mounts");
    std::ofstream(mounts) << "proc /proc proc rw 0 0\n" << target << " /media/card vfat rw 0 0\n";
    WriteTargetRules rules;
    rules.mountTable = mounts;
    SetWriteTargetRulesForTest(rules);
    Choose(target, image);
    Answer(true);

    frame_->onRestoreDiskImage();
    ASSERT_FALSE(messages_.empty());
    EXPECT_NE(messages_[0].find("マウントされています"), std::string::npos) << messages_[0];
    EXPECT_NE(messages_[0].find("/media/card"), std::string::npos);

    messages_.clear();
    frame_->onCompleteErase();
    ASSERT_EQ(messages_.size(), 1u);
    EXPECT_NE(messages_[0].find("アンマウント"), std::string::npos) << messages_[0];
    EXPECT_TRUE(questions_.empty());
    EXPECT_EQ(ReadWholeFile(target), original);
}

TEST_F(DiskToolCommandTest, EraseQuestionNamesTheCardAndSavesTheModeOnlyOnConfirmation) {
    const std::string target = TempPath("erase-card.bin");
    std::vector<uint8_t> original(3 << 20);
    for (size_t i = 0; i < original.size(); ++i) original[i] = uint8_t(i * 7 + 1);
    WriteFile(target, original);
    Choose(target);
    WriteIniInt("Config", "DelPentagon", 0);

    // Cancel: nothing written, the ticked box not remembered.
    WhenModalAppears([&](QWidget* w) {
        auto* dlg = qobject_cast<EraseConfirmDialog*>(w);
        ASSERT_NE(dlg, nullptr);
        EXPECT_EQ(dlg->windowTitle(), QStringLiteral("完全消去の確認"));
        EXPECT_EQ(dlg->messageLabel()->text(), DelDiskQuestionText());
        EXPECT_TRUE(dlg->targetLabel()->text().contains(QString::fromStdString(target)));
        EXPECT_TRUE(dlg->targetLabel()->text().contains(QStringLiteral("3,145,728 バイト")));
        EXPECT_TRUE(dlg->fatEraseBox()->isHidden());
        dlg->pentagonBox()->setChecked(true);
        QTest::mouseClick(dlg->cancelButton(), Qt::LeftButton);
    });
    frame_->onCompleteErase();
    EXPECT_EQ(ReadIniInt("Config", "DelPentagon", -1), 0);
    EXPECT_EQ(ReadWholeFile(target), original);
    EXPECT_TRUE(messages_.empty());

    // Confirmed in plain mode: one pass of zeros over every byte.
    WhenModalAppears([](QWidget* w) {
        auto* dlg = qobject_cast<EraseConfirmDialog*>(w);
        ASSERT_NE(dlg, nullptr);
        dlg->pentagonBox()->setChecked(false);
        QTest::mouseClick(dlg->startButton(), Qt::LeftButton);
    });
    frame_->onCompleteErase();
    EXPECT_EQ(ReadIniInt("Config", "DelPentagon", -1), 0);
    EXPECT_EQ(messages_, std::vector<std::string>{"消去が完了しました"});
    EXPECT_EQ(ReadWholeFile(target), std::vector<uint8_t>(original.size(), 0));

    // Confirmed with the Department of Defense mode: remembered, and the
    // original bytes are gone.
    WriteFile(target, original);
    messages_.clear();
    WhenModalAppears([](QWidget* w) {
        auto* dlg = qobject_cast<EraseConfirmDialog*>(w);
        ASSERT_NE(dlg, nullptr);
        EXPECT_FALSE(dlg->pentagonBox()->isChecked());
        dlg->pentagonBox()->setChecked(true);
        QTest::mouseClick(dlg->startButton(), Qt::LeftButton);
    });
    frame_->onCompleteErase();
    EXPECT_EQ(ReadIniInt("Config", "DelPentagon", -1), 1);
    EXPECT_EQ(messages_, std::vector<std::string>{"消去が完了しました"});
    const auto erased = ReadWholeFile(target);
    ASSERT_EQ(erased.size(), original.size());
    size_t same = 0;
    for (size_t i = 0; i < erased.size(); ++i) same += erased[i] == original[i];
    EXPECT_LT(same, original.size() / 64) << "the random last pass left the original content";
}

// --- the progress dialog over scripted devices -----------------------------

class DiskToolDlgTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir_.isValid());
        SetMessageBoxSink([this](const MessageBoxRequest& r) { messages_.push_back(r.text); });
    }
    void TearDown() override { SetMessageBoxSink(nullptr); }
    std::string Path(const char* name) const { return dir_.filePath(QString::fromUtf8(name)).toStdString(); }
    QTemporaryDir dir_;
    std::vector<std::string> messages_;
};

TEST_F(DiskToolDlgTest, CancelWaitsForAHeldWorkerThenDeletesThePartialImage) {
    auto medium = std::make_shared<ScriptedMedium>(std::vector<uint8_t>(6 << 20, 0x5A), DeviceScript{.gateAt = 3 << 20});
    const std::string path = Path("partial.img");
    auto job = std::make_unique<DiskImageJob>();
    ASSERT_EQ(job->Open(medium->Volume(), path, false), DiskOpenOk);
    SaveDiskDialog dialog(std::move(job));
    EXPECT_EQ(dialog.windowTitle(), QStringLiteral("ディスクイメージの作成"));
    EXPECT_EQ(dialog.statusText(), QStringLiteral("ディスクイメージ作成中　しばらくお待ちください"));
    EXPECT_EQ(dialog.cancelButton()->text(), QStringLiteral("キャンセル"));

    bool visibleAfterWait = false, imageKeptWhileHeld = false;
    QString counterAtGate;
    QTimer::singleShot(0, [&] {
        medium->WaitAtGate();
        QTest::qWait(250);  // two timer ticks
        counterAtGate = dialog.counterText();
        // The worker is held in a device call: Cancel waits 2000 ms, then the
        // dialog stays until the worker has ended.
        QTest::mouseClick(dialog.cancelButton(), Qt::LeftButton);
        visibleAfterWait = dialog.isVisible() && dialog.cancelling();
        imageKeptWhileHeld = FileExists(path);
        medium->OpenGate();
    });
    EXPECT_EQ(dialog.exec(), QDialog::Rejected);
    EXPECT_EQ(counterAtGate, QStringLiteral("3/6"));
    EXPECT_TRUE(visibleAfterWait);
    EXPECT_TRUE(imageKeptWhileHeld) << "the file was released while the worker still ran";
    EXPECT_EQ(dialog.jobResult(), DiskToolCancelled);
    EXPECT_FALSE(FileExists(path)) << "a cancelled image is deleted";
    EXPECT_TRUE(messages_.empty()) << "the command says \"処理を中止しました\", not the dialog";
}

TEST_F(DiskToolDlgTest, ReadErrorKeepsTheImageAndSaysWhere) {
    std::vector<uint8_t> bytes(4 << 20, 0x21);
    auto medium = std::make_shared<ScriptedMedium>(bytes, DeviceScript{.failReadsFrom = (2 << 20) + 512});
    const std::string path = Path("failing.img");
    auto job = std::make_unique<DiskImageJob>();
    ASSERT_EQ(job->Open(medium->Volume(), path, false), DiskOpenOk);
    SaveDiskDialog dialog(std::move(job));
    EXPECT_EQ(dialog.exec(), QDialog::Rejected);
    EXPECT_EQ(dialog.jobResult(), DiskToolReadError);
    ASSERT_EQ(messages_.size(), 1u);
    EXPECT_EQ(messages_[0].rfind("書き込み中にエラーが発生しました\n", 0), 0u) << messages_[0];
    EXPECT_NE(messages_[0].find("セクタ 4096"), std::string::npos) << messages_[0];
    ASSERT_TRUE(FileExists(path)) << "an image left by an error is kept";
    EXPECT_EQ(std::filesystem::file_size(path), uintmax_t(2 << 20));
}

}  // namespace
}  // namespace veld::guitest
