// Drive letters for removable devices, read from a fake sysfs tree: which
// devices count, the order letters are given in, sizes and sector sizes.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "platform/removable_drives.h"
#include "support/mkfs_tools.h"

namespace veld {
namespace {
namespace fs = std::filesystem;

void Put(const fs::path& file, const std::string& text) {
    fs::create_directories(file.parent_path());
    std::ofstream(file) << text << "\n";
}

class RemovableDrives : public ::testing::Test {
protected:
    void SetUp() override {
        sys_ = dir_.path() + "/sys";
        const fs::path block = sys_ + "/block";
        // A fixed disk: not removable, on no USB or MMC bus.
        Put(block / "sda/removable", "0");
        Put(block / "sda/size", "1000000");
        // A USB reader with a partitioned card; partitions in natural order.
        Put(block / "sdb/removable", "1");
        Put(block / "sdb/device/vendor", "Generic ");
        Put(block / "sdb/device/model", "  SD Reader   ");
        Put(block / "sdb/queue/logical_block_size", "512");
        for (const char* part : {"sdb10", "sdb2", "sdb1"}) {
            Put(block / "sdb" / part / "partition", "1");
            Put(block / "sdb" / part / "size", "2048");
        }
        // A card in an MMC slot: removable 0, but its device is on the mmc bus.
        fs::create_directories(sys_ + "/devices/platform/mmc_host/mmc0/mmc0:0001");
        Put(sys_ + "/devices/platform/mmc_host/mmc0/mmc0:0001/name", "SD32G");
        Put(block / "mmcblk0/removable", "0");
        Put(block / "mmcblk0/size", "62521344");
        Put(block / "mmcblk0/queue/logical_block_size", "4096");
        fs::create_directory_symlink(sys_ + "/devices/platform/mmc_host/mmc0/mmc0:0001", block / "mmcblk0/device");
        // A removable disk without a medium (size 0) and without partitions.
        Put(block / "sdc/removable", "1");
        Put(block / "sdc/size", "0");
        // Loop devices count when a file is behind them (not a snap's):
        // after the card readers, with their partitions.
        Put(block / "loop0/removable", "1");
        Put(block / "loop0/size", "2048");
        Put(block / "loop1/size", "4096");
        Put(block / "loop1/loop/backing_file", "/home/u/cards/wedding.img\n");
        Put(block / "loop1/loop1p1/partition", "1");
        Put(block / "loop1/loop1p1/size", "4000");
        Put(block / "loop2/size", "4096");
        Put(block / "loop2/loop/backing_file", "/var/lib/snapd/snaps/core_1.snap");
    }
    test::TempDir dir_;
    std::string sys_;
};

TEST_F(RemovableDrives, LettersFromDInDeviceAndPartitionOrder) {
    auto drives = ListRemovableDrives(sys_, "/devfake");
    ASSERT_EQ(drives.size(), 6u);
    EXPECT_EQ(drives[0].kernelName, "mmcblk0");
    EXPECT_EQ(drives[0].letter, 'D');
    EXPECT_EQ(drives[0].devicePath, "/devfake/mmcblk0");
    EXPECT_EQ(drives[0].sectorSize, 4096u);
    EXPECT_EQ(drives[0].sizeBytes, int64_t(62521344) * 512);  // size counts 512-byte units
    EXPECT_NE(drives[0].displayName.find("SD32G"), std::string::npos);
    EXPECT_EQ(drives[1].kernelName, "sdb1");
    EXPECT_EQ(drives[1].letter, 'E');
    EXPECT_EQ(drives[1].sizeBytes, 2048 * 512);
    EXPECT_EQ(drives[1].displayName, "Generic SD Reader (sdb1)");
    EXPECT_EQ(drives[2].kernelName, "sdb2");
    EXPECT_EQ(drives[3].kernelName, "sdb10");
    EXPECT_EQ(drives[3].letter, 'G');
    EXPECT_EQ(drives[4].kernelName, "sdc");
    EXPECT_EQ(drives[4].letter, 'H');
    EXPECT_EQ(drives[4].sizeBytes, -1);  // no medium
    EXPECT_EQ(drives[4].sectorSize, 512u);
    EXPECT_EQ(drives[5].kernelName, "loop1p1");
    EXPECT_EQ(drives[5].letter, 'I');
    EXPECT_EQ(drives[5].devicePath, "/devfake/loop1p1");
    EXPECT_EQ(drives[5].displayName, "ループデバイス wedding.img (loop1p1)");
    EXPECT_EQ(drives[5].sizeBytes, 4000 * 512);
}

TEST_F(RemovableDrives, MissingTreeGivesNoDrives) {
    EXPECT_TRUE(ListRemovableDrives(dir_.File("nothing"), "/dev").empty());
}

TEST(DriveLetters, EitherCaseMapsToTheSameNumber) {
    EXPECT_EQ(DriveNumberOfLetter('A'), 0);
    EXPECT_EQ(DriveNumberOfLetter('a'), 0);
    EXPECT_EQ(DriveNumberOfLetter('e'), 4);
    EXPECT_EQ(DriveNumberOfLetter('Z'), 25);
    EXPECT_EQ(DriveNumberOfLetter('z'), 25);
    EXPECT_EQ(DriveNumberOfLetter('1'), -1);
    EXPECT_EQ(DriveNumberOfLetter(':'), -1);
    EXPECT_EQ(DriveNumberOfLetter('\0'), -1);
    EXPECT_EQ(DevicePathOfDriveLetter('#'), "");
}

}  // namespace
}  // namespace veld
