// Times the thumbnail grid of the main window on a card with many pictures:
// the search, the first screenful of thumbnails, a scroll from the top to the
// bottom and back with every visible thumbnail made, the longest stall of the
// event loop meanwhile, and the peak memory. Runs offscreen.
//
//   QT_QPA_PLATFORM=offscreen thumbnail_grid_benchmark [PICTURES [WIDTH HEIGHT]]
//   (default 2000 pictures of 1600 x 1200)
#include <QApplication>
#include <QElapsedTimer>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "base/settings.h"
#include "base/trace.h"
#include "platform/qt/qt_platform_services.h"
#include "support/fat_image_builder.h"
#include "support/test_jpeg.h"
#include "ui/dialog_units.h"
#include "ui/main/main_frame.h"
#include "ui/main/start_search.h"
#include "ui/search_controller.h"
#include "ui/thumbs/thumbnail_pane.h"
#include "ui/thumbs/thumbnail_grid.h"

namespace {

using namespace veld;

// Pictures written one after another into the free clusters of a FAT32
// card, without directory entries: the signature search finds them all.
bool WriteCard(const std::string& path, int pictures, int width, int height) {
    std::vector<std::vector<uint8_t>> kinds;
    for (int i = 0; i < 4; ++i) kinds.push_back(test::MakeTestJpeg(width + 8 * i, height + 6 * i));
    size_t largest = 0;
    for (const auto& k : kinds) largest = std::max(largest, k.size());
    const uint32_t clusterSize = 32768;
    const uint64_t clustersEach = (largest + clusterSize - 1) / clusterSize + 1;
    const uint64_t sectors = (clustersEach * uint64_t(pictures) + 4096) * (clusterSize / 512);
    test::FatImageBuilder b(test::FatGeometry::Fat32(uint32_t(sectors), uint8_t(clusterSize / 512)));
    b.Root().AddDir("DCIM", 3);
    uint32_t cluster = 16;
    for (int i = 0; i < pictures; ++i) {
        const std::vector<uint8_t>& jpeg = kinds[size_t(i) % kinds.size()];
        for (size_t at = 0; at < jpeg.size(); at += clusterSize)
            b.WriteCluster(cluster + uint32_t(at / clusterSize),
                           std::span<const uint8_t>(jpeg).subspan(at, std::min<size_t>(clusterSize, jpeg.size() - at)));
        cluster += uint32_t(clustersEach);
    }
    return b.WriteToFile(path);
}

// Runs the event loop until done() holds (or the time is up).
bool RunUntil(const std::function<bool()>& done, int timeoutMs) {
    QElapsedTimer clock;
    clock.start();
    while (!done()) {
        if (clock.elapsed() > timeoutMs) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    }
    return true;
}

bool VisibleMade(ThumbnailGrid* grid, SearchSession& session) {
    if (grid->loadQueueSize() > 0 || grid->decoding()) return false;
    const int first = grid->topRow() * grid->columns();
    for (int cell = first; cell < grid->cellCount() && grid->isCellVisible(cell); ++cell) {
        DelFileInfo* record = grid->RecordOfCell(cell);
        if (record && !record->thumbnailTried) return false;
    }
    (void)session;
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    const int pictures = argc > 1 ? std::atoi(argv[1]) : 2000;
    const int width = argc > 3 ? std::atoi(argv[2]) : 1600;
    const int height = argc > 3 ? std::atoi(argv[3]) : 1200;
    QApplication app(argc, argv);
    InstallQtPlatformServices();
    InstallFontSubstitutions();
    QTemporaryDir dir;
    SetSettingsFilePath(dir.filePath(QStringLiteral("Veld.ini")).toStdString());
    const std::string card = dir.filePath(QStringLiteral("card.img")).toStdString();
    if (!WriteCard(card, pictures, width, height)) {
        std::fprintf(stderr, "cannot write %s\n", card.c_str());
        return 1;
    }

    // The card was built in memory: the peak from here on is the program's.
    if (FILE* refs = std::fopen("/proc/self/clear_refs", "w")) {
        std::fputs("5", refs);
        std::fclose(refs);
    }
    SearchController controller;
    MainFrame frame(controller);
    frame.resize(1024, 700);
    frame.show();
    SetMessageBoxSink([](const MessageBoxRequest&) {});
    SetSearchSourceForTest([card](char* letter, std::string* path, SearchOptions* options) {
        *letter = 0;
        *path = card;
        *options = SearchOptions{};
        return true;
    });
    ThumbnailGrid* grid = frame.thumbnailPane()->grid();
    SearchSession& session = frame.session();

    // The event loop's longest stall: the largest gap between the firings of
    // a 5 ms timer, less the 5 ms.
    QElapsedTimer sinceLast;
    qint64 longestStall = 0;
    bool measuring = false;
    QTimer heartbeat;
    heartbeat.setInterval(5);
    QObject::connect(&heartbeat, &QTimer::timeout, [&] {
        if (measuring) longestStall = std::max(longestStall, sinceLast.elapsed() - 5);
        sinceLast.restart();
    });

    QElapsedTimer clock;
    clock.start();
    QSignalSpy finished(&controller, &SearchController::searchFinished);
    frame.onStartSearch();
    if (!RunUntil([&] { return !finished.isEmpty(); }, 600000)) return 1;
    const qint64 searchMs = clock.elapsed();

    heartbeat.start();
    sinceLast.start();
    measuring = true;
    clock.restart();
    RunUntil([&] { return VisibleMade(grid, session); }, 60000);
    const qint64 firstScreenMs = clock.elapsed();

    // Down and back up a page at a time, waiting each time for every visible
    // thumbnail; the search made thumbnails only for its first few hundred.
    clock.restart();
    int pages = 0;
    for (int pass = 0; pass < 2; ++pass) {
        for (int step = 0; step <= grid->maxTopRow(); step += grid->visibleRows()) {
            grid->setTopRow(pass == 0 ? step : grid->maxTopRow() - step);
            RunUntil([&] { return VisibleMade(grid, session); }, 60000);
            ++pages;
        }
    }
    const qint64 scrollMs = clock.elapsed();
    measuring = false;

    long peakKib = 0;
    if (FILE* status = std::fopen("/proc/self/status", "r")) {
        char line[256];
        while (std::fgets(line, sizeof line, status))
            if (std::sscanf(line, "VmHWM: %ld kB", &peakKib) == 1) break;
        std::fclose(status);
    }
    std::printf("pictures %d (%dx%d), grid %d columns x %d rows, %d pages scrolled\n", grid->cellCount(), width,
                height, grid->columns(), grid->visibleRows(), pages);
    std::printf("search                          %8lld ms\n", static_cast<long long>(searchMs));
    std::printf("first screenful of thumbnails   %8lld ms\n", static_cast<long long>(firstScreenMs));
    std::printf("scroll down and back, all made  %8lld ms\n", static_cast<long long>(scrollMs));
    std::printf("longest event-loop stall        %8lld ms\n", static_cast<long long>(longestStall));
    std::printf("thumbnails held / bound         %8zu / %d\n", session.ThumbnailQueue.Count(), grid->heldBound());
    std::printf("peak memory                     %8ld MiB\n", peakKib / 1024);
    SetSearchSourceForTest(nullptr);
    SetMessageBoxSink(nullptr);
    return 0;
}
