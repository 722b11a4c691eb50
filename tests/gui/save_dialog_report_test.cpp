// What the window tells after saving: the counts of saved and failed files and
// the folder in the status bar (with a button that opens it), the failed
// files with their reasons in a message box, a save folder that cannot be
// used, and a save folder that cannot be opened.
#include "found_files_fixture.h"  // first: see there

#include <QCheckBox>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <QToolButton>

#include <fstream>

#include <filesystem>

#include "base/settings.h"
#include "ui/main/found_file_commands.h"
#include "ui/main/found_file_list.h"
#include "ui/main/save_dialog.h"

namespace veld::guitest {
namespace {

namespace fs = std::filesystem;

// A card whose image ends inside the deleted "Cut.jpg": it is listed, but
// its bytes are not all on the card. "Whole.jpg" and "Note.txt" are whole.
class SaveReportTest : public MainFrameTest {
protected:
    void SetUp() override {
        MainFrameTest::SetUp();
        using namespace veld::test;
        FatImageBuilder b(FatGeometry::Fat16(8192, 4));
        whole_ = MakeTestJpeg(64, 48);
        std::vector<uint8_t> cut(3 * b.ClusterSize() - 100, 0x5A);
        cut[0] = 0xFF;
        cut[1] = 0xD8;
        auto dcim = b.Root().AddDir("DCIM", 3);
        dcim.AddDeletedFile("WHOLE.JPG", 10, whole_, "Whole.jpg");
        dcim.AddDeletedFile("NOTE.TXT", 20, std::vector<uint8_t>(500, 'n'), "Note.txt");
        dcim.AddDeletedFile("CUT.JPG", 40, cut, "Cut.jpg");
        b.bytes().resize(size_t(b.ClusterOffset(41) + 100));
        std::string image = TempPath("cut.img");
        ASSERT_TRUE(b.WriteToFile(image));
        ASSERT_EQ(SearchAndWait(image), 0);
        list_ = frame_->listPane();
        ASSERT_GE(list_->shownRowCount(), 3);
    }

    // Runs the save dialog on all rows or the selected ones, into folder with
    // the card's folders recreated;
    // *stillOpen tells whether the dialog was still open after "保存(&S)".
    int RunSave(int mode, const std::string& folder, bool* stillOpen = nullptr) {
        SaveDialog dialog(frame_.get(), *controller_, controller_->selection());
        WhenModalAppears([&](QWidget*) {
            dialog.setTargetFolder(QString::fromStdString(folder));
            (mode == 1 ? dialog.selectedButton() : dialog.allButton())->setChecked(true);
            dialog.foldersCheck()->setChecked(true);
            dialog.saveButton()->click();
            if (stillOpen) *stillOpen = dialog.isVisible();
            if (dialog.isVisible()) dialog.cancelButton()->click();
        });
        return dialog.exec();
    }

    int RowNamed(const std::string& name) const {
        for (int row = 0; row < list_->shownRowCount(); ++row)
            if (list_->cellText(row, 0).toStdString() == name) return row;
        return -1;
    }

    FoundFileList* list_ = nullptr;
    std::vector<uint8_t> whole_;
};

TEST_F(SaveReportTest, StatusBarCountsSavedAndFailedFilesAndAMessageNamesTheFailures) {
    const int rows = list_->shownRowCount();
    const std::string target = TempPath("saved");
    ASSERT_EQ(RunSave(0, target), int(QDialog::Accepted));
    EXPECT_EQ(frame_->statusText(0).toStdString(),
              std::to_string(rows - 1) + " 個のファイルを " + target + " に保存しました (保存できなかったファイル 1 個)");
    ASSERT_FALSE(messages_.empty());
    EXPECT_EQ(messages_.back().rfind("保存できなかったファイルがあります(1)\n保存先: " + target + "\n", 0), 0u)
        << messages_.back();
    // The status bar names the folder and opens it with one click.
    EXPECT_TRUE(frame_->savedFolderLabel()->isVisible());
    EXPECT_TRUE(frame_->savedFolderLabel()->text().contains(QString::fromStdString(target)));
    opened_.clear();
    QTest::mouseClick(frame_->openSavedFolderButton(), Qt::LeftButton);
    ASSERT_EQ(opened_.size(), 1u);
    EXPECT_EQ(opened_[0].toStdString(), target);
    EXPECT_NE(messages_.back().find("Cut.jpg: 読み込みエラー"), std::string::npos) << messages_.back();
    EXPECT_FALSE(fs::exists(target + "/DCIM/Cut.jpg")) << "a partial copy was left";
    EXPECT_EQ(ReadWholeFile(target + "/DCIM/Whole.jpg"), whole_);

    // One good file: only the count, no message.
    const size_t messagesBefore = messages_.size();
    list_->clearSelection();
    const int row = RowNamed("Whole.jpg");
    ASSERT_GE(row, 0);
    list_->setRowSelected(row, true);
    ASSERT_EQ(RunSave(1, target), int(QDialog::Accepted));
    EXPECT_EQ(frame_->statusText(0).toStdString(), "1 個のファイルを " + target + " に保存しました");
    EXPECT_EQ(messages_.size(), messagesBefore);
    EXPECT_EQ(ReadWholeFile(target + "/DCIM/Whole (2).jpg"), whole_) << "the first copy is not written over";
}

TEST_F(SaveReportTest, UnusableSaveFolderIsSaidAndTheDialogStaysOpen) {
    WriteIniString("Config", "SaveDir", TempPath("before").c_str());
    std::ofstream(TempPath("plain")) << "x";
    bool stillOpen = false;
    EXPECT_EQ(RunSave(0, TempPath("plain/below"), &stillOpen), int(QDialog::Rejected));
    EXPECT_TRUE(stillOpen) << "the user may choose another folder";
    ASSERT_FALSE(messages_.empty());
    EXPECT_EQ(messages_.back().rfind("保存先フォルダを使用できません\n" + TempPath("plain/below"), 0), 0u)
        << messages_.back();
    EXPECT_EQ(ReadIniString("Config", "SaveDir", ""), TempPath("before")) << "nothing stored for a folder not used";
}

// Files that each name the whole card (a damaged card whose entries all
// claim the same clusters): saving them would write the card three times
// over, which is asked first; No writes nothing and keeps the dialog open.
TEST_F(SaveReportTest, SavingFarMoreThanTheCardHoldsIsAskedFirst) {
    SearchSession& session = controller_->session();
    const uint64_t clusters = uint64_t(session.volume->clusterCount);
    for (size_t i = 0; i < session.gcDelFileList.Count(); ++i) {
        DelFileInfo* r = session.gcDelFileList.Get(i);
        r->fileSize = clusters * session.volume->clusterSize;
        r->clusterList.resize(size_t(clusters));
        for (uint64_t k = 0; k < clusters; ++k) r->clusterList[size_t(k)] = k + 2;
    }
    answerYes_ = false;
    bool stillOpen = false;
    const std::string target = TempPath("many");
    EXPECT_EQ(RunSave(0, target, &stillOpen), int(QDialog::Rejected));
    EXPECT_TRUE(stillOpen);
    ASSERT_EQ(asked_.size(), 1u);
    EXPECT_TRUE(asked_[0].startsWith(QStringLiteral("保存するファイルは合計"))) << asked_[0].toStdString();
    EXPECT_TRUE(!fs::exists(target) || fs::is_empty(target)) << "nothing is written";
}

TEST_F(SaveReportTest, OpenSaveFolderSaysWhenItCannot) {
    SetShellOpenerForTest([this](const QString& path) {
        opened_.push_back(path);
        return false;  // no file manager to start
    });
    fs::create_directories(TempPath("photos"));
    WriteIniString("Config", "SaveDir", TempPath("photos").c_str());
    frame_->commands()->openSaveFolder();
    ASSERT_EQ(opened_.size(), 1u);
    EXPECT_EQ(frame_->statusText(0).toStdString(), "保存先フォルダを開けませんでした: " + TempPath("photos"));
    ASSERT_FALSE(messages_.empty());
    EXPECT_EQ(messages_.back(), "保存先フォルダを開けませんでした\n" + TempPath("photos") + "\nファイルマネージャを起動できません");

    // A folder that is not there is not handed to the desktop at all.
    WriteIniString("Config", "SaveDir", TempPath("missing").c_str());
    frame_->commands()->openSaveFolder();
    EXPECT_EQ(opened_.size(), 1u);
    EXPECT_EQ(messages_.back(), "保存先フォルダを開けませんでした\n" + TempPath("missing") + "\nフォルダがありません");
}

}  // namespace
}  // namespace veld::guitest
