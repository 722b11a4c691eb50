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
#include "search/search_driver.h"
#include "search/work_folders.h"
#include "ui/data_files.h"
#include "ui/dialog_units.h"
#include "ui/main/found_file_list.h"
#include "ui/main/found_file_tree.h"
#include "ui/main/easy_wizard.h"
#include "ui/main/save_dialog.h"
#include "ui/main/start_search.h"
#include "ui/picture_loader.h"
#include "ui/search/search_progress_window.h"
#include "ui/shell_open.h"
#include "ui/thumbs/file_drag.h"
#include "ui/thumbs/sect_view.h"
#include "ui/thumbs/thumb_list_view.h"
#include "ui/thumbs/thumb_list_wnd.h"
#include "ui/viewers/preview_window.h"
#include "volume/cluster_map.h"

namespace veld {

namespace {

CMainFrame* gMainFrame = nullptr;

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

CRightPaneFrame::CRightPaneFrame(SearchSession* session, QWidget* parent) : QStackedWidget(parent) {
    setObjectName(QStringLiteral("rightPaneFrame"));
    list_ = new CWListView(session, this);
    thumbs_ = new CThumListView(session, this);
    map_ = new CSectView(session, this);
    addWidget(list_);
    addWidget(thumbs_);
    addWidget(map_);

    // The grid and the map show the list's rows and share its selection;
    // what they do with a file is what the list does.
    CThumListWnd2* grid = thumbs_->grid();
    grid->setSelectionModel(list_->selectionModel());
    map_->setSelectionModel(list_->selectionModel());
    auto uiEnabled = [] {
        CMainFrame* frame = CMainFrame::Instance();
        return !frame || frame->uiEnabled();
    };
    grid->uiEnabled = uiEnabled;
    grid->openRow = [this](int row) { list_->openRecord(row); };
    grid->contextMenu = [this, grid](const QPoint& global) {
        QMenu* menu = list_->buildContextMenu(grid);
        menu->setAttribute(Qt::WA_DeleteOnClose);
        menu->popup(global);
    };
    grid->sortRows = [this](int key, bool ascending) { list_->SortRows(key, ascending); };
    grid->startDrag = [this, grid, session, uiEnabled] {
        // The volume is busy while a search or a tool runs.
        if (!uiEnabled()) return;
        StartFileDrag(grid, session, list_->selectedRecords());
    };
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

CMainFrame::CMainFrame(QWidget* parent) : QMainWindow(parent) {
    gMainFrame = this;
    setObjectName(QStringLiteral("mainFrame"));
    setWindowTitle(QStringLiteral("Veld"));
    setFont(DialogFont());

    // Read when the client area is made: whether the preview remembers its
    // window rectangle.
    SetPreviewSavesWindowRect(ReadIniInt("VELD", "SaveWndPos", 1) != 0);

    helpPath_ = QString::fromStdString(
        DataFilePath(QCoreApplication::applicationDirPath().toStdString(), kHelpPageName));

    splitter_ = new QSplitter(Qt::Horizontal, this);
    splitter_->setObjectName(QStringLiteral("paneSplitter"));
    splitter_->setChildrenCollapsible(false);
    tree_ = new CWTreeDlgView(session_.get(), splitter_);
    right_ = new CRightPaneFrame(session_.get(), splitter_);
    splitter_->addWidget(tree_);
    splitter_->addWidget(right_);
    splitter_->setStretchFactor(0, 0);
    splitter_->setStretchFactor(1, 1);
    setCentralWidget(splitter_);

    update_ = std::make_unique<UpdateCheckUi>(this, &target_);
    createActions();
    createToolsActions();
    createMenus();
    createToolbar();
    createStatusBar();
    tree_->SetTabTitle();
    tree_->setFocus();
    updateToolbarState();
    // The built-in size grows with the font, within the screen.
    QSize size(ScaledWindowsPixels(900), ScaledWindowsPixels(600));
    if (QScreen* screen = QGuiApplication::primaryScreen()) size = size.boundedTo(screen->availableGeometry().size());
    resize(size);
}

CMainFrame::~CMainFrame() {
    // A search still running is stopped and joined before its lists go.
    RequestCancel(*session_);
    ResetSearch(*session_);
    if (session_->startWindow == &target_) session_->startWindow = nullptr;
    FreeFat(session_->clusterMap);
    // The progress window and the views point into the session: they go
    // before it does (child widgets would otherwise outlive the members).
    delete CurrentSearchProgress();
    delete splitter_;
    splitter_ = nullptr;
    tree_ = nullptr;
    right_ = nullptr;
    ClearWorkFolders();
    std::error_code ignored;
    std::filesystem::remove(WorkFolderPath(), ignored);
    if (gMainFrame == this) gMainFrame = nullptr;
}

CMainFrame* CMainFrame::Instance() { return gMainFrame; }

CWListView* CMainFrame::listPane() const { return right_ ? right_->listPane() : nullptr; }

CThumListView* CMainFrame::thumbnailPane() const { return right_ ? right_->thumbnailPane() : nullptr; }

void CMainFrame::createActions() {
    actStart_ = new QAction(QStringLiteral("検索の開始(&F)"), this);
    actStart_->setData(int(CmdStartSearch));
    connect(actStart_, &QAction::triggered, this, &CMainFrame::onStartSearch);

    actClear_ = new QAction(QStringLiteral("検索結果のクリア(&C)"), this);
    actClear_->setData(int(CmdClearResults));
    connect(actClear_, &QAction::triggered, this, &CMainFrame::onClearResults);

    actSave_ = new QAction(QStringLiteral("見つかったファイルを保存(&S)"), this);
    actSave_->setData(int(CmdSaveFound));
    actSave_->setStatusTip(QStringLiteral("見つかったファイルを保存します"));
    connect(actSave_, &QAction::triggered, this, &CMainFrame::onSave);

    actExit_ = new QAction(QStringLiteral("アプリケーションの終了(&X)"), this);
    actExit_->setData(int(CmdExit));
    connect(actExit_, &QAction::triggered, this, &QWidget::close);

    actThumbs_ = new QAction(QStringLiteral("縮小画像(&H)"), this);
    actThumbs_->setData(int(CmdShowThumbnails));
    actThumbs_->setCheckable(true);
    actThumbs_->setChecked(true);
    actThumbs_->setStatusTip(QStringLiteral("縮小表示します"));
    connect(actThumbs_, &QAction::triggered, this, &CMainFrame::onShowThumbnails);

    actList_ = new QAction(QStringLiteral("詳細リスト(&L)"), this);
    actList_->setData(int(CmdShowList));
    actList_->setCheckable(true);
    actList_->setStatusTip(QStringLiteral("詳細リスト表示します"));
    connect(actList_, &QAction::triggered, this, &CMainFrame::onShowList);

    actDiskMap_ = new QAction(QStringLiteral("ディスクマップ"), this);
    actDiskMap_->setData(int(CmdShowDiskMap));
    actDiskMap_->setCheckable(true);
    actDiskMap_->setStatusTip(QStringLiteral("見つかったファイルをカード上の位置の順に表示します"));
    connect(actDiskMap_, &QAction::triggered, this, &CMainFrame::onShowDiskMap);

    // The view items carry one check mark among them.
    auto* views = new QActionGroup(this);
    views->setExclusive(true);
    for (QAction* a : {actThumbs_, actList_, actDiskMap_}) views->addAction(a);

    actHelp_ = new QAction(QStringLiteral("ヘルプ(&H)"), this);
    actHelp_->setData(int(CmdHelp));
    actHelp_->setShortcut(QKeySequence(Qt::Key_F1));
    actHelp_->setShortcutContext(Qt::ApplicationShortcut);
    connect(actHelp_, &QAction::triggered, this, &CMainFrame::onHelp);

    actAbout_ = new QAction(QStringLiteral("ﾊﾞｰｼﾞｮﾝ情報(Veld) (&A)..."), this);
    actAbout_->setData(int(CmdAbout));
    connect(actAbout_, &QAction::triggered, this, &CMainFrame::onAbout);

    SetResultsAvailable(false);
}

void CMainFrame::createMenus() {
    fileMenu_ = menuBar()->addMenu(QStringLiteral("ファイル(&F)"));
    fileMenu_->addAction(actStart_);
    fileMenu_->addAction(actClear_);
    fileMenu_->addAction(actSave_);
    fileMenu_->addSeparator();
    fileMenu_->addAction(actExit_);

    viewMenu_ = menuBar()->addMenu(QStringLiteral("表示(&V)"));
    viewMenu_->addAction(actThumbs_);
    viewMenu_->addAction(actList_);
    viewMenu_->addAction(actDiskMap_);

    toolsMenu_ = menuBar()->addMenu(QStringLiteral("ツール(&T)"));
    toolsMenu_->addAction(actWizard_);
    toolsMenu_->addSeparator();
    toolsMenu_->addAction(actSaveImage_);
    toolsMenu_->addAction(actRestoreImage_);
    toolsMenu_->addSeparator();
    toolsMenu_->addAction(actErase_);

    helpMenu_ = menuBar()->addMenu(QStringLiteral("ﾍﾙﾌﾟ(&H)"));
    helpMenu_->addAction(actHelp_);
    helpMenu_->addAction(actUpdate_);
    helpMenu_->addAction(actHome_);
    helpMenu_->addSeparator();
    helpMenu_->addAction(actAbout_);
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

    tbSearch_ = new QAction(ToolbarIcon(strip, ImgSearch, ImgSearchGrey), QStringLiteral("検索の開始"), this);
    tbSearch_->setData(int(CmdToolbarSearch));
    tbSearch_->setToolTip(QStringLiteral("削除したファイルを検索します"));
    tbSearch_->setStatusTip(QStringLiteral("削除したファイルを検索します"));
    connect(tbSearch_, &QAction::triggered, this, &CMainFrame::onToolbarSearch);

    tbSave_ = new QAction(ToolbarIcon(strip, ImgSave, ImgSaveGrey), QStringLiteral("保存"), this);
    tbSave_->setData(int(CmdToolbarSave));
    tbSave_->setToolTip(QStringLiteral("見つかったファイルを保存します"));
    tbSave_->setStatusTip(QStringLiteral("見つかったファイルを保存します"));
    connect(tbSave_, &QAction::triggered, this, &CMainFrame::onToolbarSave);

    tbThumbs_ = new QAction(ToolbarIcon(strip, ImgThumbnails, -1), QStringLiteral("縮小画像"), this);
    tbThumbs_->setData(int(CmdToolbarThumbnails));
    tbThumbs_->setCheckable(true);
    tbThumbs_->setChecked(true);
    tbThumbs_->setToolTip(QStringLiteral("縮小表示します"));
    tbThumbs_->setStatusTip(QStringLiteral("縮小表示します"));
    connect(tbThumbs_, &QAction::triggered, this, &CMainFrame::onShowThumbnails);

    tbList_ = new QAction(ToolbarIcon(strip, ImgList, -1), QStringLiteral("詳細リスト"), this);
    tbList_->setData(int(CmdToolbarList));
    tbList_->setCheckable(true);
    tbList_->setToolTip(QStringLiteral("詳細リスト表示します"));
    tbList_->setStatusTip(QStringLiteral("詳細リスト表示します"));
    connect(tbList_, &QAction::triggered, this, &CMainFrame::onShowList);
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

QAction* CMainFrame::action(int command) const {
    for (QAction* a : {actStart_, actClear_, actSave_, actExit_, actThumbs_, actList_, actDiskMap_, actHelp_,
                       actAbout_, tbSearch_, tbSave_, tbThumbs_, tbList_, actWizard_, actSaveImage_, actRestoreImage_,
                       actErase_, actUpdate_, actHome_})
        if (a && a->data().toInt() == command) return a;
    return nullptr;
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

void CMainFrame::EnableMainUi(bool enabled) {
    uiEnabled_ = enabled;
    // File, View and Tools grey out; Help stays usable.
    fileMenu_->menuAction()->setEnabled(enabled);
    viewMenu_->menuAction()->setEnabled(enabled);
    if (toolsMenu_) toolsMenu_->menuAction()->setEnabled(enabled);
    if (tree_) tree_->setEnabled(enabled);
    if (CThumListView* thumbs = thumbnailPane()) thumbs->EnableThumbnails(enabled);
    updateToolbarState();
    menuBar()->update();
}

void CMainFrame::SetResultsAvailable(bool available) {
    resultsAvailable_ = available;
    actClear_->setEnabled(available);
    actSave_->setEnabled(available);
    updateToolbarState();
}

void CMainFrame::updateToolbarState() {
    if (tbSearch_) tbSearch_->setEnabled(uiEnabled_);
    if (tbSave_) tbSave_->setEnabled(uiEnabled_ && resultsAvailable_);
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

void CMainFrame::onStartSearch() {
    if (StartSearch(*session_, this, &target_) == SearchStarted) EnableMainUi(false);
}

void CMainFrame::SearchImageAtStart(const QString& imagePath, bool afterSplash) {
    auto search = [this, imagePath] {
        if (!uiEnabled_) return;
        if (StartSearchOfImage(*session_, this, &target_, imagePath.toStdString()) == SearchStarted)
            EnableMainUi(false);
    };
    if (afterSplash) {
        startImage_ = imagePath;
        return;
    }
    QTimer::singleShot(0, this, search);
}

void CMainFrame::onToolbarSearch() {
    if (uiEnabled_) onStartSearch();
}

void CMainFrame::onClearResults() { ResetSearchAndViews(*session_); }

void CMainFrame::onSave() {
    EnableMainUi(false);
    {
        CSaveDlg dialog(this, listPane());
        dialog.exec();
    }
    EnableMainUi(true);
}

void CMainFrame::onToolbarSave() {
    if (uiEnabled_ && resultsAvailable_) onSave();
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

void CMainFrame::feedOneFoundFile() {
    if (feeding_) return;
    feeding_ = true;
    size_t shown = size_t(session_->shownCount.load());
    if (shown < session_->gcDelFileList.Count()) {
        try {
            if (DelFileInfo* record = session_->gcDelFileList.Get(shown)) {
                RefreshResultViews(UpdateAdded, record);
                ++session_->shownCount;
            }
        } catch (...) {
            // The entry is offered again on the next message.
            TraceLine("ERROR main window: showing found file %zu failed: %s", shown, CaughtExceptionText().c_str());
        }
    }
    feeding_ = false;
}

void CMainFrame::onSearchFinished(int resultCode) {
    SetStatusText(1, QStringLiteral(" "));
    if (resultCode == 0 && !session_->notExamined.empty())
        statusBar()->showMessage(
            QStringLiteral("検査できなかったクラスタがあります (%1 範囲)").arg(session_->notExamined.size()));
    else
        statusBar()->clearMessage();
    SetResultsAvailable(resultCode == 0);
    EnableMainUi(true);
    FinishSearch(*session_);
    if (CEasyWizSheet* wizard = CEasyWizSheet::Current()) wizard->SearchFinished(resultCode, session_->FoundCount.load());
    emit searchFinished(resultCode);
}

bool CMainFrame::event(QEvent* event) {
    auto* message = dynamic_cast<PostedMessage*>(event);
    if (!message) return QMainWindow::event(event);
    switch (message->message()) {
    case MsgSearchFinished: onSearchFinished(int(message->wParam)); return true;
    case MsgFoundFile: feedOneFoundFile(); return true;
    case MsgDeferredStart: onDeferredStart(); return true;
    case MsgUpdateResult: update_->ShowOutcome(int(message->wParam)); return true;
    case MsgProgressCancel:
        if (message->wParam == -1) RequestCancel(*session_);
        return true;
    case MsgCommonProgressState: EnableMainUi(message->wParam != 0); return true;
    default: return QMainWindow::event(event);
    }
}

}  // namespace veld
