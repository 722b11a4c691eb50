// The main window: its menus, toolbar and panes, and a whole search driven
// through it (start, found files fed to the list, finish, errors, cancel);
// the filters beside the tree, closing with files not saved, recent images
// and an image handed over by a second "veld IMAGE".
#include "found_files_fixture.h"  // first: see there

#include <QAction>
#include <QCheckBox>
#include <QDialog>
#include <QDir>
#include <fstream>
#include <QHeaderView>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QProcess>
#include <QProcessEnvironment>
#include <QPushButton>
#include <QSplitter>
#include <QStyle>
#include <QTest>
#include <QTextBrowser>
#include <QToolBar>
#include <QMouseEvent>
#include <QTreeWidget>
#include <QTreeWidgetItemIterator>

#include "base/settings.h"
#include "search/found_file_columns.h"
#include "ui/main/found_file_list.h"
#include "ui/main/found_file_tree.h"
#include "ui/main/instance_guard.h"
#include "ui/message_boxes.h"
#include "ui/recent_images.h"
#include "ui/found_file_filter.h"
#include "ui/found_file_states.h"
#include "ui/found_file_model.h"
#include "ui/main/splash_window.h"
#include "ui/thumbs/thumbnail_pane.h"
#include "ui/viewers/help_browser.h"
#include "ui/search/search_start_dlg.h"
#include "ui/search/sel_drive_dlg.h"

namespace veld::guitest {
namespace {

QStringList ActionTexts(QMenu* menu) {
    QStringList texts;
    for (QAction* a : menu->actions())
        if (!a->isSeparator()) texts << a->text();
    return texts;
}

// The tree's nodes below a node, by text.
QStringList ChildTexts(QTreeWidgetItem* node) {
    QStringList texts;
    for (int i = 0; i < node->childCount(); ++i) texts << node->child(i)->text(0);
    return texts;
}

TEST_F(MainFrameTest, WindowHasCaptionMenusToolbarStatusAndPanes) {
    EXPECT_EQ(frame_->windowTitle(), QStringLiteral("Veld"));

    QStringList menus;
    for (QAction* a : frame_->menuBar()->actions()) menus << a->text();
    EXPECT_EQ(menus, (QStringList{"ファイル(&F)", "表示(&V)", "ツール(&T)", "ﾍﾙﾌﾟ(&H)"}));
    EXPECT_EQ(ActionTexts(frame_->fileMenu()),
              (QStringList{"検索の開始(&F)", "検索結果のクリア(&C)", "見つかったファイルを保存(&S)",
                           "最近検索したディスクイメージ(&R)", "アプリケーションの終了(&X)"}));
    EXPECT_EQ(Action("startSearch")->shortcut(), QKeySequence(QStringLiteral("Ctrl+F")));
    EXPECT_EQ(Action("saveFoundFiles")->shortcut(), QKeySequence(QStringLiteral("Ctrl+S")));
    EXPECT_EQ(Action("exit")->shortcut(), QKeySequence(QStringLiteral("Ctrl+Q")));
    // The thumbnails are shown at start.
    EXPECT_EQ(ActionTexts(frame_->viewMenu()), (QStringList{"縮小画像(&H)", "詳細リスト(&L)", "ディスクマップ"}));
    EXPECT_TRUE(Action("showThumbnails")->isChecked());
    EXPECT_FALSE(Action("showList")->isChecked());
    EXPECT_EQ(ActionTexts(frame_->helpMenu()),
              (QStringList{"ヘルプ(&H)", "製品のアップデート", "Veld のホームページ", "ﾊﾞｰｼﾞｮﾝ情報(Veld) (&A)..."}));

    // Nothing found yet: clear and save are greyed, search is available.
    EXPECT_FALSE(Action("clearResults")->isEnabled());
    EXPECT_FALSE(Action("saveFoundFiles")->isEnabled());
    EXPECT_TRUE(Action("toolbarSearch")->isEnabled());
    EXPECT_FALSE(Action("toolbarSave")->isEnabled());

    QList<QAction*> buttons = frame_->toolbar()->actions();
    ASSERT_EQ(buttons.size(), 5);
    EXPECT_EQ(buttons[0]->objectName(), QStringLiteral("toolbarSearch"));
    EXPECT_EQ(buttons[1]->objectName(), QStringLiteral("toolbarSave"));
    EXPECT_TRUE(buttons[2]->isSeparator());
    EXPECT_EQ(buttons[3]->objectName(), QStringLiteral("toolbarThumbnails"));
    EXPECT_EQ(buttons[4]->objectName(), QStringLiteral("toolbarList"));
    EXPECT_TRUE(buttons[3]->isChecked());
    EXPECT_FALSE(buttons[4]->isChecked());
    EXPECT_EQ(frame_->toolbar()->iconSize(), QSize(64, 32));
    EXPECT_EQ(frame_->toolbar()->widgetForAction(buttons[0])->size(), QSize(71, 38));
    EXPECT_EQ(buttons[0]->statusTip(), QStringLiteral("削除したファイルを検索します"));
    EXPECT_FALSE(buttons[0]->icon().isNull());

    EXPECT_EQ(frame_->statusText(0), QStringLiteral("ﾚﾃﾞｨ"));
    EXPECT_EQ(frame_->statusText(1), QStringLiteral(" "));
    frame_->SetStatusText(1, QStringLiteral("abc"));
    EXPECT_EQ(frame_->statusText(1), QStringLiteral("abc"));
    frame_->SetStatusText(0, QStringLiteral("ignored"));
    EXPECT_EQ(frame_->statusText(1), QStringLiteral("abc"));

    // Tree on the left at a fifth of the width (or what its root needs), the
    // thumbnails on the right.
    ASSERT_EQ(frame_->splitter()->count(), 2);
    EXPECT_EQ(frame_->splitter()->widget(0), frame_->treePane());
    EXPECT_TRUE(frame_->splitter()->widget(1)->isAncestorOf(frame_->rightFrame()));
    QList<int> sizes = frame_->splitter()->sizes();
    int total = sizes[0] + sizes[1];
    EXPECT_GE(sizes[0], total / 5 - 10);
    EXPECT_LE(sizes[0], total / 2);
    EXPECT_EQ(frame_->rightFrame()->currentWidget(), frame_->thumbnailPane());

    QTreeWidgetItem* root = frame_->treePane()->rootNode();
    ASSERT_NE(root, nullptr);
    EXPECT_EQ(root->text(0), QStringLiteral("見つかったファイル(0)"));
    EXPECT_EQ(ChildTexts(root), (QStringList{"画像ファイル", "その他"}));

    FoundFileList* list = frame_->listPane();
    ASSERT_EQ(list->model()->columnCount(), 11);
    QStringList headings;
    for (int c = 0; c < 11; ++c) headings << list->model()->headerData(c, Qt::Horizontal).toString();
    EXPECT_EQ(headings, (QStringList{"ファイル名", "拡張子", "サイズ", "フォルダ", "更新日付", "状態", "位置",
                                     "画像ｻｲｽﾞ", "機種", "GPS", "備考"}));
    // The built-in widths, grown with the font.
    EXPECT_GE(list->columnWidth(0), 200);
    EXPECT_GE(list->columnWidth(2), 80);
    EXPECT_GE(list->columnWidth(6), 60);
}

TEST_F(MainFrameTest, DefaultWidthsShowTheHeadingsAndTheTreeRootWhole) {
    for (int c = 0; c < 11; ++c) WriteIniInt("Config", "ListWidth" + std::to_string(c), -1);
    frame_ = std::make_unique<MainFrame>(*controller_);
    frame_->show();
    QCoreApplication::processEvents();

    FoundFileList* list = frame_->listPane();
    QHeaderView* header = list->header();
    const QFontMetrics metrics(header->font());
    const int margins = 2 * header->style()->pixelMetric(QStyle::PM_HeaderMargin, nullptr, header);
    for (int c = 0; c < 11; ++c) {
        const QString heading = list->model()->headerData(c, Qt::Horizontal).toString();
        EXPECT_EQ(metrics.elidedText(heading, Qt::ElideRight, list->columnWidth(c) - margins), heading)
            << heading.toStdString() << " in " << list->columnWidth(c);
    }

    // The root and its groups fit the pane, with room for a four-digit count.
    QTreeWidget* tree = frame_->treePane()->tree();
    const int room = tree->viewport()->width() - tree->fontMetrics().horizontalAdvance(QStringLiteral("000"));
    QTreeWidgetItem* root = frame_->treePane()->rootNode();
    ASSERT_NE(root, nullptr);
    auto fits = [&](QTreeWidgetItem* node, int room) {
        const int right = tree->visualItemRect(node).left() + tree->sizeHintForIndex(tree->indexFromItem(node)).width();
        EXPECT_LE(right, room) << node->text(0).toStdString();
    };
    for (QTreeWidgetItem* node : {root, root->child(0), root->child(1)}) fits(node, room);

    // After a search the pane grows so that the found kinds' labels (".JPG
    // [( 2)JPEG 画像]") are whole too; once the user has set the panes'
    // widths, a search leaves them.
    ASSERT_EQ(SearchAndWait(BuildCard()), 0);
    QCoreApplication::processEvents();
    for (QTreeWidgetItemIterator it(tree); *it; ++it)
        if (tree->visualItemRect(*it).isValid()) fits(*it, tree->viewport()->width());
    const int widened = frame_->splitter()->sizes()[0];
    // The user drags the handle 60 pixels to the left.
    QSplitterHandle* handle = frame_->splitter()->handle(1);
    const QPoint grip = handle->rect().center();
    QTest::mousePress(handle, Qt::LeftButton, Qt::NoModifier, grip);
    QMouseEvent drag(QEvent::MouseMove, QPointF(grip - QPoint(60, 0)), handle->mapToGlobal(QPointF(grip - QPoint(60, 0))),
                     Qt::NoButton, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(handle, &drag);
    QTest::mouseRelease(handle, Qt::LeftButton, Qt::NoModifier, grip - QPoint(60, 0));
    const int userWidth = frame_->splitter()->sizes()[0];
    ASSERT_LT(userWidth, widened);
    ASSERT_EQ(SearchAndWait(BuildCard()), 0);
    EXPECT_EQ(frame_->splitter()->sizes()[0], userWidth);
}

TEST_F(MainFrameTest, SearchFillsTreeAndListWithTheEngineRecords) {
    std::string card = BuildCard();
    ChooseSource(card);
    QSignalSpy finished(controller_.get(), &SearchController::searchFinished);
    frame_->onStartSearch();
    // While the worker runs the commands are greyed.
    EXPECT_FALSE(frame_->uiEnabled());
    EXPECT_FALSE(frame_->fileMenu()->menuAction()->isEnabled());
    EXPECT_FALSE(frame_->viewMenu()->menuAction()->isEnabled());
    EXPECT_TRUE(frame_->helpMenu()->menuAction()->isEnabled());
    EXPECT_FALSE(frame_->treePane()->isEnabled());
    EXPECT_FALSE(Action("toolbarSearch")->isEnabled());
    ASSERT_TRUE(finished.wait(30000));
    EXPECT_EQ(finished.first().first().toInt(), 0);

    EXPECT_TRUE(frame_->uiEnabled());
    EXPECT_TRUE(frame_->resultsAvailable());
    EXPECT_TRUE(Action("clearResults")->isEnabled());
    EXPECT_TRUE(Action("toolbarSave")->isEnabled());
    EXPECT_EQ(frame_->statusText(1), QStringLiteral(" "));
    EXPECT_EQ(ShownSearchProgress(), nullptr);
    EXPECT_TRUE(messages_.empty()) << messages_.front();

    // Every listed record appears once, in list order, with the engine's texts.
    FoundFileList* list = frame_->listPane();
    std::vector<int> expected;
    frame_->session().gcDelFileList.ForEach([&](DelFileInfo& r) {
        if (r.listed) expected.push_back(r.index);
        return true;
    });
    ASSERT_GE(expected.size(), 4u);
    EXPECT_EQ(list->rowRecords(), expected);
    for (int row = 0; row < list->shownRowCount(); ++row) {
        DelFileInfo* record = list->RecordOfRow(row);
        ASSERT_NE(record, nullptr);
        for (int c = 0; c < 11; ++c)
            EXPECT_EQ(list->cellText(row, c).toStdString(), FoundFileColumnText(*record, c))
                << "row " << row << " col " << c;
    }
    // The deleted photo with EXIF shows its model and picture size.
    bool sawB = false, sawLong = false;
    for (int row = 0; row < list->shownRowCount(); ++row) {
        DelFileInfo* record = list->RecordOfRow(row);
        if (record->fileSize == photoB_.size() && record->folder && !record->folder->empty()) {
            sawB = true;
            EXPECT_EQ(list->cellText(row, 0), QStringLiteral("#       .JPG"));
            EXPECT_EQ(list->cellText(row, 5), QStringLiteral("良"));
            EXPECT_EQ(list->cellText(row, 7), QStringLiteral("  320x  240"));
            EXPECT_EQ(list->cellText(row, 8), QStringLiteral("TESTCAM-1"));
            EXPECT_EQ(list->cellText(row, 4), QStringLiteral("2020/05/06 07:08:10"));
        }
        if (list->cellText(row, 0) == QStringLiteral("休日の写真.jpg")) sawLong = true;
    }
    EXPECT_TRUE(sawB);
    EXPECT_TRUE(sawLong);

    // The tree counts what was found and groups the extensions.
    QTreeWidgetItem* root = frame_->treePane()->rootNode();
    EXPECT_EQ(root->text(0), QStringLiteral("見つかったファイル(%1)").arg(frame_->session().FoundCount.load()));
    ASSERT_EQ(root->childCount(), 2);
    QTreeWidgetItem* pictures = root->child(0);
    QTreeWidgetItem* others = root->child(1);
    ASSERT_GE(pictures->childCount(), 1);
    EXPECT_TRUE(pictures->child(0)->text(0).startsWith(QStringLiteral(".JPG [(")));
    ASSERT_GE(others->childCount(), 1);
    EXPECT_TRUE(others->child(0)->text(0).startsWith(QStringLiteral(".TXT [(  1)")));

    // Selecting the text files' node leaves only them in the list.
    frame_->treePane()->tree()->setCurrentItem(others->child(0));
    EXPECT_EQ(controller_->shownFiles()->filter().node, int(NodeOtherExtension));
    EXPECT_EQ(controller_->shownFiles()->filter().extension, "TXT");
    ASSERT_EQ(list->shownRowCount(), 1);
    EXPECT_EQ(list->RecordOfRow(0)->fileSize, note_.size());
    // The pictures group shows every picture and nothing else.
    frame_->treePane()->tree()->setCurrentItem(pictures);
    EXPECT_EQ(controller_->shownFiles()->filter().node, int(NodePictures));
    for (int row = 0; row < list->shownRowCount(); ++row)
        EXPECT_EQ(list->RecordOfRow(row)->isImage, 1);
    EXPECT_EQ(list->shownRowCount(), int(expected.size()) - 1);
    // The commands are usable again after the refill's progress closed.
    EXPECT_TRUE(frame_->uiEnabled());

    // Clearing empties tree and list; the results flag stays.
    frame_->onClearResults();
    EXPECT_EQ(frame_->treePane()->rootNode()->text(0), QStringLiteral("見つかったファイル(0)"));
    ASSERT_EQ(frame_->treePane()->rootNode()->childCount(), 2);
    EXPECT_EQ(frame_->treePane()->rootNode()->child(0)->childCount(), 0);
    EXPECT_EQ(frame_->treePane()->rootNode()->child(1)->childCount(), 0);
    EXPECT_EQ(list->shownRowCount(), 0);
    EXPECT_TRUE(Action("clearResults")->isEnabled());
}

TEST_F(MainFrameTest, FoundFileMessagesFeedOneRowEach) {
    ASSERT_EQ(SearchAndWait(BuildCard()), 0);
    FoundFileList* list = frame_->listPane();
    const int all = list->shownRowCount();
    ASSERT_GE(all, 3);
    // Replay the feeding: empty the views, then deliver two 3026 messages.
    controller_->foundFiles()->clear();
    frame_->session().shownCount = 0;
    controller_->messageTarget()->PostMessage(MsgFoundFile, 0, 0);
    controller_->messageTarget()->PostMessage(MsgFoundFile, 0, 0);
    QCoreApplication::sendPostedEvents(controller_.get());
    EXPECT_EQ(list->shownRowCount(), 2);
    EXPECT_EQ(frame_->session().shownCount.load(), 2);
    EXPECT_EQ(list->rowRecords(), (std::vector<int>{0, 1}));
    // More messages than entries add nothing further.
    for (int i = 0; i < all + 3; ++i) controller_->messageTarget()->PostMessage(MsgFoundFile, 0, 0);
    QCoreApplication::sendPostedEvents(controller_.get());
    EXPECT_EQ(list->shownRowCount(), all);
}

TEST_F(MainFrameTest, NothingFoundIsReportedUnlessCancelled) {
    std::string empty = BuildEmptyCard();
    EXPECT_EQ(SearchAndWait(empty), 0);
    ASSERT_EQ(messages_.size(), 1u);
    EXPECT_EQ(messages_[0], "ファイルは見つかりませんでした");
    // A search that ended with code 0 leaves clear and save usable.
    EXPECT_TRUE(Action("clearResults")->isEnabled());
    EXPECT_TRUE(Action("saveFoundFiles")->isEnabled());

    // The progress window's Cancel stops the search; no message.
    messages_.clear();
    ChooseSource(empty);
    QSignalSpy finished(controller_.get(), &SearchController::searchFinished);
    frame_->onStartSearch();
    SearchProgressWindow* progress = ShownSearchProgress();
    ASSERT_NE(progress, nullptr);
    EXPECT_EQ(frame_->session().cancelFlag.load(), 0);
    QTest::mouseClick(progress->cancelButton(), Qt::LeftButton);
    EXPECT_EQ(frame_->session().cancelFlag.load(), 1);
    ASSERT_TRUE(finished.count() > 0 || finished.wait(30000));
    EXPECT_EQ(finished.first().first().toInt(), 0);
    EXPECT_TRUE(messages_.empty());
    EXPECT_TRUE(frame_->uiEnabled());
    // The results are said to be partial, over the views and in the status
    // bar; the title names the image.
    EXPECT_TRUE(frame_->partialBand()->isVisible());
    EXPECT_TRUE(frame_->statusText(0).startsWith(QStringLiteral("検索を中断しました"))) << frame_->statusText(0).toStdString();
    EXPECT_EQ(frame_->windowTitle(), QStringLiteral("Veld - empty.img"));
    // A search that ends says so, and the band goes.
    ASSERT_EQ(SearchAndWait(BuildCard()), 0);
    EXPECT_FALSE(frame_->partialBand()->isVisible());
    EXPECT_TRUE(frame_->statusText(0).startsWith(QStringLiteral("検索が終了しました")));
    EXPECT_EQ(frame_->windowTitle(), QStringLiteral("Veld - card.img"));
    Action("clearResults")->trigger();
    EXPECT_EQ(frame_->windowTitle(), QStringLiteral("Veld"));
}

TEST_F(MainFrameTest, FiltersByStateAndKindShowTheirCountsAndNarrowTheViews) {
    ASSERT_EQ(SearchAndWait(BuildCard()), 0);
    FoundFileTree* tree = frame_->treePane();
    FoundFileList* list = frame_->listPane();
    const int all = list->shownRowCount();
    int pictures = 0;
    for (int row = 0; row < all; ++row)
        if (KindGroupOf(*list->RecordOfRow(row)) == KindGroup::Pictures) ++pictures;
    ASSERT_GT(pictures, 0);
    ASSERT_LT(pictures, all);
    EXPECT_EQ(tree->kindBox(int(KindGroup::Pictures))->text(), QStringLiteral("画像 (%1)").arg(pictures));
    EXPECT_EQ(tree->stateBox(int(StateGroup::Good))->text(), QStringLiteral("良 (%1)").arg(all));

    // One file whose clusters a newer one took, one whose bytes do not fit
    // its entry: overwritten and damaged.
    DelFileInfo* taken = list->RecordOfRow(0);
    taken->state = StateOverwritten;
    DelFileInfo* mismatched = list->RecordOfRow(1);
    mismatched->state = StateMismatch;
    controller_->foundFiles()->setRows(std::vector<int>(controller_->foundFiles()->rows()));
    EXPECT_EQ(tree->stateBox(int(StateGroup::Overwritten))->text(), QStringLiteral("上書き (1)"));
    EXPECT_EQ(tree->stateBox(int(StateGroup::Damaged))->text(), QStringLiteral("破損 (1)"));
    EXPECT_EQ(tree->stateBox(int(StateGroup::Good))->text(), QStringLiteral("良 (%1)").arg(all - 2));

    // Unticking "良" leaves those two; unticking the pictures too leaves
    // what is neither.
    QCheckBox* good = tree->stateBox(int(StateGroup::Good));
    QTest::mouseClick(good, Qt::LeftButton, Qt::NoModifier, QPoint(5, good->height() / 2));
    ASSERT_EQ(list->shownRowCount(), 2);
    EXPECT_EQ(list->RecordOfRow(0), taken);
    EXPECT_EQ(list->RecordOfRow(1), mismatched);
    QTest::mouseClick(good, Qt::LeftButton, Qt::NoModifier, QPoint(5, good->height() / 2));
    EXPECT_EQ(list->shownRowCount(), all);
    QCheckBox* kind = tree->kindBox(int(KindGroup::Pictures));
    QTest::mouseClick(kind, Qt::LeftButton, Qt::NoModifier, QPoint(5, kind->height() / 2));
    EXPECT_EQ(list->shownRowCount(), all - pictures);
    // The state counts follow the kinds shown.
    int goodOthers = 0;
    for (int row = 0; row < list->shownRowCount(); ++row)
        if (StateLookOf(*list->RecordOfRow(row)).group == StateGroup::Good) ++goodOthers;
    EXPECT_EQ(good->text(), QStringLiteral("良 (%1)").arg(goodOthers));
    // The tree's node keeps the boxes; a new search ticks them all again.
    ASSERT_EQ(SearchAndWait(BuildCard()), 0);
    EXPECT_TRUE(kind->isChecked());
    EXPECT_EQ(list->shownRowCount(), all);
}

// Found files not saved yet go only after the question: closing, the
// toolbar's search and a recent image all ask it, and No keeps the list.
TEST_F(MainFrameTest, FilesNotSavedGoOnlyAfterAskingAndRecentImagesSearchAgain) {
    const std::string card = BuildCard();
    ASSERT_EQ(SearchAndWait(card), 0);
    const std::vector<int> rows = frame_->listPane()->rowRecords();
    asked_.clear();
    answerYes_ = false;
    EXPECT_FALSE(frame_->close());
    EXPECT_TRUE(frame_->isVisible());
    ChooseSource(card);
    QTest::mouseClick(frame_->toolbar()->widgetForAction(Action("toolbarSearch")), Qt::LeftButton);
    // The image is offered again in the File menu.
    ASSERT_FALSE(RecentImages().empty());
    EXPECT_EQ(RecentImages().front(), card);
    emit frame_->recentMenu()->aboutToShow();
    QList<QAction*> items = frame_->recentMenu()->actions();
    ASSERT_FALSE(items.isEmpty());
    EXPECT_EQ(items[0]->data().toString().toStdString(), card);
    items[0]->trigger();

    ASSERT_EQ(asked_.size(), 3u);
    const QString unsaved = QStringLiteral("見つかったファイル (%1 個) はまだ保存されていません。\n")
                                .arg(frame_->session().FoundCount.load());
    EXPECT_EQ(asked_[0], unsaved + QStringLiteral("保存せずに終了しますか？"));
    const QString again = unsaved + QStringLiteral("検索結果を消して %1 を検索しますか？").arg(QString::fromStdString(card));
    EXPECT_EQ(asked_[1], again);
    EXPECT_EQ(asked_[2], again);
    EXPECT_FALSE(controller_->running());
    EXPECT_EQ(frame_->listPane()->rowRecords(), rows);
    EXPECT_TRUE(controller_->unsavedFiles());

    // Yes: the recent image is searched again.
    answerYes_ = true;
    QSignalSpy finished(controller_.get(), &SearchController::searchFinished);
    items[0]->trigger();
    ASSERT_TRUE(finished.count() > 0 || finished.wait(30000));
    EXPECT_EQ(finished.first().first().toInt(), 0);
    EXPECT_EQ(asked_.size(), 4u);
    EXPECT_TRUE(frame_->close());
    EXPECT_EQ(asked_.size(), 5u);
}

// "veld IMAGE" while a window runs: the new process hands the image over and
// ends; the window searches it.
TEST_F(MainFrameTest, ImageGivenToASecondVeldIsSearchedByTheRunningWindow) {
    QTemporaryDir temp;
    ASSERT_TRUE(temp.isValid());
    InstanceGuard running(temp.path());
    ASSERT_TRUE(running.acquire());
    ASSERT_TRUE(running.listen([this](const QString& image) { frame_->OpenHandedImage(image); }));
    const std::string card = BuildCard();

    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("TMPDIR"), temp.path());
    QProcess second;
    second.setProcessEnvironment(env);
    QSignalSpy ended(&second, &QProcess::finished);
    QSignalSpy finished(controller_.get(), &SearchController::searchFinished);
    second.start(QStringLiteral(VELD_GUI_PATH), {QString::fromStdString(card)});
    ASSERT_TRUE(ended.wait(30000));
    EXPECT_EQ(second.exitCode(), 0) << second.readAllStandardError().toStdString();
    ASSERT_TRUE(finished.count() > 0 || finished.wait(30000));
    EXPECT_EQ(finished.first().first().toInt(), 0);
    EXPECT_EQ(frame_->windowTitle(), QStringLiteral("Veld - card.img"));
    EXPECT_GE(frame_->listPane()->shownRowCount(), 4);
}

TEST_F(MainFrameTest, ClustersLeftUnexaminedAreToldInTheStatusBarAndAMessage) {
    // The image ends a megabyte before the volume it holds does.
    const std::string card = BuildCard();
    std::filesystem::resize_file(card, 3u << 20);
    messages_.clear();
    ASSERT_EQ(SearchAndWait(card), 0);
    ASSERT_EQ(frame_->session().notExamined.size(), 1u);
    const ClusterRange range = frame_->session().notExamined[0];
    ASSERT_EQ(messages_.size(), 1u);
    EXPECT_NE(messages_[0].find("カードの一部を検査できませんでした"), std::string::npos) << messages_[0];
    EXPECT_NE(messages_[0].find(NotExaminedText(range.first, range.last, range.reason)), std::string::npos)
        << messages_[0];
    EXPECT_TRUE(frame_->statusText(0).endsWith(QStringLiteral("(検査できなかったクラスタがあります: 1 範囲)")))
        << frame_->statusText(0).toStdString();
    EXPECT_TRUE(frame_->resultsAvailable());

    // A search of the whole card clears the notice.
    messages_.clear();
    ASSERT_EQ(SearchAndWait(BuildCard()), 0);
    EXPECT_TRUE(messages_.empty());
    EXPECT_EQ(frame_->statusText(0),
              QStringLiteral("検索が終了しました: 見つかったファイル %1 個").arg(frame_->session().FoundCount.load()));
}

TEST_F(MainFrameTest, UnreadableSourceShowsTheErrorAndGreysResults) {
    ASSERT_EQ(SearchAndWait(BuildCard()), 0);
    EXPECT_TRUE(frame_->resultsAvailable());
    messages_.clear();
    EXPECT_EQ(SearchAndWait(TempPath("no-such-card.img")), -1);
    ASSERT_EQ(messages_.size(), 1u);
    // The message names the source and why it would not open.
    EXPECT_EQ(messages_[0], "検索中にエラーが発生しました \n(ドライブが開けません\n"
                            "他のアプリケーションがドライブを使っていないか確認してください。)\n" +
                                TempPath("no-such-card.img") + ": ファイルがありません");
    EXPECT_FALSE(frame_->resultsAvailable());
    EXPECT_FALSE(Action("clearResults")->isEnabled());
    EXPECT_FALSE(Action("saveFoundFiles")->isEnabled());
    EXPECT_FALSE(Action("toolbarSave")->isEnabled());
    EXPECT_TRUE(frame_->uiEnabled());
    EXPECT_EQ(frame_->listPane()->shownRowCount(), 0);
}

// A file opened as a card image that is no use to a search is refused
// before one starts, saying why and naming it in Japanese, and is not
// offered again as a recent image; a raw card (no file system) is searched.
TEST_F(MainFrameTest, FilesThatAreNoCardImageAreRefusedSayingWhy) {
    const std::string text = [] {
        std::string lines;
        while (lines.size() < 20000) lines += "IMG_0001.JPG 2024-05-06 3.2 MB\n";
        return lines;
    }();
    struct Case {
        const char* name;
        std::string bytes;  // none: a folder
        const char* says;
    };
    const Case cases[] = {
        {"empty.img", "", "空のファイルです (0 バイト)"},
        {"short.img", std::string(300, '\xAB'), "カードのイメージとしては小さすぎます (300 バイト。"},
        {"list.txt", text, "カードのイメージではありません (テキストファイルです)"},
        {"folder.img", {}, "オープンエラー"},
    };
    for (const Case& c : cases) {
        const std::string path = TempPath(c.name);
        if (std::string(c.name) == "folder.img")
            QDir().mkpath(QString::fromStdString(path));
        else
            std::ofstream(path, std::ios::binary) << c.bytes;
        messages_.clear();
        EXPECT_EQ(StartSearchOfImage(*controller_, frame_.get(), path), int(SearchOptionsCancelled)) << c.name;
        EXPECT_FALSE(controller_->running());
        ASSERT_EQ(messages_.size(), 1u) << c.name;
        EXPECT_NE(messages_[0].find(path), std::string::npos) << messages_[0];
        EXPECT_NE(messages_[0].find(c.says), std::string::npos) << messages_[0];
        const std::vector<std::string> recent = RecentImages();
        EXPECT_EQ(std::find(recent.begin(), recent.end(), path), recent.end()) << c.name;
    }
    // The system's reason is told in Japanese.
    EXPECT_NE(messages_[0].find("フォルダです"), std::string::npos) << messages_[0];

    // Sectors without a file system that hold a photo: searched, and found.
    const std::vector<uint8_t> photo = veld::test::MakeTestJpeg(320, 240);
    std::vector<uint8_t> raw(64 * 1024, 0);
    std::copy(photo.begin(), photo.end(), raw.begin() + 8 * 512);
    std::ofstream(TempPath("raw.img"), std::ios::binary).write(reinterpret_cast<const char*>(raw.data()), std::streamsize(raw.size()));
    messages_.clear();
    QSignalSpy finished(controller_.get(), &SearchController::searchFinished);
    ASSERT_EQ(StartSearchOfImage(*controller_, frame_.get(), TempPath("raw.img")), int(SearchStarted));
    ASSERT_TRUE(finished.wait(30000));
    EXPECT_TRUE(messages_.empty()) << messages_.front();
    EXPECT_GE(frame_->session().FoundCount.load(), 1);
}

TEST_F(MainFrameTest, CancelledDriveSelectionTouchesNothing) {
    ASSERT_EQ(SearchAndWait(BuildCard()), 0);
    const int rows = frame_->listPane()->shownRowCount();
    SetSearchSourceForTest([](char*, std::string*, SearchOptions*) { return false; });
    EXPECT_EQ(StartSearch(*controller_, frame_.get()), int(SearchDriveCancelled));
    frame_->onStartSearch();
    EXPECT_TRUE(frame_->uiEnabled());
    EXPECT_EQ(frame_->listPane()->shownRowCount(), rows);
    EXPECT_EQ(ShownSearchProgress(), nullptr);
}

TEST_F(MainFrameTest, SearchThroughTheDriveAndOptionsDialogs) {
    std::string card = BuildCard();
    CSelDriveDlg::SetDriveListerForTest([] { return std::vector<RemovableDrive>{}; });
    CSelDriveDlg::SetFileChooserForTest(
        [card](const QString&, const QString&, const QString&, bool open) { return open ? QString::fromStdString(card) : QString(); });
    // First the drive selection: choose the image file; then the options: start.
    bool sawDrive = false, sawOptions = false;
    WhenModalAppears([&](QWidget* modal) {
        auto* drive = qobject_cast<CSelDriveDlg*>(modal);
        if (!drive) {
            modal->close();
            return;
        }
        sawDrive = true;
        drive->imageFileButton()->click();
        WhenModalAppears([&](QWidget* next) {
            auto* options = qobject_cast<CSearchStartDlg*>(next);
            if (!options) {
                next->close();
                return;
            }
            sawOptions = true;
            options->startButton()->click();
        });
    });
    QSignalSpy finished(controller_.get(), &SearchController::searchFinished);
    frame_->onStartSearch();
    CSelDriveDlg::SetDriveListerForTest(nullptr);
    CSelDriveDlg::SetFileChooserForTest(nullptr);
    EXPECT_TRUE(sawDrive);
    ASSERT_TRUE(sawOptions);
    ASSERT_TRUE(finished.count() > 0 || finished.wait(30000));
    EXPECT_EQ(finished.first().first().toInt(), 0);
    EXPECT_EQ(size_t(frame_->listPane()->shownRowCount()), frame_->session().gcDelFileList.Count());
    EXPECT_GE(frame_->listPane()->shownRowCount(), 4);
}

TEST(FoundFileTreeFilter, ExtensionOfNodeTextAndRecordMatching) {
    EXPECT_EQ(FilterExtensionOfNodeText(".JPG [(  3)JPEG 画像]"), "JPG");
    EXPECT_EQ(FilterExtensionOfNodeText(".mov [(  1)QuickTime]"), "MOV");
    // Files without extension: the blanks trim to nothing, which stands for three blanks.
    EXPECT_EQ(FilterExtensionOfNodeText(".    [(  2)ﾌｧｲﾙ]"), "   ");
    // The last " [" counts; a text without one selects the empty extension.
    EXPECT_EQ(FilterExtensionOfNodeText(".A [B [(  1)x]"), "A [B");
    EXPECT_EQ(FilterExtensionOfNodeText(".JPG(  1)"), "");
    EXPECT_EQ(FilterExtensionOfNodeText(""), "");

    // Mode 1 after a rebuild shows every listed record, never an unlisted one.
    SearchController controller;
    DisplayFilter pictures;
    pictures.node = NodePictures;
    controller.shownFiles()->setFilter(pictures);
    FoundFileTree pane(controller, *controller.shownFiles());
    const DisplayFilter& filter = controller.shownFiles()->filter();
    EXPECT_EQ(filter.node, int(NodeAll));
    DelFileInfo record;
    record.listed = 1;
    record.isImage = 1;
    record.extension = "JPG";
    EXPECT_TRUE(filter.Passes(record));
    record.listed = 0;
    EXPECT_FALSE(filter.Passes(record));
}

TEST_F(MainFrameTest, HelpOpensTheHelpFileOrSaysItIsMissing) {
    frame_->setHelpPath(QString::fromStdString(TempPath("doc/VELD.HTM")));
    frame_->onHelp();
    ASSERT_EQ(messages_.size(), 1u);
    EXPECT_EQ(messages_[0], "ヘルプファイル " + TempPath("doc/VELD.HTM") + " が見つかりません");
    EXPECT_TRUE(opened_.empty());

    QDir().mkpath(QString::fromStdString(TempPath("doc")));
    std::ofstream(TempPath("doc/VELD.HTM")) << "<html></html>";
    frame_->onHelp();
    ASSERT_EQ(opened_.size(), 1u);
    EXPECT_EQ(opened_[0].toStdString(), TempPath("doc/VELD.HTM"));

    // Nothing on the desktop opens it (no browser, no opener): F1 shows the
    // page in Veld.
    std::ofstream(TempPath("doc/VELD.HTM")) << "<html><body><h1>Veld help</h1></body></html>";
    SetShellOpenerForTest([](const QString&) { return false; });
    frame_->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(frame_.get()));
    QTest::keyClick(frame_.get(), Qt::Key_F1);
    ASSERT_NE(frame_->helpBrowser(), nullptr);
    EXPECT_TRUE(frame_->helpBrowser()->isVisible());
    EXPECT_TRUE(frame_->helpBrowser()->browser()->toPlainText().contains(QStringLiteral("Veld help")));
    EXPECT_EQ(messages_.size(), 1u);
}

TEST_F(MainFrameTest, AboutBoxShowsTheVersion) {
    QString version;
    WhenModalAppears([&](QWidget* modal) {
        if (auto* label = modal->findChild<QLabel*>(QStringLiteral("versionText"))) version = label->text();
        qobject_cast<QDialog*>(modal)->accept();
    });
    frame_->onAbout();
    EXPECT_EQ(version, QStringLiteral("V2.100"));
}

TEST_F(MainFrameTest, SplashPostsDeferredStartOnceOnInputOrTimer) {
    // The deferred start opens no wizard here (the wizard has its own tests).
    WriteIniInt("Config", "NotOpenEasyWiz", 1);
    QSignalSpy deferred(frame_.get(), &MainFrame::deferredStartReceived);
    SplashWindow* splash = frame_->ShowSplash();
    ASSERT_NE(splash, nullptr);
    EXPECT_EQ(frame_->ShowSplash(), nullptr);  // one at a time
    QTest::keyClick(frame_.get(), Qt::Key_A);
    ASSERT_TRUE(deferred.wait(5000));
    EXPECT_EQ(deferred.count(), 1);
    EXPECT_TRUE(QTest::qWaitFor([this] { return frame_->splash() == nullptr; }, 5000));

    // Without input the timer closes it.
    ASSERT_NE(frame_->ShowSplash(), nullptr);
    ASSERT_TRUE(deferred.wait(5000));
    EXPECT_EQ(deferred.count(), 2);
    WriteIniInt("Config", "NotOpenEasyWiz", 0);
}

}  // namespace
}  // namespace veld::guitest
