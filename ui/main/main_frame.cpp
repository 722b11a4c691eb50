#include "ui/main/main_frame.h"

#include <QAction>
#include <QActionGroup>
#include <QApplication>
#include <QCoreApplication>
#include <QDialog>
#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
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
#include "search/work_folders.h"
#include "ui/data_files.h"
#include "ui/dialog_units.h"
#include "ui/found_file_filter.h"
#include "ui/main/found_file_commands.h"
#include "ui/main/found_file_list.h"
#include "ui/main/found_file_tree.h"
#include "ui/main/save_dialog.h"
#include "ui/main/splash_window.h"
#include "ui/main/start_search.h"
#include "ui/picture_loader.h"
#include "ui/search_controller.h"
#include "ui/shell_open.h"
#include "ui/thumbs/sect_view.h"
#include "ui/thumbs/thumb_list_view.h"
#include "ui/thumbs/thumb_list_wnd.h"
#include "ui/viewers/preview_window.h"

namespace veld {

namespace {

// The text whose width sets the width of status pane 1: sixty digits.
const QString kPane1WidthText = QStringLiteral("012345678901234567890123456789012345678901234567890123456789");

// Toolbar buttons and their images in picture 166.
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
class CAboutDlg : public QDialog {
public:
    explicit CAboutDlg(QWidget* parent) : QDialog(parent) {
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

CRightPaneFrame::CRightPaneFrame(SearchController& controller, FoundFileCommands& commands, QWidget* parent)
    : QStackedWidget(parent) {
    setObjectName(QStringLiteral("rightPaneFrame"));
    // The three views show the same rows with one selection.
    QItemSelectionModel* shown = controller.selection();
    list_ = new CWListView(controller, shown, this);
    thumbs_ = new CThumListView(controller, shown, this);
    map_ = new CSectView(controller, shown, this);
    addWidget(list_);
    addWidget(thumbs_);
    addWidget(map_);

    // What the list and the grid ask for, the commands do.
    CThumListWnd2* grid = thumbs_->grid();
    connect(list_, &CWListView::openRequested, &commands, &FoundFileCommands::openRow);
    connect(grid, &CThumListWnd2::openRequested, &commands, &FoundFileCommands::openRow);
    connect(list_, &CWListView::contextMenuRequested, this,
            [this, &commands](const QPoint& global) { commands.popUpContextMenu(list_, global); });
    connect(grid, &CThumListWnd2::contextMenuRequested, this,
            [grid, &commands](const QPoint& global) { commands.popUpContextMenu(grid, global); });
    ShowView(ViewThumbnails);
}

void CRightPaneFrame::ShowView(int code) {
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

CMainFrame::CMainFrame(SearchController& controller, QWidget* parent)
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
    tree_ = new CWTreeDlgView(controller_, *controller_.shownFiles(), splitter_);
    right_ = new CRightPaneFrame(controller_, *commands_, splitter_);
    splitter_->addWidget(tree_);
    splitter_->addWidget(right_);
    splitter_->setStretchFactor(0, 0);
    splitter_->setStretchFactor(1, 1);
    setCentralWidget(splitter_);

    update_ = std::make_unique<UpdateCheckUi>(this);
    createActions();
    createMenus();
    createToolbar();
    createStatusBar();
    connect(&controller_, &SearchController::commandsEnabledChanged, this, &CMainFrame::applyCommandsEnabled);
    connect(&controller_, &SearchController::searchFinished, this, &CMainFrame::updateResultCommands);
    connect(&controller_, &SearchController::statusText, this, &CMainFrame::showControllerStatus);
    applyCommandsEnabled(controller_.commandsEnabled());
    updateResultCommands();
    tree_->SetTabTitle();
    tree_->setFocus();
    // The built-in size grows with the font, within the screen.
    QSize size(ScaledWindowsPixels(900), ScaledWindowsPixels(600));
    if (QScreen* screen = QGuiApplication::primaryScreen()) size = size.boundedTo(screen->availableGeometry().size());
    resize(size);
}

CMainFrame::~CMainFrame() {
    ClearWorkFolders();
    std::error_code ignored;
    std::filesystem::remove(WorkFolderPath(), ignored);
}

SearchSession& CMainFrame::session() const { return controller_.session(); }

CWListView* CMainFrame::listPane() const { return right_ ? right_->listPane() : nullptr; }

CThumListView* CMainFrame::thumbnailPane() const { return right_ ? right_->thumbnailPane() : nullptr; }

QAction* CMainFrame::makeAction(const char* name, const QString& text, void (CMainFrame::*slot)()) {
    auto* action = new QAction(text, this);
    action->setObjectName(QString::fromLatin1(name));
    if (slot) connect(action, &QAction::triggered, this, slot);
    return action;
}

void CMainFrame::createActions() {
    actStart_ = makeAction("startSearch", QStringLiteral("検索の開始(&F)"), &CMainFrame::onStartSearch);
    actClear_ = makeAction("clearResults", QStringLiteral("検索結果のクリア(&C)"), &CMainFrame::onClearResults);
    actSave_ = makeAction("saveFoundFiles", QStringLiteral("見つかったファイルを保存(&S)"), &CMainFrame::onSave);
    actSave_->setStatusTip(QStringLiteral("見つかったファイルを保存します"));
    QAction* exit = makeAction("exit", QStringLiteral("アプリケーションの終了(&X)"), nullptr);
    connect(exit, &QAction::triggered, this, &QWidget::close);

    actThumbs_ = makeAction("showThumbnails", QStringLiteral("縮小画像(&H)"), &CMainFrame::onShowThumbnails);
    actThumbs_->setCheckable(true);
    actThumbs_->setChecked(true);
    actThumbs_->setStatusTip(QStringLiteral("縮小表示します"));
    actList_ = makeAction("showList", QStringLiteral("詳細リスト(&L)"), &CMainFrame::onShowList);
    actList_->setCheckable(true);
    actList_->setStatusTip(QStringLiteral("詳細リスト表示します"));
    actDiskMap_ = makeAction("showDiskMap", QStringLiteral("ディスクマップ"), &CMainFrame::onShowDiskMap);
    actDiskMap_->setCheckable(true);
    actDiskMap_->setStatusTip(QStringLiteral("見つかったファイルをカード上の位置の順に表示します"));
    // The view items carry one check mark among them.
    auto* views = new QActionGroup(this);
    views->setExclusive(true);
    for (QAction* a : {actThumbs_, actList_, actDiskMap_}) views->addAction(a);

    makeAction("easyWizard", QStringLiteral("簡単復活ウィザードを開く(&W)"), &CMainFrame::onEasyWizard);
    makeAction("saveDiskImage", QStringLiteral("ディスクイメージを保存(&S)"), &CMainFrame::onSaveDiskImage);
    makeAction("restoreDiskImage", QStringLiteral("ディスクイメージからカードに書込"), &CMainFrame::onRestoreDiskImage);
    makeAction("completeErase", QStringLiteral("完全消去(&D)"), &CMainFrame::onCompleteErase);

    QAction* help = makeAction("help", QStringLiteral("ヘルプ(&H)"), &CMainFrame::onHelp);
    help->setShortcut(QKeySequence(Qt::Key_F1));
    help->setShortcutContext(Qt::ApplicationShortcut);
    makeAction("updateCheck", QStringLiteral("製品のアップデート"), &CMainFrame::onUpdateCheck);
    makeAction("homePage", QStringLiteral("Veld のホームページ"), &CMainFrame::onHomePage);
    makeAction("about", QStringLiteral("ﾊﾞｰｼﾞｮﾝ情報(Veld) (&A)..."), &CMainFrame::onAbout);
}

void CMainFrame::createMenus() {
    auto Named = [this](const char* name) {
        return findChild<QAction*>(QString::fromLatin1(name), Qt::FindDirectChildrenOnly);
    };
    fileMenu_ = menuBar()->addMenu(QStringLiteral("ファイル(&F)"));
    fileMenu_->addAction(actStart_);
    fileMenu_->addAction(actClear_);
    fileMenu_->addAction(actSave_);
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

void CMainFrame::createToolbar() {
    toolbar_ = new QToolBar(QStringLiteral("ツールバー"), this);
    toolbar_->setObjectName(QStringLiteral("mainToolbar"));
    toolbar_->setMovable(true);
    toolbar_->setAllowedAreas(Qt::AllToolBarAreas);
    toolbar_->setIconSize(QSize(kToolbarImageWidth, kToolbarImageHeight));
    toolbar_->setToolButtonStyle(Qt::ToolButtonIconOnly);
    addToolBar(Qt::TopToolBarArea, toolbar_);

    QImage strip;
    LoadJpegResource(PicToolbar, &strip);

    tbSearch_ = makeAction("toolbarSearch", QStringLiteral("検索の開始"), &CMainFrame::onToolbarSearch);
    tbSearch_->setIcon(ToolbarIcon(strip, ImgSearch, ImgSearchGrey));
    tbSearch_->setToolTip(QStringLiteral("削除したファイルを検索します"));
    tbSearch_->setStatusTip(QStringLiteral("削除したファイルを検索します"));

    tbSave_ = makeAction("toolbarSave", QStringLiteral("保存"), &CMainFrame::onToolbarSave);
    tbSave_->setIcon(ToolbarIcon(strip, ImgSave, ImgSaveGrey));
    tbSave_->setToolTip(QStringLiteral("見つかったファイルを保存します"));
    tbSave_->setStatusTip(QStringLiteral("見つかったファイルを保存します"));

    tbThumbs_ = makeAction("toolbarThumbnails", QStringLiteral("縮小画像"), &CMainFrame::onShowThumbnails);
    tbThumbs_->setIcon(ToolbarIcon(strip, ImgThumbnails, -1));
    tbThumbs_->setCheckable(true);
    tbThumbs_->setChecked(true);
    tbThumbs_->setToolTip(QStringLiteral("縮小表示します"));
    tbThumbs_->setStatusTip(QStringLiteral("縮小表示します"));

    tbList_ = makeAction("toolbarList", QStringLiteral("詳細リスト"), &CMainFrame::onShowList);
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

void CMainFrame::createStatusBar() {
    QStatusBar* bar = statusBar();
    readyLabel_ = new QLabel(QStringLiteral("ﾚﾃﾞｨ"));
    readyLabel_->setObjectName(QStringLiteral("statusPane0"));
    bar->addWidget(readyLabel_, 1);
    pane1_ = new QLabel(QStringLiteral(" "));
    pane1_->setObjectName(QStringLiteral("statusPane1"));
    pane1_->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    pane1_->setMinimumWidth(pane1_->fontMetrics().horizontalAdvance(kPane1WidthText));
    bar->addPermanentWidget(pane1_);
}

void CMainFrame::SetStatusText(int pane, const QString& text) {
    if (pane != 1 || !pane1_) return;
    pane1_->setText(text);
    pane1_->repaint();
}

QString CMainFrame::statusText(int pane) const {
    if (pane == 1 && pane1_) return pane1_->text();
    if (pane == 0) {
        QString message = statusBar()->currentMessage();
        return message.isEmpty() && readyLabel_ ? readyLabel_->text() : message;
    }
    return {};
}

void CMainFrame::showControllerStatus(int pane, const QString& text) {
    if (pane == 1) {
        SetStatusText(1, text);
        return;
    }
    if (text.isEmpty())
        statusBar()->clearMessage();
    else
        statusBar()->showMessage(text);
}

void CMainFrame::EnableMainUi(bool enabled) { controller_.setCommandsEnabled(enabled); }

bool CMainFrame::uiEnabled() const { return controller_.commandsEnabled(); }

bool CMainFrame::resultsAvailable() const { return controller_.resultsAvailable(); }

void CMainFrame::applyCommandsEnabled(bool enabled) {
    // File, View and Tools grey out; Help stays usable.
    fileMenu_->menuAction()->setEnabled(enabled);
    viewMenu_->menuAction()->setEnabled(enabled);
    toolsMenu_->menuAction()->setEnabled(enabled);
    tbSearch_->setEnabled(enabled);
    tbSave_->setEnabled(enabled && controller_.resultsAvailable());
    menuBar()->update();
}

void CMainFrame::updateResultCommands() {
    const bool available = controller_.resultsAvailable();
    actClear_->setEnabled(available);
    actSave_->setEnabled(available);
    tbSave_->setEnabled(controller_.commandsEnabled() && available);
}

void CMainFrame::ShowRightView(int code) {
    if (right_) right_->ShowView(code);
}

void CMainFrame::showEvent(QShowEvent* event) {
    QMainWindow::showEvent(event);
    if (splitterSized_) return;
    splitterSized_ = true;
    // The tree takes a fifth of the client width, or what its root node needs
    // when that is more (up to half); the right pane the rest.
    const int width = splitter_->width();
    const int tree = qBound(width / 5, tree_->preferredWidth(), width / 2);
    splitter_->setSizes({tree, qMax(100, width - tree)});
}

void CMainFrame::onStartSearch() { StartSearch(controller_, this); }

void CMainFrame::SearchImageAtStart(const QString& imagePath, bool afterSplash) {
    auto search = [this, imagePath] {
        if (controller_.commandsEnabled()) StartSearchOfImage(controller_, this, imagePath.toStdString());
    };
    if (afterSplash) {
        startImage_ = imagePath;
        return;
    }
    QTimer::singleShot(0, this, search);
}

void CMainFrame::onToolbarSearch() {
    if (controller_.commandsEnabled()) onStartSearch();
}

void CMainFrame::onClearResults() { controller_.clearResults(); }

void CMainFrame::onSave() { SaveFoundFiles(this, controller_, controller_.selection()); }

void CMainFrame::onToolbarSave() {
    if (controller_.commandsEnabled() && controller_.resultsAvailable()) onSave();
}

void CMainFrame::onShowList() {
    actList_->setChecked(true);
    tbList_->setChecked(true);
    ShowRightView(CRightPaneFrame::ViewList);
}

void CMainFrame::onShowThumbnails() {
    actThumbs_->setChecked(true);
    tbThumbs_->setChecked(true);
    ShowRightView(CRightPaneFrame::ViewThumbnails);
    if (CThumListView* thumbs = thumbnailPane()) thumbs->grid()->RedrawThumbnails();
}

void CMainFrame::onShowDiskMap() {
    actDiskMap_->setChecked(true);
    tbThumbs_->setChecked(false);
    tbList_->setChecked(false);
    ShowRightView(CRightPaneFrame::ViewDiskMap);
}

void CMainFrame::onHelp() {
    if (FileExists(helpPath_.toStdString())) {
        ShellOpen(helpPath_);
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
    ShellOpen(helpPath_);
}

void CMainFrame::onAbout() {
    CAboutDlg dialog(this);
    dialog.exec();
}

CSplashWnd* CMainFrame::splash() const { return splash_.data(); }

CSplashWnd* CMainFrame::ShowSplash() {
    if (splash_) return nullptr;
    splash_ = new CSplashWnd;
    // Run once the splash's own handling is over, as a posted message would.
    connect(splash_, &CSplashWnd::closed, this, &CMainFrame::DeferredStart, Qt::QueuedConnection);
    connect(splash_, &CSplashWnd::closed, this, [this] { update(); });
    splash_->start();
    return splash_;
}

}  // namespace veld
