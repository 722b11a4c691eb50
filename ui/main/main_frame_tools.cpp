// The main window's Tools menu, the Help menu's update check and home page,
// and the deferred start-up after the splash (easy wizard, silent check).
#include <utility>

#include "base/settings.h"
#include "ui/main/easy_wizard.h"
#include "ui/main/main_frame.h"
#include "ui/main/start_search.h"
#include "ui/search_controller.h"
#include "ui/tools/disk_tool_commands.h"

namespace veld {

void MainFrame::onEasyWizard() {
    EasyWizard wizard(controller_, controller_.selection(), this);
    wizard.exec();
}

void MainFrame::onSaveDiskImage() { RunSaveDiskImage(controller_, this); }
void MainFrame::onRestoreDiskImage() { RunRestoreDiskImage(controller_, this); }
void MainFrame::onCompleteErase() { RunCompleteErase(controller_, this); }

void MainFrame::onUpdateCheck() { update_->StartExplicit(); }

void MainFrame::onHomePage() {
    OpenHomePage([this] { onHelp(); });
}

void MainFrame::DeferredStart() {
    // An image named on the command line is searched in place of the wizard.
    if (!startImage_.isEmpty())
        SearchImageAtStart(std::exchange(startImage_, QString()), false);
    else if (ReadIniInt("Config", "NotOpenEasyWiz", 0) == 0)
        onEasyWizard();
    update_->StartSilent();
    emit deferredStartReceived();
}

}  // namespace veld
