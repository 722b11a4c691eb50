// Card readers opened through the desktop's disk service: the UDisks2 client
// against a stand-in service on a private bus (real QtDBus, descriptors
// really passed), the drive list's view of it, and veld-cli reading a device
// node it may not open.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <fstream>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include "platform/qt/udisks2_client.h"
#include "support/fat_image_builder.h"
#include "support/mkfs_tools.h"
#include "support/udisks2_stand_in.h"

namespace veld::test {
namespace {

std::vector<uint8_t> FileBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

std::vector<uint8_t> ReadAll(int fd) {
    std::vector<uint8_t> bytes;
    uint8_t chunk[4096];
    for (ssize_t n; (n = ::pread(fd, chunk, sizeof chunk, off_t(bytes.size()))) > 0;)
        bytes.insert(bytes.end(), chunk, chunk + n);
    return bytes;
}

class UDisks2Access : public ::testing::Test {
protected:
    void SetUp() override {
        FatImageBuilder card(FatGeometry::Fat16());
        card.Root().AddDeletedFile("IMG_0001.JPG", 3, std::vector<uint8_t>(3000, 0x5A));
        image_ = card.WriteTo(dir_, "card.img");
        ASSERT_FALSE(image_.empty());
        spare_ = dir_.File("spare.img");
        std::ofstream(spare_, std::ios::binary) << std::string(4096, '\0');
    }
    TempDir dir_;
    std::string image_, spare_;
};

TEST_F(UDisks2Access, DevicesOpenWithTheModeTheirUseNeedsAndRefusalsAreExplained) {
    UDisks2StandIn service({{.node = "/dev/sdz1", .backingFile = image_, .size = 8u << 20},
                            {.node = "/dev/sdz2", .backingFile = spare_, .size = 4096},
                            {.node = "/dev/sdy", .backingFile = image_, .refuse = true}});
    if (auto why = service.Start(); !why.empty()) GTEST_SKIP() << why;
    const QDBusConnection bus = service.Client();
    ASSERT_TRUE(bus.isConnected());
    ASSERT_TRUE(bus.connectionCapabilities() & QDBusConnection::UnixFileDescriptorPassing);
    std::string refusal;

    // Searching and imaging: mode "r"; the descriptor reads the device and refuses writes.
    int fd = OpenDeviceThroughUDisks2(bus, "/dev/sdz1", false, &refusal);
    ASSERT_GE(fd, 0) << refusal;
    EXPECT_EQ(ReadAll(fd), FileBytes(image_));
    EXPECT_LT(::pwrite(fd, "x", 1, 0), 0);
    EXPECT_NE(::fcntl(fd, F_GETFD) & FD_CLOEXEC, 0);
    ::close(fd);

    // Writing back or erasing: mode "rw", exclusive (a mounted card is
    // refused) and synchronous; what is written reaches the device.
    fd = OpenDeviceThroughUDisks2(bus, "/dev/sdz2", true, &refusal);
    ASSERT_GE(fd, 0) << refusal;
    ASSERT_EQ(::pwrite(fd, "VELD", 4, 512), 4);
    ::close(fd);
    EXPECT_EQ(FileBytes(spare_)[512], 'V');

    // Polkit's refusal and an unknown device come back as reasons.
    EXPECT_EQ(OpenDeviceThroughUDisks2(bus, "/dev/sdy", false, &refusal), -1);
    EXPECT_NE(refusal.find("NotAuthorized"), std::string::npos) << refusal;
    EXPECT_EQ(OpenDeviceThroughUDisks2(bus, "/dev/sdq", false, &refusal), -1);
    EXPECT_NE(refusal.find("does not know /dev/sdq"), std::string::npos) << refusal;

    const auto calls = service.OpenCalls();
    ASSERT_EQ(calls.size(), 3u);
    EXPECT_EQ(calls[0].mode, "r");
    EXPECT_EQ(calls[0].flags, 0);
    EXPECT_EQ(calls[1].mode, "rw");
    EXPECT_EQ(calls[1].flags, O_EXCL | O_SYNC);
    for (const auto& call : calls) EXPECT_TRUE(call.interactive) << call.node;  // polkit may ask for the password

    // Without the service on the bus, or without a bus, the reason says UDisks2 is not there.
    service.Withdraw();
    EXPECT_EQ(OpenDeviceThroughUDisks2(bus, "/dev/sdz1", false, &refusal), -1);
    EXPECT_NE(refusal.find("UDisks2 is not available"), std::string::npos) << refusal;
    EXPECT_EQ(OpenDeviceThroughUDisks2(QDBusConnection(QStringLiteral("no such bus")), "/dev/sdz1", false, &refusal),
              -1);
    EXPECT_NE(refusal.find("UDisks2 is not available"), std::string::npos) << refusal;
}

TEST_F(UDisks2Access, DriveListTakesNamesSizesAndFileSystemsFromTheService) {
    UDisks2StandIn service({{.node = "/devfake/sdb1", .backingFile = image_, .vendor = "Generic",
                             .model = "SD/MMC Reader", .size = 31914983424, .idType = "vfat", .idVersion = "FAT32"},
                            {.node = "/devfake/mmcblk0", .backingFile = image_, .vendor = "", .model = "SD64G",
                             .size = 64088965120, .idType = "exfat"},
                            {.node = "/devfake/sdc", .backingFile = image_, .model = "CF Reader", .size = 0,
                             .media = false}});
    if (auto why = service.Start(); !why.empty()) GTEST_SKIP() << why;
    const std::vector<ServiceDriveView> view = UDisks2DriveView(service.Client());
    ASSERT_EQ(view.size(), 3u);  // the loop device belongs to no drive

    // The drives as the kernel lists them, one of them unknown to the service.
    std::vector<RemovableDrive> drives(4);
    const char* names[] = {"mmcblk0", "sdb1", "sdc", "sdd"};
    for (size_t i = 0; i < drives.size(); ++i) {
        drives[i].letter = char('D' + i);
        drives[i].kernelName = names[i];
        drives[i].devicePath = std::string("/devfake/") + names[i];
        drives[i].displayName = names[i];
        drives[i].sizeBytes = 1024;
    }
    ApplyServiceView(drives, view);
    EXPECT_EQ(drives[0].displayName, "SD64G (mmcblk0)");
    EXPECT_EQ(drives[0].sizeBytes, 64088965120);
    EXPECT_EQ(drives[0].fileSystem, "exFAT");
    EXPECT_EQ(drives[1].displayName, "Generic SD/MMC Reader (sdb1)");
    EXPECT_EQ(drives[1].sizeBytes, 31914983424);
    EXPECT_EQ(drives[1].fileSystem, "FAT32");
    EXPECT_EQ(drives[2].sizeBytes, -1);  // reader without a card
    EXPECT_EQ(drives[2].fileSystem, "");
    for (int i = 0; i < 3; ++i) EXPECT_TRUE(drives[i].fromService) << i;
    EXPECT_FALSE(drives[3].fromService);
    EXPECT_EQ(drives[3].displayName, "sdd");
    EXPECT_EQ(drives[3].letter, 'G');  // letters stay the kernel's
}

// veld-cli, without the right to open a card reader's node, reads the card
// through the service, and says so; when the service refuses, the message
// says why. The node is one only its owner (nobody) may open; the command
// runs as root without the capabilities that pass over file permissions.
TEST_F(UDisks2Access, CommandLineReadsACardItMayNotOpenThroughTheService) {
    if (::geteuid() != 0) GTEST_SKIP() << "making a device node and dropping capabilities needs root";
    const std::string setpriv = FindTool("setpriv");
    if (setpriv.empty()) GTEST_SKIP() << "setpriv is not installed (util-linux)";
    const std::string node = dir_.File("sdz");
    ASSERT_EQ(::mknod(node.c_str(), S_IFBLK | 0600, makedev(7, 250)), 0) << std::strerror(errno);
    ASSERT_EQ(::chown(node.c_str(), 65534, 65534), 0);
    const std::string locked = dir_.File("sdy");
    ASSERT_EQ(::mknod(locked.c_str(), S_IFBLK | 0600, makedev(7, 251)), 0);
    ASSERT_EQ(::chown(locked.c_str(), 65534, 65534), 0);

    UDisks2StandIn service({{.node = node, .backingFile = image_, .size = 8u << 20},
                            {.node = locked, .backingFile = image_, .refuse = true}});
    if (auto why = service.Start(); !why.empty()) GTEST_SKIP() << why;
    auto run = [&](std::vector<std::string> args) {
        args.insert(args.begin(), {setpriv, "--bounding-set=-dac_override,-dac_read_search", "--", VELD_CLI_PATH});
        return RunCommand(args, {"DBUS_SYSTEM_BUS_ADDRESS=" + service.address()});
    };
    const std::string route = "opened through UDisks2 (read-only): no permission to open it directly";

    const CommandResult info = run({"info", node});
    ASSERT_EQ(info.exitCode, 0) << info.err;
    EXPECT_NE(info.out.find(route), std::string::npos) << info.out;
    EXPECT_NE(info.out.find("volume kind   16"), std::string::npos) << info.out;
    // The search opens the card again on its worker thread; its trace says how.
    const CommandResult search = run({"search", "--trace", node});
    ASSERT_EQ(search.exitCode, 0) << search.err;
    EXPECT_NE(search.err.find(route), std::string::npos) << search.err;
    EXPECT_NE(search.out.find("MG_0001.JPG"), std::string::npos) << search.out;  // deleted: first letter lost
    const auto calls = service.OpenCalls();
    ASSERT_GE(calls.size(), 2u);
    for (const auto& call : calls) EXPECT_EQ(call.mode, "r");

    const CommandResult refused = run({"info", locked});
    EXPECT_EQ(refused.exitCode, 1);
    EXPECT_NE(refused.err.find("アクセスが拒否されました"), std::string::npos) << refused.err;
    EXPECT_NE(refused.err.find("UDisks2 did not open it either: org.freedesktop.UDisks2.Error.NotAuthorizedCanObtain"),
              std::string::npos)
        << refused.err;
}

}  // namespace
}  // namespace veld::test
