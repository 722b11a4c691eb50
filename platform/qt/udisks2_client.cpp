#include "platform/qt/udisks2_client.h"

#include <QDBusArgument>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusUnixFileDescriptor>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <filesystem>

#include "platform/device_service.h"

namespace veld {
namespace {

constexpr char kService[] = "org.freedesktop.UDisks2";
constexpr char kRootPath[] = "/org/freedesktop/UDisks2";
constexpr char kManagerPath[] = "/org/freedesktop/UDisks2/Manager";
constexpr char kManager[] = "org.freedesktop.UDisks2.Manager";
constexpr char kBlock[] = "org.freedesktop.UDisks2.Block";
constexpr char kDrive[] = "org.freedesktop.UDisks2.Drive";
constexpr char kObjectManager[] = "org.freedesktop.DBus.ObjectManager";

constexpr int kResolveTimeoutMs = 10'000;
// OpenDevice returns only after the password dialog, which waits for the user.
constexpr int kOpenTimeoutMs = 5 * 60'000;
// Listing drives must not hold up the drive dialog for long.
constexpr int kViewTimeoutMs = 5'000;

// GetManagedObjects: a{oa{sa{sv}}}, object -> interface -> property -> value.
using InterfaceProperties = QMap<QString, QVariantMap>;
using ManagedObjects = QMap<QDBusObjectPath, InterfaceProperties>;

std::string ErrorText(const QDBusMessage& reply) {
    return (reply.errorName() + QStringLiteral(": ") + reply.errorMessage()).toStdString();
}

// A reply that only says the service is not there.
bool ServiceAbsent(const QDBusMessage& reply) {
    const QString name = reply.errorName();
    return name == QLatin1String("org.freedesktop.DBus.Error.ServiceUnknown") ||
           name == QLatin1String("org.freedesktop.DBus.Error.NameHasNoOwner") ||
           name == QLatin1String("org.freedesktop.DBus.Error.Disconnected");
}

// The file system as the drive list names it, from UDisks2's IdType
// ("vfat", "exfat", "ntfs") and IdVersion ("FAT32").
std::string FileSystemName(const QString& type, const QString& version) {
    if (type == QLatin1String("vfat"))
        return version.startsWith(QLatin1String("FAT")) ? version.toStdString() : std::string("FAT");
    if (type == QLatin1String("exfat")) return "exFAT";
    if (type == QLatin1String("ntfs")) return "NTFS";
    return {};
}

}  // namespace

int OpenDeviceThroughUDisks2(const QDBusConnection& bus, const std::string& path, bool writable,
                             std::string* refusal) {
    if (!bus.isConnected()) {
        *refusal = "UDisks2 is not available: no system bus (" + bus.lastError().message().toStdString() + ")";
        return -1;
    }
    // UDisks2 knows a device by its node; links such as /dev/disk/by-id/... are followed first.
    std::error_code ec;
    std::string node = std::filesystem::canonical(path, ec).string();
    if (ec) node = path;

    QDBusMessage resolve = QDBusMessage::createMethodCall(QString::fromLatin1(kService), QString::fromLatin1(kManagerPath),
                                                          QString::fromLatin1(kManager), QStringLiteral("ResolveDevice"));
    resolve << QVariantMap{{QStringLiteral("path"), QString::fromStdString(node)}} << QVariantMap();
    QDBusMessage reply = bus.call(resolve, QDBus::Block, kResolveTimeoutMs);
    if (reply.type() != QDBusMessage::ReplyMessage) {
        *refusal = (ServiceAbsent(reply) ? "UDisks2 is not available (" : "UDisks2 could not look up " + node + " (") +
                   ErrorText(reply) + ")";
        return -1;
    }
    const QList<QDBusObjectPath> objects = qdbus_cast<QList<QDBusObjectPath>>(reply.arguments().value(0));
    if (objects.isEmpty()) {
        *refusal = "UDisks2 does not know " + node;
        return -1;
    }

    QDBusMessage open = QDBusMessage::createMethodCall(QString::fromLatin1(kService), objects.first().path(),
                                                       QString::fromLatin1(kBlock), QStringLiteral("OpenDevice"));
    QVariantMap options;
    if (writable) options.insert(QStringLiteral("flags"), int(O_EXCL | O_SYNC));
    open << (writable ? QStringLiteral("rw") : QStringLiteral("r")) << options;
    // Lets polkit ask for the password instead of refusing at once.
    open.setInteractiveAuthorizationAllowed(true);
    reply = bus.call(open, QDBus::Block, kOpenTimeoutMs);
    if (reply.type() != QDBusMessage::ReplyMessage) {
        *refusal = ErrorText(reply);
        return -1;
    }
    const QDBusUnixFileDescriptor handed = qdbus_cast<QDBusUnixFileDescriptor>(reply.arguments().value(0));
    if (!handed.isValid()) {
        *refusal = "UDisks2 sent no descriptor (the bus does not pass file descriptors)";
        return -1;
    }
    // The handed descriptor closes with its holder; the caller gets its own.
    const int fd = ::fcntl(handed.fileDescriptor(), F_DUPFD_CLOEXEC, 0);
    if (fd < 0) *refusal = std::string("the descriptor from UDisks2 could not be kept: ") + std::strerror(errno);
    return fd;
}

std::vector<ServiceDriveView> UDisks2DriveView(const QDBusConnection& bus) {
    std::vector<ServiceDriveView> view;
    if (!bus.isConnected()) return view;
    QDBusMessage call = QDBusMessage::createMethodCall(QString::fromLatin1(kService), QString::fromLatin1(kRootPath),
                                                       QString::fromLatin1(kObjectManager),
                                                       QStringLiteral("GetManagedObjects"));
    const QDBusMessage reply = bus.call(call, QDBus::Block, kViewTimeoutMs);
    if (reply.type() != QDBusMessage::ReplyMessage) return view;
    const ManagedObjects objects = qdbus_cast<ManagedObjects>(reply.arguments().value(0));
    for (auto it = objects.cbegin(); it != objects.cend(); ++it) {
        if (!it->contains(QString::fromLatin1(kBlock))) continue;
        const QVariantMap block = it->value(QString::fromLatin1(kBlock));
        const QDBusObjectPath drivePath = qvariant_cast<QDBusObjectPath>(block.value(QStringLiteral("Drive")));
        const auto owner = objects.constFind(drivePath);
        if (owner == objects.cend() || !owner->contains(QString::fromLatin1(kDrive))) continue;  // no drive: loop, RAM disk
        const QVariantMap drive = owner->value(QString::fromLatin1(kDrive));

        ServiceDriveView seen;
        QByteArray device = block.value(QStringLiteral("Device")).toByteArray();  // "ay", NUL-terminated
        while (device.endsWith('\0')) device.chop(1);
        if (device.isEmpty()) continue;
        seen.devicePath = device.toStdString();
        seen.vendor = drive.value(QStringLiteral("Vendor")).toString().trimmed().toStdString();
        seen.model = drive.value(QStringLiteral("Model")).toString().trimmed().toStdString();
        const bool media = drive.value(QStringLiteral("MediaAvailable"), true).toBool();
        const qulonglong size = block.value(QStringLiteral("Size")).toULongLong();
        seen.sizeBytes = media && size > 0 ? int64_t(size) : -1;
        seen.fileSystem = FileSystemName(block.value(QStringLiteral("IdType")).toString(),
                                         block.value(QStringLiteral("IdVersion")).toString());
        view.push_back(std::move(seen));
    }
    return view;
}

std::vector<ServiceDriveView> UDisks2DriveView() { return UDisks2DriveView(QDBusConnection::systemBus()); }

void InstallUDisks2DeviceService() {
    InstallDeviceService({"UDisks2", [](const std::string& path, bool writable, std::string* refusal) {
                              return OpenDeviceThroughUDisks2(QDBusConnection::systemBus(), path, writable, refusal);
                          }});
}

}  // namespace veld
