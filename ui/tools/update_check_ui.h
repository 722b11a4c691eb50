// The update check as the main window runs it: started silently after
// start-up and on demand from "製品のアップデート", its outcome (the worker's
// message 4025, taken on the interface thread) shown by the rules of the
// check - a newer version always, with the offer to open its page; "current"
// and "failed" only after an explicit check.
#pragma once

#include <QString>
#include <functional>

#include "tools/update_check.h"
#include "ui/queued_message_target.h"

class QWidget;

namespace veld {

class UpdateCheckUi {
public:
    // owner: the window the outcome boxes belong to (and whose thread takes
    // the outcome).
    explicit UpdateCheckUi(QWidget* owner);

    // After start-up: without an update address nothing happens at all.
    void StartSilent();
    // The menu command: without an update address, says where to set one.
    void StartExplicit();
    // The outcome of a check (0 current, 1 newer, 2 failed).
    void ShowOutcome(int outcome);

    UpdateCheck& check() { return check_; }

private:
    QWidget* owner_;
    QueuedMessageTarget target_;
    // Destroyed first: it waits for a check still running, which posts to target_.
    UpdateCheck check_;
};

// The Help menu's home-page command: Config/HomeUrl when set, else the local
// help page (openHelp).
void OpenHomePage(const std::function<void()>& openHelp);

}  // namespace veld
