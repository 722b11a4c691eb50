// The main window: menu bar, toolbar, status bar and the two panes (the
// found-file tree on the left, the right-pane frame with the thumbnails, the
// list and the disk map on the right). It starts searches, greys its commands while one runs, and receives
// the messages of the search worker and the progress windows.
#pragma once

#include <QMainWindow>
#include <QStackedWidget>
#include <memory>

#include "finder/search_session.h"
#include "ui/posted_message.h"
#include "ui/tools/update_check_ui.h"

class QAction;
class QLabel;
class QMenu;
class QSplitter;
class QToolBar;

namespace veld {

class CWTreeDlgView;
class CWListView;
class CThumListView;
class CSectView;

// The right side: holds the result views and shows one at a time.
class CRightPaneFrame : public QStackedWidget {
    Q_OBJECT
public:
    // View codes (3, the file dump view, is not offered).
    enum View { ViewList = 1, ViewThumbnails = 2, ViewDiskMap = 4 };

    // The views show the session's results.
    explicit CRightPaneFrame(SearchSession* session, QWidget* parent = nullptr);
    CWListView* listPane() const { return list_; }
    CThumListView* thumbnailPane() const { return thumbs_; }
    CSectView* diskMap() const { return map_; }
    // Shows the view of the code; unknown codes and the current view change
    // nothing.
    void ShowView(int code);
    int currentView() const { return current_; }

private:
    CWListView* list_ = nullptr;
    CThumListView* thumbs_ = nullptr;
    CSectView* map_ = nullptr;
    int current_ = 0;
};

// The main window: owns the search session and the views that show it, and runs the commands.
class CMainFrame : public QMainWindow {
    Q_OBJECT
public:
    // Command numbers of the menus and the toolbar.
    enum Command {
        CmdStartSearch = 32813,
        CmdClearResults = 32838,
        CmdSaveFound = 32815,
        CmdExit = 32829,
        CmdShowList = 32811,
        CmdShowThumbnails = 32812,
        CmdShowDiskMap = 32832,
        CmdHelp = 65535,
        CmdAbout = 57664,
        CmdToolbarSearch = 32819,
        CmdToolbarSave = 32827,
        CmdToolbarList = 32818,
        CmdToolbarThumbnails = 32828,
        // Tools and Help: disk tools, wizard, update check, home page.
        CmdEasyWizard = 32816,
        CmdSaveDiskImage = 32833,
        CmdRestoreDiskImage = 32845,
        CmdCompleteErase = 32817,
        CmdUpdateCheck = 32843,
        CmdHomePage = 32840,
    };

    explicit CMainFrame(QWidget* parent = nullptr);
    // Stops a running search, frees its results and empties the work folders.
    ~CMainFrame() override;

    static CMainFrame* Instance();

    // The window's search: what the search commands fill and the views show.
    SearchSession& session() { return *session_; }

    // Pane 1 takes the text and repaints at once; other panes do nothing.
    void SetStatusText(int pane, const QString& text);
    QString statusText(int pane) const;
    void EnableMainUi(bool enabled);
    bool uiEnabled() const { return uiEnabled_; }
    void SetResultsAvailable(bool available);
    bool resultsAvailable() const { return resultsAvailable_; }
    void ShowRightView(int code);

    CWTreeDlgView* treePane() const { return tree_; }
    CRightPaneFrame* rightFrame() const { return right_; }
    CWListView* listPane() const;
    CThumListView* thumbnailPane() const;
    QSplitter* splitter() const { return splitter_; }
    QToolBar* toolbar() const { return toolbar_; }
    // The action of a command number, or null.
    QAction* action(int command) const;
    QMenu* fileMenu() const { return fileMenu_; }
    QMenu* viewMenu() const { return viewMenu_; }
    QMenu* helpMenu() const { return helpMenu_; }
    QMenu* toolsMenu() const { return toolsMenu_; }
    UpdateCheckUi& updateCheck() { return *update_; }
    // The target the search worker posts 3025 and 3026 to.
    MessageTarget* messageTarget() { return &target_; }
    // The help file: doc/VELD.HTM beside the executable (the build folder),
    // or in the installed data folder.
    QString helpPath() const { return helpPath_; }
    void setHelpPath(const QString& path) { helpPath_ = path; }

public slots:
    void onStartSearch();
    void onToolbarSearch();
    void onClearResults();
    void onSave();
    void onToolbarSave();
    // Searches a disk image at start: after the splash when one is shown,
    // else as soon as the event loop runs.
    void SearchImageAtStart(const QString& imagePath, bool afterSplash);
    void onShowList();
    void onShowThumbnails();
    void onShowDiskMap();
    void onHelp();
    void onAbout();
    void onEasyWizard();
    void onSaveDiskImage();
    void onRestoreDiskImage();
    void onCompleteErase();
    void onUpdateCheck();
    void onHomePage();

signals:
    // After the handling of 3025 (tests and the status of the caller).
    void searchFinished(int resultCode);
    // After the deferred start-up message (3028).
    void deferredStartReceived();

protected:
    bool event(QEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    void createActions();
    void createMenus();
    void createToolbar();
    void createStatusBar();
    void updateToolbarState();
    void feedOneFoundFile();
    void onSearchFinished(int resultCode);
    void createToolsActions();
    void onDeferredStart();
    // Runs a Tools menu disk command (its command number) with the commands greyed.
    void runDiskTool(int command);

    // Created first and destroyed last: the views keep a pointer to it.
    std::unique_ptr<SearchSession> session_ = std::make_unique<SearchSession>();
    QtMessageTarget target_{this};
    bool uiEnabled_ = true;
    bool resultsAvailable_ = false;
    bool feeding_ = false;
    bool splitterSized_ = false;
    QString helpPath_;
    QString startImage_;  // searched at the deferred start-up

    CWTreeDlgView* tree_ = nullptr;
    CRightPaneFrame* right_ = nullptr;
    QSplitter* splitter_ = nullptr;
    QToolBar* toolbar_ = nullptr;
    QMenu* fileMenu_ = nullptr;
    QMenu* viewMenu_ = nullptr;
    QMenu* helpMenu_ = nullptr;
    QMenu* toolsMenu_ = nullptr;
    std::unique_ptr<UpdateCheckUi> update_;
    QLabel* readyLabel_ = nullptr;
    QLabel* pane1_ = nullptr;

    QAction* actStart_ = nullptr;
    QAction* actClear_ = nullptr;
    QAction* actSave_ = nullptr;
    QAction* actExit_ = nullptr;
    QAction* actList_ = nullptr;
    QAction* actThumbs_ = nullptr;
    QAction* actDiskMap_ = nullptr;
    QAction* actHelp_ = nullptr;
    QAction* actAbout_ = nullptr;
    QAction* tbSearch_ = nullptr;
    QAction* tbSave_ = nullptr;
    QAction* tbList_ = nullptr;
    QAction* tbThumbs_ = nullptr;
    QAction* actWizard_ = nullptr;
    QAction* actSaveImage_ = nullptr;
    QAction* actRestoreImage_ = nullptr;
    QAction* actErase_ = nullptr;
    QAction* actUpdate_ = nullptr;
    QAction* actHome_ = nullptr;
};

}  // namespace veld
