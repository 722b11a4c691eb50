// The partition chooser: after a whole-card image with two FAT volumes is
// picked in the drive dialog, the user is asked which partition to search,
// and the one chosen is the one searched; cancelling starts nothing.
#include "found_files_fixture.h"  // first: see there

#include <QHeaderView>
#include <QPushButton>
#include <QTreeWidget>

#include <set>

#include "support/partitioned_image.h"
#include "ui/search/search_start_dlg.h"
#include "ui/search/sel_drive_dlg.h"
#include "ui/search/sel_partition_dlg.h"

namespace veld::guitest {
namespace {

class PartitionChooserTest : public MainFrameTest {
protected:
    void SetUp() override {
        if (auto why = test::PartitionToolsMissing(); !why.empty()) GTEST_SKIP() << why;
        MainFrameTest::SetUp();
    }
    void TearDown() override {
        CSelDriveDlg::SetDriveListerForTest(nullptr);
        CSelDriveDlg::SetFileChooserForTest(nullptr);
        MainFrameTest::TearDown();
    }

    // An 8 MiB FAT16 card with one deleted photo.
    std::string Card(const std::string& file, const std::string& name) {
        test::FatImageBuilder b(test::FatGeometry::Fat16(16384, 2));
        b.Root().AddDir("DCIM", 3).AddDeletedFile("PHOTO.JPG", 40, test::MakeTestJpeg(128, 96), name);
        const std::string path = TempPath(file);
        EXPECT_TRUE(b.WriteToFile(path));
        return path;
    }

    // Starts a search from the menu: the drive dialog picks the image, then
    // handle(partition dialog) runs, then the options dialog starts.
    void StartWithImage(const std::string& image, std::function<void(CSelPartitionDlg*)> handle) {
        CSelDriveDlg::SetDriveListerForTest([] { return std::vector<RemovableDrive>{}; });
        CSelDriveDlg::SetFileChooserForTest(
            [image](const QString&, const QString&, const QString&, bool) { return QString::fromStdString(image); });
        WhenModalAppears([this, handle](QWidget* modal) {
            auto* drive = qobject_cast<CSelDriveDlg*>(modal);
            if (!drive) return modal->close(), void();
            drive->imageFileButton()->click();
            WhenModalAppears([this, handle](QWidget* next) {
                auto* chooser = qobject_cast<CSelPartitionDlg*>(next);
                if (!chooser) return next->close(), void();
                sawChooser_ = true;
                handle(chooser);
                if (chooser->result() != QDialog::Accepted) return;
                WhenModalAppears([](QWidget* last) {
                    if (auto* options = qobject_cast<CSearchStartDlg*>(last))
                        options->startButton()->click();
                    else
                        last->close();
                });
            });
        });
        frame_->onStartSearch();
    }

    bool sawChooser_ = false;
};

TEST_F(PartitionChooserTest, TwoVolumesAskWhichAndTheChoiceIsSearched) {
    const std::string card = TempPath("two-parts.img");
    ASSERT_EQ(test::MakePartitionedImage(card, "dos", 40u << 20,
                                         {{.startSector = 8192, .sectors = 16384, .type = "e",
                                           .contents = Card("p1.img", "First card.jpg")},
                                          {.startSector = 40960, .sectors = 16384, .type = "e",
                                           .contents = Card("p2.img", "Second card.jpg")}}),
              "");

    // Cancelled: no search starts, nothing is cleared.
    StartWithImage(card, [](CSelPartitionDlg* chooser) { chooser->reject(); });
    EXPECT_TRUE(sawChooser_);
    EXPECT_EQ(ShownSearchProgress(), nullptr);
    EXPECT_TRUE(frame_->uiEnabled());

    sawChooser_ = false;
    QSignalSpy finished(controller_.get(), &SearchController::searchFinished);
    StartWithImage(card, [](CSelPartitionDlg* chooser) {
        EXPECT_EQ(chooser->windowTitle(), QStringLiteral("パーティションの選択"));
        QTreeWidget* list = chooser->partitionList();
        const QStringList headers{QStringLiteral("番号"), QStringLiteral("開始位置"), QStringLiteral("サイズ"),
                                  QStringLiteral("種類")};
        for (int c = 0; c < headers.size(); ++c) EXPECT_EQ(list->headerItem()->text(c), headers[c]);
        ASSERT_EQ(list->topLevelItemCount(), 2);
        EXPECT_EQ(list->currentItem(), list->topLevelItem(0));  // what the search opens by itself
        EXPECT_EQ(list->topLevelItem(1)->text(0), QStringLiteral("2"));
        EXPECT_EQ(list->topLevelItem(1)->text(1), QStringLiteral("20.0Mﾊﾞｲﾄ"));
        EXPECT_EQ(list->topLevelItem(1)->text(2), QStringLiteral("8.0Mﾊﾞｲﾄ"));
        EXPECT_EQ(list->topLevelItem(1)->text(3), QStringLiteral("FAT"));
        list->setCurrentItem(list->topLevelItem(1));
        chooser->okButton()->click();
    });
    ASSERT_TRUE(sawChooser_);
    ASSERT_TRUE(finished.count() > 0 || finished.wait(30000));
    ASSERT_TRUE(frame_->session().volume);
    EXPECT_EQ(frame_->session().volume->partitionIndex, 2);
    std::set<std::string> names;
    for (size_t i = 0; i < frame_->session().gcDelFileList.Count(); ++i)
        names.insert(frame_->session().gcDelFileList.CopyAt(i)->name.value_or(""));
    EXPECT_TRUE(names.count("Second card.jpg"));
    EXPECT_FALSE(names.count("First card.jpg"));
}

}  // namespace
}  // namespace veld::guitest
