#include "support/udisks2_stand_in.h"

#include <QDBusArgument>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QDBusUnixFileDescriptor>
#include <QDBusVirtualObject>
#include <QProcess>
#include <atomic>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <sys/stat.h>
#include <unistd.h>

namespace veld::test {
namespace {

using InterfaceProperties = QMap<QString, QVariantMap>;
using ManagedObjects = QMap<QDBusObjectPath, InterfaceProperties>;

const QString kRootPath = QStringLiteral("/org/freedesktop/UDisks2");

// An object-path element from a device node's last name ("sdz1").
QString PathElement(const std::string& node) {
    QString name = QString::fromStdString(std::filesystem::path(node).filename().string());
    for (QChar& c : name)
        if (!(c.isLetterOrNumber() && c.unicode() < 128)) c = QLatin1Char('_');
    return name;
}

QString BlockPath(const std::string& node) { return kRootPath + QStringLiteral("/block_devices/") + PathElement(node); }
QString DrivePath(const std::string& node) { return kRootPath + QStringLiteral("/drives/") + PathElement(node) + "_drive"; }

std::atomic<int> gConnections{0};

}  // namespace

class UDisks2StandIn::Service : public QDBusVirtualObject {
public:
    explicit Service(UDisks2StandIn* owner) : owner_(owner) {}

    QString introspect(const QString&) const override { return {}; }

    bool handleMessage(const QDBusMessage& message, const QDBusConnection& connection) override {
        const QString member = message.member();
        if (member == QLatin1String("GetManagedObjects")) {
            connection.send(message.createReply(QVariant::fromValue(ManagedObjectsReply())));
        } else if (member == QLatin1String("ResolveDevice")) {
            const QVariantMap devspec = qdbus_cast<QVariantMap>(message.arguments().value(0));
            const std::string node = devspec.value(QStringLiteral("path")).toString().toStdString();
            QList<QDBusObjectPath> found;
            if (Find(node)) found << QDBusObjectPath(BlockPath(node));
            connection.send(message.createReply(QVariant::fromValue(found)));
        } else if (member == QLatin1String("OpenDevice")) {
            connection.send(OpenDevice(message));
        } else {
            connection.send(message.createErrorReply(QDBusError::UnknownMethod, member));
        }
        return true;
    }

private:
    const Device* Find(const std::string& node) const {
        for (const Device& d : owner_->devices_)
            if (d.node == node) return &d;
        return nullptr;
    }
    const Device* FindByPath(const QString& path) const {
        for (const Device& d : owner_->devices_)
            if (BlockPath(d.node) == path) return &d;
        return nullptr;
    }

    ManagedObjects ManagedObjectsReply() const {
        ManagedObjects objects;
        for (const Device& d : owner_->devices_) {
            QVariantMap drive{{QStringLiteral("Vendor"), QString::fromStdString(d.vendor)},
                              {QStringLiteral("Model"), QString::fromStdString(d.model)},
                              {QStringLiteral("Size"), qulonglong(d.media ? d.size : 0)},
                              {QStringLiteral("MediaAvailable"), d.media},
                              {QStringLiteral("MediaRemovable"), true},
                              {QStringLiteral("ConnectionBus"), QStringLiteral("usb")}};
            objects[QDBusObjectPath(DrivePath(d.node))][QStringLiteral("org.freedesktop.UDisks2.Drive")] = drive;
            QByteArray device = QByteArray::fromStdString(d.node);
            device.append('\0');
            QVariantMap block{{QStringLiteral("Device"), device},
                              {QStringLiteral("Size"), qulonglong(d.media ? d.size : 0)},
                              {QStringLiteral("Drive"), QVariant::fromValue(QDBusObjectPath(DrivePath(d.node)))},
                              {QStringLiteral("IdType"), QString::fromStdString(d.idType)},
                              {QStringLiteral("IdVersion"), QString::fromStdString(d.idVersion)},
                              {QStringLiteral("ReadOnly"), false}};
            objects[QDBusObjectPath(BlockPath(d.node))][QStringLiteral("org.freedesktop.UDisks2.Block")] = block;
        }
        // A block device without a drive (a loop device), which belongs to no reader.
        QByteArray loop("/dev/loop7");
        loop.append('\0');
        objects[QDBusObjectPath(kRootPath + QStringLiteral("/block_devices/loop7"))]
               [QStringLiteral("org.freedesktop.UDisks2.Block")] = QVariantMap{
                   {QStringLiteral("Device"), loop},
                   {QStringLiteral("Size"), qulonglong(1 << 20)},
                   {QStringLiteral("Drive"), QVariant::fromValue(QDBusObjectPath(QStringLiteral("/")))}};
        return objects;
    }

    QDBusMessage OpenDevice(const QDBusMessage& message) {
        const Device* device = FindByPath(message.path());
        if (!device) return message.createErrorReply(QDBusError::UnknownObject, message.path());
        OpenCall call;
        call.node = device->node;
        call.mode = message.arguments().value(0).toString().toStdString();
        const QVariantMap options = qdbus_cast<QVariantMap>(message.arguments().value(1));
        call.flags = options.value(QStringLiteral("flags"), 0).toInt();
        call.interactive = message.isInteractiveAuthorizationAllowed();
        {
            std::lock_guard<std::mutex> guard(owner_->lock_);
            owner_->calls_.push_back(call);
        }
        if (device->refuse)
            return message.createErrorReply(QStringLiteral("org.freedesktop.UDisks2.Error.NotAuthorizedCanObtain"),
                                            QStringLiteral("Not authorized to perform operation"));
        const int access = call.mode == "rw" ? O_RDWR : call.mode == "r" ? O_RDONLY : -1;
        if (access < 0)
            return message.createErrorReply(QStringLiteral("org.freedesktop.UDisks2.Error.Failed"),
                                            QStringLiteral("Unknown mode"));
        const int fd = ::open(device->backingFile.c_str(), access | O_CLOEXEC);
        if (fd < 0)
            return message.createErrorReply(QStringLiteral("org.freedesktop.UDisks2.Error.Failed"),
                                            QStringLiteral("Error opening %1").arg(QString::fromStdString(device->node)));
        QDBusUnixFileDescriptor handed(fd);  // keeps a copy
        ::close(fd);
        return message.createReply(QVariant::fromValue(handed));
    }

    UDisks2StandIn* owner_;
};

UDisks2StandIn::UDisks2StandIn(std::vector<Device> devices) : devices_(std::move(devices)) {
    const int n = gConnections++;
    serviceConnection_ = "veld-udisks2-service-" + std::to_string(n);
    clientConnection_ = "veld-udisks2-client-" + std::to_string(n);
}

UDisks2StandIn::~UDisks2StandIn() {
    if (service_) {
        QDBusConnection::disconnectFromBus(QString::fromStdString(serviceConnection_));
        QDBusConnection::disconnectFromBus(QString::fromStdString(clientConnection_));
        thread_.quit();
        thread_.wait();
        delete service_;
    }
    if (daemon_) {
        daemon_->kill();
        daemon_->waitForFinished(5000);
    }
}

std::string UDisks2StandIn::Start() {
    const std::string daemon = FindTool("dbus-daemon");
    if (daemon.empty()) return "dbus-daemon is not installed (dbus-daemon)";
    if (dir_.path().empty()) return "no temporary folder";
    qDBusRegisterMetaType<InterfaceProperties>();
    qDBusRegisterMetaType<ManagedObjects>();

    // A bus of the test's own: anyone may connect, own names and call anything.
    const std::string config = dir_.File("bus.conf");
    std::ofstream(config) << "<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN\"\n"
                             " \"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
                             "<busconfig>\n"
                             "  <type>session</type>\n"
                             "  <listen>unix:path=" << dir_.File("bus") << "</listen>\n"
                             "  <auth>EXTERNAL</auth>\n"
                             "  <policy context=\"default\">\n"
                             "    <allow user=\"*\"/>\n"
                             "    <allow own=\"*\"/>\n"
                             "    <allow send_destination=\"*\" eavesdrop=\"true\"/>\n"
                             "    <allow eavesdrop=\"true\"/>\n"
                             "  </policy>\n"
                             "</busconfig>\n";
    daemon_ = std::make_unique<QProcess>();
    daemon_->start(QString::fromStdString(daemon), {QStringLiteral("--config-file=") + QString::fromStdString(config),
                                                    QStringLiteral("--nofork"), QStringLiteral("--nopidfile"),
                                                    QStringLiteral("--print-address=1")});
    if (!daemon_->waitForStarted(10000)) return "dbus-daemon does not start";
    while (!daemon_->canReadLine())
        if (!daemon_->waitForReadyRead(10000)) return "dbus-daemon gives no address: " + daemon_->readAllStandardError().toStdString();
    address_ = daemon_->readLine().trimmed().toStdString();

    QDBusConnection bus = QDBusConnection::connectToBus(QString::fromStdString(address_),
                                                        QString::fromStdString(serviceConnection_));
    if (!bus.isConnected()) return "cannot connect to the private bus: " + bus.lastError().message().toStdString();
    // Registered before it moves to its thread, which then answers the calls.
    service_ = new Service(this);
    if (!bus.registerVirtualObject(kRootPath, service_, QDBusConnection::SubPath)) return "cannot register the objects";
    service_->moveToThread(&thread_);
    thread_.start();
    if (!bus.registerService(QStringLiteral("org.freedesktop.UDisks2"))) return "cannot own the name";
    return {};
}

QDBusConnection UDisks2StandIn::Client() const {
    return QDBusConnection::connectToBus(QString::fromStdString(address_), QString::fromStdString(clientConnection_));
}

void UDisks2StandIn::Withdraw() {
    QDBusConnection(QString::fromStdString(serviceConnection_)).unregisterService(QStringLiteral("org.freedesktop.UDisks2"));
}

std::vector<UDisks2StandIn::OpenCall> UDisks2StandIn::OpenCalls() const {
    std::lock_guard<std::mutex> guard(lock_);
    return calls_;
}

}  // namespace veld::test
