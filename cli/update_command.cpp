// veld-cli update-check: the Help menu's explicit update check, with its
// outcome printed instead of shown.
#include <condition_variable>
#include <cstdio>
#include <mutex>

#include "cli/commands.h"
#include "cli/disk_tool_runner.h"
#include "tools/update_check.h"

namespace veld {
namespace {

// Waits for the update-check result message.
class OutcomeWaiter final : public MessageTarget {
public:
    void PostMessage(int message, intptr_t wParam, intptr_t) override {
        if (message != MsgUpdateResult) return;
        std::lock_guard<std::mutex> guard(lock_);
        outcome_ = int(wParam);
        done_.notify_all();
    }
    int Wait() {
        std::unique_lock<std::mutex> guard(lock_);
        done_.wait(guard, [&] { return outcome_ >= 0; });
        return outcome_;
    }

private:
    std::mutex lock_;
    std::condition_variable done_;
    int outcome_ = -1;
};

}  // namespace

int RunUpdateCheckCommand(const std::vector<std::string>& args) {
    if (!args.empty()) {
        std::fprintf(stderr, "veld-cli update-check takes no arguments\n");
        return kExitUsage;
    }
    OutcomeWaiter waiter;
    UpdateCheck check;
    int started = check.Start(&waiter, true);
    if (started == UpdateCheck::NotConfigured) {
        std::fprintf(stderr, "%s\n", UpdateNotConfiguredText().c_str());
        return kExitFailed;
    }
    if (started != UpdateCheck::Started) {
        std::fprintf(stderr, "%s\n", UpdateOutcomeText(UpdateFailed).c_str());
        return kExitFailed;
    }
    const int outcome = waiter.Wait();
    if (outcome == UpdateNewer)
        std::printf("お使いのプログラムは古いバージョンです。\n最新版の詳しい情報: %s\n", LatestVersionPageUrl().c_str());
    else
        std::printf("%s\n", UpdateOutcomeText(outcome).c_str());
    return outcome == UpdateFailed ? kExitFailed : kExitOk;
}

}  // namespace veld
