#include "ui/search/sel_drive_dlg.h"

#include <QCoreApplication>
#include <QLabel>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTreeWidget>
#include <gtest/gtest.h>
#include <unistd.h>

#include "base/format_text.h"
#include "base/settings.h"
#include "tests/gui/boot_sector_images.h"

namespace {

using veld::CSelDriveDlg;

class SelDriveDlgTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(dir_.isValid()); }
    void TearDown() override {
        CSelDriveDlg::SetDriveListerForTest({});
        CSelDriveDlg::SetFileChooserForTest({});
    }
    static void UseDrives(std::vector<veld::RemovableDrive> drives) {
        CSelDriveDlg::SetDriveListerForTest([drives] { return drives; });
    }
    veld::RemovableDrive Drive(char letter, const QString& file, const std::string& name, int64_t size) {
        veld::RemovableDrive d;
        d.letter = letter;
        d.devicePath = dir_.filePath(file).toStdString();
        d.kernelName = file.toStdString();
        d.displayName = name;
        d.sizeBytes = size;
        return d;
    }
    QString Fat16Card(const QString& name) {
        uint8_t sector[512];
        uint32_t total = 0;
        veld::guitest::Fat16BootSector(sector, 30000, &total);
        const QString path = dir_.filePath(name);
        EXPECT_TRUE(veld::guitest::WriteCard(path, sector, int64_t(total) * 512));
        return path;
    }
    QTemporaryDir dir_;
};

TEST_F(SelDriveDlgTest, EmptyDeviceListStillOffersTheImageButton) {
    UseDrives({});
    CSelDriveDlg dlg;
    dlg.picture = veld::Picture::SearchDrive;
    dlg.imageButton = true;
    dlg.prepare();
    EXPECT_EQ(dlg.windowTitle(), QStringLiteral("削除ファイル検索"));
    EXPECT_EQ(dlg.driveList()->topLevelItemCount(), 0);
    EXPECT_FALSE(dlg.selectButton()->isEnabled());
    EXPECT_EQ(dlg.selectButton()->text(), QStringLiteral("選択(&S)"));
    EXPECT_FALSE(dlg.imageFileButton()->isHidden());
    EXPECT_TRUE(dlg.imageFileButton()->isEnabled());
    EXPECT_EQ(dlg.imageFileButton()->text(), QStringLiteral("ディスクイメージを選択する"));
    EXPECT_FALSE(dlg.pictureLabel()->isHidden());
    EXPECT_FALSE(dlg.pictureLabel()->pixmap().isNull());
    EXPECT_TRUE(dlg.permissionNote().isEmpty());
    // Header and column widths of the list.
    QTreeWidgetItem* header = dlg.driveList()->headerItem();
    EXPECT_EQ(header->text(0), QStringLiteral("ドライブ名"));
    EXPECT_EQ(header->text(1), QStringLiteral("容量"));
    EXPECT_EQ(header->text(2), QStringLiteral("種別"));
    EXPECT_EQ(dlg.driveList()->columnWidth(0), 200);
    EXPECT_EQ(dlg.driveList()->columnWidth(1), 100);
    EXPECT_EQ(dlg.driveList()->columnWidth(2), 50);

    // Select without a row does nothing.
    dlg.onSelect();
    EXPECT_EQ(dlg.result(), 0);

    // The empty list says why and what to do; a card put in afterwards is
    // listed by "更新(&U)".
    EXPECT_FALSE(dlg.emptyListNote()->isHidden());
    EXPECT_TRUE(dlg.emptyListNote()->text().contains(QStringLiteral("カードリーダーが見つかりません")));
    EXPECT_TRUE(dlg.emptyListNote()->text().contains(QStringLiteral("ディスクイメージを選択する")));
    // Shown the first time, the note fills the list and shows whole.
    dlg.show();
    QCoreApplication::processEvents();
    QLabel* note = dlg.emptyListNote();
    EXPECT_EQ(note->size(), dlg.driveList()->viewport()->size());
    EXPECT_LE(note->heightForWidth(note->width()), note->height());
    Fat16Card(QStringLiteral("sdb1.img"));
    UseDrives({Drive('E', QStringLiteral("sdb1.img"), "Generic SD Reader (sdb1)", 30000LL * 512)});
    QTest::mouseClick(dlg.refreshButton(), Qt::LeftButton);
    ASSERT_EQ(dlg.driveList()->topLevelItemCount(), 1);
    EXPECT_EQ(dlg.driveList()->topLevelItem(0)->text(2), QStringLiteral("FAT16"));
    EXPECT_TRUE(dlg.emptyListNote()->isHidden());
    dlg.reject();
}

TEST_F(SelDriveDlgTest, ImageButtonChoosesAFileAndRemembersItsFolder) {
    UseDrives({});
    veld::WriteIniString("Config", "Dir", dir_.path().toUtf8().constData());
    const QString image = Fat16Card("card.img");
    QString seenFolder, seenFilter;
    bool seenOpen = false;
    CSelDriveDlg::SetFileChooserForTest([&](const QString& folder, const QString& filter, const QString&, bool open) {
        seenFolder = folder;
        seenFilter = filter;
        seenOpen = open;
        return image;
    });
    CSelDriveDlg dlg;
    dlg.imageButton = true;
    dlg.prepare();
    QTest::mouseClick(dlg.imageFileButton(), Qt::LeftButton);
    EXPECT_EQ(dlg.result(), QDialog::Accepted);
    EXPECT_EQ(seenFolder, dir_.path());
    EXPECT_TRUE(seenOpen);
    EXPECT_TRUE(seenFilter.startsWith(QStringLiteral("ディスクイメージ (*.img)")));
    EXPECT_TRUE(seenFilter.contains(QStringLiteral("(*)")));
    EXPECT_EQ(dlg.imagePath, image);
    EXPECT_FALSE(dlg.choseDrive);
    EXPECT_EQ(dlg.chosenLetter(), 0);
    EXPECT_EQ(QString::fromUtf8(veld::ReadIniString("Config", "Dir", "")), dir_.path());
}

TEST_F(SelDriveDlgTest, CancelledFileDialogKeepsTheDialogOpen) {
    UseDrives({});
    CSelDriveDlg::SetFileChooserForTest([](const QString&, const QString&, const QString&, bool) { return QString(); });
    CSelDriveDlg dlg;
    dlg.imageButton = true;
    dlg.picture = veld::Picture::SearchDrive;
    dlg.show();
    // Showing builds the window: every control is on screen.
    ASSERT_NE(dlg.driveList(), nullptr);
    EXPECT_TRUE(dlg.driveList()->isVisible());
    EXPECT_TRUE(dlg.selectButton()->isVisible());
    EXPECT_TRUE(dlg.imageFileButton()->isVisible());
    EXPECT_TRUE(dlg.pictureLabel()->isVisible());
    QTest::mouseClick(dlg.imageFileButton(), Qt::LeftButton);
    EXPECT_TRUE(dlg.isVisible());
    EXPECT_TRUE(dlg.imagePath.isEmpty());
    dlg.reject();
}

TEST_F(SelDriveDlgTest, ListingRuleAndPreselection) {
    Fat16Card("fat.img");
    ASSERT_TRUE(veld::guitest::WriteCard(dir_.filePath("raw.img"), nullptr, 1 << 20));
    // A whole card whose first sector is a partition table: named by the
    // partition a search opens; listed without a name as well.
    uint8_t boot[512];
    uint32_t total = 0;
    veld::guitest::Fat16BootSector(boot, 30000, &total);
    ASSERT_TRUE(veld::guitest::WritePartitionedCard(dir_.filePath("whole.img"), boot, (2048LL + total) * 512));
    UseDrives({
        Drive('f', "raw.img", "", 1 << 20),                          // no name, unknown: skipped
        Drive('E', "fat.img", "Card Reader", 30000LL * 512),          // FAT16 card
        Drive('G', "missing.img", "Empty Reader", -1),                // reader without card
        Drive('H', "raw.img", "Raw Card", 1 << 20),                   // name and geometry: "不明"
        Drive('i', "whole.img", "", (2048LL + total) * 512),          // partitioned card
    });
    CSelDriveDlg dlg;
    dlg.driveText = QStringLiteral("h:\\");
    dlg.prepare();
    QTreeWidget* list = dlg.driveList();
    ASSERT_EQ(list->topLevelItemCount(), 3);
    EXPECT_EQ(list->topLevelItem(2)->text(2), QStringLiteral("FAT16"));
    EXPECT_EQ(list->topLevelItem(0)->text(0), QStringLiteral("Card Reader"));
    EXPECT_EQ(list->topLevelItem(0)->text(1), QStringLiteral("14.6Mﾊﾞｲﾄ"));
    EXPECT_EQ(list->topLevelItem(0)->text(2), QStringLiteral("FAT16"));
    EXPECT_EQ(list->topLevelItem(1)->text(0), QStringLiteral("Raw Card"));
    EXPECT_EQ(list->topLevelItem(1)->text(2), QStringLiteral("不明"));
    // Preselection compares letters without regard to case.
    ASSERT_EQ(list->selectedItems().size(), 1);
    EXPECT_EQ(list->selectedItems().first(), list->topLevelItem(1));
    EXPECT_TRUE(dlg.selectButton()->isEnabled());
    // No picture asked for: the picture area is hidden.
    EXPECT_TRUE(dlg.pictureLabel()->isHidden());

    list->setCurrentItem(list->topLevelItem(0));
    QTest::mouseClick(dlg.selectButton(), Qt::LeftButton);
    EXPECT_EQ(dlg.result(), QDialog::Accepted);
    EXPECT_TRUE(dlg.choseDrive);
    EXPECT_EQ(dlg.driveText, QStringLiteral("E:\\"));
    EXPECT_EQ(dlg.chosenLetter(), 'E');
}

TEST_F(SelDriveDlgTest, EmptyNameBecomesDriveLetterText) {
    Fat16Card("fat.img");
    UseDrives({Drive('K', "fat.img", "", 30000LL * 512)});
    CSelDriveDlg dlg;
    dlg.prepare();
    ASSERT_EQ(dlg.driveList()->topLevelItemCount(), 1);
    EXPECT_EQ(dlg.driveList()->topLevelItem(0)->text(0), QStringLiteral("ドライブ K:"));
    EXPECT_FALSE(dlg.selectButton()->isEnabled());
}

TEST_F(SelDriveDlgTest, AskFileOnSelectProposesADatedName) {
    Fat16Card("fat.img");
    UseDrives({Drive('E', "fat.img", "Card Reader", 30000LL * 512)});
    QString proposed;
    int calls = 0;
    CSelDriveDlg::SetFileChooserForTest([&](const QString&, const QString&, const QString& name, bool open) {
        proposed = name;
        EXPECT_FALSE(open);
        return ++calls == 1 ? QString() : QStringLiteral("/tmp/out.img");
    });
    CSelDriveDlg dlg;
    dlg.askFileOnSelect = true;
    dlg.caption = QStringLiteral("ディスクのイメージを保存");
    dlg.selectLabel = QStringLiteral("保存(&S)");
    dlg.show();
    EXPECT_EQ(dlg.windowTitle(), QStringLiteral("ディスクのイメージを保存"));
    EXPECT_EQ(dlg.selectButton()->text(), QStringLiteral("保存(&S)"));
    dlg.driveList()->setCurrentItem(dlg.driveList()->topLevelItem(0));
    dlg.onSelect();  // file dialog cancelled: stays open
    EXPECT_TRUE(dlg.isVisible());
    dlg.onSelect();
    EXPECT_EQ(dlg.result(), QDialog::Accepted);
    EXPECT_EQ(dlg.imagePath, QStringLiteral("/tmp/out.img"));
    EXPECT_EQ(proposed, CSelDriveDlg::ProposedImageName('E'));
    EXPECT_TRUE(proposed.startsWith(QStringLiteral("Eドライブ-")));
    EXPECT_TRUE(proposed.endsWith(QStringLiteral(".img")));
    EXPECT_EQ(proposed.size(), QStringLiteral("Eドライブ-20240101.img").size());
}

TEST_F(SelDriveDlgTest, FileSystemNameFromTheFirstSector) {
    uint8_t sector[512];
    veld::guitest::Fat16BootSector(sector, 30000, nullptr);
    EXPECT_EQ(CSelDriveDlg::FileSystemNameOf(sector, 512), QStringLiteral("FAT16"));
    veld::guitest::Fat16BootSector(sector, 3000, nullptr);
    std::memcpy(sector + 54, "FAT12   ", 8);
    EXPECT_EQ(CSelDriveDlg::FileSystemNameOf(sector, 512), QStringLiteral("FAT12"));
    std::memset(sector + 54, ' ', 8);  // no type text: decided by the count
    EXPECT_EQ(CSelDriveDlg::FileSystemNameOf(sector, 512), QStringLiteral("FAT12"));
    veld::guitest::Fat32BootSector(sector, 4000000);
    EXPECT_EQ(CSelDriveDlg::FileSystemNameOf(sector, 512), QStringLiteral("FAT32"));
    std::memcpy(sector + 3, "NTFS    ", 8);
    EXPECT_EQ(CSelDriveDlg::FileSystemNameOf(sector, 512), QStringLiteral("NTFS"));
    std::memcpy(sector + 3, "EXFAT   ", 8);
    std::memset(sector + 11, 0, 53);
    sector[108] = 9;  // 512-byte sectors
    EXPECT_EQ(CSelDriveDlg::FileSystemNameOf(sector, 512), QStringLiteral("exFAT"));
    // A partition table carries the marker but no boot-sector fields.
    uint8_t mbr[512] = {};
    mbr[510] = 0x55;
    mbr[511] = 0xAA;
    mbr[446 + 4] = 0x0B;
    EXPECT_EQ(CSelDriveDlg::FileSystemNameOf(mbr, 512), QStringLiteral("不明"));
    veld::guitest::Fat16BootSector(sector, 30000, nullptr);
    sector[511] = 0;
    EXPECT_EQ(CSelDriveDlg::FileSystemNameOf(sector, 512), QStringLiteral("不明"));
    EXPECT_EQ(CSelDriveDlg::FileSystemNameOf(sector, 100), QStringLiteral("不明"));
}

TEST_F(SelDriveDlgTest, DeviceWithoutPermissionIsNamedInANote) {
    if (::geteuid() == 0) GTEST_SKIP() << "root opens every device";
    const QString path = Fat16Card("locked.img");
    ASSERT_TRUE(QFile::setPermissions(path, QFileDevice::Permissions()));
    UseDrives({Drive('E', "locked.img", "Card Reader", 30000LL * 512)});
    CSelDriveDlg dlg;
    dlg.prepare();
    EXPECT_EQ(dlg.driveList()->topLevelItemCount(), 0);
    EXPECT_TRUE(dlg.permissionNote().contains(QStringLiteral("権限")));
    EXPECT_TRUE(dlg.permissionNote().contains(QStringLiteral("udisks2")));
    EXPECT_FALSE(dlg.permissionNote().contains(QStringLiteral("\"disk\"")));
    EXPECT_TRUE(dlg.permissionNote().contains(path));
}

// A device the desktop's disk service has read is listed with what the
// service says, without being opened here: the service opens it (asking for
// the password) only once it is chosen. Without the service such a device
// is not listed.
TEST_F(SelDriveDlgTest, DeviceKnownToTheDiskServiceIsListedWithoutBeingOpened) {
    veld::RemovableDrive known = Drive('E', "absent-sdb1", "Generic SD Reader (sdb1)", 64LL << 30);
    known.fromService = true;
    known.fileSystem = "exFAT";
    veld::RemovableDrive empty = Drive('F', "absent-sdc", "CF Reader (sdc)", -1);  // no card in the reader
    empty.fromService = true;
    UseDrives({known, empty, Drive('G', "absent-sdd", "USB Disk (sdd)", 1LL << 30)});
    CSelDriveDlg dlg;
    dlg.prepare();
    ASSERT_EQ(dlg.driveList()->topLevelItemCount(), 1);
    const QTreeWidgetItem* row = dlg.driveList()->topLevelItem(0);
    EXPECT_EQ(row->text(0), QStringLiteral("Generic SD Reader (sdb1)"));
    EXPECT_EQ(row->text(1), QString::fromStdString(veld::FormatSizeText(64LL << 30)));
    EXPECT_EQ(row->text(2), QStringLiteral("exFAT"));
    EXPECT_TRUE(dlg.permissionNote().isEmpty());
}

}  // namespace
