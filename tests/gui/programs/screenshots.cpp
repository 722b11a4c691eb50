// Takes the pictures a reviewer of the main window needs, run on a real
// display (tests/gui/take_screenshots.sh runs it under Xvfb):
//
//   veld_screenshots CARD HELP_PAGE OUT_DIR
//
// The main window searches CARD and is shot with the thumbnail grid
// (main-window.png, with the grid zoomed in grid-zoomed.png), the list
// (list.png) and the disk map (disk-map.png); then the save dialog with three
// files selected (save-dialog.png); then a search of a raw copy of CARD
// (1 GiB, mostly empty) cancelled once it has found a few files
// (cancelled-search.png); then HELP_PAGE shown inside Veld (help.png).
// Each picture's name is printed as it is written; message boxes are
// printed instead of shown. Exit status 0 when all seven were written.
#include <QAction>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QSlider>
#include <QTimer>

#include <cstdio>
#include <functional>

#include "base/trace.h"
#include "platform/qt/qt_platform_services.h"
#include "ui/main/found_file_list.h"
#include "ui/main/main_frame.h"
#include "ui/search_controller.h"
#include "ui/shell_open.h"
#include "ui/thumbs/thumbnail_pane.h"
#include "ui/viewers/help_browser.h"

namespace {

QString gOutDir;
int gWritten = 0;

void Shoot(QWidget* widget, const char* name) {
    const QString path = QDir(gOutDir).filePath(QString::fromLatin1(name));
    if (widget && widget->grab().save(path)) {
        ++gWritten;
        std::printf("%s\n", path.toUtf8().constData());
    } else {
        std::fprintf(stderr, "could not write %s\n", path.toUtf8().constData());
    }
    std::fflush(stdout);
}

// Runs the steps one after another, each after the events before it (a
// layout, a repaint) have been handled.
void After(int ms, std::function<void()> step) { QTimer::singleShot(ms, qApp, std::move(step)); }

// The View menu's command of that name, as a user picks it.
void Pick(veld::MainFrame& frame, const char* action) {
    if (QAction* a = frame.findChild<QAction*>(QString::fromLatin1(action))) a->trigger();
}

// A raw source: CARD's bytes without its boot sector, then nothing up to
// 1 GiB (sparse), so the signature search is still running when it is
// cancelled.
QString MakeRawCopy(const QString& card) {
    QFile in(card);
    const QString path = QDir(gOutDir).filePath(QStringLiteral("raw-card.img"));
    QFile out(path);
    if (!in.open(QIODevice::ReadOnly) || !out.open(QIODevice::WriteOnly | QIODevice::Truncate)) return {};
    QByteArray bytes = in.readAll();
    bytes.replace(0, 512, QByteArray(512, '\0'));
    out.write(bytes);
    out.resize(qint64(1) << 30);
    return path;
}

}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    const QStringList args = QCoreApplication::arguments();
    if (args.size() != 4) {
        std::fprintf(stderr, "usage: veld_screenshots CARD HELP_PAGE OUT_DIR\n");
        return 2;
    }
    const QString card = args[1];
    gOutDir = args[3];
    QDir().mkpath(gOutDir);
    veld::InstallQtPlatformServices();
    veld::SetMessageBoxSink([](const veld::MessageBoxRequest& request) {
        std::printf("message %s\n", request.text.c_str());
        std::fflush(stdout);
    });
    // As on a desktop without a browser: the help page shows inside Veld.
    veld::SetShellOpenerForTest([](const QString&) { return false; });

    veld::SearchController controller;
    veld::MainFrame frame(controller);
    frame.setHelpPath(args[2]);
    frame.move(0, 0);
    frame.resize(1050, 700);
    frame.show();

    int searches = 0;
    QObject::connect(&controller, &veld::SearchController::searchFinished, &frame, [&](int) {
        if (++searches == 1) {
            After(500, [&] {
                Pick(frame, "showThumbnails");
                After(300, [&] {
                    Shoot(&frame, "main-window.png");
                    QSlider* zoom = frame.thumbnailPane()->zoomSlider();
                    zoom->setValue(zoom->maximum());
                });
                After(1200, [&] { Shoot(&frame, "grid-zoomed.png"); });
                After(1500, [&] {
                    frame.thumbnailPane()->zoomSlider()->setValue(frame.thumbnailPane()->zoomSlider()->minimum());
                    Pick(frame, "showList");
                });
                After(1800, [&] { Shoot(&frame, "list.png"); });
                After(2000, [&] { Pick(frame, "showDiskMap"); });
                After(2300, [&] { Shoot(&frame, "disk-map.png"); });
                After(2500, [&] {
                    Pick(frame, "showList");
                    veld::FoundFileList* list = frame.listPane();
                    for (int row = 0; row < 3 && row < list->shownRowCount(); ++row) list->setRowSelected(row, true);
                    // The dialog is modal: it is shot and closed from the
                    // event loop it runs.
                    After(500, [&] {
                        QWidget* dialog = QApplication::activeModalWidget();
                        Shoot(dialog, "save-dialog.png");
                        if (dialog) dialog->close();
                    });
                    frame.onSave();
                    const QString raw = MakeRawCopy(card);
                    if (raw.isEmpty()) {
                        std::fprintf(stderr, "could not make the raw copy\n");
                        QApplication::exit(1);
                        return;
                    }
                    frame.SearchImageAtStart(raw, false);
                });
            });
        } else {
            After(500, [&] {
                Shoot(&frame, "cancelled-search.png");
                QFile::remove(QDir(gOutDir).filePath(QStringLiteral("raw-card.img")));
                frame.onHelp();
                After(500, [&] {
                    Shoot(frame.helpBrowser(), "help.png");
                    QApplication::exit(gWritten == 7 ? 0 : 1);
                });
            });
        }
    });
    // The second search is cancelled as soon as it has found a few files.
    bool cancelAsked = false;
    QObject::connect(&controller, &veld::SearchController::fileFound, &frame, [&](int record) {
        if (searches != 1 || record < 3 || cancelAsked) return;
        cancelAsked = true;
        controller.requestCancel();
    });
    frame.SearchImageAtStart(card, false);
    // Unsaved files would make closing ask.
    const int status = app.exec();
    std::fflush(stdout);
    std::_Exit(status);
}
