#include "ui/main/main_frame.h"

#include <QAction>
#include <QActionGroup>
#include <QApplication>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QDialog>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <QShowEvent>
#include <QSplitter>
#include <QStatusBar>
#include <QStyle>
#include <QToolBar>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>

#include <filesystem>
#include <utility>

#include "base/format_text.h"
#include "base/settings.h"
#include "base/trace.h"
#include "base/version.h"
#include "search/found_file_columns.h"
#include "search/work_folders.h"
#include "ui/data_files.h"
#include "ui/dialog_units.h"
#include "ui/found_file_filter.h"
#include "ui/found_file_model.h"
#include "ui/found_file_states.h"
#include "ui/message_boxes.h"
#include "ui/main/found_file_commands.h"
#include "ui/main/found_file_list.h"
#include "ui/main/found_file_tree.h"
#include "ui/main/save_dialog.h"
#include "ui/main/splash_window.h"
#include "ui/main/start_search.h"
#include "ui/picture_loader.h"
#include "ui/recent_images.h"
#include "ui/search_controller.h"
#include "ui/shell_open.h"
#include "ui/thumbs/disk_map_view.h"
#include "ui/thumbs/thumbnail_pane.h"
#include "ui/thumbs/thumbnail_grid.h"
#include "ui/unsaved_files_question.h"
#include "ui/viewers/help_browser.h"
#include "ui/viewers/preview_window.h"

namespace veld {

namespace {

// The text whose width sets the width of status pane 1: sixty digits.
const QString kPane1WidthText = QStringLiteral("012345678901234567890123456789012345678901234567890123456789");

// Toolbar buttons and their images in the toolbar strip.
constexpr int kButtonWidth = 71;
constexpr int kButtonHeight = 38;
enum ToolbarImage { ImgSearch = 0, ImgSave = 1, ImgThumbnails = 2, ImgList = 3, ImgSearchGrey = 5, ImgSaveGrey = 6 };

// One 64 x 32 image of the toolbar strip, light grey made transparent.
QPixmap ToolbarImage(const QImage& strip, int index) {
    if (strip.isNull()) return {};
    QImage part = strip.copy(index * kToolbarImageWidth, 0, kToolbarImageWidth, kToolbarImageHeight)
                      .convertToFormat(QImage::Format_ARGB32);
    // JPEG artefacts leave the grey slightly uneven: a small tolerance.
    for (int y = 0; y < part.height(); ++y) {
        auto* line = reinterpret_cast<QRgb*>(part.scanLine(y));
        for (int x = 0; x < part.width(); ++x) {
            QRgb c = line[x];
            if (qAbs(qRed(c) - 192) <= 6 && qAbs(qGreen(c) - 192) <= 6 && qAbs(qBlue(c) - 192) <= 6) line[x] = 0;
        }
    }
    return QPixmap::fromImage(part);
}

QIcon ToolbarIcon(const QImage& strip, int normal, int greyed) {
    QIcon icon;
    QPixmap on = ToolbarImage(strip, normal);
    if (on.isNull()) return icon;
    icon.addPixmap(on, QIcon::Normal);
    if (greyed >= 0) icon.addPixmap(ToolbarImage(strip, greyed), QIcon::Disabled);
    return icon;
}

// The about box: the application icon, the product name and the version.
class AboutDialog : public QDialog {
public:
    explicit AboutDialog(QWidget* parent) : QDialog(parent) {
        setObjectName(QStringLiteral("aboutDialog"));
        setWindowTitle(QStringLiteral("Veld のバージョン情報"));
        setFont(DialogFont());
        DialogUnits du = DialogUnitsOf(font());
        auto* icon = new QLabel;
        QIcon appIcon = QApplication::windowIcon();
        if (appIcon.isNull()) appIcon = style()->standardIcon(QStyle::SP_DriveHDIcon);
        icon->setPixmap(appIcon.pixmap(32, 32));
        auto* name = new QLabel(QStringLiteral("Veld"));
        auto* version = new QLabel(QString::fromLatin1(kVersionText));
        version->setObjectName(QStringLiteral("versionText"));
        auto* ok = new QPushButton(QStringLiteral("OK(&C)"));
        ok->setDefault(true);
        connect(ok, &QPushButton::clicked, this, &QDialog::accept);
        auto* texts = new QVBoxLayout;
        texts->addWidget(name);
        texts->addWidget(version);
        auto* row = new QHBoxLayout;
        row->addWidget(icon, 0, Qt::AlignTop);
        row->addLayout(texts, 1);
        row->addWidget(ok, 0, Qt::AlignTop);
        auto* layout = new QVBoxLayout(this);
        layout->addLayout(row);
        resize(du.size(217, 55));
    }
};

}  // namespace

// ---------------------------------------------------------------------------

RightPane::RightPane(SearchController& controller, FoundFileCommands& commands, QWidget* parent)
    : QStackedWidget(parent) {
    setObjectName(QStringLiteral("rightPaneFrame"));
    // The three views show the same rows with one selection.
    QItemSelectionModel* shown = controller.selection();
    list_ = new FoundFileList(controller, shown, this);
    thumbs_ = new ThumbnailPane(controller, shown, this);
    map_ = new DiskMapView(controller, shown, this);
    addWidget(list_);
    addWidget(thumbs_);
    addWidget(map_);

    // What the list and the grid ask for, the commands do.
    ThumbnailGrid* grid = thumbs_->grid();
    connect(list_, &FoundFileList::openRequested, &commands, &FoundFileCommands::openRow);
    connect(grid, &ThumbnailGrid::openRequested, &commands, &FoundFileCommands::openRow);
    connect(list_, &FoundFileList::contextMenuRequested, this,
            [this, &commands](const QPoint& global) { commands.popUpContextMenu(list_, global); });
    connect(grid, &ThumbnailGrid::contextMenuRequested, this,
            [grid, &commands](const QPoint& global) { commands.popUpContextMenu(grid, global); });
    ShowView(ViewThumbnails);
}

void RightPane::ShowView(int code) {
    if (code == current_) return;
    QWidget* view = nullptr;
    if (code == ViewList) view = list_;
    if (code == ViewThumbnails) view = thumbs_;
    if (code == ViewDiskMap) {
        map_->Reset();
        view = map_;
    }
    if (!view) return;
    setCurrentWidget(view);
    current_ = code;
}

// ---------------------------------------------------------------------------

MainFrame::MainFrame(SearchController& controller, QWidget* parent)
    : QMainWindow(parent), controller_(controller) {
    setObjectName(QStringLiteral("mainFrame"));
    setWindowTitle(QStringLiteral("Veld"));
    setFont(DialogFont());

    // Read when the client area is made: whether the preview remembers its
    // window rectangle.
    SetPreviewSavesWindowRect(ReadIniInt("VELD", "SaveWndPos", 1) != 0);

    helpPath_ = QString::fromStdString(
        DataFilePath(QCoreApplication::applicationDirPath().toStdString(), kHelpPageName));

    commands_ = new FoundFileCommands(controller_, controller_.selection(), this);
    splitter_ = new QSplitter(Qt::Horizontal, this);
    splitter_->setObjectName(QStringLiteral("paneSplitter"));
    splitter_->setChildrenCollapsible(false);
    tree_ = new FoundFileTree(controller_, *controller_.shownFiles(), splitter_);
    splitter_->addWidget(tree_);
    splitter_->addWidget(makeRightSide());
    splitter_->setStretchFactor(0, 0);
    splitter_->setStretchFactor(1, 1);
    setCentralWidget(splitter_);

    update_ = std::make_unique<UpdateCheckUi>(this);
    createActions();
    createMenus();
    createToolbar();
    createStatusBar();
    connect(&controller_, &SearchController::commandsEnabledChanged, this, &MainFrame::applyCommandsEnabled);
    connect(&controller_, &SearchController::searchFinished, this, &MainFrame::updateResultCommands);
    connect(&controller_, &SearchController::statusText, this, &MainFrame::showControllerStatus);
    for (auto signal : {&SearchController::searchStarted, &SearchController::resultsCleared})
        connect(&controller_, signal, this, &MainFrame::showResultsState);
    connect(&controller_, &SearchController::searchFinished, this, &MainFrame::showResultsState);
    connect(&controller_, &SearchController::searchFinished, this, &MainFrame::fitTreeToLabels);
    connect(splitter_, &QSplitter::splitterMoved, this, [this] { splitterMovedByUser_ = true; });
    connect(&controller_, &SearchController::filesSaved, this, &MainFrame::showSavedFolder);
    connect(controller_.selection(), &QItemSelectionModel::currentChanged, this, &MainFrame::showStateOfCurrent);
    connect(controller_.shownFiles(), &QAbstractItemModel::modelReset, this, &MainFrame::showStateOfCurrent);
    // An image handed over while the window was busy is searched once it is free.
    connect(&controller_, &SearchController::commandsEnabledChanged, this, [this](bool enabled) {
        if (enabled && !handedImage_.isEmpty()) QTimer::singleShot(0, this, &MainFrame::searchHandedImage);
    });
    applyCommandsEnabled(controller_.commandsEnabled());
    updateResultCommands();
    showResultsState();
    showStateOfCurrent();
    tree_->SetTabTitle();
    tree_->setFocus();
    // The built-in size grows with the font, within the screen.
    QSize size(ScaledWindowsPixels(900), ScaledWindowsPixels(600));
    if (QScreen* screen = QGuiApplication::primaryScreen()) size = size.boundedTo(screen->availableGeometry().size());
    resize(size);
}

MainFrame::~MainFrame() {
    ClearWorkFolders();
    std::error_code ignored;
    std::filesystem::remove(WorkFolderPath(), ignored);
}

SearchSession& MainFrame::session() const { return controller_.session(); }

FoundFileList* MainFrame::listPane() const { return right_ ? right_->listPane() : nullptr; }

ThumbnailPane* MainFrame::thumbnailPane() const { return right_ ? right_->thumbnailPane() : nullptr; }

QAction* MainFrame::makeAction(const char* name, const QString& text, void (MainFrame::*slot)()) {
    auto* action = new QAction(text, this);
    action->setObjectName(QString::fromLatin1(name));
    if (slot) connect(action, &QAction::triggered, this, slot);
    return action;
}

void MainFrame::createActions() {
    actStart_ = makeAction("startSearch", QStringLiteral("検索の開始(&F)"), &MainFrame::onStartSearch);
    actStart_->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_F));
    actClear_ = makeAction("clearResults", QStringLiteral("検索結果のクリア(&C)"), &MainFrame::onClearResults);
    actSave_ = makeAction("saveFoundFiles", QStringLiteral("見つかったファイルを保存(&S)"), &MainFrame::onSave);
    actSave_->setStatusTip(QStringLiteral("見つかったファイルを保存します"));
    actSave_->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_S));
    QAction* exit = makeAction("exit", QStringLiteral("アプリケーションの終了(&X)"), nullptr);
    exit->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q));
    connect(exit, &QAction::triggered, this, &QWidget::close);

    actThumbs_ = makeAction("showThumbnails", QStringLiteral("縮小画像(&H)"), &MainFrame::onShowThumbnails);
    actThumbs_->setCheckable(true);
    actThumbs_->setChecked(true);
    actThumbs_->setStatusTip(QStringLiteral("縮小表示します"));
    actList_ = makeAction("showList", QStringLiteral("詳細リスト(&L)"), &MainFrame::onShowList);
    actList_->setCheckable(true);
    actList_->setStatusTip(QStringLiteral("詳細リスト表示します"));
    actDiskMap_ = makeAction("showDiskMap", QStringLiteral("ディスクマップ"), &MainFrame::onShowDiskMap);
    actDiskMap_->setCheckable(true);
    actDiskMap_->setStatusTip(QStringLiteral("見つかったファイルをカード上の位置の順に表示します"));
    // The view items carry one check mark among them.
    auto* views = new QActionGroup(this);
    views->setExclusive(true);
    for (QAction* a : {actThumbs_, actList_, actDiskMap_}) views->addAction(a);

    makeAction("easyWizard", QStringLiteral("簡単復活ウィザードを開く(&W)"), &MainFrame::onEasyWizard);
    makeAction("saveDiskImage", QStringLiteral("ディスクイメージを保存(&S)"), &MainFrame::onSaveDiskImage);
    makeAction("restoreDiskImage", QStringLiteral("ディスクイメージからカードに書込"), &MainFrame::onRestoreDiskImage);
    makeAction("completeErase", QStringLiteral("完全消去(&D)"), &MainFrame::onCompleteErase);

    QAction* help = makeAction("help", QStringLiteral("ヘルプ(&H)"), &MainFrame::onHelp);
    help->setShortcut(QKeySequence(Qt::Key_F1));
    help->setShortcutContext(Qt::ApplicationShortcut);
    makeAction("updateCheck", QStringLiteral("製品のアップデート"), &MainFrame::onUpdateCheck);
    makeAction("homePage", QStringLiteral("Veld のホームページ"), &MainFrame::onHomePage);
    makeAction("about", QStringLiteral("ﾊﾞｰｼﾞｮﾝ情報(Veld) (&A)..."), &MainFrame::onAbout);
}

void MainFrame::createMenus() {
    auto Named = [this](const char* name) {
        return findChild<QAction*>(QString::fromLatin1(name), Qt::FindDirectChildrenOnly);
    };
    fileMenu_ = menuBar()->addMenu(QStringLiteral("ファイル(&F)"));
    fileMenu_->addAction(actStart_);
    fileMenu_->addAction(actClear_);
    fileMenu_->addAction(actSave_);
    fileMenu_->addSeparator();
    recentMenu_ = fileMenu_->addMenu(QStringLiteral("最近検索したディスクイメージ(&R)"));
    recentMenu_->setObjectName(QStringLiteral("recentImages"));
    connect(recentMenu_, &QMenu::aboutToShow, this, &MainFrame::fillRecentMenu);
    fillRecentMenu();
    fileMenu_->addSeparator();
    fileMenu_->addAction(Named("exit"));

    viewMenu_ = menuBar()->addMenu(QStringLiteral("表示(&V)"));
    viewMenu_->addAction(actThumbs_);
    viewMenu_->addAction(actList_);
    viewMenu_->addAction(actDiskMap_);

    toolsMenu_ = menuBar()->addMenu(QStringLiteral("ツール(&T)"));
    toolsMenu_->addAction(Named("easyWizard"));
    toolsMenu_->addSeparator();
    toolsMenu_->addAction(Named("saveDiskImage"));
    toolsMenu_->addAction(Named("restoreDiskImage"));
    toolsMenu_->addSeparator();
    toolsMenu_->addAction(Named("completeErase"));

    helpMenu_ = menuBar()->addMenu(QStringLiteral("ﾍﾙﾌﾟ(&H)"));
    helpMenu_->addAction(Named("help"));
    helpMenu_->addAction(Named("updateCheck"));
    helpMenu_->addAction(Named("homePage"));
    helpMenu_->addSeparator();
    helpMenu_->addAction(Named("about"));
}

void MainFrame::createToolbar() {
    toolbar_ = new QToolBar(QStringLiteral("ツールバー"), this);
    toolbar_->setObjectName(QStringLiteral("mainToolbar"));
    toolbar_->setMovable(true);
    toolbar_->setAllowedAreas(Qt::AllToolBarAreas);
    toolbar_->setIconSize(QSize(kToolbarImageWidth, kToolbarImageHeight));
    toolbar_->setToolButtonStyle(Qt::ToolButtonIconOnly);
    addToolBar(Qt::TopToolBarArea, toolbar_);

    QImage strip;
    LoadPicture(Picture::Toolbar, &strip);

    tbSearch_ = makeAction("toolbarSearch", QStringLiteral("検索の開始"), &MainFrame::onToolbarSearch);
    tbSearch_->setIcon(ToolbarIcon(strip, ImgSearch, ImgSearchGrey));
    tbSearch_->setToolTip(QStringLiteral("削除したファイルを検索します"));
    tbSearch_->setStatusTip(QStringLiteral("削除したファイルを検索します"));

    tbSave_ = makeAction("toolbarSave", QStringLiteral("保存"), &MainFrame::onToolbarSave);
    tbSave_->setIcon(ToolbarIcon(strip, ImgSave, ImgSaveGrey));
    tbSave_->setToolTip(QStringLiteral("見つかったファイルを保存します"));
    tbSave_->setStatusTip(QStringLiteral("見つかったファイルを保存します"));

    tbThumbs_ = makeAction("toolbarThumbnails", QStringLiteral("縮小画像"), &MainFrame::onShowThumbnails);
    tbThumbs_->setIcon(ToolbarIcon(strip, ImgThumbnails, -1));
    tbThumbs_->setCheckable(true);
    tbThumbs_->setChecked(true);
    tbThumbs_->setToolTip(QStringLiteral("縮小表示します"));
    tbThumbs_->setStatusTip(QStringLiteral("縮小表示します"));

    tbList_ = makeAction("toolbarList", QStringLiteral("詳細リスト"), &MainFrame::onShowList);
    tbList_->setIcon(ToolbarIcon(strip, ImgList, -1));
    tbList_->setCheckable(true);
    tbList_->setToolTip(QStringLiteral("詳細リスト表示します"));
    tbList_->setStatusTip(QStringLiteral("詳細リスト表示します"));
    // The view buttons form a group in which one is pressed (none while the
    // disk map, which has no button, is shown).
    auto* views = new QActionGroup(this);
    views->setExclusionPolicy(QActionGroup::ExclusionPolicy::ExclusiveOptional);
    views->addAction(tbThumbs_);
    views->addAction(tbList_);

    toolbar_->addAction(tbSearch_);
    toolbar_->addAction(tbSave_);
    toolbar_->addSeparator();
    toolbar_->addAction(tbThumbs_);
    toolbar_->addAction(tbList_);
    for (QAction* a : {tbSearch_, tbSave_, tbThumbs_, tbList_})
        if (QWidget* button = toolbar_->widgetForAction(a)) button->setFixedSize(kButtonWidth, kButtonHeight);
}

void MainFrame::createStatusBar() {
    QStatusBar* bar = statusBar();
    readyLabel_ = new QLabel(QStringLiteral("ﾚﾃﾞｨ"));
    readyLabel_->setObjectName(QStringLiteral("statusPane0"));
    bar->addWidget(readyLabel_, 1);
    pane1_ = new QLabel(QStringLiteral(" "));
    pane1_->setObjectName(QStringLiteral("statusPane1"));
    pane1_->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    pane1_->setMinimumWidth(pane1_->fontMetrics().horizontalAdvance(kPane1WidthText));
    // The folder of the last save and a button that opens it, until the
    // next search.
    savedFolder_ = new QLabel;
    savedFolder_->setObjectName(QStringLiteral("savedFolder"));
    savedFolder_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    openSaved_ = new QToolButton;
    openSaved_->setObjectName(QStringLiteral("openSavedFolder"));
    openSaved_->setText(QStringLiteral("フォルダを開く"));
    openSaved_->setToolTip(QStringLiteral("保存したファイルのフォルダを開きます"));
    openSaved_->setAutoRaise(true);
    connect(openSaved_, &QToolButton::clicked, this, [this] { OpenFolderWithDesktop(controller_, lastSavedFolder_); });
    savedFolder_->hide();
    openSaved_->hide();
    bar->addPermanentWidget(savedFolder_);
    bar->addPermanentWidget(openSaved_);
    bar->addPermanentWidget(pane1_);
}

QWidget* MainFrame::makeRightSide() {
    auto* side = new QWidget(splitter_);
    auto* layout = new QVBoxLayout(side);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    partialBand_ = new QLabel(QStringLiteral(
        "検索を中断しました。表示しているのは中断までに見つかったファイルだけです。"
        "カード全体を調べるには、もう一度検索してください。"));
    partialBand_->setObjectName(QStringLiteral("partialBand"));
    partialBand_->setWordWrap(true);
    partialBand_->setMargin(6);
    partialBand_->setStyleSheet(QStringLiteral("QLabel { background: #fff3c4; color: #5a4300; border-bottom: 1px solid #e0c060; }"));
    partialBand_->hide();
    right_ = new RightPane(controller_, *commands_, side);
    stateLine_ = new QLabel;
    stateLine_->setObjectName(QStringLiteral("stateLine"));
    stateLine_->setWordWrap(true);
    stateLine_->setTextFormat(Qt::RichText);
    stateLine_->setMargin(4);
    layout->addWidget(partialBand_);
    layout->addWidget(right_, 1);
    layout->addWidget(stateLine_);
    return side;
}

void MainFrame::showResultsState() {
    // The results of a cancelled search are part of what the card holds.
    partialBand_->setVisible(controller_.lastSearchCancelled() && !controller_.running());
    const QString source = controller_.sourceName();
    setWindowTitle(source.isEmpty() ? QStringLiteral("Veld") : QStringLiteral("Veld - %1").arg(source));
    if (controller_.running() || controller_.foundFiles()->rowCount() == 0) {
        savedFolder_->hide();
        openSaved_->hide();
    }
}

void MainFrame::showStateOfCurrent() {
    // The current file's state and what it promises; without one, what the
    // state groups mean.
    const QModelIndex current = controller_.selection()->currentIndex();
    const int index = current.isValid() ? controller_.shownFiles()->recordOfRow(current.row()) : -1;
    const DelFileInfo* record = index >= 0 ? controller_.session().gcDelFileList.Get(size_t(index)) : nullptr;
    auto dot = [](const QColor& colour) {
        return QStringLiteral("<span style=\"color:%1\">&#9679;</span>").arg(colour.name());
    };
    if (record) {
        const StateLook& look = StateLookOf(*record);
        const QString state = QString::fromStdString(FoundFileStateText(*record));
        stateLine_->setText(QStringLiteral("%1 状態「%2」: %3")
                                .arg(dot(QColor(look.colour)), (state.isEmpty() ? QStringLiteral("不明") : state).toHtmlEscaped(),
                                     QString::fromUtf8(look.explanation).toHtmlEscaped()));
        return;
    }
    QStringList groups;
    for (int group = 0; group < kStateGroupCount; ++group)
        groups << QStringLiteral("%1 %2: %3")
                      .arg(dot(StateGroupColour(StateGroup(group))), StateGroupName(StateGroup(group)),
                           StateGroupPromise(StateGroup(group)));
    stateLine_->setText(groups.join(QStringLiteral("&nbsp;&nbsp;&nbsp;")));
}

void MainFrame::showSavedFolder(const QString& folder, int saved, int failed, bool cancelled) {
    lastSavedFolder_ = folder;
    QString text = QStringLiteral("%1 個のファイルを %2 に保存しました").arg(saved).arg(folder);
    if (failed > 0) text += QStringLiteral(" (保存できなかったファイル %1 個)").arg(failed);
    if (cancelled) text = QStringLiteral("保存を中断しました (%1)").arg(text);
    statusBar()->showMessage(text);
    savedFolder_->setText(QStringLiteral("保存先: %1").arg(folder));
    savedFolder_->setToolTip(folder);
    savedFolder_->show();
    openSaved_->show();
}

void MainFrame::fillRecentMenu() {
    recentMenu_->clear();
    const std::vector<std::string> images = RecentImages();
    int number = 1;
    for (const std::string& path : images) {
        const QString image = QString::fromStdString(path);
        // "&1 card.img (/home/u/cards)": the name first, its folder after it.
        QAction* item = recentMenu_->addAction(QStringLiteral("&%1 %2  (%3)")
                                                   .arg(number++)
                                                   .arg(QFileInfo(image).fileName(), QFileInfo(image).absolutePath()));
        item->setData(image);
        connect(item, &QAction::triggered, this, [this, image] {
            if (!controller_.commandsEnabled()) return;
            if (!QFileInfo::exists(image)) {
                ForgetRecentImage(image.toStdString());
                MessageBoxText("ディスクイメージを開けません\n%s\nファイルがありません", image.toUtf8().constData());
                return;
            }
            StartSearchOfImage(controller_, this, image.toStdString());
        });
    }
    if (images.empty()) recentMenu_->addAction(QStringLiteral("(なし)"))->setEnabled(false);
}

void MainFrame::closeEvent(QCloseEvent* event) {
    const bool close = controller_.running()
                           ? AskYesNo(this, QStringLiteral("検索中です。検索を中止して終了しますか？"))
                           : MayDropUnsavedFiles(controller_, this, QStringLiteral("保存せずに終了しますか？"));
    if (!close) {
        event->ignore();
        return;
    }
    QMainWindow::closeEvent(event);
}

void MainFrame::SetStatusText(int pane, const QString& text) {
    if (pane != 1 || !pane1_) return;
    pane1_->setText(text);
    pane1_->repaint();
}

QString MainFrame::statusText(int pane) const {
    if (pane == 1 && pane1_) return pane1_->text();
    if (pane == 0) {
        QString message = statusBar()->currentMessage();
        return message.isEmpty() && readyLabel_ ? readyLabel_->text() : message;
    }
    return {};
}

void MainFrame::showControllerStatus(int pane, const QString& text) {
    if (pane == 1) {
        SetStatusText(1, text);
        return;
    }
    if (text.isEmpty())
        statusBar()->clearMessage();
    else
        statusBar()->showMessage(text);
}

void MainFrame::EnableMainUi(bool enabled) { controller_.setCommandsEnabled(enabled); }

bool MainFrame::uiEnabled() const { return controller_.commandsEnabled(); }

bool MainFrame::resultsAvailable() const { return controller_.resultsAvailable(); }

void MainFrame::applyCommandsEnabled(bool enabled) {
    // File, View and Tools grey out; Help stays usable.
    fileMenu_->menuAction()->setEnabled(enabled);
    viewMenu_->menuAction()->setEnabled(enabled);
    toolsMenu_->menuAction()->setEnabled(enabled);
    tbSearch_->setEnabled(enabled);
    tbSave_->setEnabled(enabled && controller_.resultsAvailable());
    menuBar()->update();
}

void MainFrame::updateResultCommands() {
    const bool available = controller_.resultsAvailable();
    actClear_->setEnabled(available);
    actSave_->setEnabled(available);
    tbSave_->setEnabled(controller_.commandsEnabled() && available);
}

void MainFrame::ShowRightView(int code) {
    if (right_) right_->ShowView(code);
}

void MainFrame::showEvent(QShowEvent* event) {
    QMainWindow::showEvent(event);
    if (splitterSized_) return;
    splitterSized_ = true;
    // The tree takes a fifth of the client width, or what its root node needs
    // when that is more (up to half); the right pane the rest.
    const int width = splitter_->width();
    const int tree = qBound(width / 5, tree_->preferredWidth(), width / 2);
    splitter_->setSizes({tree, qMax(100, width - tree)});
}

void MainFrame::fitTreeToLabels() {
    // The found groups' labels are longer than the root's: the tree grows to
    // show them whole (up to two fifths of the window), unless the user has
    // set the panes' widths.
    if (splitterMovedByUser_ || !splitterSized_) return;
    const QList<int> sizes = splitter_->sizes();
    const int width = splitter_->width();
    const int tree = qMin(tree_->preferredWidth(), width * 2 / 5);
    if (sizes.size() == 2 && tree > sizes[0]) splitter_->setSizes({tree, qMax(100, width - tree)});
}

void MainFrame::onStartSearch() {
    // Also reached by its shortcut, which a greyed menu does not stop.
    if (controller_.commandsEnabled()) StartSearch(controller_, this);
}

void MainFrame::OpenHandedImage(const QString& imagePath) {
    if (isMinimized()) showNormal();
    raise();
    activateWindow();
    handedImage_ = imagePath;
    if (!controller_.commandsEnabled()) {
        statusBar()->showMessage(QStringLiteral("%1 は今の作業が終わってから検索します").arg(imagePath));
        return;
    }
    searchHandedImage();
}

void MainFrame::searchHandedImage() {
    if (handedImage_.isEmpty() || !controller_.commandsEnabled()) return;
    const QString image = std::exchange(handedImage_, QString());
    StartSearchOfImage(controller_, this, image.toStdString());
}

void MainFrame::SearchImageAtStart(const QString& imagePath, bool afterSplash) {
    auto search = [this, imagePath] {
        if (controller_.commandsEnabled()) StartSearchOfImage(controller_, this, imagePath.toStdString());
    };
    if (afterSplash) {
        startImage_ = imagePath;
        return;
    }
    QTimer::singleShot(0, this, search);
}

void MainFrame::onToolbarSearch() {
    if (controller_.commandsEnabled()) onStartSearch();
}

void MainFrame::onClearResults() {
    if (controller_.commandsEnabled()) controller_.clearResults();
}

void MainFrame::onSave() {
    if (controller_.commandsEnabled() && controller_.resultsAvailable())
        SaveFoundFiles(this, controller_, controller_.selection());
}

void MainFrame::onToolbarSave() {
    if (controller_.commandsEnabled() && controller_.resultsAvailable()) onSave();
}

void MainFrame::onShowList() {
    actList_->setChecked(true);
    tbList_->setChecked(true);
    ShowRightView(RightPane::ViewList);
}

void MainFrame::onShowThumbnails() {
    actThumbs_->setChecked(true);
    tbThumbs_->setChecked(true);
    ShowRightView(RightPane::ViewThumbnails);
    if (ThumbnailPane* thumbs = thumbnailPane()) thumbs->grid()->RedrawThumbnails();
}

void MainFrame::onShowDiskMap() {
    actDiskMap_->setChecked(true);
    tbThumbs_->setChecked(false);
    tbList_->setChecked(false);
    ShowRightView(RightPane::ViewDiskMap);
}

HelpBrowser* MainFrame::helpBrowser() const { return helpBrowser_.data(); }

void MainFrame::showHelpInside(const QString& path) {
    if (!helpBrowser_) helpBrowser_ = new HelpBrowser(this);
    if (!helpBrowser_->ShowPage(path)) {
        MessageBoxText("ヘルプファイル %s を表示できません", path.toUtf8().constData());
        helpBrowser_->close();
        return;
    }
    helpBrowser_->show();
    helpBrowser_->raise();
    helpBrowser_->activateWindow();
}

void MainFrame::onHelp() {
    // Without a browser or a program to open it, the page shows in Veld.
    if (FileExists(helpPath_.toStdString())) {
        if (!ShellOpen(helpPath_)) showHelpInside(helpPath_);
        return;
    }
    QFile page(QStringLiteral(":/HELP/160"));
    if (!page.open(QIODevice::ReadOnly)) {
        MessageBoxText("ヘルプファイル %s が見つかりません", helpPath_.toUtf8().constData());
        return;
    }
    QByteArray bytes = page.readAll();
    std::string folder = EtcFolderPath();
    MakeFolderPath(folder);
    QString path = QDir(QString::fromStdString(folder)).filePath(QStringLiteral("tmphelp.html"));
    QFile out(path);
    if (out.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        out.write(bytes);
        out.close();
    }
    helpPath_ = path;
    if (!ShellOpen(helpPath_)) showHelpInside(helpPath_);
}

void MainFrame::onAbout() {
    AboutDialog dialog(this);
    dialog.exec();
}

SplashWindow* MainFrame::splash() const { return splash_.data(); }

SplashWindow* MainFrame::ShowSplash() {
    if (splash_) return nullptr;
    splash_ = new SplashWindow;
    // Run once the splash's own handling is over, as a posted message would.
    connect(splash_, &SplashWindow::closed, this, &MainFrame::DeferredStart, Qt::QueuedConnection);
    connect(splash_, &SplashWindow::closed, this, [this] { update(); });
    splash_->start();
    return splash_;
}

}  // namespace veld
