#include "ui/message_boxes.h"

#include <QApplication>
#include <QMessageBox>
#include <QPointer>
#include <QThread>
#include <QTimer>

#include "base/trace.h"

namespace veld {
namespace {

QuestionAnswerer gAnswerer;

void ShowBox(const MessageBoxRequest& request, QWidget* defaultOwner) {
    QWidget* owner = request.owner ? static_cast<QWidget*>(request.owner) : defaultOwner;
    QString text = QString::fromUtf8(request.text.c_str());
    if (request.isError) {
        QMessageBox::critical(owner, QStringLiteral("エラー"), text);
    } else {
        QMessageBox::information(owner, QStringLiteral("Veld"), text);
    }
}

}  // namespace

void SetQuestionAnswererForTest(QuestionAnswerer answerer) { gAnswerer = std::move(answerer); }

bool AskYesNo(QWidget* owner, const QString& text) {
    LogLine("MsgBox %s", text.toUtf8().constData());
    if (gAnswerer) return gAnswerer(text);
    return QMessageBox::question(owner, QStringLiteral("Veld"), text, QMessageBox::Yes | QMessageBox::No,
                                 QMessageBox::No) == QMessageBox::Yes;
}

void InstallGuiMessageBoxSink(QWidget* defaultOwner) {
    SetMessageBoxSink([defaultOwner = QPointer<QWidget>(defaultOwner)](const MessageBoxRequest& request) {
        QCoreApplication* app = QCoreApplication::instance();
        if (!app) return;
        if (QThread::currentThread() == app->thread()) {
            ShowBox(request, defaultOwner.data());
            return;
        }
        // Owner pointers of other threads are not trusted; the box goes to
        // the default owner.
        MessageBoxRequest copy = request;
        copy.owner = nullptr;
        QMetaObject::invokeMethod(
            app, [copy, defaultOwner] { ShowBox(copy, defaultOwner.data()); }, Qt::QueuedConnection);
    });
}

}  // namespace veld
