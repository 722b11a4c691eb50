#include "ui/main/instance_guard.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFileInfo>
#include <QLocalServer>
#include <QLocalSocket>
#include <QThread>

#include <unistd.h>

namespace veld {
namespace {

QString BaseName() { return QStringLiteral("VeldMutex-%1").arg(::getuid()); }

constexpr char kOpen[] = "OPEN ";
constexpr char kAnswer[] = "OK\n";
// A request line longer than this is no path.
constexpr qint64 kMaxLine = 8192;

}  // namespace

InstanceGuard::InstanceGuard(const QString& folder, QObject* parent)
    : QObject(parent), folder_(folder), lock_(QDir(folder).filePath(BaseName() + QStringLiteral(".lock"))) {
    // A lock left by a crashed instance is taken over at once.
    lock_.setStaleLockTime(0);
}

InstanceGuard::~InstanceGuard() {
    if (server_) server_->close();
}

QString InstanceGuard::lockPath() const { return QDir(folder_).filePath(BaseName() + QStringLiteral(".lock")); }

QString InstanceGuard::SocketPath(const QString& folder) {
    return QDir(folder).filePath(BaseName() + QStringLiteral(".socket"));
}

bool InstanceGuard::acquire() { return lock_.tryLock(0); }

bool InstanceGuard::listen(std::function<void(const QString&)> onImage) {
    onImage_ = std::move(onImage);
    server_ = std::make_unique<QLocalServer>();
    server_->setSocketOptions(QLocalServer::UserAccessOption);
    const QString path = SocketPath(folder_);
    // The lock is ours: a socket file left behind belongs to no one.
    QLocalServer::removeServer(path);
    connect(server_.get(), &QLocalServer::newConnection, this, &InstanceGuard::onConnection);
    return server_->listen(path);
}

void InstanceGuard::onConnection() {
    while (QLocalSocket* socket = server_->nextPendingConnection()) {
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        connect(socket, &QLocalSocket::readyRead, this, [this, socket] {
            if (!socket->canReadLine()) {
                if (socket->bytesAvailable() > kMaxLine) socket->abort();
                return;
            }
            const QString line = QString::fromUtf8(socket->readLine(kMaxLine)).trimmed();
            if (!line.startsWith(QLatin1String(kOpen))) {
                socket->abort();
                return;
            }
            socket->write(kAnswer);
            socket->flush();
            socket->disconnectFromServer();
            if (onImage_) onImage_(line.mid(int(sizeof kOpen) - 1));
        });
    }
}

bool InstanceGuard::HandOver(const QString& folder, const QString& imagePath, int timeoutMs, QString* reason) {
    const QDeadlineTimer deadline(timeoutMs);
    QLocalSocket socket;
    // The running instance may still be starting: it takes the lock before
    // it listens.
    for (;;) {
        socket.connectToServer(SocketPath(folder));
        if (socket.waitForConnected(int(std::max<qint64>(1, deadline.remainingTime())))) break;
        if (deadline.hasExpired()) {
            if (reason) *reason = socket.errorString();
            return false;
        }
        QThread::msleep(100);
    }
    const QString absolute = QFileInfo(imagePath).absoluteFilePath();
    socket.write(QByteArray(kOpen) + absolute.toUtf8() + '\n');
    socket.flush();
    while (!socket.canReadLine()) {
        if (!socket.waitForReadyRead(int(std::max<qint64>(1, deadline.remainingTime())))) {
            if (reason) *reason = socket.errorString();
            return false;
        }
    }
    const bool answered = socket.readLine() == kAnswer;
    if (!answered && reason) *reason = QStringLiteral("unexpected answer");
    return answered;
}

}  // namespace veld
