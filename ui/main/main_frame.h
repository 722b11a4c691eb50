// The main window: menu bar, toolbar, status bar and the two panes (the
// found-file tree on the left, the right-pane frame with the thumbnails, the
// list and the disk map on the right). It is a view of the window's search
// controller: its commands start and clear searches and run the tools, its
// menus and toolbar grey with the controller's commands, and its status bar
// shows the controller's texts. Every command is a QAction with an object
// name (below).
//
// Beside what the original window shows, it says what the results are: a
// band over the right pane when the search was cancelled (the files are only
// part of what the card holds), a line under it that explains the state of
// the file the user is on (or what the states mean), the image or card in
// its title, the folder of the last save in the status bar with a button
// that opens it; and it asks before closing with found files not saved.
#pragma once

#include <QMainWindow>
#include <QPointer>
#include <QStackedWidget>
#include <memory>

#include "ui/tools/update_check_ui.h"

class QAction;
class QItemSelectionModel;
class QLabel;
class QMenu;
class QToolButton;
class QSplitter;
class QToolBar;

namespace veld {

class DiskMapView;
class HelpBrowser;
class SplashWindow;
class ThumbnailPane;
class FoundFileList;
class FoundFileTree;
class FoundFileCommands;
class SearchController;
struct SearchSession;

// The right side: holds the result views and shows one at a time. Opening a
// file and the context menu asked for in a view go to the found-file commands.
class RightPane : public QStackedWidget {
    Q_OBJECT
public:
    // View codes (3, the file dump view, is not offered).
    enum View { ViewList = 1, ViewThumbnails = 2, ViewDiskMap = 4 };

    RightPane(SearchController& controller, FoundFileCommands& commands, QWidget* parent = nullptr);
    FoundFileList* listPane() const { return list_; }
    ThumbnailPane* thumbnailPane() const { return thumbs_; }
    DiskMapView* diskMap() const { return map_; }
    // Shows the view of the code; unknown codes and the current view change
    // nothing.
    void ShowView(int code);
    int currentView() const { return current_; }

private:
    FoundFileList* list_ = nullptr;
    ThumbnailPane* thumbs_ = nullptr;
    DiskMapView* map_ = nullptr;
    int current_ = 0;
};

// The main window. Its actions, by object name: File "startSearch" (Ctrl+F),
// "clearResults", "saveFoundFiles" (Ctrl+S), the submenu "recentImages",
// "exit" (Ctrl+Q); View "showThumbnails", "showList", "showDiskMap"; Tools
// "easyWizard", "saveDiskImage", "restoreDiskImage", "completeErase"; Help
// "help" (F1), "updateCheck", "homePage", "about"; toolbar "toolbarSearch",
// "toolbarSave", "toolbarThumbnails", "toolbarList"; status bar
// "openSavedFolder".
class MainFrame : public QMainWindow {
    Q_OBJECT
public:
    // The window shows the controller's search; the controller outlives it.
    explicit MainFrame(SearchController& controller, QWidget* parent = nullptr);
    // Empties the work folders.
    ~MainFrame() override;

    SearchController& controller() const { return controller_; }
    SearchSession& session() const;

    // Pane 1 takes the text and repaints at once; other panes do nothing.
    void SetStatusText(int pane, const QString& text);
    QString statusText(int pane) const;
    // Greys (false) or enables the window's commands: the controller's state.
    void EnableMainUi(bool enabled);
    bool uiEnabled() const;
    bool resultsAvailable() const;
    void ShowRightView(int code);

    FoundFileTree* treePane() const { return tree_; }
    RightPane* rightFrame() const { return right_; }
    FoundFileList* listPane() const;
    ThumbnailPane* thumbnailPane() const;
    FoundFileCommands* commands() const { return commands_; }
    QSplitter* splitter() const { return splitter_; }
    QToolBar* toolbar() const { return toolbar_; }
    QMenu* fileMenu() const { return fileMenu_; }
    QMenu* viewMenu() const { return viewMenu_; }
    QMenu* helpMenu() const { return helpMenu_; }
    QMenu* toolsMenu() const { return toolsMenu_; }
    QMenu* recentMenu() const { return recentMenu_; }
    // The band that says the results are partial (shown after a cancelled
    // search), and the line that explains states.
    QLabel* partialBand() const { return partialBand_; }
    QLabel* stateLine() const { return stateLine_; }
    // The status bar's folder of the last save and its open button.
    QLabel* savedFolderLabel() const { return savedFolder_; }
    QToolButton* openSavedFolderButton() const { return openSaved_; }
    // The help page shown inside the window, while it is open.
    HelpBrowser* helpBrowser() const;
    UpdateCheckUi& updateCheck() { return *update_; }
    // The help file: doc/VELD.HTM beside the executable (the build folder),
    // or in the installed data folder.
    QString helpPath() const { return helpPath_; }
    void setHelpPath(const QString& path) { helpPath_ = path; }

    // Shows the splash over the window unless one is showing (then null);
    // when it closes, the deferred start-up runs.
    SplashWindow* ShowSplash();
    // The splash while it shows, or null.
    SplashWindow* splash() const;

public slots:
    void onStartSearch();
    void onToolbarSearch();
    void onClearResults();
    void onSave();
    void onToolbarSave();
    // Searches a disk image at start: after the splash when one is shown,
    // else as soon as the event loop runs.
    void SearchImageAtStart(const QString& imagePath, bool afterSplash);
    // An image handed over by "veld IMAGE" while the window runs: the window
    // comes to the front and searches it once it is free (found files not
    // yet saved are not discarded without asking).
    void OpenHandedImage(const QString& imagePath);
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
    // After the splash: the easy wizard (unless switched off) or the image
    // named at start, then the silent update check.
    void DeferredStart();

signals:
    // After the deferred start-up.
    void deferredStartReceived();

protected:
    void showEvent(QShowEvent* event) override;
    // Found files not saved yet (or a search still running): asks first.
    void closeEvent(QCloseEvent* event) override;

private:
    QAction* makeAction(const char* name, const QString& text, void (MainFrame::*slot)());
    void createActions();
    void createMenus();
    void createToolbar();
    void createStatusBar();
    void applyCommandsEnabled(bool enabled);
    void updateResultCommands();
    void showControllerStatus(int pane, const QString& text);
    QWidget* makeRightSide();
    void showResultsState();
    void fitTreeToLabels();
    void showStateOfCurrent();
    void showSavedFolder(const QString& folder, int saved, int failed, bool cancelled);
    void fillRecentMenu();
    void searchHandedImage();
    // The help page inside the window (no browser or opener on the desktop).
    void showHelpInside(const QString& path);

    SearchController& controller_;
    bool splitterSized_ = false;
    bool splitterMovedByUser_ = false;
    QString helpPath_;
    QString startImage_;  // searched at the deferred start-up
    QString handedImage_;  // handed over while the window was busy
    QString lastSavedFolder_;
    QPointer<HelpBrowser> helpBrowser_;
    QPointer<SplashWindow> splash_;

    FoundFileCommands* commands_ = nullptr;
    FoundFileTree* tree_ = nullptr;
    RightPane* right_ = nullptr;
    QSplitter* splitter_ = nullptr;
    QToolBar* toolbar_ = nullptr;
    QMenu* fileMenu_ = nullptr;
    QMenu* viewMenu_ = nullptr;
    QMenu* helpMenu_ = nullptr;
    QMenu* toolsMenu_ = nullptr;
    QMenu* recentMenu_ = nullptr;
    std::unique_ptr<UpdateCheckUi> update_;
    QLabel* partialBand_ = nullptr;
    QLabel* stateLine_ = nullptr;
    QLabel* savedFolder_ = nullptr;
    QToolButton* openSaved_ = nullptr;
    QLabel* readyLabel_ = nullptr;
    QLabel* pane1_ = nullptr;

    QAction* actStart_ = nullptr;
    QAction* actClear_ = nullptr;
    QAction* actSave_ = nullptr;
    QAction* actList_ = nullptr;
    QAction* actThumbs_ = nullptr;
    QAction* actDiskMap_ = nullptr;
    QAction* tbSearch_ = nullptr;
    QAction* tbSave_ = nullptr;
    QAction* tbList_ = nullptr;
    QAction* tbThumbs_ = nullptr;
};

}  // namespace veld
