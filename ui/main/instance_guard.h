// One Veld window per user. The first instance holds a lock file in the
// temporary folder (the counterpart of a named mutex "VeldMutex") and listens
// on a local socket beside it; a second one started with a disk image hands
// the image over through that socket and ends, so that "Open with Veld" in a
// file manager works whether or not Veld is open. The running window comes
// to the front and searches the image.
//
//   client -> server   "OPEN <absolute path>\n" (UTF-8)
//   server -> client   "OK\n"
#pragma once

#include <QLockFile>
#include <QObject>
#include <QString>
#include <functional>
#include <memory>

class QLocalServer;

namespace veld {

class InstanceGuard : public QObject {
    Q_OBJECT
public:
    // folder: where the lock and the socket live (the temporary folder).
    explicit InstanceGuard(const QString& folder, QObject* parent = nullptr);
    ~InstanceGuard() override;

    // Takes the lock; false when another instance holds it.
    bool acquire();
    // Starts listening (after acquire): each image handed over is given to
    // the function on the interface thread.
    bool listen(std::function<void(const QString& imagePath)> onImage);
    // Hands an image to the running instance; false (with the reason) when
    // it could not be reached within timeoutMs.
    static bool HandOver(const QString& folder, const QString& imagePath, int timeoutMs, QString* reason);

    QString lockPath() const;
    static QString SocketPath(const QString& folder);

private:
    void onConnection();

    QString folder_;
    QLockFile lock_;
    std::unique_ptr<QLocalServer> server_;
    std::function<void(const QString&)> onImage_;
};

}  // namespace veld
