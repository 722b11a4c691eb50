// The update check against a server on loopback: the outcome posted to the
// owner for a newer and for the current version, for a reply without the
// version marker, a refused connection and a server that never answers;
// silent and explicit checks, also without a configured address; and the
// command line's update-check.
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <fstream>

#include "base/settings.h"
#include "support/loopback_http_server.h"
#include "support/mkfs_tools.h"
#include "tools/update_check.h"

namespace veld::test {
namespace {

// Records the update-result messages posted to it.
class OutcomeRecorder final : public MessageTarget {
public:
    void PostMessage(int message, intptr_t wParam, intptr_t) override {
        std::lock_guard<std::mutex> guard(lock_);
        messages_.push_back({message, int(wParam)});
        changed_.notify_all();
    }
    // The outcome of the first message, -1 when none came within the time.
    int WaitOutcome(int timeoutMs = 10000) {
        std::unique_lock<std::mutex> guard(lock_);
        if (!changed_.wait_for(guard, std::chrono::milliseconds(timeoutMs), [&] { return !messages_.empty(); }))
            return -1;
        EXPECT_EQ(messages_[0].first, MsgUpdateResult);
        return messages_[0].second;
    }
    size_t Count() {
        std::lock_guard<std::mutex> guard(lock_);
        return messages_.size();
    }

private:
    std::mutex lock_;
    std::condition_variable changed_;
    std::vector<std::pair<int, int>> messages_;
};

std::string Reply(const std::string& body) { return "HTTP/1.0 200 OK\r\nContent-Type: text/html\r\n\r\n" + body; }

class UpdateCheckTest : public ::testing::Test {
protected:
    void SetUp() override { WriteIniString("Config", "UpdateUrl", nullptr); }
    void TearDown() override { WriteIniString("Config", "UpdateUrl", nullptr); }
    // Runs a check of the configured address and returns the posted outcome.
    int Check(const std::string& endpoint, bool explicitCheck, int timeoutMs = 90000) {
        WriteIniString("Config", "UpdateUrl", endpoint.c_str());
        OutcomeRecorder owner;
        UpdateCheck check;
        check.SetTimeout(timeoutMs);
        EXPECT_EQ(check.Start(&owner, explicitCheck), UpdateCheck::Started);
        EXPECT_EQ(check.IsExplicit(), explicitCheck);
        int outcome = owner.WaitOutcome();
        EXPECT_TRUE(check.Wait(5000));
        EXPECT_EQ(owner.Count(), 1u);
        return outcome;
    }
};

TEST_F(UpdateCheckTest, NewerAndCurrentVersionsFromTheServer) {
    ASSERT_STREQ(ProgramVersionText(), "V2.100");
    LoopbackHttpServer newer(Reply("<p>CurVer=V2.101</p>"));
    EXPECT_EQ(Check(newer.Url(), false), UpdateNewer);
    ASSERT_TRUE(newer.WaitForRequests(1, 5000));
    EXPECT_EQ(newer.Requests()[0].rfind("GET /AppAbout/VeldUPdateCheck.php?id=0000 HTTP/1.0\r\n", 0), 0u)
        << newer.Requests()[0];

    LoopbackHttpServer same(Reply("CurVer=V2.100\n"));
    EXPECT_EQ(Check(same.Url() + "/", true), UpdateCurrent);
    // The first character after "=" is always skipped: "2.200" reads as ".200".
    LoopbackHttpServer noPrefix(Reply("CurVer=2.200"));
    EXPECT_EQ(Check(noPrefix.Url(), true), UpdateCurrent);
    LoopbackHttpServer older(Reply("CurVer=V1.999"));
    EXPECT_EQ(Check(older.Url(), true), UpdateCurrent);
}

TEST_F(UpdateCheckTest, FailuresGiveOutcomeTwo) {
    LoopbackHttpServer noMarker(Reply("<html>maintenance</html>"));
    EXPECT_EQ(Check(noMarker.Url(), true), UpdateFailed);
    // An error page is no version, whatever it holds.
    LoopbackHttpServer notFound("HTTP/1.0 404 Not Found\r\n\r\nCurVer=V9.999");
    EXPECT_EQ(Check(notFound.Url(), true), UpdateFailed);
    LoopbackHttpServer broken("HTTP/1.1 500 Internal Server Error\r\n\r\nCurVer=V9.999");
    EXPECT_EQ(Check(broken.Url(), true), UpdateFailed);
    // A server that sends a byte every 100 ms: each receive is quick, but the
    // whole exchange (20 s) outlasts the check's one-second deadline.
    LoopbackHttpServer trickle(Reply("CurVer=V9.999" + std::string(200, ' ')), false, 100);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(Check(trickle.Url(), true, 1000), UpdateFailed);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
    EXPECT_EQ(Check("http://127.0.0.1:" + std::to_string(ClosedLoopbackPort()), false), UpdateFailed);
    LoopbackHttpServer silent("", true);
    EXPECT_EQ(Check(silent.Url(), true, 300), UpdateFailed);
    EXPECT_EQ(Check("http://:80", true), UpdateFailed);
}

TEST_F(UpdateCheckTest, WithoutAnAddressNothingIsAskedAndTheExplicitCheckSaysWhereToSetIt) {
    OutcomeRecorder owner;
    UpdateCheck check;
    EXPECT_EQ(check.Start(&owner, false), UpdateCheck::NotConfigured);
    EXPECT_EQ(check.Start(&owner, true), UpdateCheck::NotConfigured);
    EXPECT_FALSE(check.Running());
    EXPECT_EQ(owner.WaitOutcome(200), -1) << "nothing is posted";
    const std::string text = UpdateNotConfiguredText();
    EXPECT_NE(text.find("UpdateUrl"), std::string::npos) << text;
    EXPECT_NE(text.find(SettingsFilePath()), std::string::npos) << text;
}

TEST(UpdateOutcome, WhichOutcomesAreShownAndTheirTexts) {
    EXPECT_FALSE(UpdateOutcomeShown(UpdateCurrent, false));
    EXPECT_TRUE(UpdateOutcomeShown(UpdateNewer, false));
    EXPECT_FALSE(UpdateOutcomeShown(UpdateFailed, false));
    for (int outcome : {0, 1, 2}) EXPECT_TRUE(UpdateOutcomeShown(outcome, true));
    EXPECT_EQ(UpdateOutcomeText(UpdateCurrent), "現在のバージョンは最新版です。\nアップデートの必要はありません");
    EXPECT_EQ(UpdateOutcomeText(UpdateNewer), "お使いのプログラムは古いバージョンです。\n最新版の詳しい情報を表示しますか？");
    EXPECT_EQ(UpdateOutcomeText(UpdateFailed).rfind("通信エラーによりアップデートを確認できませんでした。\n", 0), 0u);
    EXPECT_EQ(UpdateOutcomeOfReply("CurVer=V2.10"), UpdateCurrent) << "a reply ending early is read as far as it goes";
    EXPECT_EQ(UpdateOutcomeOfReply("CurVer=V2.1\r\n"), UpdateCurrent);
    EXPECT_EQ(UpdateOutcomeOfReply("curver=V9.999"), UpdateFailed);
    // What is no version number is a failure, never a newer version.
    for (const char* reply : {"CurVer=", "CurVer=V", "CurVer=Vinf..", "CurVer=VINF..", "CurVer=Vnan..", "CurVer=V1e9..",
                              "CurVer=V0x9..", "CurVer=V9.9.9", "CurVer=V 9.99", "CurVer=V+9.99", "CurVer=V9.99x"})
        EXPECT_EQ(UpdateOutcomeOfReply(reply), UpdateFailed) << reply;
}

TEST(UpdateCheckCli, ReportsTheOutcomeFromTheConfiguredServer) {
    LoopbackHttpServer newer(Reply("CurVer=V3.000"));
    TempDir config;
    std::ofstream(config.File("Veld.ini")) << "[Config]\r\nUpdateUrl=" << newer.Url() << "\r\n";
    CommandResult r = RunCommand({VELD_CLI_PATH, "update-check"}, {"XDG_CONFIG_HOME=" + config.path()});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_NE(r.out.find("古いバージョン"), std::string::npos) << r.out;
    EXPECT_EQ(r.out.find("Cached URL"), std::string::npos) << "trace lines stay off standard output";

    TempDir empty;
    r = RunCommand({VELD_CLI_PATH, "update-check"}, {"XDG_CONFIG_HOME=" + empty.path()});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.err.find("UpdateUrl"), std::string::npos) << r.err;
}

}  // namespace
}  // namespace veld::test
