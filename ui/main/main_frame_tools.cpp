// The main window's Tools menu, the Help menu's update check and home page,
// and the deferred start-up after the splash (easy wizard, silent check).
#include <QAction>
#include <utility>

#include "base/settings.h"
#include "ui/main/easy_wizard.h"
#include "ui/main/main_frame.h"
#include "ui/main/start_search.h"
#include "ui/tools/disk_tool_commands.h"

namespace veld {

void CMainFrame::createToolsActions() {
    auto make = [this](const char* text, int command, void (CMainFrame::*slot)()) {
        auto* action = new QAction(QString::fromUtf8(text), this);
        action->setData(command);
        connect(action, &QAction::triggered, this, slot);
        return action;
    };
    actWizard_ = make("簡単復活ウィザードを開く(&W)", CmdEasyWizard, &CMainFrame::onEasyWizard);
    actSaveImage_ = make("ディスクイメージを保存(&S)", CmdSaveDiskImage, &CMainFrame::onSaveDiskImage);
    actRestoreImage_ = make("ディスクイメージからカードに書込", CmdRestoreDiskImage, &CMainFrame::onRestoreDiskImage);
    actErase_ = make("完全消去(&D)", CmdCompleteErase, &CMainFrame::onCompleteErase);
    actUpdate_ = make("製品のアップデート", CmdUpdateCheck, &CMainFrame::onUpdateCheck);
    actHome_ = make("Veld のホームページ", CmdHomePage, &CMainFrame::onHomePage);
}

void CMainFrame::onEasyWizard() {
    CEasyWizSheet wizard(*this, this);
    wizard.exec();
}

void CMainFrame::runDiskTool(int command) {
    DiskToolContext context;
    context.owner = this;
    context.session = session_.get();
    context.resetResults = [this] { ResetSearchAndViews(*session_); };
    EnableMainUi(false);
    if (command == CmdSaveDiskImage) RunSaveDiskImage(context);
    if (command == CmdRestoreDiskImage) RunRestoreDiskImage(context);
    if (command == CmdCompleteErase) RunCompleteErase(context);
    EnableMainUi(true);
}

void CMainFrame::onSaveDiskImage() { runDiskTool(CmdSaveDiskImage); }
void CMainFrame::onRestoreDiskImage() { runDiskTool(CmdRestoreDiskImage); }
void CMainFrame::onCompleteErase() { runDiskTool(CmdCompleteErase); }

void CMainFrame::onUpdateCheck() { update_->StartExplicit(); }

void CMainFrame::onHomePage() {
    OpenHomePage([this] { onHelp(); });
}

void CMainFrame::onDeferredStart() {
    // An image named on the command line is searched in place of the wizard.
    if (!startImage_.isEmpty())
        SearchImageAtStart(std::exchange(startImage_, QString()), false);
    else if (ReadIniInt("Config", "NotOpenEasyWiz", 0) == 0)
        onEasyWizard();
    update_->StartSilent();
    emit deferredStartReceived();
}

}  // namespace veld
