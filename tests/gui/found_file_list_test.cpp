// The list's sorting, selection summary, column widths and context menu, the
// save dialog, the picture preview and the hex dump, on the results of a
// search over a built card.
#include "found_files_fixture.h"  // first: see there

#include <QCheckBox>
#include <QHeaderView>
#include <QListWidget>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSplitter>
#include <QStyle>
#include <QHelpEvent>
#include <QTest>
#include <QToolTip>
#include <QTreeWidget>

#include <filesystem>
#include <set>

#include "base/format_text.h"
#include "base/settings.h"
#include "platform/platform_services.h"
#include "search/extraction.h"
#include "search/found_file_columns.h"
#include "ui/main/found_file_commands.h"
#include "ui/main/found_file_list.h"
#include "ui/main/found_file_tree.h"
#include "ui/main/save_dialog.h"
#include "ui/search/sel_drive_dlg.h"
#include "ui/viewers/hex_dump_dialog.h"
#include "ui/viewers/preview_window.h"

namespace veld::guitest {
namespace {

namespace fs = std::filesystem;

class FoundFileListTest : public MainFrameTest {
protected:
    void SetUp() override {
        MainFrameTest::SetUp();
        ASSERT_EQ(SearchAndWait(BuildCard()), 0);
        list_ = frame_->listPane();
        ASSERT_GE(list_->shownRowCount(), 4);
    }
    void TearDown() override {
        SaveDialog::SetFolderPickerForTest(nullptr);
        MainFrameTest::TearDown();
    }
    // The first row whose record has the size and was found through a
    // directory entry (carved copies have no folder).
    int RowOf(const std::vector<uint8_t>& data) const {
        for (int row = 0; row < list_->shownRowCount(); ++row) {
            DelFileInfo* record = list_->RecordOfRow(row);
            if (record->fileSize == data.size() && record->folder && !record->folder->empty()) return row;
        }
        return -1;
    }
    // The saved file whose bytes equal data, or "".
    std::string SavedWith(const std::vector<uint8_t>& data) const {
        for (const std::string& path : savedPaths_)
            if (ReadWholeFile(path) == data) return path;
        return "";
    }
    std::vector<uint32_t> SizesInRowOrder() const {
        std::vector<uint32_t> sizes;
        for (int row = 0; row < list_->shownRowCount(); ++row)
            sizes.push_back(list_->RecordOfRow(row)->fileSize);
        return sizes;
    }
    // Runs the save dialog with the values given; returns its result.
    int RunSave(int mode, bool keepFolders, const std::string& folder, SaveDialog** seen = nullptr) {
        SaveDialog dialog(frame_.get(), *controller_, controller_->selection());
        WhenModalAppears([&](QWidget*) {
            dialog.setTargetFolder(QString::fromStdString(folder));
            (mode == 1 ? dialog.selectedButton() : dialog.allButton())->setChecked(true);
            dialog.foldersCheck()->setChecked(keepFolders);
            dialog.saveButton()->click();
        });
        int result = dialog.exec();
        if (seen) *seen = nullptr;
        savedPaths_ = dialog.savedPaths();
        return result;
    }

    FoundFileList* list_ = nullptr;
    std::vector<std::string> savedPaths_;
};

TEST_F(FoundFileListTest, SizeColumnSortsLargestFirstThenSmallestAndResetsOnRefill) {
    EXPECT_EQ(list_->sortFlag(2), 0);
    list_->SortByColumn(2);
    std::vector<uint32_t> sizes = SizesInRowOrder();
    EXPECT_TRUE(std::is_sorted(sizes.rbegin(), sizes.rend()));
    EXPECT_GT(sizes.front(), sizes.back());
    EXPECT_EQ(list_->sortFlag(2), 1);
    list_->SortByColumn(2);
    sizes = SizesInRowOrder();
    EXPECT_TRUE(std::is_sorted(sizes.begin(), sizes.end()));
    EXPECT_EQ(list_->sortFlag(2), 0);

    // Names sort by their bytes; a refill (another tree node) puts every
    // flag back to descending.
    list_->SortByColumn(0);
    EXPECT_EQ(list_->sortFlag(0), 1);
    frame_->treePane()->tree()->setCurrentItem(frame_->treePane()->rootNode()->child(0));
    EXPECT_EQ(list_->sortFlag(0), 0);
    EXPECT_EQ(list_->sortFlag(2), 0);

    // A header click sorts only while the UI is enabled.
    frame_->EnableMainUi(false);
    emit list_->header()->sectionClicked(2);
    EXPECT_EQ(list_->sortFlag(2), 0);
    frame_->EnableMainUi(true);
    emit list_->header()->sectionClicked(2);
    EXPECT_EQ(list_->sortFlag(2), 1);
}

TEST_F(FoundFileListTest, SelectionSummaryInStatusPane) {
    list_->clearSelection();
    EXPECT_EQ(frame_->statusText(1), QStringLiteral(" "));
    int b = RowOf(photoB_);
    int note = RowOf(note_);
    ASSERT_GE(b, 0);
    ASSERT_GE(note, 0);
    list_->setRowSelected(b, true);
    list_->setRowSelected(note, true);
    uint64_t total = photoB_.size() + note_.size();
    EXPECT_EQ(frame_->statusText(1).toStdString(), "選択ファイル数=2 " + FormatSizeText(int64_t(total)));
}

TEST_F(FoundFileListTest, ContextMenuItemsFollowTheSelection) {
    list_->clearSelection();
    std::unique_ptr<QMenu> menu(frame_->commands()->contextMenu(nullptr));
    QList<QAction*> items;
    for (QAction* a : menu->actions())
        if (!a->isSeparator()) items << a;
    ASSERT_EQ(items.size(), 4);
    EXPECT_EQ(items[0]->text(), QStringLiteral("開く(&O)"));
    EXPECT_EQ(items[1]->text(), QStringLiteral("保存(&S)"));
    EXPECT_EQ(items[2]->text(), QStringLiteral("保存先フォルダを開く(&O)"));
    EXPECT_EQ(items[3]->text(), QStringLiteral("データダンプ表示(&D)"));
    EXPECT_FALSE(items[0]->isEnabled());
    EXPECT_TRUE(items[1]->isEnabled());
    EXPECT_TRUE(items[2]->isEnabled());
    EXPECT_FALSE(items[3]->isEnabled());

    ASSERT_GE(list_->shownRowCount(), 1);
    list_->setRowSelected(0, true);
    menu.reset(frame_->commands()->contextMenu(nullptr));
    ASSERT_FALSE(menu->actions().isEmpty());
    EXPECT_TRUE(menu->actions()[0]->isEnabled());

    // While the UI is greyed the context menu does not open.
    frame_->EnableMainUi(false);
    emit list_->customContextMenuRequested(QPoint(5, 5));
    EXPECT_EQ(list_->findChild<QMenu*>(), nullptr);
    frame_->EnableMainUi(true);

    // The save folder opens with the desktop.
    fs::create_directories(TempPath("photos"));
    WriteIniString("Config", "SaveDir", TempPath("photos").c_str());
    for (QAction* a : menu->actions())
        if (a->text() == QStringLiteral("保存先フォルダを開く(&O)")) a->trigger();
    EXPECT_TRUE(opened_.empty());  // the command runs once the menu's event is over
    QCoreApplication::processEvents();
    ASSERT_EQ(opened_.size(), 1u);
    EXPECT_EQ(opened_[0].toStdString(), TempPath("photos"));
}

TEST_F(FoundFileListTest, ColumnWidthsPersistAndWideOnesAreForgotten) {
    list_->setColumnWidth(1, 150);
    list_->setColumnWidth(0, 600);
    frame_.reset();
    EXPECT_EQ(ReadIniInt("Config", "ListWidth1", 0), 150);
    EXPECT_EQ(ReadIniInt("Config", "ListWidth0", 0), -1);
    frame_ = std::make_unique<MainFrame>(*controller_);
    EXPECT_EQ(frame_->listPane()->columnWidth(1), 150);
    EXPECT_EQ(frame_->listPane()->columnWidth(0), frame_->listPane()->DefaultColumnWidth(0));
    // A column left at its default is stored as the default, not as pixels.
    EXPECT_EQ(ReadIniInt("Config", "ListWidth2", 0), -1);
    WriteIniInt("Config", "ListWidth1", -1);
}

// The tool tip a hover over the cell would show ("" when none).
QString ToolTipAt(QAbstractItemView* view, const QRect& cell) {
    QToolTip::hideText();
    const QPoint at = cell.center();
    QHelpEvent event(QEvent::ToolTip, at, view->viewport()->mapToGlobal(at));
    QApplication::sendEvent(view->viewport(), &event);
    return QToolTip::isVisible() ? QToolTip::text() : QString();
}

TEST_F(FoundFileListTest, CellsAreWholeAtDefaultWidthsAndClippedOnesShowATip) {
    for (int c = 0; c < FoundFileColumnCount; ++c) list_->setColumnWidth(c, list_->DefaultColumnWidth(c));
    frame_->activateWindow();

    // The date and picture size of the EXIF photo fit their default widths
    // (the style insets item text by its focus margin plus one on each side).
    const int b = RowOf(photoB_);
    ASSERT_GE(b, 0);
    const int inset = 2 * (list_->style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, list_) + 1);
    for (int column : {int(ColDate), int(ColPictureSize)}) {
        const QString text = list_->cellText(b, column);
        ASSERT_FALSE(text.isEmpty());
        EXPECT_LE(list_->fontMetrics().horizontalAdvance(text) + inset, list_->columnWidth(column))
            << text.toStdString();
    }

    int longName = RowOf(photoLong_);
    ASSERT_GE(longName, 0);
    const QString name = list_->cellText(longName, ColName);
    ASSERT_EQ(name, QStringLiteral("休日の写真.jpg"));

    auto cell = [&] {
        const QRect line = list_->rowRect(longName);
        return QRect(list_->header()->sectionViewportPosition(ColName), line.top(), list_->columnWidth(ColName),
                     line.height());
    };
    // At its default width the name is whole: no tip.
    EXPECT_EQ(ToolTipAt(list_, cell()), QString());
    // Narrowed, it is cut off and the tip shows it whole.
    list_->setColumnWidth(ColName, 40);
    EXPECT_EQ(ToolTipAt(list_, cell()), name);
    list_->setColumnWidth(ColName, list_->DefaultColumnWidth(ColName));  // not kept for later tests

    // The same in the tree, narrowed to less than the root's text.
    QTreeWidget* tree = frame_->treePane()->tree();
    QTreeWidgetItem* root = frame_->treePane()->rootNode();
    frame_->splitter()->setSizes({60, 800});
    QCoreApplication::processEvents();
    EXPECT_EQ(ToolTipAt(tree, tree->visualItemRect(root)), root->text(0));
    QToolTip::hideText();
}

TEST_F(FoundFileListTest, SaveAllRecreatesFoldersWithIdenticalBytes) {
    std::string target = TempPath("restored");
    ASSERT_EQ(RunSave(0, true, target), int(QDialog::Accepted));
    EXPECT_EQ(ReadIniInt("Config", "SaveMode", -1), 0);
    EXPECT_EQ(ReadIniInt("Config", "SaveDirFlag", -1), 1);
    EXPECT_EQ(ReadIniString("Config", "SaveDir", ""), target);
    EXPECT_EQ(savedPaths_.size(), size_t(list_->shownRowCount()));

    // Every file byte for byte; those with a folder path below their folders.
    for (const std::vector<uint8_t>* data : {&photoB_, &photoLong_, &note_, &photoOld_}) {
        std::string path = SavedWith(*data);
        ASSERT_FALSE(path.empty());
        EXPECT_NE(fs::path(path).parent_path(), fs::path(target)) << path;
    }
    EXPECT_NE(SavedWith(photoB_).find("100TEST"), std::string::npos);
    EXPECT_EQ(fs::path(SavedWith(photoLong_)).filename().string(), "休日の写真.jpg");
}

TEST_F(FoundFileListTest, FlatSaveKeepsBothFilesOfTheSameName) {
    std::string target = TempPath("flat");
    ASSERT_EQ(RunSave(0, false, target), int(QDialog::Accepted));
    EXPECT_EQ(ReadIniInt("Config", "SaveDirFlag", -1), 0);
    // Everything directly in the folder, no file written over another.
    std::set<std::string> names;
    for (const std::string& path : savedPaths_) {
        EXPECT_EQ(fs::path(path).parent_path(), fs::path(target)) << path;
        names.insert(fs::path(path).filename().string());
    }
    EXPECT_EQ(names.size(), savedPaths_.size());
    EXPECT_EQ(names.size(), size_t(list_->shownRowCount()));
    std::string first = SavedWith(photoB_), second = SavedWith(photoOld_);
    ASSERT_FALSE(first.empty());
    ASSERT_FALSE(second.empty());
    // The two deleted B.JPG share their name: the later one is numbered.
    std::set<std::string> pair = {fs::path(first).filename().string(), fs::path(second).filename().string()};
    EXPECT_EQ(pair, (std::set<std::string>{"#       .JPG", "#        (2).JPG"}));
}

TEST_F(FoundFileListTest, SaveSelectedWritesOnlyTheSelection) {
    int note = RowOf(note_);
    ASSERT_GE(note, 0);
    list_->clearSelection();
    list_->setRowSelected(note, true);
    std::string target = TempPath("selected");
    ASSERT_EQ(RunSave(1, true, target), int(QDialog::Accepted));
    EXPECT_EQ(ReadIniInt("Config", "SaveMode", -1), 1);
    ASSERT_EQ(savedPaths_.size(), 1u);
    EXPECT_EQ(ReadWholeFile(savedPaths_[0]), note_);
    EXPECT_NE(savedPaths_[0].find("100TEST"), std::string::npos);
}

TEST_F(FoundFileListTest, SaveDialogOpensWithStoredChoicesAndCancelStoresNothing) {
    WriteIniInt("Config", "SaveMode", 1);
    WriteIniInt("Config", "SaveDirFlag", 0);
    WriteIniString("Config", "SaveDir", TempPath("old").c_str());
    list_->clearSelection();
    SaveDialog::SetFolderPickerForTest([this](QWidget*, const QString& start) {
        EXPECT_EQ(start.toStdString(), TempPath("old"));
        return QString::fromStdString(TempPath("new"));
    });
    bool selectedEnabled = true, allChecked = false, foldersChecked = true;
    QString shownFolder;
    SaveDialog dialog(frame_.get(), *controller_, controller_->selection());
    WhenModalAppears([&](QWidget*) {
        // Nothing selected: "selected files" is off and the mode falls back.
        selectedEnabled = dialog.selectedButton()->isEnabled();
        allChecked = dialog.allButton()->isChecked();
        foldersChecked = dialog.foldersCheck()->isChecked();
        dialog.browseButton()->click();
        shownFolder = dialog.folderField()->toPlainText();
        dialog.cancelButton()->click();
    });
    EXPECT_EQ(dialog.exec(), int(QDialog::Rejected));
    EXPECT_FALSE(selectedEnabled);
    EXPECT_TRUE(allChecked);
    EXPECT_FALSE(foldersChecked);
    EXPECT_EQ(shownFolder.toStdString(), TempPath("new"));
    EXPECT_EQ(ReadIniString("Config", "SaveDir", ""), TempPath("old"));
    EXPECT_EQ(ReadIniInt("Config", "SaveMode", -1), 1);

    // With nothing in the list the dialog does not open.
    controller_->clearResults();
    SaveDialog empty(frame_.get(), *controller_, controller_->selection());
    EXPECT_EQ(empty.exec(), int(QDialog::Rejected));
    ASSERT_FALSE(messages_.empty());
    EXPECT_EQ(messages_.back(), "保存するファイルがありません");
}

// Without a documents folder the save and image dialogs do not fall back to
// the home folder itself: the documents folder is made and offered.
TEST_F(FoundFileListTest, DialogsStartInTheDocumentsFolderMadeWhenMissing) {
    const PlatformServices saved = Platform();
    PlatformServices services = saved;
    const std::string home = TempPath("home");
    const std::string documents = home + "/Documents";
    fs::create_directory(home);
    services.documentsFolder = [documents] { return documents; };
    services.homeFolder = [home] { return home; };
    InstallPlatformServices(services);
    WriteIniString("Config", "SaveDir", nullptr);
    WriteIniString("Config", "Dir", nullptr);

    QString shownFolder;
    SaveDialog dialog(frame_.get(), *controller_, controller_->selection());
    WhenModalAppears([&](QWidget*) {
        shownFolder = dialog.folderField()->toPlainText();
        dialog.cancelButton()->click();
    });
    dialog.exec();
    EXPECT_EQ(shownFolder.toStdString(), documents);
    EXPECT_TRUE(fs::is_directory(documents));

    fs::remove(documents);
    QString chooserFolder;
    CSelDriveDlg::SetDriveListerForTest([] { return std::vector<RemovableDrive>{}; });
    CSelDriveDlg::SetFileChooserForTest([&](const QString& folder, const QString&, const QString&, bool) {
        chooserFolder = folder;
        return QString();
    });
    CSelDriveDlg drives;
    drives.imageButton = true;
    drives.prepare();
    drives.imageFileButton()->click();
    EXPECT_EQ(chooserFolder.toStdString(), documents);
    EXPECT_TRUE(fs::is_directory(documents));
    CSelDriveDlg::SetDriveListerForTest({});
    CSelDriveDlg::SetFileChooserForTest({});
    InstallPlatformServices(saved);
}

TEST_F(FoundFileListTest, OpeningAFoundPictureShowsThePreview) {
    int b = RowOf(photoB_);
    ASSERT_GE(b, 0);
    WriteIniInt("BMPV", "DISPALL", 1);
    QSize shownSize;
    QString caption, nextCaption, backCaption;
    int modeBefore = -1, modeAfter = -1, rangeAfter = -1;
    WhenModalAppears([&](QWidget* modal) {
        auto* preview = qobject_cast<PreviewWindow*>(modal);
        if (!preview) {
            modal->close();
            return;
        }
        shownSize = preview->pictureSize();
        caption = preview->windowTitle();
        modeBefore = preview->displayMode();
        QTest::keyRelease(preview, Qt::Key_Space);
        modeAfter = preview->displayMode();
        rangeAfter = preview->verticalRange();
        // The arrow keys page to the next picture in the list's order; the
        // list's current row follows.
        QTest::keyClick(preview, Qt::Key_Right);
        nextCaption = preview->windowTitle();
        QTest::keyClick(preview, Qt::Key_Left);
        backCaption = preview->windowTitle();
        preview->reject();
    });
    // Enter in the list opens the current row.
    list_->setFocus();
    list_->setCurrentIndex(list_->model()->index(b, 0));
    QTest::keyClick(list_, Qt::Key_Return);
    int nextPicture = -1;
    for (int row = b + 1; row < list_->shownRowCount() && nextPicture < 0; ++row)
        if (list_->RecordOfRow(row)->isImage == 1) nextPicture = row;
    ASSERT_GE(nextPicture, 0) << "the card has a photo after B.JPG";
    EXPECT_EQ(nextCaption, list_->cellText(nextPicture, 0));
    EXPECT_EQ(backCaption, caption);
    EXPECT_EQ(list_->currentIndex().row(), b);
    EXPECT_EQ(shownSize, QSize(kPreviewWidth, kPreviewHeight));
    EXPECT_EQ(caption, QStringLiteral("#       .JPG"));
    EXPECT_EQ(modeBefore, 1);
    EXPECT_EQ(modeAfter, 0);
    EXPECT_EQ(ReadIniInt("BMPV", "DISPALL", -1), 0);
    EXPECT_GE(rangeAfter, 0);
    WriteIniInt("BMPV", "DISPALL", 1);
}

TEST_F(FoundFileListTest, DataDumpPagesThroughTheExtractedFile) {
    int note = RowOf(note_);
    ASSERT_GE(note, 0);
    const std::string workFilePath = ExtractTargetPath(*list_->RecordOfRow(note), ExtractRequest{});
    QStringList firstPage, secondPage;
    QString workFile;
    WhenModalAppears([&](QWidget* modal) {
        auto* dump = qobject_cast<HexDumpDialog*>(modal);
        if (!dump) {
            modal->close();
            return;
        }
        firstPage = dump->lines();
        dump->nextButton()->click();
        secondPage = dump->lines();
        dump->accept();
    });
    frame_->commands()->dumpRow(note);
    // 3000 bytes in 2048-byte clusters: two pages.
    ASSERT_GE(firstPage.size(), 3);
    EXPECT_EQ(firstPage[0], QStringLiteral("全サイズ:3000 セクタサイズ:2048 PAGE:0/2"));
    EXPECT_EQ(firstPage[2], QStringLiteral("00000000: 78 78 78 78 78 78 78 78 78 78 78 78 78 78 78 78  |xxxxxxxxxxxxxxxx| "));
    ASSERT_GE(secondPage.size(), 3);
    EXPECT_EQ(secondPage[0], QStringLiteral("全サイズ:3000 セクタサイズ:2048 PAGE:1/2"));
    EXPECT_EQ(secondPage[2].left(10), QStringLiteral("00000800: "));
    EXPECT_EQ(secondPage.last(), QStringLiteral("...Done"));
    // The work file is gone once the dialog closed.
    EXPECT_FALSE(fs::exists(workFilePath));
}

// The dump dialog on its own: page layout, blanks past the end, characters.
TEST(HexDumpDialog, FileAndMemoryPages) {
    QTemporaryDir dir;
    std::string path = dir.filePath("data.bin").toStdString();
    std::vector<uint8_t> bytes(1000);
    for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = uint8_t(i);
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));

    HexDumpDialog dump;
    dump.setFilePath(QString::fromStdString(path));
    dump.setPageSize(512);
    dump.setPage(0);
    dump.showPage();
    QStringList lines = dump.lines();
    ASSERT_EQ(lines.size(), 2 + 32 + 1);
    EXPECT_EQ(lines[0], QStringLiteral("全サイズ:1000 セクタサイズ:512 PAGE:0/2"));
    EXPECT_EQ(lines[1], QStringLiteral("          00 01 02 03 04 05 06 07 08 09 0A 0B 0C 0D 0E 0F"));
    EXPECT_FALSE(dump.previousButton()->isEnabled());
    EXPECT_TRUE(dump.nextButton()->isEnabled());
    // Row 2: bytes 0x20..0x2F are printable.
    EXPECT_EQ(lines[4], QStringLiteral("00000020: 20 21 22 23 24 25 26 27 28 29 2A 2B 2C 2D 2E 2F  | !\"#$%&'()*+,-./| "));

    dump.onNext();
    lines = dump.lines();
    ASSERT_GE(lines.size(), 34);
    EXPECT_EQ(lines[0], QStringLiteral("全サイズ:1000 セクタサイズ:512 PAGE:1/2"));
    EXPECT_TRUE(lines[2].startsWith(QStringLiteral("00000200: ")));
    EXPECT_TRUE(lines[33].startsWith(QStringLiteral("000003F0: ")));
    // Offset 1000 = 0x3E8: row 0x3E0 shows eight bytes, then blanks.
    EXPECT_EQ(lines[32].mid(10, 8 * 3 + 8 * 3),
              QStringLiteral("E0 E1 E2 E3 E4 E5 E6 E7                         "));
    // 0x7F and 0x80.. are dots.
    EXPECT_TRUE(lines[9].endsWith(QStringLiteral("|pqrstuvwxyz{|}~.| ")));
    EXPECT_TRUE(dump.previousButton()->isEnabled());
    EXPECT_FALSE(dump.nextButton()->isEnabled());

    HexDumpDialog memory;
    memory.setMemory(QByteArray(2048, '\x01'));
    memory.showPage();
    ASSERT_GE(memory.lines().size(), 3);
    EXPECT_EQ(memory.lines()[0], QStringLiteral("全サイズ:2048 セクタサイズ:1024 PAGE:0/2"));
    EXPECT_TRUE(memory.lines()[2].endsWith(QStringLiteral("|................| ")));
    memory.onNext();
    EXPECT_FALSE(memory.nextButton()->isEnabled());

    HexDumpDialog empty;
    empty.setMemory(QByteArray());
    empty.showPage();
    ASSERT_FALSE(empty.lines().isEmpty());
    EXPECT_EQ(empty.lines()[0], QStringLiteral("全サイズ:0 セクタサイズ:1024 PAGE:0/0"));
    EXPECT_FALSE(empty.nextButton()->isEnabled());
    EXPECT_FALSE(empty.previousButton()->isEnabled());
}

TEST(PreviewScaling, PictureIsFittedOnWhite) {
    QImage wide(800, 200, QImage::Format_RGB32);
    wide.fill(Qt::red);
    QImage out = ScaleImageOnWhite(wide, 480, 640);
    ASSERT_EQ(out.size(), QSize(480, 640));
    // 800x200 into 480 wide: 120 high, centred at y = 260.
    EXPECT_EQ(out.pixelColor(240, 10), QColor(Qt::white));
    EXPECT_EQ(out.pixelColor(240, 320).red(), 255);
    EXPECT_EQ(out.pixelColor(240, 320).green(), 0);
    EXPECT_EQ(out.pixelColor(240, 250), QColor(Qt::white));
    EXPECT_TRUE(ScaleImageOnWhite(QImage(), 480, 640).isNull());
}

}  // namespace
}  // namespace veld::guitest
