#include "ui/search/search_progress_window.h"

#include <QApplication>
#include <QPushButton>
#include <QTest>
#include <QWidget>
#include <atomic>
#include <chrono>
#include <gtest/gtest.h>
#include <thread>
#include <vector>

#include <QSignalSpy>

#include "event_pump.h"
#include "ui/bitmap_progress_bar.h"
#include "ui/dialog_units.h"
#include "ui/search_controller.h"

namespace {

using veld::SearchController;
using veld::SearchProgressWindow;

using veld::guitest::Pump;

TEST(SearchProgressWindow, OpenSetsTextsAndFollowsTheReports) {
    SearchController controller;
    veld::SearchProgress& progress = controller.session().progress;  // the reports of the search
    QWidget parent;
    auto* window = new SearchProgressWindow(controller, &parent);
    window->Open(QStringLiteral("削除ファイル検索"), QStringLiteral("検索中"), QStringLiteral("キャンセル"));
    EXPECT_EQ(window->windowTitle(), QStringLiteral("削除ファイル検索"));
    EXPECT_EQ(window->lineText(1), QStringLiteral("検索中"));
    EXPECT_TRUE(window->buttonShown());
    EXPECT_TRUE(window->barShown());
    EXPECT_EQ(window->percent(), 0);
    EXPECT_TRUE(window->isVisible());

    // Reports reach the window through the engine's entry point.
    progress.Report(veld::PhaseFatRead, 42, "3/10");
    Pump();
    EXPECT_EQ(window->lineText(1), QStringLiteral("FAT読み込み"));
    EXPECT_EQ(window->lineText(2), QStringLiteral("3/10"));
    EXPECT_EQ(window->percent(), 42);

    // Phase 0 with an empty text changes nothing; with a text only line 3.
    progress.Report(veld::PhaseFoundFile, -1, "");
    Pump();
    EXPECT_EQ(window->lineText(1), QStringLiteral("FAT読み込み"));
    EXPECT_EQ(window->lineText(3), QString());
    progress.Report(veld::PhaseFoundFile, -1, "IMG_0001.JPG");
    Pump();
    EXPECT_EQ(window->lineText(3), QStringLiteral("IMG_0001.JPG"));
    EXPECT_EQ(window->lineText(2), QStringLiteral("3/10"));
    EXPECT_EQ(window->percent(), 42);

    // Cluster phases: heading and cluster line.
    progress.SetClusterRange(2, 102);
    progress.Report(veld::PhaseJpegWindow, 52, "");
    Pump();
    EXPECT_EQ(window->lineText(1), QStringLiteral("詳細検索(JPEG)"));
    EXPECT_EQ(window->lineText(2), QStringLiteral("クラスタ 52/102(51.0%)"));
    EXPECT_EQ(window->percent(), 50);

    delete window;
    // A report after the window is gone reaches nobody.
    progress.Report(veld::PhaseFatRead, 10, "x");
    Pump();
}

// The signature search shows its time left, measured from where it began
// (not from the start of the search), as the command line does; the last
// step after it is named, with the bar full.
TEST(SearchProgressWindow, SignatureSearchShowsTheTimeLeftAndTheLastStepIsNamed) {
    using namespace std::chrono_literals;
    SearchController controller;
    veld::SearchProgress& progress = controller.session().progress;
    QWidget parent;
    auto* window = new SearchProgressWindow(controller, &parent);
    SearchProgressWindow::Clock::time_point now{};
    window->setClock([&] { return now; });
    window->Open(QStringLiteral("削除ファイル検索"), QStringLiteral("検索中"), QStringLiteral("キャンセル"));

    progress.Report(veld::PhaseFatRead, 50, "1/2");
    Pump();
    now += 20s;
    progress.SetClusterRange(0, 1000);
    progress.Report(veld::PhaseClustersStart, 0, "");
    Pump();
    now += 10s;
    progress.Report(veld::PhaseCluster, 250, "");
    Pump();
    EXPECT_EQ(window->lineText(2), QStringLiteral("クラスタ 250/1000(25.0%)  残り 0:30"));

    progress.Report(veld::PhaseFinishing, -1, "縮小画像の作成とファイルの状態の確定");
    Pump();
    EXPECT_EQ(window->lineText(1), QStringLiteral("仕上げ"));
    EXPECT_EQ(window->lineText(2), QStringLiteral("縮小画像の作成とファイルの状態の確定"));
    EXPECT_EQ(window->percent(), 100);
    delete window;
}

TEST(SearchProgressWindow, WorkerReportsNeverWaitForTheInterfaceThread) {
    SearchController controller;
    veld::SearchProgress& progress = controller.session().progress;  // the reports of the search
    QWidget parent;
    auto* window = new SearchProgressWindow(controller, &parent);
    window->Open(QStringLiteral("削除ファイル検索"), QStringLiteral("検索中"), QStringLiteral("キャンセル"));

    // The interface thread blocks in join() (as FinishSearch waits for the
    // worker) while the worker reports: the reports must not need it.
    std::atomic<bool> done{false};
    std::thread worker([&] {
        for (int i = 1; i <= 2000; ++i) {
            progress.Report(veld::PhaseFolder, -1, "フォルダ検索 DCIM/" + std::to_string(i));
            progress.Report(veld::PhaseFoundFile, -1, "FILE" + std::to_string(i) + ".JPG");
        }
        progress.Report(veld::PhaseFatRead, 77, "done");
        done = true;
    });
    const auto started = std::chrono::steady_clock::now();
    worker.join();
    EXPECT_TRUE(done.load());
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(10));

    // Thousands of reports became at most a few queued updates; once the
    // event loop runs, the last values show.
    Pump();
    EXPECT_EQ(window->lineText(1), QStringLiteral("FAT読み込み"));
    EXPECT_EQ(window->lineText(2), QStringLiteral("done"));
    EXPECT_EQ(window->lineText(3), QStringLiteral("FILE2000.JPG"));
    EXPECT_EQ(window->percent(), 77);
    delete window;
}

TEST(SearchProgressWindow, ConcurrentReportsWhileTheEventLoopRuns) {
    SearchController controller;
    veld::SearchProgress& progress = controller.session().progress;  // the reports of the search
    QWidget parent;
    auto* window = new SearchProgressWindow(controller, &parent);
    window->Open(QStringLiteral("削除ファイル検索"), QStringLiteral("検索中"), QStringLiteral("キャンセル"));
    std::atomic<bool> stop{false};
    std::thread worker([&] {
        for (int i = 0; !stop.load(); ++i) progress.Report(veld::PhaseFatRead, i % 101, "r" + std::to_string(i));
    });
    for (int i = 0; i < 200; ++i) QCoreApplication::processEvents();
    stop = true;
    worker.join();
    progress.Report(veld::PhaseFatRead, 5, "last");
    Pump();
    EXPECT_EQ(window->lineText(2), QStringLiteral("last"));
    EXPECT_EQ(window->percent(), 5);
    delete window;
}

TEST(SearchProgressWindow, CancelAsksTheSearchToStopAndStaysOpen) {
    SearchController controller;
    QWidget parent;
    auto* window = new SearchProgressWindow(controller, &parent);
    window->Open(QStringLiteral("削除ファイル検索"), QStringLiteral("検索中"), QStringLiteral("キャンセル"));
    QSignalSpy cancel(window, &SearchProgressWindow::cancelRequested);
    auto* button = window->findChild<QPushButton*>();
    ASSERT_NE(button, nullptr);
    EXPECT_EQ(button->text(), QStringLiteral("キャンセル"));
    QTest::mouseClick(button, Qt::LeftButton);
    QTest::keyClick(window, Qt::Key_Escape);
    Pump();
    EXPECT_EQ(cancel.count(), 2);
    EXPECT_EQ(controller.session().cancelFlag.load(), 1);
    EXPECT_TRUE(window->isVisible());
    delete window;
}

TEST(SearchProgressWindow, SpinnerTurnsEveryHalfSecond) {
    SearchController controller;
    QWidget parent;
    auto* window = new SearchProgressWindow(controller, &parent);
    window->Open(QStringLiteral("t"), QStringLiteral("l"), QStringLiteral("キャンセル"));
    QTest::qWait(1150);
    // Two ticks: steps 0 and 1 shown, the second is "－".
    EXPECT_EQ(window->spinnerText(), QStringLiteral("－"));
    delete window;
}

TEST(SearchProgressWindow, CompactWindowWithoutButton) {
    SearchController controller;
    QWidget parent;
    auto* window = new SearchProgressWindow(controller, &parent);
    window->Open(QStringLiteral("処理中"), QStringLiteral("準備中"), QString());
    EXPECT_FALSE(window->buttonShown());
    EXPECT_FALSE(window->barShown());
    const veld::DialogUnits du = veld::DialogUnitsOf(window->font());
    EXPECT_EQ(window->size(), du.size(186, 35));
    // Lines still work in the compact window.
    window->setLine(2, QStringLiteral("detail"));
    window->setLine(7, QStringLiteral("ignored"));
    EXPECT_EQ(window->lineText(2), QStringLiteral("detail"));
    EXPECT_EQ(window->lineText(1), QStringLiteral("準備中"));
    delete window;
}

TEST(SearchProgressWindow, BarNeverDrawsBoundaryAtTheEnds) {
    SearchController controller;
    QWidget parent;
    auto* window = new SearchProgressWindow(controller, &parent);
    window->Open(QStringLiteral("t"), QStringLiteral("l"), QStringLiteral("キャンセル"));
    veld::BitmapProgressBar* bar = window->bar();
    ASSERT_NE(bar, nullptr);
    const QRect r = bar->barRect();
    auto blackColumns = [&](int percent) {
        window->setPercent(percent);
        QImage shot = bar->grab().toImage();
        int black = 0;
        for (int x = r.left(); x <= r.right(); ++x)
            if (shot.pixelColor(x, r.center().y()) == QColor(Qt::black)) ++black;
        return black;
    };
    EXPECT_EQ(blackColumns(0), 0);
    EXPECT_EQ(blackColumns(100), 0);
    EXPECT_EQ(blackColumns(40), 1);
    delete window;
}

}  // namespace
