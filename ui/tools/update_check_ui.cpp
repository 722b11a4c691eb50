#include "ui/tools/update_check_ui.h"

#include <QWidget>

#include "base/settings.h"
#include "base/trace.h"
#include "ui/shell_open.h"
#include "ui/tools/disk_tool_commands.h"

namespace veld {

UpdateCheckUi::UpdateCheckUi(QWidget* owner)
    : owner_(owner), target_(owner, [this](int message, intptr_t outcome, intptr_t) {
          if (message == MsgUpdateResult) ShowOutcome(int(outcome));
      }) {}

void UpdateCheckUi::StartSilent() { check_.Start(&target_, false); }

void UpdateCheckUi::StartExplicit() {
    switch (check_.Start(&target_, true)) {
        case UpdateCheck::NotConfigured: MessageBoxText("%s", UpdateNotConfiguredText().c_str()); break;
        case UpdateCheck::StartFailed: MessageBoxText("%s", UpdateOutcomeText(UpdateFailed).c_str()); break;
        default: break;
    }
}

void UpdateCheckUi::ShowOutcome(int outcome) {
    if (outcome != UpdateCurrent && outcome != UpdateNewer && outcome != UpdateFailed) return;
    if (!UpdateOutcomeShown(outcome, check_.IsExplicit())) return;
    const std::string text = UpdateOutcomeText(outcome);
    if (outcome != UpdateNewer) {
        MessageBoxText("%s", text.c_str());
        return;
    }
    if (!AskYesNo(owner_, QString::fromStdString(text))) return;
    const std::string page = LatestVersionPageUrl();
    if (!page.empty()) ShellOpenUrl(QString::fromStdString(page));
}

void OpenHomePage(const std::function<void()>& openHelp) {
    const std::string home = ReadIniString("Config", "HomeUrl", "");
    if (!home.empty()) {
        ShellOpenUrl(QString::fromStdString(home));
        return;
    }
    if (openHelp) openHelp();
}

}  // namespace veld
