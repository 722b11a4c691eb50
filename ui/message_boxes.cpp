#include "ui/message_boxes.h"

#include <QApplication>
#include <QMessageBox>
#include <QPointer>
#include <QThread>
#include <QTimer>

#include "base/trace.h"

namespace veld {
namespace {

QPointer<QWidget> gDefaultOwner;

void ShowBox(const MessageBoxRequest& request) {
    QWidget* owner = request.owner ? static_cast<QWidget*>(request.owner) : gDefaultOwner.data();
    QString text = QString::fromUtf8(request.text.c_str());
    if (request.isError) {
        QMessageBox::warning(owner, QStringLiteral("エラー"), text);
    } else {
        QMessageBox::information(owner, QStringLiteral("Veld"), text);
    }
}

}  // namespace

void InstallGuiMessageBoxSink(QWidget* defaultOwner) {
    gDefaultOwner = defaultOwner;
    SetMessageBoxSink([](const MessageBoxRequest& request) {
        QCoreApplication* app = QCoreApplication::instance();
        if (!app) return;
        if (QThread::currentThread() == app->thread()) {
            ShowBox(request);
            return;
        }
        // Owner pointers of other threads are not trusted; the box goes to
        // the default owner.
        MessageBoxRequest copy = request;
        copy.owner = nullptr;
        QMetaObject::invokeMethod(app, [copy] { ShowBox(copy); }, Qt::QueuedConnection);
    });
}

}  // namespace veld
