// Times the found-file list of the main window with many found files:
// appending rows one at a time as a search reports them, filling it at the
// end of the search, showing one group of the tree, sorting by a header click,
// and selecting rows with the selection summary in the status bar. Runs
// offscreen and prints one line per step.
//
//   QT_QPA_PLATFORM=offscreen list_benchmark [RECORDS]   (default 50000)
#include <QApplication>
#include <QElapsedTimer>
#include <QItemSelection>
#include <QItemSelectionModel>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "base/settings.h"
#include "finder/search_session.h"
#include "platform/qt/qt_platform_services.h"
#include "search/found_file_columns.h"
#include <QTreeWidget>

#include "base/trace.h"
#include "platform/window_message.h"
#include "ui/main/found_file_list.h"
#include "ui/main/found_file_tree.h"
#include "ui/main/main_frame.h"
#include "ui/search_controller.h"
#include "volume/cluster_map.h"

namespace {

using namespace veld;

// A camera-like record: pictures in a few folders with EXIF data, some clips
// and text files, states and dates spread out, all of them listed.
DelFileInfo SyntheticRecord(int index, std::mt19937& rng) {
    DelFileInfo r;
    const int kind = int(rng() % 10);  // 0..6 pictures, 7..8 clips, 9 text
    const char* ext = kind < 7 ? "JPG" : (kind < 9 ? "MOV" : "TXT");
    char name[32];
    std::snprintf(name, sizeof name, "%s_%05d.%s", kind < 7 ? "IMG" : (kind < 9 ? "MOV" : "NOTE"), index, ext);
    r.name = name;
    char folder[32];
    std::snprintf(folder, sizeof folder, "DCIM\\%03dCANON", 100 + int(rng() % 8));
    r.folder = folder;
    r.extension = ext;
    r.isImage = kind < 7 ? 1 : 0;
    r.listed = 1;
    r.index = index;
    const uint32_t start = 2 + uint32_t(index) * 40;
    r.startCluster = start;
    r.fileSize = 100000 + uint32_t(rng() % 6000000);
    const uint16_t date = uint16_t(((2005 + rng() % 20 - 1980) << 9) | ((1 + rng() % 12) << 5) | (1 + rng() % 28));
    const uint16_t time = uint16_t((rng() % 24) << 11 | (rng() % 60) << 5 | (rng() % 30));
    r.modified = FatTime{date, time};
    const int state = int(rng() % 20);
    r.state = state < 15 ? StateComplete : (state < 18 ? StateFragmented : StateBroken);
    r.clustersNeeded = 100;
    r.clustersCollected = r.state == StateFragmented ? int32_t(rng() % 100) : 100;
    if (kind < 7) {
        r.firstClass = ContentClass::JpegStart;
        r.jpeg.found = 1;
        r.jpeg.model = kind < 4 ? "Canon EOS 40D" : "NIKON D70";
        r.jpeg.exifWidth = 3888;
        r.jpeg.exifHeight = 2592;
        if (kind == 0) {
            r.jpeg.latRef = 'N', r.jpeg.latDeg = 35, r.jpeg.latMin = 41, r.jpeg.latSec = int32_t(rng() % 1000);
            r.jpeg.lonRef = 'E', r.jpeg.lonDeg = 139, r.jpeg.lonMin = 41, r.jpeg.lonSec = int32_t(rng() % 1000);
        }
    }
    return r;
}

double Elapsed(QElapsedTimer& timer) { return double(timer.nsecsElapsed()) / 1e6; }

void Print(const char* step, double ms, const FoundFileList& list) {
    std::printf("%10.1f ms  %s (%d rows)\n", ms, step, list.model()->rowCount());
    std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv) {
    const int count = argc > 1 ? std::atoi(argv[1]) : 50000;
    QApplication app(argc, argv);
    QTemporaryDir settings;
    SetSettingsFilePath(settings.filePath(QStringLiteral("Veld.ini")).toStdString());
    InstallQtPlatformServices();

    // The end of the search says that nothing was found (nothing was registered).
    SetMessageBoxSink([](const MessageBoxRequest&) {});
    SearchController controller;
    MainFrame frame(controller);
    frame.resize(1200, 800);
    frame.show();
    QApplication::processEvents();
    SearchSession& session = controller.session();
    FoundFileList& list = *frame.listPane();

    std::mt19937 rng(20240101);
    for (int i = 0; i < count; ++i) session.gcDelFileList.Add(SyntheticRecord(i, rng));
    std::printf("found-file list, %d records\n", count);

    QElapsedTimer timer;
    // As a running search reports them: one message and one row per found
    // file, painted as it goes.
    timer.start();
    for (int i = 0; i < count; ++i) controller.messageTarget()->PostMessage(MsgFoundFile, 0, 0);
    QCoreApplication::sendPostedEvents(&controller);
    list.viewport()->repaint();
    Print("append one by one (search running)", Elapsed(timer), list);

    // The end of the search: the views are refilled from the found files.
    timer.restart();
    controller.messageTarget()->PostMessage(MsgSearchFinished, 0, 0);
    QCoreApplication::sendPostedEvents(&controller);
    list.viewport()->repaint();
    Print("fill after the search", Elapsed(timer), list);

    // The tree's pictures group, then every file again.
    QTreeWidgetItem* root = frame.treePane()->rootNode();
    for (QTreeWidgetItem* node : {root->child(0), root}) {
        timer.restart();
        frame.treePane()->tree()->setCurrentItem(node);
        list.viewport()->repaint();
        const std::string step = "show " + node->text(0).toStdString();
        Print(step.c_str(), Elapsed(timer), list);
    }

    for (int column : {int(ColName), int(ColSize), int(ColDate), int(ColState), int(ColName)}) {
        timer.restart();
        list.SortByColumn(column);
        list.viewport()->repaint();
        const char* direction = list.sortFlag(column) ? ", descending" : ", ascending";
        std::string step = "sort by " + FoundFileColumnHeading(column) + direction;
        Print(step.c_str(), Elapsed(timer), list);
    }

    QItemSelectionModel* selection = list.selectionModel();
    const int rows = list.model()->rowCount();
    auto rowRange = [&](int first, int last) {
        return QItemSelection(list.model()->index(first, 0), list.model()->index(last, FoundFileColumnCount - 1));
    };

    timer.restart();
    list.selectAll();  // Ctrl+A
    list.viewport()->repaint();
    Print("select all (Ctrl+A), with the summary", Elapsed(timer), list);

    timer.restart();
    selection->select(rowRange(rows / 4, rows / 4 + rows / 2 - 1), QItemSelectionModel::ClearAndSelect);  // Shift-click
    list.viewport()->repaint();
    Print("select half the rows (Shift-click), with the summary", Elapsed(timer), list);

    // Ctrl-clicks on rows spread over the list, one at a time, each followed
    // by the summary: the selection grows by one range per click.
    constexpr int kClicks = 200;
    selection->clear();
    timer.restart();
    for (int k = 0; k < kClicks; ++k) {
        selection->select(rowRange(int(int64_t(k) * rows / kClicks), int(int64_t(k) * rows / kClicks)),
                          QItemSelectionModel::Select);
        list.viewport()->repaint();
    }
    Print("200 Ctrl-clicks on scattered rows, each with the summary", Elapsed(timer), list);

    timer.restart();
    const std::vector<int> selected = list.selectedRecords();
    Print("the selected records (for saving)", Elapsed(timer), list);

    timer.restart();
    list.SortByColumn(ColSize);
    list.viewport()->repaint();
    Print("sort by size with the scattered rows selected", Elapsed(timer), list);
    std::vector<int> after = list.selectedRecords();
    std::vector<int> before = selected;
    std::sort(after.begin(), after.end());
    std::sort(before.begin(), before.end());
    if (after != before) std::printf("the selection did not follow its rows\n");

    std::printf("status: %s\n", frame.statusText(1).toUtf8().constData());
    return 0;
}
