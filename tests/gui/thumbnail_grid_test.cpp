// The thumbnail grid and its sort bar, the disk map, the view switching and
// the drag-and-drop export, on the results of searches over built cards.
#include "found_files_fixture.h"  // first: see there

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QMouseEvent>
#include <QProcess>
#include <QScrollBar>
#include <QSlider>
#include <QStandardItemModel>
#include <QTest>
#include <QToolBar>
#include <QToolButton>
#include <QUrl>
#include <QWheelEvent>

#include <filesystem>
#include <fstream>
#include <numeric>
#include <set>

#include "base/file_name_kind.h"
#include "finder/found_file_thumbnail.h"
#include "search/work_folders.h"
#include "search/found_file_columns.h"
#include "ui/found_file_model.h"
#include "ui/found_file_states.h"
#include "ui/main/found_file_list.h"
#include "ui/main/found_file_tree.h"
#include "ui/thumbs/file_drag.h"
#include "ui/thumbs/disk_map_view.h"
#include "ui/thumbs/thumbnail_sort_bar.h"
#include "ui/thumbs/thumbnail_pane.h"
#include "ui/thumbs/thumbnail_grid.h"
#include "ui/thumbs/thumb_pictures.h"

namespace veld::guitest {
namespace {

namespace fs = std::filesystem;

// Geometry needs rows, not records: a plain model with n rows.
TEST(ThumbGridGeometry, ColumnsRowsAndHitsFollowTheOuterSize) {
    SearchController controller;
    QStandardItemModel rows(7, 1);
    QItemSelectionModel selection(&rows);
    ThumbnailGrid grid(controller, &selection);
    grid.resize(250, 260);
    EXPECT_EQ(grid.columns(), 2);
    EXPECT_EQ(grid.visibleRows(), 3);  // (50 + 260) / 100
    grid.resize(99, 40);
    EXPECT_EQ(grid.columns(), 1);
    EXPECT_EQ(grid.visibleRows(), 1);

    grid.resize(300, 300);
    ASSERT_EQ(grid.columns(), 3);
    // Inside a picture box; its left and right margins (10 pixels at each
    // cell edge), the top 4 pixels and the name below hit nothing.
    EXPECT_EQ(grid.HitCell(QPoint(150, 50)), 1);
    EXPECT_EQ(grid.HitCell(QPoint(10, 5)), 0);
    EXPECT_EQ(grid.HitCell(QPoint(105, 50)), -1);
    EXPECT_EQ(grid.HitCell(QPoint(95, 50)), -1);
    EXPECT_EQ(grid.HitCell(QPoint(50, 4)), -1);
    EXPECT_EQ(grid.HitCell(QPoint(50, 92)), 0);
    EXPECT_EQ(grid.HitCell(QPoint(50, 93)), -1);
    EXPECT_EQ(grid.HitCell(QPoint(150, 250)), -1);  // cell 7: past the last one
    // 7 cells in 3 columns: 3 rows, all visible.
    EXPECT_EQ(grid.maxTopRow(), 0);
    grid.resize(300, 140);  // one visible row: two rows to scroll
    EXPECT_EQ(grid.maxTopRow(), 2);
    grid.setTopRow(5);
    EXPECT_EQ(grid.topRow(), 2);
    EXPECT_EQ(grid.HitCell(QPoint(50, 50)), 6);

    // Enlarged cells keep the proportions: at 200 pixels a cell's box runs
    // from 20 to 180, and the cells stop at 320 (a box of 256).
    grid.resize(450, 420);
    grid.setCellSize(200);
    EXPECT_EQ(grid.topRow(), 2) << "the first cell shown stays in view";
    grid.setTopRow(0);
    EXPECT_EQ(grid.columns(), 2);
    EXPECT_EQ(grid.pictureBox(0), QRect(20, 10, 160, 140));
    EXPECT_EQ(grid.HitCell(QPoint(250, 100)), 1);
    EXPECT_EQ(grid.HitCell(QPoint(210, 100)), -1);
    grid.setCellSize(1000);
    EXPECT_EQ(grid.cellSize(), ThumbnailGrid::kMaxCellSize);
    EXPECT_EQ(grid.pictureBox(0).width(), 256);
}

TEST(ThumbGridNames, CutNamesKeepWholeCharacters) {
    QFont font;
    font.setPixelSize(12);
    const QFontMetrics metrics(font);
    EXPECT_EQ(CutCellName(QStringLiteral("A.JPG"), metrics, 95), QStringLiteral("A.JPG"));
    // Japanese, a character outside the basic plane (a surrogate pair) and
    // an accented letter written as two code points.
    const QString names[] = {QStringLiteral("休日の写真休日の写真休日の写真.jpg"),
                             QString::fromUtf8("\xF0\x9F\x93\xB7").repeated(30) + QStringLiteral(".jpg"),
                             QString::fromUtf8("e\xCC\x81" "e\xCC\x81" "e\xCC\x81" "e\xCC\x81" "e\xCC\x81"
                                               "e\xCC\x81" "e\xCC\x81" "e\xCC\x81" "e\xCC\x81" "e\xCC\x81"
                                               "e\xCC\x81" "e\xCC\x81" "e\xCC\x81" "e\xCC\x81" ".jpg")};
    for (int width : {30, 60, 95}) {
        for (const QString& name : names) {
            const QString cut = CutCellName(name, metrics, width);
            ASSERT_TRUE(cut.endsWith(QStringLiteral("..."))) << cut.toStdString();
            const QString kept = cut.chopped(3);
            EXPECT_TRUE(name.startsWith(kept));
            EXPECT_LE(metrics.horizontalAdvance(cut), width);
            // Never half a surrogate pair, never a base letter without its accent.
            if (!kept.isEmpty()) {
                EXPECT_FALSE(kept.back().isHighSurrogate()) << width;
                EXPECT_NE(name.at(kept.size()).unicode(), 0x0301) << width;
            }
            // And the UTF-8 form is whole: it converts back unchanged.
            EXPECT_EQ(QString::fromUtf8(kept.toUtf8()), kept);
        }
    }
}

class ThumbnailGridTest : public MainFrameTest {
protected:
    void SetUp() override {
        MainFrameTest::SetUp();
        grid_ = frame_->thumbnailPane()->grid();
        bar_ = frame_->thumbnailPane()->sortBar();
    }
    void SearchTheCard() {
        ASSERT_EQ(SearchAndWait(BuildCard()), 0);
        list_ = frame_->listPane();
        ASSERT_GE(list_->shownRowCount(), 4);
        ASSERT_EQ(grid_->cellCount(), list_->shownRowCount());
    }
    // The two deleted records that come back with the same name (the old and
    // the new B.JPG); their shared name goes to *name.
    std::vector<int> SameNamedPhotos(std::string* name) const {
        std::vector<int> same;
        for (int row = 0; row < list_->shownRowCount() && same.size() < 2; ++row) {
            DelFileInfo* record = list_->RecordOfRow(row);
            if (record->fileSize == photoB_.size() || record->fileSize == photoOld_.size()) {
                if (name->empty()) *name = *record->name;
                if (*record->name == *name) same.push_back(record->index);
            }
        }
        return same;
    }
    QPoint Centre(int cell) const { return grid_->pictureBox(cell).center(); }
    void Click(int cell, Qt::KeyboardModifiers mods = Qt::NoModifier) {
        QTest::mouseClick(grid_->viewport(), Qt::LeftButton, mods, Centre(cell));
    }
    void Move(const QPoint& to, Qt::KeyboardModifiers mods = Qt::NoModifier) {
        QMouseEvent move(QEvent::MouseMove, to, grid_->viewport()->mapToGlobal(to), Qt::NoButton, Qt::LeftButton,
                         mods);
        QCoreApplication::sendEvent(grid_->viewport(), &move);
    }
    std::vector<int> SelectedCells() const {
        std::vector<int> cells;
        for (int c = 0; c < grid_->cellCount(); ++c)
            if (grid_->isCellSelected(c)) cells.push_back(c);
        return cells;
    }
    std::vector<int> SelectedRows() const {
        std::vector<int> rows;
        for (int r = 0; r < list_->shownRowCount(); ++r)
            if (list_->isShownRowSelected(r)) rows.push_back(r);
        return rows;
    }
    std::vector<int> CellRecords() const {
        std::vector<int> records;
        for (int c = 0; c < grid_->cellCount(); ++c) records.push_back(grid_->recordOfCell(c));
        return records;
    }

    ThumbnailGrid* grid_ = nullptr;
    ThumbnailSortBar* bar_ = nullptr;
    FoundFileList* list_ = nullptr;
};

TEST_F(ThumbnailGridTest, ViewsSwitchThroughMenuAndToolbar) {
    RightPane* right = frame_->rightFrame();
    QAction* menuThumbs = Action("showThumbnails");
    QAction* menuList = Action("showList");
    QAction* menuMap = Action("showDiskMap");
    QAction* buttonThumbs = Action("toolbarThumbnails");
    QAction* buttonList = Action("toolbarList");
    auto state = [&] {
        return std::vector<bool>{menuThumbs->isChecked(), menuList->isChecked(), menuMap->isChecked(),
                                 buttonThumbs->isChecked(), buttonList->isChecked()};
    };
    EXPECT_EQ(right->currentView(), 2);
    EXPECT_EQ(state(), (std::vector<bool>{true, false, false, true, false}));

    QTest::mouseClick(frame_->toolbar()->widgetForAction(buttonList), Qt::LeftButton);
    EXPECT_EQ(right->currentView(), 1);
    EXPECT_EQ(right->currentWidget(), frame_->listPane());
    EXPECT_EQ(state(), (std::vector<bool>{false, true, false, false, true}));

    menuMap->trigger();
    EXPECT_EQ(right->currentView(), 4);
    EXPECT_EQ(right->currentWidget(), right->diskMap());
    EXPECT_EQ(state(), (std::vector<bool>{false, false, true, false, false}));

    menuThumbs->trigger();
    EXPECT_EQ(right->currentView(), 2);
    EXPECT_EQ(right->currentWidget(), frame_->thumbnailPane());
    EXPECT_EQ(state(), (std::vector<bool>{true, false, false, true, false}));
    // Pressing the pressed button again changes nothing.
    QTest::mouseClick(frame_->toolbar()->widgetForAction(buttonThumbs), Qt::LeftButton);
    EXPECT_EQ(right->currentView(), 2);
    EXPECT_EQ(state(), (std::vector<bool>{true, false, false, true, false}));

    // While a search runs the sort bar is greyed; the grid stays usable.
    frame_->EnableMainUi(false);
    EXPECT_FALSE(bar_->isEnabled());
    EXPECT_TRUE(grid_->isEnabled());
    frame_->EnableMainUi(true);
    EXPECT_TRUE(bar_->isEnabled());
}

TEST_F(ThumbnailGridTest, SelectionIsTheListsBothWays) {
    SearchTheCard();
    Click(1);
    EXPECT_EQ(SelectedRows(), (std::vector<int>{1}));
    Click(3, Qt::ControlModifier);
    EXPECT_EQ(SelectedRows(), (std::vector<int>{1, 3}));
    EXPECT_EQ(grid_->anchorCell(), 3);
    Click(1, Qt::ControlModifier);  // toggles off, anchor mode becomes deselect
    EXPECT_EQ(SelectedRows(), (std::vector<int>{3}));
    // The status bar shows the list's summary of the grid's selection.
    EXPECT_TRUE(frame_->statusText(1).startsWith(QStringLiteral("選択ファイル数=1 ")));

    // The list's selection is what the grid draws.
    list_->clearSelection();
    list_->setRowSelected(0, true);
    list_->setRowSelected(2, true);
    EXPECT_EQ(SelectedCells(), (std::vector<int>{0, 2}));
    // A plain click on a selected cell keeps the others until the button is
    // released without a drag.
    QTest::mousePress(grid_->viewport(), Qt::LeftButton, Qt::NoModifier, Centre(2));
    EXPECT_EQ(SelectedRows(), (std::vector<int>{0, 2}));
    QTest::mouseRelease(grid_->viewport(), Qt::LeftButton, Qt::NoModifier, Centre(2));
    EXPECT_EQ(SelectedRows(), (std::vector<int>{2}));

    // After a sort of the list the cells follow the rows, the selection too.
    const int record = grid_->recordOfCell(2);
    list_->SortByColumn(2);
    EXPECT_EQ(CellRecords(), list_->rowRecords());
    const std::vector<int> cells = SelectedCells();
    ASSERT_EQ(cells.size(), 1u);
    EXPECT_EQ(grid_->recordOfCell(cells[0]), record);
}

TEST_F(ThumbnailGridTest, ShiftClicksAndBandsSelectRanges) {
    SearchTheCard();
    ASSERT_GE(grid_->cellCount(), 4);
    // No anchor yet: from the first cell.
    Click(2, Qt::ShiftModifier);
    EXPECT_EQ(SelectedRows(), (std::vector<int>{0, 1, 2}));
    EXPECT_EQ(grid_->anchorCell(), -1);

    // A press between two pictures hits nothing: the selection is cleared
    // and a band starts; the band selects the cells whose box corners it holds.
    const QRect box1 = grid_->pictureBox(1);
    const QPoint gap(box1.left() - 5, box1.center().y());
    ASSERT_EQ(grid_->HitCell(gap), -1);
    QTest::mousePress(grid_->viewport(), Qt::LeftButton, Qt::NoModifier, gap);
    EXPECT_TRUE(SelectedRows().empty());
    const QRect box2 = grid_->pictureBox(2);
    Move(QPoint(box2.left() - 3, box2.bottom() + 2));  // holds box 1's bottom right corner only
    EXPECT_EQ(SelectedRows(), (std::vector<int>{1}));
    Move(QPoint(box2.right() + 5, box2.bottom() + 2));
    EXPECT_EQ(SelectedRows(), (std::vector<int>{1, 2}));
    QTest::mouseRelease(grid_->viewport(), Qt::LeftButton, Qt::NoModifier, QPoint(box2.right() + 5, box2.bottom() + 2));
    EXPECT_EQ(SelectedRows(), (std::vector<int>{1, 2}));

    // With Ctrl a band adds to the selection, and a Ctrl press between
    // pictures keeps it.
    const QRect box0 = grid_->pictureBox(0);
    const QPoint corner(box0.left() - 5, box0.top() - 2);
    ASSERT_EQ(grid_->HitCell(corner), -1);
    QTest::mousePress(grid_->viewport(), Qt::LeftButton, Qt::ControlModifier, corner);
    EXPECT_EQ(SelectedRows(), (std::vector<int>{1, 2}));
    Move(QPoint(box0.left() + 5, box0.top() + 5), Qt::ControlModifier);
    EXPECT_EQ(SelectedRows(), (std::vector<int>{0, 1, 2}));
    QTest::mouseRelease(grid_->viewport(), Qt::LeftButton, Qt::ControlModifier, QPoint(box0.left() + 5, box0.top() + 5));

    // Shift from a Ctrl anchor that deselected: the whole range, the clicked
    // cell with it, is deselected.
    Click(0, Qt::ControlModifier);
    ASSERT_EQ(SelectedRows(), (std::vector<int>{1, 2}));
    Click(3, Qt::ShiftModifier);
    EXPECT_TRUE(SelectedRows().empty());
}

TEST_F(ThumbnailGridTest, SortBarSortsGridAndListAndTheDirectionAloneSortsNothing) {
    SearchTheCard();
    const std::vector<int> before = list_->rowRecords();
    // The direction button before any key only turns the arrow.
    EXPECT_EQ(bar_->sortKey(), -1);
    const QImage up = bar_->directionButton()->icon().pixmap(16, 16).toImage();
    bar_->directionButton()->click();
    EXPECT_EQ(bar_->direction(), 0);
    EXPECT_NE(bar_->directionButton()->icon().pixmap(16, 16).toImage(), up);
    EXPECT_EQ(list_->rowRecords(), before);

    // "サイズ" descending (the direction now), then ascending.
    bar_->keyBox()->setCurrentIndex(2);
    emit bar_->keyBox()->activated(2);
    auto sizes = [&] {
        std::vector<uint32_t> s;
        for (int row = 0; row < list_->shownRowCount(); ++row) s.push_back(list_->RecordOfRow(row)->fileSize);
        return s;
    };
    std::vector<uint32_t> descending = sizes();
    EXPECT_TRUE(std::is_sorted(descending.rbegin(), descending.rend()));
    EXPECT_NE(list_->rowRecords(), before);
    EXPECT_EQ(CellRecords(), list_->rowRecords());
    bar_->directionButton()->click();
    std::vector<uint32_t> ascending = sizes();
    EXPECT_TRUE(std::is_sorted(ascending.begin(), ascending.end()));
    EXPECT_EQ(CellRecords(), list_->rowRecords());

    // A filter that hides the text file keeps the order the bar names, and
    // the selection count forgets the hidden file.
    int note = -1;
    for (int row = 0; row < list_->shownRowCount(); ++row)
        if (KindGroupOf(*list_->RecordOfRow(row)) == KindGroup::Others) note = row;
    ASSERT_GE(note, 0);
    list_->setRowSelected(note, true);
    EXPECT_TRUE(frame_->statusText(1).startsWith(QStringLiteral("選択ファイル数=1 "))) << frame_->statusText(1).toStdString();
    QCheckBox* others = frame_->treePane()->kindBox(int(KindGroup::Others));
    QTest::mouseClick(others, Qt::LeftButton, Qt::NoModifier, QPoint(5, others->height() / 2));
    ASSERT_EQ(list_->shownRowCount(), int(ascending.size()) - 1);
    const std::vector<uint32_t> filtered = sizes();
    EXPECT_TRUE(std::is_sorted(filtered.begin(), filtered.end()));
    EXPECT_EQ(bar_->sortKey(), 2);
    EXPECT_EQ(CellRecords(), list_->rowRecords());
    EXPECT_TRUE(list_->selectedRecords().empty());
    EXPECT_EQ(frame_->statusText(1), QStringLiteral(" "));
}

// Files that are neither pictures nor clips are never queued; clips are tried
// for their first frame, and one that has none (this clip's frames are no
// video) shows its type's icon like the text file.
TEST_F(ThumbnailGridTest, NonPicturesShowTheirIconAndAreNeverQueued) {
    // A clip, a text file and pictures whose thumbnails the search did not make.
    using namespace veld::test;
    FatImageBuilder b(FatGeometry::Fat16(8192, 4));
    auto dir = b.Root().AddDir("DCIM", 3);
    dir.AddDeletedFile("CLIP.MP4", 10, MakeTestMp4(3000));
    dir.AddDeletedFile("NOTE.TXT", 20, std::vector<uint8_t>(100, 'x'));
    dir.AddDeletedFile("P1.JPG", 30, MakeTestJpeg(64, 48));
    dir.AddDeletedFile("P2.JPG", 40, MakeTestJpeg(48, 64));
    const std::string card = TempPath("mixed.img");
    ASSERT_TRUE(b.WriteToFile(card));
    ASSERT_EQ(SearchAndWait(card), 0);
    list_ = frame_->listPane();
    SearchSession& session = frame_->session();
    // As after a search that reached its thumbnail limit. The two pictures
    // are also found by their signature (carved copies, "#....jpg").
    // A batch the grid's own timer started after the search (a clip's frame
    // is tried for a while) finishes first: the tick below starts its own.
    QTRY_VERIFY_WITH_TIMEOUT(!grid_->decoding(), 20000);
    std::set<int> pictures, clips;
    while (session.ThumbnailQueue.Count()) session.ThumbnailQueue.RemoveAt(0);
    for (int cell = 0; cell < grid_->cellCount(); ++cell) {
        DelFileInfo* record = grid_->RecordOfCell(cell);
        const QString name = QString::fromStdString(*record->name);
        if (name.endsWith(QStringLiteral(".jpg"), Qt::CaseInsensitive)) pictures.insert(record->index);
        if (name.endsWith(QStringLiteral(".mp4"), Qt::CaseInsensitive)) clips.insert(record->index);
        record->thumbnail.reset();
        record->thumbnailTried = 0;
    }
    ASSERT_GE(pictures.size(), 2u);
    ASSERT_GE(clips.size(), 1u);
    ASSERT_GE(grid_->cellCount(), 4);
    grid_->RedrawThumbnails();
    grid_->viewport()->repaint();
    const std::vector<int> queued = grid_->loadQueue();
    std::set<int> tried = pictures;
    tried.insert(clips.begin(), clips.end());
    EXPECT_EQ(std::set<int>(queued.begin(), queued.end()), tried);
    EXPECT_EQ(grid_->TimerTick(), int(tried.size()));
    QTRY_VERIFY(!grid_->decoding());
    for (int cell = 0; cell < grid_->cellCount(); ++cell) {
        DelFileInfo* record = grid_->RecordOfCell(cell);
        EXPECT_EQ(bool(record->thumbnail), pictures.count(record->index) == 1) << *record->name;
        EXPECT_EQ(record->thumbnailTried != 0, tried.count(record->index) == 1) << *record->name;
    }
    EXPECT_EQ(session.ThumbnailQueue.Count(), pictures.size());
    // The clip's cell shows an icon, not a placeholder: its box is not the
    // grey of a picture still to come.
    grid_->viewport()->repaint();
    EXPECT_EQ(grid_->loadQueueSize(), 0u);
}

// A clip has no viewer here: a double click, in the grid or the list, plays
// a copy of it in the desktop's player.
TEST_F(ThumbnailGridTest, ADoubleClickedClipPlaysInTheDesktopsPlayerFromACopy) {
    using namespace veld::test;
    const std::vector<uint8_t> clip = MakeTestMp4(3000);
    FatImageBuilder b(FatGeometry::Fat16(8192, 4));
    auto dir = b.Root().AddDir("DCIM", 3);
    dir.AddDeletedFile("CLIP.MP4", 10, clip);
    dir.AddDeletedFile("P1.JPG", 30, MakeTestJpeg(64, 48));
    const std::string card = TempPath("clip.img");
    ASSERT_TRUE(b.WriteToFile(card));
    ASSERT_EQ(SearchAndWait(card), 0);
    list_ = frame_->listPane();
    int cell = -1;
    for (int c = 0; c < grid_->cellCount() && cell < 0; ++c)
        if (grid_->RecordOfCell(c)->fileSize == clip.size()) cell = c;
    ASSERT_GE(cell, 0);

    QTest::mouseDClick(grid_->viewport(), Qt::LeftButton, Qt::NoModifier, Centre(cell));
    grid_->TimerTick();
    ASSERT_EQ(opened_.size(), 1u);
    EXPECT_TRUE(opened_[0].startsWith(QString::fromStdString(WorkFolderPath()))) << opened_[0].toStdString();
    EXPECT_EQ(ReadWholeFile(opened_[0].toStdString()), clip);

    Action("showList")->trigger();
    QTest::mouseDClick(list_->viewport(), Qt::LeftButton, Qt::NoModifier, list_->rowRect(cell).center());
    ASSERT_EQ(opened_.size(), 2u);
    EXPECT_EQ(ReadWholeFile(opened_[1].toStdString()), clip);
    EXPECT_TRUE(messages_.empty()) << messages_.front();
}

// A cancel stops the search's thumbnail workers before they decode what is
// still queued; those pictures come back tried, without a thumbnail. After
// such an end the grid makes them when they are drawn; after a search that
// ran to its end, a picture tried without a thumbnail is not tried again.
TEST_F(ThumbnailGridTest, PicturesLeftUnmadeByACancelledSearchAreMadeWhenDrawn) {
    SearchTheCard();
    SearchSession& session = frame_->session();
    QTRY_VERIFY_WITH_TIMEOUT(!grid_->decoding(), 20000);
    std::set<int> pictures;
    auto leaveUnmade = [&] {
        while (session.ThumbnailQueue.Count()) session.ThumbnailQueue.RemoveAt(0);
        for (int cell = 0; cell < grid_->cellCount(); ++cell) {
            DelFileInfo* record = grid_->RecordOfCell(cell);
            if (ClassifyFileName(FoundFileColumnText(*record, 0)) != KindPicture) continue;
            pictures.insert(record->index);
            record->thumbnail.reset();
            record->thumbnailTried = 1;
        }
    };
    // The end of the search, replayed as the worker posts it.
    auto finish = [&](bool cancelled) {
        session.cancelFlag = cancelled ? 1 : 0;
        QSignalSpy finished(controller_.get(), &SearchController::searchFinished);
        controller_->messageTarget()->PostMessage(MsgSearchFinished, 0, 0);
        QCoreApplication::sendPostedEvents(controller_.get());
        ASSERT_EQ(finished.count(), 1);
        grid_->viewport()->repaint();
    };

    leaveUnmade();
    ASSERT_GE(pictures.size(), 3u);
    finish(false);
    EXPECT_EQ(grid_->loadQueueSize(), 0u);

    leaveUnmade();
    finish(true);
    ASSERT_TRUE(controller_->lastSearchCancelled());
    const std::vector<int> queued = grid_->loadQueue();
    EXPECT_EQ(std::set<int>(queued.begin(), queued.end()), pictures);
    EXPECT_EQ(grid_->TimerTick(), int(pictures.size()));
    QTRY_VERIFY(!grid_->decoding());
    for (int index : pictures) EXPECT_TRUE(session.gcDelFileList.Get(size_t(index))->thumbnail) << index;
}

// A card with many carved pictures (no directory entries), more than a
// search makes thumbnails for.
class ManyPicturesTest : public ThumbnailGridTest {
protected:
    std::string BuildManyCard(int count) {
        using namespace veld::test;
        FatImageBuilder b(FatGeometry::Fat16(16384, 1));
        b.Root().AddDir("DCIM", 3);
        uint32_t cluster = 10;
        for (int i = 0; i < count; ++i) {
            std::vector<uint8_t> jpeg = MakeTestJpeg(24 + i % 8, 16 + i % 5);
            const uint32_t clusters = uint32_t((jpeg.size() + 511) / 512);
            for (uint32_t k = 0; k < clusters; ++k) {
                const size_t at = size_t(k) * 512;
                b.WriteCluster(cluster + k, std::span<const uint8_t>(jpeg).subspan(at, std::min<size_t>(512, jpeg.size() - at)));
            }
            cluster += clusters + 1;
        }
        std::string path = TempPath("many.img");
        EXPECT_TRUE(b.WriteToFile(path));
        return path;
    }
};

TEST_F(ManyPicturesTest, TicksMakeAtMostTenDrawnThumbnailsAndHeldOnesStayBounded) {
    ASSERT_EQ(SearchAndWait(BuildManyCard(2000)), 0);
    list_ = frame_->listPane();
    SearchSession& session = frame_->session();
    ASSERT_EQ(grid_->cellCount(), 2000);
    // The search made its own thumbnails up to its limit; the rest wait.
    const int made = session.ThumbnailCount.load();
    ASSERT_GT(made, 0);
    ASSERT_LT(made, 2000);
    const size_t bound = size_t(grid_->heldBound());
    EXPECT_EQ(bound, size_t(std::max({made, ThumbnailGrid::kMinHeldThumbnails,
                                      2 * grid_->columns() * (grid_->visibleRows() + 1)})));
    auto held = [&] {
        size_t n = 0;
        for (size_t i = 0; i < session.gcDelFileList.Count(); ++i)
            if (session.gcDelFileList.Get(i)->thumbnail) ++n;
        return n;
    };

    // Scroll to cells the search left without thumbnails: only the drawn
    // cells are queued, at most ten are made per tick.
    grid_->setTopRow(grid_->maxTopRow());
    grid_->viewport()->repaint();
    const int visible = grid_->cellCount() - grid_->topRow() * grid_->columns();
    ASSERT_GT(visible, ThumbnailGrid::kThumbnailsPerTick);
    EXPECT_EQ(int(grid_->loadQueueSize()), visible);
    const int first = grid_->TimerTick();
    EXPECT_GE(first, 1);
    EXPECT_LE(first, ThumbnailGrid::kThumbnailsPerTick);
    for (int record : grid_->loadQueue()) EXPECT_GE(record, grid_->topRow() * grid_->columns());

    // Down and back up, a page at a time, every visible thumbnail made.
    for (int pass = 0; pass < 2; ++pass) {
        for (int step = 0; step <= grid_->maxTopRow(); step += grid_->visibleRows()) {
            grid_->setTopRow(pass == 0 ? step : grid_->maxTopRow() - step);
            grid_->viewport()->repaint();
            for (int guard = 0; (grid_->loadQueueSize() > 0 || grid_->decoding()) && guard < 1000; ++guard) {
                grid_->TimerTick();
                QTRY_VERIFY(!grid_->decoding());
            }
            EXPECT_EQ(grid_->loadQueueSize(), 0u);
            ASSERT_LE(session.ThumbnailQueue.Count(), bound);
            ASSERT_LE(held(), bound);
        }
    }
    // What is on screen now has its thumbnail.
    for (int cell = grid_->topRow() * grid_->columns(); cell < grid_->cellCount() && grid_->isCellVisible(cell); ++cell)
        EXPECT_TRUE(grid_->RecordOfCell(cell)->thumbnail) << cell;
}

// End chooses the last file and scrolls to it; the window laying itself out
// again afterwards (the line under the views now explains that file's
// state), or the user resizing it, keeps the file in view.
TEST_F(ManyPicturesTest, TheFileTheKeysChoseStaysInViewWhenTheGridIsResized) {
    ASSERT_EQ(SearchAndWait(BuildManyCard(300)), 0);
    const int last = grid_->cellCount() - 1;
    ASSERT_GT(grid_->maxTopRow(), 0);
    grid_->setFocus();
    QTest::keyClick(grid_, Qt::Key_End);
    QCoreApplication::processEvents();
    EXPECT_EQ(grid_->currentCell(), last);
    EXPECT_TRUE(grid_->isCellVisible(last)) << "top row " << grid_->topRow();
    frame_->resize(frame_->width() - 150, frame_->height() - 100);
    QCoreApplication::processEvents();
    EXPECT_TRUE(grid_->isCellVisible(last)) << "top row " << grid_->topRow();
    QTest::keyClick(grid_, Qt::Key_Home);
    QCoreApplication::processEvents();
    EXPECT_EQ(grid_->topRow(), 0);
}

TEST_F(ManyPicturesTest, DecodedThumbnailsComeBackWholeAndAClearedOrClosedGridTakesNone) {
    ASSERT_EQ(SearchAndWait(BuildManyCard(300)), 0);
    SearchSession& session = frame_->session();
    auto forgetThumbnails = [&] {
        while (session.ThumbnailQueue.Count()) session.ThumbnailQueue.RemoveAt(0);
        for (size_t i = 0; i < session.gcDelFileList.Count(); ++i) {
            session.gcDelFileList.Get(i)->thumbnail.reset();
            session.gcDelFileList.Get(i)->thumbnailTried = 0;
        }
        grid_->RedrawThumbnails();
        grid_->viewport()->repaint();
    };

    // The thumbnails made away from the interface thread are the ones the
    // search makes, pixel for pixel.
    forgetThumbnails();
    QSignalSpy made(grid_, &ThumbnailGrid::thumbnailsMade);
    const int taken = grid_->TimerTick();
    ASSERT_GE(taken, 1);
    ASSERT_LE(taken, ThumbnailGrid::kThumbnailsPerTick);
    EXPECT_TRUE(grid_->decoding());
    // No second batch while the first is out.
    EXPECT_EQ(grid_->TimerTick(), 0);
    // (The grid's own timer may send more batches meanwhile.)
    QTRY_VERIFY(!made.isEmpty());
    EXPECT_EQ(made.first().first().toInt(), taken);
    for (int cell = 0; cell < taken; ++cell) {
        DelFileInfo* record = grid_->RecordOfCell(cell);
        ASSERT_TRUE(record->thumbnail) << cell;
        DibPtr direct = MakeFoundFileThumbnail(*session.volume, *record);
        ASSERT_TRUE(direct);
        EXPECT_EQ(record->thumbnail->width, direct->width);
        EXPECT_EQ(record->thumbnail->height, direct->height);
        EXPECT_EQ(record->thumbnail->bits, direct->bits) << cell;
    }
    EXPECT_GE(session.ThumbnailQueue.Count(), size_t(taken));
    QTRY_VERIFY(!grid_->decoding());

    // Emptied while a batch is out: nothing comes back into the records then
    // at those places (here the same ones, still in the session).
    forgetThumbnails();
    ASSERT_GT(grid_->TimerTick(), 0);
    controller_->foundFiles()->clear();
    emit controller_->resultsCleared();
    QTRY_VERIFY(!grid_->decoding());
    EXPECT_EQ(session.ThumbnailQueue.Count(), 0u);
    for (size_t i = 0; i < session.gcDelFileList.Count(); ++i)
        EXPECT_FALSE(session.gcDelFileList.Get(i)->thumbnail) << i;

    // Closed while a batch is out: the window goes at once, safely.
    std::vector<int> all(session.gcDelFileList.Count());
    std::iota(all.begin(), all.end(), 0);
    controller_->foundFiles()->setRows(all);
    forgetThumbnails();
    ASSERT_GT(grid_->TimerTick(), 0);
    ASSERT_TRUE(grid_->decoding());
    frame_.reset();
    QTest::qWait(50);
}

TEST_F(ThumbnailGridTest, KeysMoveAndChooseAndCtrlWheelEnlargesWithLargerThumbnails) {
    SearchTheCard();
    grid_->setFocus();
    QTest::keyClick(grid_, Qt::Key_Home);
    EXPECT_EQ(list_->selectedRecords(), (std::vector<int>{grid_->recordOfCell(0)}));
    QTest::keyClick(grid_, Qt::Key_Right);
    EXPECT_EQ(grid_->currentCell(), 1);
    QTest::keyClick(grid_, Qt::Key_Right, Qt::ShiftModifier);
    EXPECT_EQ(list_->selectedRecords().size(), 2u);
    QTest::keyClick(grid_, Qt::Key_End);
    EXPECT_EQ(grid_->currentCell(), grid_->cellCount() - 1);
    EXPECT_EQ(list_->selectedRecords(), (std::vector<int>{grid_->recordOfCell(grid_->cellCount() - 1)}));
    QTest::keyClick(grid_, Qt::Key_PageUp);
    EXPECT_EQ(grid_->currentCell(), std::max(0, grid_->cellCount() - 1 - grid_->columns() * grid_->visibleRows()));
    QTest::keyClick(grid_, Qt::Key_A, Qt::ControlModifier);
    EXPECT_EQ(int(list_->selectedRecords().size()), grid_->cellCount());
    // Enter opens the current file on the next tick, as a double click does.
    QTest::keyClick(grid_, Qt::Key_Home);
    QTest::keyClick(grid_, Qt::Key_Return);
    EXPECT_EQ(grid_->pendingOpen(), grid_->recordOfCell(0));
    QObject::disconnect(grid_, &ThumbnailGrid::openRequested, nullptr, nullptr);  // no preview here
    QSignalSpy opened(grid_, &ThumbnailGrid::openRequested);
    grid_->TimerTick();
    ASSERT_EQ(opened.count(), 1);
    EXPECT_EQ(opened.first().first().toInt(), 0);
    // The tool tip names the state.
    EXPECT_TRUE(grid_->cellToolTip(0).contains(QStringLiteral("状態: 良"))) << grid_->cellToolTip(0).toStdString();

    // Ctrl+wheel enlarges the cells and the slider follows; at the largest
    // size the pictures get thumbnails made at that size.
    QWheelEvent notch(QPointF(50, 50), grid_->viewport()->mapToGlobal(QPointF(50, 50)), QPoint(), QPoint(0, 120),
                      Qt::NoButton, Qt::ControlModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(grid_->viewport(), &notch);
    EXPECT_EQ(grid_->cellSize(), 120);
    EXPECT_EQ(frame_->thumbnailPane()->zoomSlider()->value(), 120);
    frame_->thumbnailPane()->zoomSlider()->setValue(ThumbnailGrid::kMaxCellSize);
    EXPECT_EQ(grid_->cellSize(), ThumbnailGrid::kMaxCellSize);
    const int photo = grid_->recordOfCell(0);
    ASSERT_EQ(ClassifyFileName(FoundFileColumnText(*grid_->RecordOfCell(0), 0)), KindPicture);
    QSignalSpy made(grid_, &ThumbnailGrid::thumbnailsMade);
    for (int round = 0; round < 20 && grid_->largeThumbnail(photo).isNull(); ++round) {
        grid_->viewport()->repaint();
        if (grid_->TimerTick() > 0) ASSERT_TRUE(made.wait(10000));
    }
    const QImage large = grid_->largeThumbnail(photo);
    ASSERT_FALSE(large.isNull());
    EXPECT_GT(std::max(large.width(), large.height()), 64);
    EXPECT_LE(std::max(large.width(), large.height()), 256);
}

TEST_F(ThumbnailGridTest, DiskMapListsFilesInCardOrderAndSharesTheSelection) {
    SearchTheCard();
    Action("showDiskMap")->trigger();
    DiskMapView* map = frame_->rightFrame()->diskMap();
    ASSERT_EQ(map->itemCount(), list_->shownRowCount());
    uint32_t last = 0;
    for (int record : map->items()) {
        const uint32_t start = frame_->session().gcDelFileList.Get(size_t(record))->startCluster;
        EXPECT_GE(start, last);
        last = start;
    }
    // A click selects the item's row in the list; Ctrl adds one.
    QTest::mouseClick(map->viewport(), Qt::LeftButton, Qt::NoModifier, map->pictureBox(0).center());
    ASSERT_EQ(list_->selectedRecords(), (std::vector<int>{map->items()[0]}));
    QTest::mouseClick(map->viewport(), Qt::LeftButton, Qt::ControlModifier, map->pictureBox(2).center());
    std::vector<int> chosen = list_->selectedRecords();
    std::sort(chosen.begin(), chosen.end());
    std::vector<int> expected{map->items()[0], map->items()[2]};
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(chosen, expected);
    EXPECT_TRUE(map->isItemSelected(2));
    EXPECT_FALSE(map->isItemSelected(1));
    // Each box in its state's colour (a good photo is not drawn as broken),
    // each name cut to its cell, the legend and scale above the grid.
    for (int item = 0; item < map->itemCount(); ++item) {
        const DelFileInfo* record = frame_->session().gcDelFileList.Get(size_t(map->items()[size_t(item)]));
        EXPECT_EQ(map->colourOf(item), QColor(StateLookOf(*record).colour));
        EXPECT_LE(map->fontMetrics().horizontalAdvance(map->labelOf(item)), DiskMapView::kCellWidth - 4);
    }
    EXPECT_TRUE(map->header()->isVisible());
    EXPECT_GT(map->scaleEnd(), 2u);
}

// ---------------------------------------------------------------------------
// Drag-and-drop export

TEST(DragNames, SameNamesGetNumbersBeforeTheExtension) {
    DelFileInfo a, b, c, d;
    a.name = "_.JPG";
    b.name = "_.JPG";
    c.name = "_.jpg";  // the same name to a target that ignores case
    d.name = "OTHER.JPG";
    EXPECT_EQ(DragFileNames({&a, &b, &c, &d}),
              (std::vector<std::string>{"_.JPG", "_ (2).JPG", "_ (3).jpg", "OTHER.JPG"}));
}

TEST_F(ThumbnailGridTest, DropReceivesTwoSameNamedFilesAsTheCommandLineSavesThem) {
    SearchTheCard();
    // The two deleted B.JPG records come back with the same name.
    std::string name;
    const std::vector<int> same = SameNamedPhotos(&name);
    ASSERT_EQ(same.size(), 2u);
    ClearWorkFolders();

    FileDragData data(&frame_->session(), same, WorkFolderPath());
    ASSERT_TRUE(data.hasUrls());
    // Nothing is written until the target asks for the files.
    EXPECT_EQ(data.extractions(), 0);
    for (const QString& path : data.plannedPaths()) EXPECT_FALSE(QFile::exists(path));
    const QList<QUrl> urls = data.urls();
    ASSERT_EQ(urls.size(), 2);
    EXPECT_EQ(data.extractions(), 1);
    EXPECT_NE(urls[0], urls[1]);
    const fs::path first = urls[0].toLocalFile().toStdString();
    const fs::path second = urls[1].toLocalFile().toStdString();
    EXPECT_TRUE(fs::equivalent(first.parent_path(), WorkFolderPath()));
    EXPECT_EQ(first.filename().string(), name);
    EXPECT_EQ(second.filename().string(), fs::path(name).stem().string() + " (2)" + fs::path(name).extension().string());
    // A second request reads the same files, without extracting again.
    EXPECT_EQ(data.urls(), urls);
    EXPECT_EQ(data.extractions(), 1);

    // Byte for byte what veld-cli writes for the same card.
    const std::string saved = TempPath("saved");
    QProcess cli;
    cli.start(QStringLiteral(VELD_CLI_PATH), {"search", "--save", QString::fromStdString(saved), "--flat",
                                              QString::fromStdString(TempPath("card.img"))});
    ASSERT_TRUE(cli.waitForFinished(60000));
    ASSERT_EQ(cli.exitCode(), 0) << cli.readAllStandardError().toStdString();
    std::set<std::vector<uint8_t>> savedBytes;
    for (const auto& entry : fs::recursive_directory_iterator(saved))
        if (entry.is_regular_file()) savedBytes.insert(ReadWholeFile(entry.path().string()));
    const std::vector<uint8_t> one = ReadWholeFile(first.string()), two = ReadWholeFile(second.string());
    EXPECT_NE(one, two);
    EXPECT_TRUE(savedBytes.count(one));
    EXPECT_TRUE(savedBytes.count(two));
    EXPECT_EQ(std::set<std::vector<uint8_t>>({one, two}), std::set<std::vector<uint8_t>>({photoB_, photoOld_}));
}

// A target may ask for the files after the drop; if the results changed
// since the drag began, the records now at those places are not written in
// place of the dragged ones.
TEST_F(ThumbnailGridTest, ADropAskedAfterTheResultsChangedWritesNoOtherFile) {
    SearchTheCard();
    std::string name;
    const std::vector<int> same = SameNamedPhotos(&name);
    ASSERT_EQ(same.size(), 2u);
    ClearWorkFolders();
    FileDragData data(&frame_->session(), same, WorkFolderPath());
    // Another file now stands where the second dragged record was.
    DelFileInfo* moved = frame_->session().gcDelFileList.Get(size_t(same[1]));
    ASSERT_NE(moved, nullptr);
    moved->name = "OTHER.JPG";
    const size_t before = messages_.size();
    const QList<QUrl> urls = data.urls();
    ASSERT_EQ(urls.size(), 1);
    EXPECT_EQ(fs::path(urls[0].toLocalFile().toStdString()).filename().string(), name);
    EXPECT_FALSE(fs::exists(fs::path(WorkFolderPath()) / "OTHER.JPG"));
    // The user is told which dragged file did not come, by its dragged name.
    QTRY_COMPARE(messages_.size(), before + 1);
    EXPECT_NE(messages_.back().find(" (2)"), std::string::npos);
    EXPECT_EQ(messages_.back().find("OTHER"), std::string::npos);
}

TEST_F(ThumbnailGridTest, FilesThatCannotBeWrittenForADropAreNamedAfterIt) {
    SearchTheCard();
    std::string name;
    const std::vector<int> same = SameNamedPhotos(&name);
    ASSERT_EQ(same.size(), 2u);
    ClearWorkFolders();
    // A folder (not empty) holds the first file's place in the work folder.
    const fs::path blocked = fs::path(WorkFolderPath()) / name;
    fs::create_directories(blocked);
    { std::ofstream(blocked / "keep") << "x"; }
    const size_t before = messages_.size();

    FileDragData data(&frame_->session(), same, WorkFolderPath());
    const QList<QUrl> urls = data.urls();
    ASSERT_EQ(urls.size(), 1);
    EXPECT_EQ(fs::path(urls[0].toLocalFile().toStdString()).filename().string(),
              fs::path(name).stem().string() + " (2)" + fs::path(name).extension().string());
    EXPECT_EQ(data.failures(), QStringList{QString::fromStdString(name)});
    // Not while the target is still asking: after it.
    EXPECT_EQ(messages_.size(), before);
    QTRY_COMPARE(messages_.size(), before + 1);
    EXPECT_EQ(messages_.back(), DropFailureText({QString::fromStdString(name)}));
    EXPECT_NE(messages_.back().find("書き出せませんでした"), std::string::npos);
    EXPECT_NE(messages_.back().find("\n" + name), std::string::npos);
    EXPECT_EQ(messages_.back().find(" (2)"), std::string::npos);
    // Asked again, the files are not written again nor the message repeated.
    EXPECT_EQ(data.urls(), urls);
    QTest::qWait(20);
    EXPECT_EQ(messages_.size(), before + 1);
    fs::remove_all(blocked);
}

TEST(DropFailureMessage, ALongListIsCut) {
    QStringList names;
    for (int i = 0; i < 25; ++i) names << QStringLiteral("IMG_%1.JPG").arg(i);
    const std::string text = DropFailureText(names);
    EXPECT_NE(text.find("IMG_19.JPG"), std::string::npos);
    EXPECT_EQ(text.find("IMG_20.JPG"), std::string::npos);
    EXPECT_NE(text.find("ほか 5 個"), std::string::npos);
}

TEST_F(ThumbnailGridTest, ADragThatEndsWithoutADropWritesNothing) {
    SearchTheCard();
    ClearWorkFolders();
    Click(0);
    Click(1, Qt::ControlModifier);
    // Press on a selected cell and move past the drag distance: the drag
    // runs (and, with no target taking it, ends as a cancel does).
    QTest::mousePress(grid_->viewport(), Qt::LeftButton, Qt::NoModifier, Centre(1));
    Move(Centre(1) + QPoint(QApplication::startDragDistance() + 5, 0));
    QTest::mouseRelease(grid_->viewport(), Qt::LeftButton, Qt::NoModifier, Centre(1));
    EXPECT_EQ(SelectedRows(), (std::vector<int>{0, 1}));
    std::error_code error;
    EXPECT_TRUE(!fs::exists(WorkFolderPath(), error) || fs::is_empty(WorkFolderPath(), error));
}

}  // namespace
}  // namespace veld::guitest

namespace veld::guitest {
namespace {

TEST_F(ThumbnailGridTest, AnImageGivenAtStartIsSearchedWithoutTheDialogs) {
    // A missing file: the options dialog's message, nothing searched.
    frame_->SearchImageAtStart(QString::fromStdString(TempPath("missing.img")), false);
    QTRY_COMPARE(messages_.size(), size_t(1));
    EXPECT_EQ(messages_[0], "オープンエラー\n" + TempPath("missing.img") + ": ファイルがありません");
    EXPECT_TRUE(frame_->uiEnabled());

    // After the splash: the search starts with the deferred start-up message.
    QSignalSpy finished(controller_.get(), &SearchController::searchFinished);
    frame_->SearchImageAtStart(QString::fromStdString(BuildCard()), true);
    QTest::qWait(20);
    EXPECT_TRUE(finished.isEmpty());
    EXPECT_TRUE(frame_->uiEnabled());
    QMetaObject::invokeMethod(frame_.get(), &MainFrame::DeferredStart, Qt::QueuedConnection);
    ASSERT_TRUE(finished.wait(30000));
    EXPECT_EQ(finished.first().first().toInt(), 0);
    EXPECT_GE(grid_->cellCount(), 4);
    EXPECT_EQ(grid_->cellCount(), frame_->listPane()->shownRowCount());
}

}  // namespace
}  // namespace veld::guitest
