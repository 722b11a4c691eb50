// The grid side of the drag-and-drop tests, run as its own process on a real
// display: the main window searches the disk image named on the command line
// and shows the thumbnail grid. When the search is over it prints one line
// per cell on the screen, "cell RECORD X Y NAME" (the picture box's centre
// on the screen), then "ready CODE WINDOW" (the search's result and the X
// window of the main window, for giving it the keyboard). It stays until it is closed or killed, and
// prints "message TEXT" for every message box it would show.
#include <QApplication>
#include <QTimer>

#include <cstdio>

#include "base/trace.h"
#include "platform/qt/qt_platform_services.h"
#include "ui/main/main_frame.h"
#include "ui/search_controller.h"
#include "ui/thumbs/thumbnail_pane.h"
#include "ui/thumbs/thumbnail_grid.h"

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    if (QCoreApplication::arguments().size() < 2) {
        std::fprintf(stderr, "usage: veld_drag_source IMAGE\n");
        return 2;
    }
    veld::InstallQtPlatformServices();
    // Message boxes would wait for a click no one makes: they are printed.
    veld::SetMessageBoxSink([](const veld::MessageBoxRequest& request) {
        std::printf("message %s\n", request.text.c_str());
        std::fflush(stdout);
    });
    veld::SearchController controller;
    veld::MainFrame frame(controller);
    frame.move(0, 0);
    frame.resize(900, 600);
    frame.show();
    QObject::connect(&controller, &veld::SearchController::searchFinished, &frame, [&frame](int code) {
        // Give the grid a moment to lay itself out and draw.
        QTimer::singleShot(300, &frame, [&frame, code] {
            veld::ThumbnailGrid* grid = frame.thumbnailPane()->grid();
            for (int cell = 0; cell < grid->cellCount(); ++cell) {
                if (!grid->isCellVisible(cell)) continue;
                const veld::DelFileInfo* record = grid->RecordOfCell(cell);
                if (!record) continue;
                const QPoint at = grid->viewport()->mapToGlobal(grid->pictureBox(cell).center());
                std::printf("cell %d %d %d %s\n", record->index, at.x(), at.y(),
                            record->name ? record->name->c_str() : "");
            }
            std::printf("ready %d %llu\n", code, static_cast<unsigned long long>(frame.winId()));
            std::fflush(stdout);
        });
    });
    frame.SearchImageAtStart(QCoreApplication::arguments()[1], false);
    return app.exec();
}
