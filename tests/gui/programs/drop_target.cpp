// A drop target for the drag-and-drop tests, as a separate process: a window
// that takes file URLs (text/uri-list) dropped on it, copies those files
// into the folder named on its command line, prints "dropped N" and exits.
// When its window is on the screen it prints "window X Y WIDTH HEIGHT" (its
// area on the screen), so a test knows where to drop, and "enter" and
// "leave" when a drag comes over it and goes.
#include <QApplication>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileInfo>
#include <QMimeData>
#include <QTimer>
#include <QUrl>
#include <QWidget>

#include <cstdio>

namespace {

class DropTarget : public QWidget {
public:
    explicit DropTarget(QString folder) : folder_(std::move(folder)) {
        setAcceptDrops(true);
        setWindowTitle(QStringLiteral("veld drop target"));
    }

protected:
    void dragEnterEvent(QDragEnterEvent* event) override {
        std::printf("enter\n");
        std::fflush(stdout);
        if (event->mimeData()->hasUrls() && (event->possibleActions() & Qt::CopyAction)) {
            event->setDropAction(Qt::CopyAction);
            event->accept();
        }
    }
    void dragMoveEvent(QDragMoveEvent* event) override {
        event->setDropAction(Qt::CopyAction);
        event->accept();
    }
    void dragLeaveEvent(QDragLeaveEvent*) override {
        std::printf("leave\n");
        std::fflush(stdout);
    }
    void dropEvent(QDropEvent* event) override {
        int copied = 0;
        for (const QUrl& url : event->mimeData()->urls()) {
            if (!url.isLocalFile()) continue;
            const QString source = url.toLocalFile();
            if (QFile::copy(source, QDir(folder_).filePath(QFileInfo(source).fileName()))) ++copied;
            else std::fprintf(stderr, "not copied: %s\n", qPrintable(source));
        }
        event->setDropAction(Qt::CopyAction);
        event->accept();
        std::printf("dropped %d\n", copied);
        std::fflush(stdout);
        // Leave after the drag source has heard the drop was taken.
        QTimer::singleShot(200, qApp, &QCoreApplication::quit);
    }
    void showEvent(QShowEvent* event) override {
        QWidget::showEvent(event);
        QTimer::singleShot(100, this, [this] {
            const QPoint at = mapToGlobal(QPoint(0, 0));
            std::printf("window %d %d %d %d\n", at.x(), at.y(), width(), height());
            std::fflush(stdout);
        });
    }

private:
    QString folder_;
};

}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    if (QCoreApplication::arguments().size() < 2) {
        std::fprintf(stderr, "usage: veld_drop_target FOLDER [X Y]\n");
        return 2;
    }
    const QStringList args = QCoreApplication::arguments();
    DropTarget target(args[1]);
    target.resize(300, 300);
    if (args.size() >= 4) target.move(args[2].toInt(), args[3].toInt());
    target.show();
    return app.exec();
}
