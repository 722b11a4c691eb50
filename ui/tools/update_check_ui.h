// The update check as the main window runs it: started silently after
// start-up and on demand from "製品のアップデート", its outcome (message 4025)
// shown by the rules of the check - a newer version always, with the offer
// to open its page; "current" and "failed" only after an explicit check.
#pragma once

#include <QString>
#include <functional>

#include "tools/update_check.h"

class QWidget;

namespace veld {

class UpdateCheckUi {
public:
    // owner: the window the outcome boxes belong to; target: where 4025 goes.
    UpdateCheckUi(QWidget* owner, MessageTarget* target) : owner_(owner), target_(target) {}

    // After start-up: without an update address nothing happens at all.
    void StartSilent();
    // The menu command: without an update address, says where to set one.
    void StartExplicit();
    // Message 4025.
    void ShowOutcome(int outcome);

    UpdateCheck& check() { return check_; }

private:
    QWidget* owner_;
    MessageTarget* target_;
    UpdateCheck check_;
};

// The Help menu's home-page command: Config/HomeUrl when set, else the local
// help page (openHelp).
void OpenHomePage(const std::function<void()>& openHelp);

}  // namespace veld
