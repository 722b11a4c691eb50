// The update check: asks a web server, once silently after start-up and on
// demand from the Help menu, whether a newer version exists. The request is
// an HTTP GET on a worker thread; its outcome is posted to the owner window
// as MsgUpdateResult (0 current, 1 newer version, 2 failed). The server's
// address is the setting Config/UpdateUrl; without it nothing is asked.
#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "platform/window_message.h"
#include "tools/http_client.h"

namespace veld {

// The program's own version, as the about box shows it.
const char* ProgramVersionText();

enum UpdateOutcome : int { UpdateCurrent = 0, UpdateNewer = 1, UpdateFailed = 2 };
// The whole exchange of a check, from connecting to the reply's last byte.
constexpr int kUpdateCheckDeadlineMs = 30000;
// Codes handed to the result callback.
enum UpdateReplyCode : int { UpdateReplyOk = 10, UpdateReplyError = 99 };

// The request URL: the endpoint (scheme, host and port, perhaps a folder)
// followed by the check's path and query.
std::string UpdateCheckUrl(const std::string& endpoint);
// The setting Config/UpdateUrl ("" when not set).
std::string UpdateEndpoint();

// The outcome a reply gives: the five characters that follow "CurVer=" and
// one prefix character, read as a number and compared with our version.
// The number is digits with at most one point, ended by the fifth
// character, a blank, a line end, a markup or query character or the
// reply's end; anything else ("inf", "1e9", "0x10") is no version, and a
// reply without a readable version is a failure.
int UpdateOutcomeOfReply(const std::string& reply);

// The result callback: (code, the reply or the error text, owner).
using UpdateResultCallback = std::function<void(int code, const std::string& data, MessageTarget* owner)>;
// The standard callback: works out the outcome and posts MsgUpdateResult.
void PostUpdateResult(int code, const std::string& data, MessageTarget* owner);

// Whether the main window shows an outcome: a newer version always, the
// others only after an explicit check.
bool UpdateOutcomeShown(int outcome, bool explicitCheck);
// The message the main window shows for an outcome (1 asks Yes or No).
std::string UpdateOutcomeText(int outcome);
// What an explicit check says when no update address is set.
std::string UpdateNotConfiguredText();
// The page to open when the user wants to know about the newer version:
// Config/HomeUrl when set, else the update server's address.
std::string LatestVersionPageUrl();

class UpdateCheck {
public:
    enum StartResult : int { Started = 0, NotConfigured = 1, StartFailed = 2 };

    UpdateCheck() = default;
    UpdateCheck(const UpdateCheck&) = delete;
    UpdateCheck& operator=(const UpdateCheck&) = delete;
    // A check still running is aborted and waited for.
    ~UpdateCheck();

    // Starts a check of the configured address with the standard callback.
    // Without an address nothing is started and no network is touched. A
    // check already running is kept; an explicit request makes it explicit.
    int Start(MessageTarget* owner, bool explicitCheck);
    // Starts a request for the URL on a worker thread and returns at once.
    bool StartRequest(const std::string& url, UpdateResultCallback callback, MessageTarget* owner);

    // Whether the outcome of the latest check is to be shown in every case.
    bool IsExplicit() const { return explicit_.load(); }
    bool Running() const { return running_.load(); }
    // The longest a later check may take as a whole, connecting, asking and
    // receiving (30 s unless set); a slower server counts as a failure.
    void SetTimeout(int ms) { timeoutMs_ = ms; }
    // Waits for the running check to end; false when it has not within ms.
    bool Wait(int ms);

private:
    void Abort();
    std::thread worker_;
    std::atomic<bool> running_{false};
    std::atomic<bool> explicit_{false};
    int timeoutMs_ = kUpdateCheckDeadlineMs;
    std::mutex socketLock_;
    CHTTPSocket* socket_ = nullptr;  // the running check's client, for Abort
    bool stopping_ = false;          // set once the owner goes: no exchange may start
};

}  // namespace veld
