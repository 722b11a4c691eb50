// The Help menu's update check against a server on loopback (message 4025 and
// its three outcomes, silent and explicit), the home-page item, the deferred
// start-up after the splash, and the easy wizard walked through a search and
// a save, and back to page 1 after a search that finds nothing.
#include "found_files_fixture.h"  // first: see there

#include <QAbstractButton>
#include <QCheckBox>
#include <QDirIterator>
#include <QMenu>
#include <QPlainTextEdit>
#include <QProcess>
#include <QProcessEnvironment>
#include <QPushButton>
#include <QTest>

#include <filesystem>
#include <fstream>

#include "base/settings.h"
#include "event_pump.h"
#include "support/loopback_http_server.h"
#include "ui/main/easy_wizard.h"
#include "ui/main/save_dialog.h"
#include "ui/search/search_progress_window.h"
#include "ui/tools/disk_tool_commands.h"

namespace veld::guitest {
namespace {

using veld::test::ClosedLoopbackPort;
using veld::test::LoopbackHttpServer;

std::string Reply(const std::string& body) {
    return "HTTP/1.0 200 OK\r\nContent-Type: text/plain\r\n\r\n" + body;
}

// Runs fn once a top-level widget of type T is the active modal widget.
template <typename T>
void WhenDialogAppears(std::function<void(T*)> fn) {
    auto poll = std::make_shared<std::function<void()>>();
    std::weak_ptr<std::function<void()>> self = poll;
    *poll = [fn, self] {
        if (auto* dialog = qobject_cast<T*>(QApplication::activeModalWidget())) {
            fn(dialog);
            return;
        }
        if (auto again = self.lock()) QTimer::singleShot(5, [again] { (*again)(); });
    };
    QTimer::singleShot(0, [poll] { (*poll)(); });
}

class UpdateCheckTest : public MainFrameTest {
protected:
    void SetUp() override {
        MainFrameTest::SetUp();
        WriteIniString("Config", "UpdateUrl", nullptr);
        WriteIniString("Config", "HomeUrl", nullptr);
        SetQuestionAnswererForTest([this](const QString& text) {
            questions_.push_back(text);
            return answer_;
        });
        frame_->updateCheck().check().SetTimeout(500);
    }
    void TearDown() override {
        SetQuestionAnswererForTest(nullptr);
        WriteIniString("Config", "UpdateUrl", nullptr);
        WriteIniString("Config", "HomeUrl", nullptr);
        WriteIniInt("Config", "NotOpenEasyWiz", 0);
        MainFrameTest::TearDown();
    }
    // Runs a check and waits until its outcome has been handled.
    void RunCheck(const std::string& url, bool explicitCheck) {
        WriteIniString("Config", "UpdateUrl", url.c_str());
        if (explicitCheck)
            Action("updateCheck")->trigger();
        else
            frame_->updateCheck().StartSilent();
        ASSERT_TRUE(frame_->updateCheck().check().Wait(5000));
        Pump();
    }
    std::vector<QString> questions_;
    bool answer_ = false;
};

TEST_F(UpdateCheckTest, ExplicitCheckShowsEveryOutcome) {
    LoopbackHttpServer current(Reply("CurVer=V2.100\n"));
    RunCheck(current.Url(), true);
    EXPECT_EQ(messages_, std::vector<std::string>{"現在のバージョンは最新版です。\nアップデートの必要はありません"});
    ASSERT_EQ(current.Requests().size(), 1u);
    EXPECT_EQ(current.Requests()[0].rfind("GET /AppAbout/VeldUPdateCheck.php?id=0000 HTTP/1.0\r\n", 0), 0u);

    messages_.clear();
    LoopbackHttpServer noMarker(Reply("maintenance\n"));
    RunCheck(noMarker.Url(), true);
    ASSERT_EQ(messages_.size(), 1u);
    EXPECT_EQ(messages_[0].rfind("通信エラーによりアップデートを確認できませんでした。", 0), 0u);

    messages_.clear();
    RunCheck("http://127.0.0.1:" + std::to_string(ClosedLoopbackPort()), true);
    ASSERT_EQ(messages_.size(), 1u);
    EXPECT_EQ(messages_[0].rfind("通信エラーによりアップデートを確認できませんでした。", 0), 0u);

    // A server that accepts and never answers: the shortened time-out.
    messages_.clear();
    LoopbackHttpServer silent("", true);
    RunCheck(silent.Url(), true);
    ASSERT_EQ(messages_.size(), 1u);
    EXPECT_EQ(messages_[0].rfind("通信エラー", 0), 0u);

    // A newer version: the question, and on Yes its page.
    messages_.clear();
    WriteIniString("Config", "HomeUrl", "http://example.invalid/veld/");
    answer_ = true;
    LoopbackHttpServer newer(Reply("CurVer=V2.101\n"));
    RunCheck(newer.Url(), true);
    EXPECT_TRUE(messages_.empty());
    ASSERT_EQ(questions_.size(), 1u);
    EXPECT_EQ(questions_[0], QStringLiteral("お使いのプログラムは古いバージョンです。\n最新版の詳しい情報を表示しますか？"));
    EXPECT_EQ(opened_, std::vector<QString>{QStringLiteral("http://example.invalid/veld/")});
}

TEST_F(UpdateCheckTest, SilentCheckShowsOnlyANewerVersion) {
    LoopbackHttpServer current(Reply("CurVer=V2.100"));
    RunCheck(current.Url(), false);
    RunCheck("http://127.0.0.1:" + std::to_string(ClosedLoopbackPort()), false);
    EXPECT_TRUE(messages_.empty());
    EXPECT_TRUE(questions_.empty());

    answer_ = false;
    LoopbackHttpServer newer(Reply("xx CurVer=V3.000 yy"));
    RunCheck(newer.Url(), false);
    EXPECT_EQ(questions_.size(), 1u);
    EXPECT_TRUE(opened_.empty()) << "No opens nothing";
}

TEST_F(UpdateCheckTest, WithoutAnAddressTheExplicitCheckSaysWhereToSetItAndTheSilentOneIsQuiet) {
    frame_->updateCheck().StartSilent();
    EXPECT_FALSE(frame_->updateCheck().check().Running());
    Pump();
    EXPECT_TRUE(messages_.empty());

    Action("updateCheck")->trigger();
    ASSERT_EQ(messages_.size(), 1u);
    EXPECT_NE(messages_[0].find("UpdateUrl"), std::string::npos);
    EXPECT_NE(messages_[0].find(SettingsFilePath()), std::string::npos);
}

TEST_F(UpdateCheckTest, HomePageOpensTheSetAddressElseTheHelpPage) {
    QStringList help;
    for (QAction* a : frame_->helpMenu()->actions())
        if (!a->isSeparator()) help << a->text();
    EXPECT_EQ(help, (QStringList{"ヘルプ(&H)", "製品のアップデート", "Veld のホームページ",
                                 "ﾊﾞｰｼﾞｮﾝ情報(Veld) (&A)..."}));
    frame_->setHelpPath(QString::fromUtf8(VELD_HELP_SOURCE));
    Action("homePage")->trigger();
    WriteIniString("Config", "HomeUrl", "https://veld.example/");
    Action("homePage")->trigger();
    EXPECT_EQ(opened_, (std::vector<QString>{QString::fromUtf8(VELD_HELP_SOURCE), QStringLiteral("https://veld.example/")}));
}

TEST_F(UpdateCheckTest, DeferredStartOpensTheWizardUnlessSwitchedOffThenChecksSilently) {
    LoopbackHttpServer server(Reply("CurVer=V2.100"));
    WriteIniString("Config", "UpdateUrl", server.Url().c_str());

    // Switched off: no wizard, straight to the check.
    WriteIniInt("Config", "NotOpenEasyWiz", 1);
    bool wizardSeen = false;
    QMetaObject::invokeMethod(frame_.get(), &MainFrame::DeferredStart, Qt::QueuedConnection);
    QSignalSpy started(frame_.get(), &MainFrame::deferredStartReceived);
    ASSERT_TRUE(started.wait(5000));
    EXPECT_EQ(frame_->findChild<EasyWizard*>(), nullptr);
    EXPECT_TRUE(server.WaitForRequests(1, 5000));

    // On: the wizard first; the check only after it closed.
    WriteIniInt("Config", "NotOpenEasyWiz", 0);
    size_t requestsWhileOpen = 99;
    WhenDialogAppears<EasyWizard>([&](EasyWizard* wizard) {
        wizardSeen = true;
        EXPECT_EQ(wizard->currentId(), EasyWizard::Page1);
        requestsWhileOpen = server.Requests().size();
        wizard->reject();
    });
    QMetaObject::invokeMethod(frame_.get(), &MainFrame::DeferredStart, Qt::QueuedConnection);
    ASSERT_TRUE(started.wait(5000));
    EXPECT_TRUE(wizardSeen);
    EXPECT_EQ(requestsWhileOpen, 1u);
    EXPECT_TRUE(server.WaitForRequests(2, 5000));
    ASSERT_TRUE(frame_->updateCheck().check().Wait(5000));
    Pump();
    EXPECT_TRUE(messages_.empty()) << "a silent check that finds the version current says nothing";
}

// --- the wizard ---------------------------------------------------------

using EasyWizardTest = UpdateCheckTest;

TEST_F(EasyWizardTest, WalksThroughSearchAndSaveThenBackToPage1) {
    ChooseSource(BuildCard());
    const QString saveFolder = dir_.filePath(QStringLiteral("saved"));
    QDir().mkpath(saveFolder);
    std::vector<int> pages;
    bool cancelHiddenWhileSearching = false, escapeIgnored = false;
    QStringList descriptions;

    WhenDialogAppears<EasyWizard>([&](EasyWizard* wizard) {
        EXPECT_EQ(wizard->windowTitle(), QStringLiteral("Wizard"));
        for (int id : wizard->pageIds()) descriptions << wizard->wizPage(id)->accessibleDescription();
        pages.push_back(wizard->currentId());
        EXPECT_FALSE(wizard->button(QWizard::BackButton)->isEnabled());
        // Ticking the box is stored at once.
        wizard->wizPage(EasyWizard::Page1)->notOpenBox()->setChecked(true);
        EXPECT_EQ(ReadIniInt("Config", "NotOpenEasyWiz", 0), 1);
        wizard->wizPage(EasyWizard::Page1)->notOpenBox()->setChecked(false);

        QSignalSpy finished(controller_.get(), &SearchController::searchFinished);
        wizard->next();
        pages.push_back(wizard->currentId());
        cancelHiddenWhileSearching = !wizard->button(QWizard::CancelButton)->isVisible();
        QTest::keyClick(wizard, Qt::Key_Escape);
        escapeIgnored = wizard->isVisible();
        if (finished.isEmpty()) {
            ASSERT_TRUE(finished.wait(30000));
        }
        pages.push_back(wizard->currentId());
        EXPECT_TRUE(wizard->button(QWizard::CancelButton)->isVisible());

        // Page 3: Next runs the save dialog; saving moves on to page 4.
        WhenDialogAppears<SaveDialog>([&](SaveDialog* save) {
            save->setTargetFolder(saveFolder);
            QTest::mouseClick(save->saveButton(), Qt::LeftButton);
        });
        QTest::mouseClick(wizard->button(QWizard::NextButton), Qt::LeftButton);
        pages.push_back(wizard->currentId());
        // Page 4 names the folder and opens it.
        EasyWizardPage* saved = wizard->wizPage(EasyWizard::Page4);
        EXPECT_TRUE(saved->noteLabel()->text().contains(saveFolder)) << saved->noteLabel()->text().toStdString();
        opened_.clear();
        QTest::mouseClick(saved->openFolderButton(), Qt::LeftButton);
        EXPECT_EQ(opened_, std::vector<QString>{saveFolder});
        // Back from page 4 goes straight to page 1.
        QTest::mouseClick(wizard->button(QWizard::BackButton), Qt::LeftButton);
        pages.push_back(wizard->currentId());
        wizard->reject();
    });
    Action("easyWizard")->trigger();

    EXPECT_EQ(pages, (std::vector<int>{EasyWizard::Page1, EasyWizard::Page2, EasyWizard::Page3,
                                       EasyWizard::Page4, EasyWizard::Page1}));
    EXPECT_TRUE(cancelHiddenWhileSearching);
    EXPECT_TRUE(escapeIgnored);
    EXPECT_EQ(descriptions.size(), 5);
    EXPECT_TRUE(descriptions[1].contains(QStringLiteral("検索中")));
    // The files go into their folders (DCIM/100TEST, OLD).
    EXPECT_TRUE(QDirIterator(saveFolder, QDir::Files, QDirIterator::Subdirectories).hasNext())
        << "the wizard's save wrote nothing";
    EXPECT_EQ(frame_->findChild<EasyWizard*>(), nullptr);
    EXPECT_TRUE(frame_->uiEnabled());
}

TEST_F(EasyWizardTest, SearchThatFindsNothingReturnsToPage1AndCancelledSaveStaysOnPage3) {
    ChooseSource(BuildEmptyCard());
    std::vector<int> pages;
    WhenDialogAppears<EasyWizard>([&](EasyWizard* wizard) {
        QSignalSpy finished(controller_.get(), &SearchController::searchFinished);
        wizard->next();
        if (finished.isEmpty()) {
            ASSERT_TRUE(finished.wait(30000));
        }
        pages.push_back(wizard->currentId());

        ChooseSource(BuildCard());
        finished.clear();
        wizard->next();
        if (finished.isEmpty()) {
            ASSERT_TRUE(finished.wait(30000));
        }
        pages.push_back(wizard->currentId());
        WhenDialogAppears<SaveDialog>([](SaveDialog* save) { save->reject(); });
        QTest::mouseClick(wizard->button(QWizard::NextButton), Qt::LeftButton);
        pages.push_back(wizard->currentId());
        EXPECT_EQ(wizard->wizPage(EasyWizard::Page3)->artwork(), Picture::WizardPage3);

        // A search cancelled from its progress window once it has found a
        // file: page 3 says the files are only part of the card's. The
        // source is the card's bytes without its boot sector and then
        // nothing up to 1 GiB, so the raw search is still running.
        const std::string raw = TempPath("raw.img");
        std::filesystem::copy_file(BuildCard(), raw, std::filesystem::copy_options::overwrite_existing);
        std::fstream(raw, std::ios::in | std::ios::out | std::ios::binary).write(std::string(512, '\0').data(), 512);
        std::filesystem::resize_file(raw, uint64_t(1) << 30);
        ChooseSource(raw);
        QTest::mouseClick(wizard->button(QWizard::BackButton), Qt::LeftButton);
        finished.clear();
        QSignalSpy foundFiles(controller_.get(), &SearchController::fileFound);
        // The files found before were not saved: the new search asks first.
        questions_.clear();
        answer_ = true;
        wizard->next();
        ASSERT_EQ(questions_.size(), 1u);
        EXPECT_TRUE(questions_[0].contains(QStringLiteral("まだ保存されていません"))) << questions_[0].toStdString();
        SearchProgressWindow* progress = nullptr;
        for (SearchProgressWindow* window : wizard->findChildren<SearchProgressWindow*>())
            if (window->isVisible()) progress = window;
        ASSERT_NE(progress, nullptr);
        ASSERT_TRUE(!foundFiles.isEmpty() || foundFiles.wait(30000));
        ASSERT_TRUE(finished.isEmpty()) << "the search ended before it could be cancelled";
        QTest::mouseClick(progress->cancelButton(), Qt::LeftButton);
        if (finished.isEmpty()) {
            ASSERT_TRUE(finished.wait(30000));
        }
        pages.push_back(wizard->currentId());
        EasyWizardPage* found = wizard->wizPage(EasyWizard::Page3);
        EXPECT_EQ(found->artwork(), Picture::WizardPage3Partial);
        EXPECT_TRUE(found->noteLabel()->text().startsWith(QStringLiteral("検索を中断しました")));
        EXPECT_FALSE(found->guidance().contains(QStringLiteral("検索が終了しました")));
        wizard->reject();
    });
    frame_->onEasyWizard();
    EXPECT_EQ(pages, (std::vector<int>{EasyWizard::Page1, EasyWizard::Page3, EasyWizard::Page3, EasyWizard::Page3}));
    EXPECT_NE(std::find(messages_.begin(), messages_.end(), "ファイルは見つかりませんでした"), messages_.end());
}

// The program itself, offscreen, with its own settings and temporary folders:
// with --nosplash neither the wizard nor the check runs; without it, the
// check reaches the server once the splash has closed.
TEST(VeldStartUp, NoSplashSwitchSkipsTheDeferredStart) {
    QTemporaryDir home;
    ASSERT_TRUE(home.isValid());
    LoopbackHttpServer server(Reply("CurVer=V2.100"));
    QDir(home.path()).mkpath(QStringLiteral("config"));
    QDir(home.path()).mkpath(QStringLiteral("tmp"));
    {
        std::ofstream ini(home.filePath(QStringLiteral("config/Veld.ini")).toStdString());
        ini << "[Config]\nNotOpenEasyWiz=1\nUpdateUrl=" << server.Url() << "\n";
    }
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), home.filePath(QStringLiteral("config")));
    env.insert(QStringLiteral("TMPDIR"), home.filePath(QStringLiteral("tmp")));
    auto run = [&](const QStringList& arguments) {
        QProcess veld;
        veld.setProcessEnvironment(env);
        veld.start(QStringLiteral(VELD_GUI_PATH), arguments);
        EXPECT_TRUE(veld.waitForStarted(10000));
        // The splash shows for 2000 ms; the check follows at once.
        const bool asked = server.WaitForRequests(server.Requests().size() + 1, 6000);
        veld.terminate();
        if (!veld.waitForFinished(5000)) {
            veld.kill();
            veld.waitForFinished();
        }
        return asked;
    };
    EXPECT_FALSE(run({QStringLiteral("--nosplash")})) << "--nosplash must skip the deferred start";
    EXPECT_TRUE(run({})) << "without --nosplash the silent check runs after the splash";
}

}  // namespace
}  // namespace veld::guitest
