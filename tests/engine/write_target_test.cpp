// The rules a target passes before a tool writes to it, against a fake mount
// table, a fake sysfs tree and a fake device folder whose "device nodes" are
// regular files: mounted targets (directly, through a partition, through a
// loop device) and devices that are not removable are refused, and nothing
// is written to them.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "support/mkfs_tools.h"
#include "tools/disk_erase.h"
#include "tools/disk_restore.h"
#include "tools/write_target.h"

namespace veld::test {
namespace {
namespace fs = std::filesystem;

void Put(const fs::path& file, const std::string& text) {
    fs::create_directories(file.parent_path());
    std::ofstream(file) << text;
}

std::string Contents(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

class WriteTargetRulesTest : public ::testing::Test {
protected:
    void SetUp() override {
        rules_.mountTable = dir_.File("mounts");
        rules_.sysRoot = dir_.File("sys");
        rules_.devRoot = dir_.File("dev");
        // sda: the fixed system disk; sdb: a removable reader with a partitioned card.
        Put(rules_.sysRoot + "/block/sda/removable", "0\n");
        Put(rules_.sysRoot + "/block/sda/size", "4096\n");
        Put(rules_.sysRoot + "/block/sdb/removable", "1\n");
        Put(rules_.sysRoot + "/block/sdb/size", "8192\n");
        Put(rules_.sysRoot + "/block/sdb/sdb1/partition", "1\n");
        Put(rules_.sysRoot + "/block/sdb/sdb1/size", "8064\n");
        for (const char* node : {"sda", "sdb", "sdb1"}) Put(rules_.devRoot + "/" + node, std::string(4 << 20, 'c'));
        Put(rules_.mountTable, "proc /proc proc rw 0 0\n/dev/root / ext4 rw 0 0\n");
        image_ = dir_.File("card.img");
        Put(image_, std::string(4 << 20, 'i'));
        card_ = dir_.File("card file.bin");
        Put(card_, std::string(4 << 20, 'c'));
    }
    void Mount(const std::string& source, const std::string& point) {
        std::ofstream(rules_.mountTable, std::ios::app) << source << " " << point << " vfat rw 0 0\n";
    }
    // Both writing tools refuse the target with the code, leaving it as it was.
    void ExpectRefused(const std::string& target, int code, const std::string& mentions) {
        const std::string before = Contents(target);
        DiskRestoreJob restore;
        EXPECT_EQ(restore.Open(image_, 0, target, rules_), code) << restore.OpenFailureText();
        EXPECT_NE(restore.OpenFailureText().find(mentions), std::string::npos) << restore.OpenFailureText();
        restore.Finish();
        DiskEraseJob erase;
        EXPECT_EQ(erase.Open(0, target, ErasePlain, rules_), code) << erase.OpenFailureText();
        erase.Finish();
        EXPECT_EQ(Contents(target), before);
    }
    TempDir dir_;
    WriteTargetRules rules_;
    std::string image_, card_;
};

TEST_F(WriteTargetRulesTest, MountedFileIsRefusedWithTheMountPoint) {
    // The mount table writes a blank in a name as "\040".
    std::string escaped = card_;
    escaped.replace(escaped.find(' '), 1, "\\040");
    Mount(escaped, "/media/my\\040card");
    ExpectRefused(card_, DiskOpenMounted, "/media/my card");
    DiskEraseJob erase;
    erase.Open(0, card_, ErasePlain, rules_);
    EXPECT_NE(erase.OpenFailureText().find("アンマウントしてから"), std::string::npos) << erase.OpenFailureText();
}

TEST_F(WriteTargetRulesTest, FileMountedThroughALoopDeviceIsRefused) {
    Put(rules_.sysRoot + "/block/loop3/loop/backing_file", card_ + "\n");
    Mount("/dev/loop3", "/mnt/loop");
    ExpectRefused(card_, DiskOpenMounted, "/mnt/loop");
    // The same file under another name: a hard link is refused too.
    const std::string hardLink = dir_.File("other name.img");
    fs::create_hard_link(card_, hardLink);
    ExpectRefused(hardLink, DiskOpenMounted, "/mnt/loop");
    // A file whose loop device is partitioned, with a partition mounted; the
    // loop device names the file by a hard link of it.
    const std::string partitioned = dir_.File("whole.img");
    Put(partitioned, std::string(4 << 20, 'w'));
    fs::create_hard_link(partitioned, dir_.File("whole-link.img"));
    Put(rules_.sysRoot + "/block/loop5/loop/backing_file", dir_.File("whole-link.img") + "\n");
    Put(rules_.sysRoot + "/block/loop5/loop5p1/partition", "1\n");
    Mount("/dev/loop5p1", "/mnt/part");
    ExpectRefused(partitioned, DiskOpenMounted, "/mnt/part");
    // A file listed as the mount's source under another name (a hard link).
    const std::string direct = dir_.File("direct.img");
    Put(direct, std::string(4 << 20, 'd'));
    fs::create_hard_link(direct, dir_.File("direct-link.img"));
    Mount(dir_.File("direct-link.img"), "/mnt/direct");
    ExpectRefused(direct, DiskOpenMounted, "/mnt/direct");
    // A loop device over some other file does not count.
    DiskEraseJob erase;
    EXPECT_EQ(erase.Open(0, image_, ErasePlain, rules_), DiskOpenOk) << erase.OpenFailureText();
}

TEST_F(WriteTargetRulesTest, DiskWithAMountedPartitionIsRefused) {
    Mount(rules_.devRoot + "/sdb1", "/media/card");
    ExpectRefused(rules_.devRoot + "/sdb", DiskOpenMounted, "/media/card");
    ExpectRefused(rules_.devRoot + "/sdb1", DiskOpenMounted, "/media/card");
    EXPECT_EQ(MountPointsOf(rules_.devRoot + "/sda", rules_), std::vector<std::string>{});
}

TEST_F(WriteTargetRulesTest, DeviceThatIsNotRemovableIsRefused) {
    ExpectRefused(rules_.devRoot + "/sda", DiskOpenNotRemovable, "リムーバブル");
    EXPECT_TRUE(IsRemovableDevicePath(rules_.devRoot + "/sdb1", rules_));
    EXPECT_TRUE(IsRemovableDevicePath(rules_.devRoot + "/sdb", rules_)) << "the whole disk of a removable drive";
    EXPECT_FALSE(IsRemovableDevicePath(rules_.devRoot + "/sda", rules_));
}

TEST_F(WriteTargetRulesTest, DriveLetterNamesTheRemovablePartitionAndWritingGoesAhead) {
    WriteTarget target;
    std::string message;
    // sda is not removable; sdb's one partition takes the first letter.
    ASSERT_TRUE(LocateWriteTarget('d', "", rules_, &target, &message)) << message;
    EXPECT_EQ(target.path, rules_.devRoot + "/sdb1");
    EXPECT_TRUE(target.isDevice);
    EXPECT_EQ(WriteTargetSummary(target), "D: sdb1, 4,128,768 バイト (3.9 MiB)");
    EXPECT_FALSE(LocateWriteTarget('e', "", rules_, &target, &message));
    EXPECT_NE(message.find("E:"), std::string::npos) << message;

    DiskRestoreJob restore;
    ASSERT_EQ(restore.Open(image_, 'd', "", rules_), DiskOpenOk) << restore.OpenFailureText();
    ASSERT_TRUE(restore.Start());
    EXPECT_EQ(restore.Finish(), DiskToolOk);
    EXPECT_EQ(Contents(rules_.devRoot + "/sdb1"), Contents(image_));
}

}  // namespace
}  // namespace veld::test
