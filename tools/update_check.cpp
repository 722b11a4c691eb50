#include "tools/update_check.h"

#include <charconv>
#include <chrono>
#include <cctype>
#include <cstdio>
#include <optional>

#include "base/settings.h"
#include "base/trace.h"
#include "base/version.h"

namespace veld {
namespace {

// This build carries no identifier number; the query sends it as "0000".
constexpr int kProgramIdentifier = 0;
constexpr char kUpdateCheckPath[] = "/AppAbout/VeldUPdateCheck.php?id=%04d";
constexpr char kMarker[] = "CurVer=";

// The leading decimal number of a text, 0 when there is none (as atof reads
// it, but without regard to the locale's decimal point).
double LeadingNumber(const std::string& text) {
    size_t start = 0;
    while (start < text.size() && (text[start] == ' ' || text[start] == '\t')) ++start;
    double value = 0;
    const char* first = text.data() + start;
    if (first < text.data() + text.size() && *first == '+') ++first;
    auto [end, error] = std::from_chars(first, text.data() + text.size(), value);
    return error == std::errc() ? value : 0.0;
}

// A version as the server writes it: digits with at most one point, then
// nothing that could continue a number or a word. None for anything else.
std::optional<double> StrictVersion(const std::string& text) {
    size_t end = 0;
    int points = 0, digits = 0;
    for (; end < text.size(); ++end) {
        const char c = text[end];
        if (c >= '0' && c <= '9') ++digits;
        else if (c == '.' && points == 0) ++points;
        else break;
    }
    if (digits == 0) return std::nullopt;
    if (end < text.size()) {
        const unsigned char next = static_cast<unsigned char>(text[end]);
        if (std::isalnum(next) || next == '.' || next == '+' || next == '-' || next == '_') return std::nullopt;
    }
    double value = 0;
    std::from_chars(text.data(), text.data() + end, value);
    return value;
}

std::string HomeLines() {
    std::string home = ReadIniString("Config", "HomeUrl", "");
    return home.empty() ? std::string() : "\nVeld ホームページ\n" + home;
}

}  // namespace

const char* ProgramVersionText() { return kVersionText; }

std::string UpdateEndpoint() { return ReadIniString("Config", "UpdateUrl", ""); }

std::string UpdateCheckUrl(const std::string& endpoint) {
    std::string base = endpoint;
    while (!base.empty() && base.back() == '/') base.pop_back();
    char path[64];
    std::snprintf(path, sizeof path, kUpdateCheckPath, kProgramIdentifier);
    return base + path;
}

int UpdateOutcomeOfReply(const std::string& reply) {
    size_t at = reply.find(kMarker);
    if (at == std::string::npos) return UpdateFailed;
    // The marker, then one prefix character ("V" of "V2.100"), then five.
    size_t start = at + 8;
    std::string version = start < reply.size() ? reply.substr(start, 5) : std::string();
    const std::optional<double> theirs = StrictVersion(version);
    if (!theirs) return UpdateFailed;
    double ours = LeadingNumber(ProgramVersionText() + 1);
    return *theirs > ours ? UpdateNewer : UpdateCurrent;
}

void PostUpdateResult(int code, const std::string& data, MessageTarget* owner) {
    int outcome;
    if (code == UpdateReplyOk)
        outcome = UpdateOutcomeOfReply(data);
    else if (code == UpdateReplyError)
        outcome = UpdateFailed;
    else
        return;
    TraceLine("Update check: outcome %d", outcome);
    if (owner) owner->PostMessage(MsgUpdateResult, outcome, 0);
}

bool UpdateOutcomeShown(int outcome, bool explicitCheck) { return outcome == UpdateNewer || explicitCheck; }

std::string UpdateOutcomeText(int outcome) {
    switch (outcome) {
        case UpdateCurrent: return "現在のバージョンは最新版です。\nアップデートの必要はありません";
        case UpdateNewer: return "お使いのプログラムは古いバージョンです。\n最新版の詳しい情報を表示しますか？";
        default:
            return "通信エラーによりアップデートを確認できませんでした。\nインターネットに接続しているかご確認ください。" +
                   HomeLines();
    }
}

std::string UpdateNotConfiguredText() {
    return "アップデートの確認先が設定されていません。\n設定ファイル " + SettingsFilePath() +
           " の [Config] セクションに UpdateUrl=http://サーバー名 を書き加えてください。";
}

std::string LatestVersionPageUrl() {
    std::string home = ReadIniString("Config", "HomeUrl", "");
    return home.empty() ? UpdateEndpoint() : home;
}

UpdateCheck::~UpdateCheck() {
    Abort();
    if (worker_.joinable()) worker_.join();
}

void UpdateCheck::Abort() {
    std::lock_guard<std::mutex> guard(socketLock_);
    stopping_ = true;
    if (socket_) socket_->Abort();
}

bool UpdateCheck::Wait(int ms) {
    auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (running_.load()) {
        if (std::chrono::steady_clock::now() >= until) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    if (worker_.joinable()) worker_.join();
    return true;
}

int UpdateCheck::Start(MessageTarget* owner, bool explicitCheck) {
    if (running_.load()) {
        if (explicitCheck) explicit_.store(true);
        return Started;
    }
    const std::string endpoint = UpdateEndpoint();
    if (endpoint.empty()) return NotConfigured;
    explicit_.store(explicitCheck);
    return StartRequest(UpdateCheckUrl(endpoint), PostUpdateResult, owner) ? Started : StartFailed;
}

bool UpdateCheck::StartRequest(const std::string& url, UpdateResultCallback callback, MessageTarget* owner) {
    if (running_.load()) return false;
    if (worker_.joinable()) worker_.join();
    running_.store(true);
    const int timeoutMs = timeoutMs_;
    try {
        worker_ = std::thread([this, url, callback = std::move(callback), owner, timeoutMs] {
            int code = UpdateReplyError;
            std::string data;
            try {
                CComWebSock client;
                client.SetProxy(false, "", 8080);
                client.SetTimeouts(timeoutMs, timeoutMs);
                client.SetDeadline(timeoutMs);
                {
                    std::lock_guard<std::mutex> guard(socketLock_);
                    socket_ = &client;
                    if (stopping_) client.Abort();
                }
                int rc = client.Get(url.c_str());
                {
                    std::lock_guard<std::mutex> guard(socketLock_);
                    socket_ = nullptr;
                }
                // Only a page the server found is a reply: a 404 or 500 page
                // (or no status line at all) is a failure, not a version.
                const int status = rc == 0 && !client.HasError() ? HttpStatusCode(client.Reply()) : 0;
                if (status >= 200 && status <= 299) {
                    code = UpdateReplyOk;
                    data = client.Reply();
                } else if (status != 0) {
                    data = status < 0 ? std::string("no HTTP status line") : "HTTP status " + std::to_string(status);
                    TraceLine("Update check: the server answered with status %d", status);
                } else {
                    data = client.ErrorText();
                }
            } catch (...) {
                TraceLine("ERROR update check: the request failed: %s", CaughtExceptionText().c_str());
                data = "Err";
            }
            bool stopping;
            {
                std::lock_guard<std::mutex> guard(socketLock_);
                stopping = stopping_;
            }
            // An owner that is going away gets no result.
            if (callback && !stopping) callback(code, data, owner);
            running_.store(false);
        });
    } catch (const std::system_error&) {
        running_.store(false);
        return false;
    }
    return true;
}

}  // namespace veld
