// A stand-in for the desktop's disk service, for tests of the UDisks2 path
// with real QtDBus and real descriptor passing: a dbus-daemon of its own on a
// socket in a temporary folder (never the machine's buses), and on it the
// name org.freedesktop.UDisks2 answering the calls Veld makes:
// ObjectManager.GetManagedObjects, Manager.ResolveDevice and
// Block.OpenDevice, which opens the image file that stands for a device and
// sends its descriptor over the bus. The service answers on a thread of its
// own, so the test may call it with blocking calls.
//
//   UDisks2StandIn service({{.node = "/dev/sdz1", .backingFile = image, ...}});
//   if (auto why = service.Start(); !why.empty()) GTEST_SKIP() << why;
//   int fd = OpenDeviceThroughUDisks2(service.Client(), "/dev/sdz1", false, &refusal);
#pragma once

#include <QDBusConnection>
#include <QThread>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "support/mkfs_tools.h"

class QProcess;

namespace veld::test {

class UDisks2StandIn {
public:
    struct Device {
        std::string node;          // the device path clients name
        std::string backingFile;   // what OpenDevice opens in its place
        std::string vendor = "Generic";
        std::string model = "SD Reader";
        uint64_t size = 0;         // Block.Size
        bool media = true;         // Drive.MediaAvailable
        std::string idType;        // "vfat", "exfat", ""
        std::string idVersion;     // "FAT32", ...
        bool refuse = false;       // OpenDevice answers NotAuthorizedCanObtain
    };
    // One OpenDevice call as the service saw it.
    struct OpenCall {
        std::string node;
        std::string mode;          // "r", "rw"
        int flags = 0;             // the "flags" option, 0 when absent
        bool interactive = false;  // the caller let polkit ask for the password
    };

    explicit UDisks2StandIn(std::vector<Device> devices);
    ~UDisks2StandIn();
    UDisks2StandIn(const UDisks2StandIn&) = delete;
    UDisks2StandIn& operator=(const UDisks2StandIn&) = delete;

    // Starts the bus and the service; "" or why not (no dbus-daemon).
    std::string Start();
    // The bus address, as DBUS_SYSTEM_BUS_ADDRESS takes it.
    const std::string& address() const { return address_; }
    // A client connection of the test to the private bus.
    QDBusConnection Client() const;
    // Gives up the service's name: the bus then answers that UDisks2 is absent.
    void Withdraw();
    std::vector<OpenCall> OpenCalls() const;

    class Service;  // the object on the bus

private:
    TempDir dir_;
    std::vector<Device> devices_;
    std::unique_ptr<QProcess> daemon_;
    std::string address_;
    std::string serviceConnection_, clientConnection_;
    QThread thread_;
    Service* service_ = nullptr;  // lives on thread_
    mutable std::mutex lock_;
    std::vector<OpenCall> calls_;
};

}  // namespace veld::test
