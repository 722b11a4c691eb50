// Complete erase through veld-cli on card images, and through the engine's
// job over scripted devices: nothing of the card survives either mode, a
// search afterwards finds nothing, the read-back catches a card that drops
// writes, Ctrl-C stops the erase like Cancel.
#include <gtest/gtest.h>

#include <csignal>
#include <fcntl.h>
#include <fstream>
#include <spawn.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

#include "support/fat_image_builder.h"
#include "support/mkfs_tools.h"
#include "support/scripted_device.h"
#include "support/test_jpeg.h"
#include "tools/disk_erase.h"

extern char** environ;

namespace veld::test {
namespace {

std::vector<uint8_t> ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

// A card full of photos, live and deleted.
std::string PhotoCard(const TempDir& dir) {
    FatImageBuilder b(FatGeometry::Fat16(8192, 4));
    auto dcim = b.Root().AddDir("DCIM", 2);
    uint32_t cluster = 3;
    for (int i = 0; i < 6; ++i) {
        auto jpeg = MakeTestJpeg(120 + 8 * i, 90);
        std::string name = "IMG_000" + std::to_string(i) + ".JPG";
        if (i % 2)
            dcim.AddDeletedFile(name, cluster, jpeg);
        else
            dcim.AddFile(name, cluster, jpeg);
        cluster += b.ClustersFor(jpeg.size()) + 1;
    }
    return b.WriteTo(dir, "card.img");
}

// How many 512-byte sectors of the erased card still equal the original's
// (sectors that were zero before are not counted: zeros carry nothing).
size_t SurvivingSectors(const std::vector<uint8_t>& before, const std::vector<uint8_t>& after) {
    size_t same = 0;
    for (size_t at = 0; at + 512 <= before.size(); at += 512) {
        bool blank = std::all_of(before.begin() + at, before.begin() + at + 512, [](uint8_t b) { return b == 0; });
        if (!blank && std::equal(before.begin() + at, before.begin() + at + 512, after.begin() + at)) ++same;
    }
    return same;
}

void ExpectSearchFindsNothing(const std::string& image) {
    CommandResult r = RunCommand({VELD_CLI_PATH, "search", "--json", image});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out, "") << "found on the erased card";
}

TEST(DiskErase, PlainModeLeavesOnlyZerosAndNothingToFind) {
    TempDir dir;
    const std::string card = PhotoCard(dir);
    ASSERT_FALSE(RunCommand({VELD_CLI_PATH, "search", "--json", card}).out.empty()) << "the card had photos";
    const std::vector<uint8_t> before = ReadAll(card);

    CommandResult r = RunCommand({VELD_CLI_PATH, "erase", card});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_NE(r.err.find("消去が完了しました"), std::string::npos) << r.err;
    const std::vector<uint8_t> after = ReadAll(card);
    ASSERT_EQ(after.size(), before.size());
    EXPECT_TRUE(std::all_of(after.begin(), after.end(), [](uint8_t b) { return b == 0; }));
    ExpectSearchFindsNothing(card);
}

TEST(DiskErase, DodModeLeavesNoSectorOfTheCardAndVerifies) {
    TempDir dir;
    const std::string card = PhotoCard(dir);
    const std::vector<uint8_t> before = ReadAll(card);

    CommandResult r = RunCommand({VELD_CLI_PATH, "erase", "--dod", card});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_NE(r.err.find("確認"), std::string::npos) << "the last pass is read back\n" << r.err;
    const std::vector<uint8_t> after = ReadAll(card);
    ASSERT_EQ(after.size(), before.size());
    EXPECT_EQ(SurvivingSectors(before, after), 0u);
    // The last pass is random: not the fixed byte, not its complement.
    size_t fixed = std::count(after.begin(), after.end(), kDodFirstPassByte);
    size_t complement = std::count(after.begin(), after.end(), uint8_t(~kDodFirstPassByte));
    EXPECT_LT(fixed, after.size() / 128);
    EXPECT_LT(complement, after.size() / 128);
    ExpectSearchFindsNothing(card);
}

TEST(DiskEraseJob, ReadBackCatchesACardThatDropsWrites) {
    const size_t size = 3 << 20;
    // All writes dropped: the card still holds its photos.
    auto dropping = std::make_shared<ScriptedMedium>(std::vector<uint8_t>(size, 0x6B), DeviceScript{.dropWritesFrom = 0});
    DiskEraseJob job;
    ASSERT_EQ(job.Open(dropping->Volume(), EraseDod), DiskOpenOk);
    ASSERT_TRUE(job.Start());
    EXPECT_EQ(job.Finish(), DiskToolVerifyMismatch);
    EXPECT_EQ(job.cells().failedOffset.load(), 0);
    EXPECT_EQ(job.OutcomeText(), "消去した内容の確認中にエラーが発生しました");

    // Writes lost only near the end are found at their first sector.
    auto tail = std::make_shared<ScriptedMedium>(std::vector<uint8_t>(size, 0x6B),
                                                 DeviceScript{.dropWritesFrom = int64_t(size) - 4096});
    DiskEraseJob second;
    ASSERT_EQ(second.Open(tail->Volume(), EraseDod), DiskOpenOk);
    ASSERT_TRUE(second.Start());
    EXPECT_EQ(second.Finish(), DiskToolVerifyMismatch);
    EXPECT_EQ(second.cells().failedOffset.load(), int64_t(size) - 4096);

    // A sound card passes.
    auto sound = std::make_shared<ScriptedMedium>(std::vector<uint8_t>(size, 0x6B), DeviceScript{});
    DiskEraseJob third;
    ASSERT_EQ(third.Open(sound->Volume(), EraseDod), DiskOpenOk);
    ASSERT_TRUE(third.Start());
    EXPECT_EQ(third.Finish(), DiskToolOk);
}

TEST(DiskEraseJob, CancelStopsAfterTheCurrentChunkAndSaysHowFar) {
    auto medium = std::make_shared<ScriptedMedium>(std::vector<uint8_t>(4 << 20, 0x6B),
                                                   DeviceScript{.gateAt = 2 << 20});
    DiskEraseJob job;
    ASSERT_EQ(job.Open(medium->Volume(), EraseDod), DiskOpenOk);
    ASSERT_TRUE(job.Start());
    medium->WaitAtGate();
    job.RequestCancel();
    medium->OpenGate();
    EXPECT_EQ(job.Finish(), DiskToolCancelled);
    // The chunk under way was finished, nothing after it was written.
    std::vector<uint8_t> bytes = medium->Bytes();
    EXPECT_TRUE(std::all_of(bytes.begin(), bytes.begin() + (3 << 20), [](uint8_t b) { return b == kDodFirstPassByte; }));
    EXPECT_TRUE(std::all_of(bytes.begin() + (3 << 20), bytes.end(), [](uint8_t b) { return b == 0x6B; }));
    EXPECT_NE(job.DetailText().find("パス 1/3"), std::string::npos) << job.DetailText();
    EXPECT_NE(job.DetailText().find("3,145,728 バイト"), std::string::npos) << job.DetailText();
}

TEST(DiskErase, CtrlCCancelsWithStatus130) {
    TempDir dir;
    const std::string target = dir.File("big.img");
    {
        std::ofstream out(target, std::ios::binary);
        std::vector<char> block(1 << 20, 'x');
        for (int i = 0; i < 256; ++i) out.write(block.data(), std::streamsize(block.size()));
    }
    int errPipe[2];
    ASSERT_EQ(::pipe(errPipe), 0);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, errPipe[1], 2);
    posix_spawn_file_actions_addclose(&actions, errPipe[0]);
    std::vector<std::string> args{VELD_CLI_PATH, "erase", "--dod", target};
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    pid_t pid = 0;
    ASSERT_EQ(::posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ), 0);
    posix_spawn_file_actions_destroy(&actions);
    ::close(errPipe[1]);

    // Interrupt once the first pass has begun.
    std::string err;
    char buffer[512];
    while (err.find("消去中") == std::string::npos) {
        ssize_t n = ::read(errPipe[0], buffer, sizeof buffer);
        if (n <= 0) break;
        err.append(buffer, size_t(n));
    }
    ::kill(pid, SIGINT);
    for (ssize_t n; (n = ::read(errPipe[0], buffer, sizeof buffer)) > 0;) err.append(buffer, size_t(n));
    ::close(errPipe[0]);
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFEXITED(status)) << err;
    EXPECT_EQ(WEXITSTATUS(status), 130) << err;
    EXPECT_NE(err.find("処理を中止しました"), std::string::npos) << err;
    EXPECT_NE(err.find("を処理したところで中止しました"), std::string::npos) << err;
}

}  // namespace
}  // namespace veld::test
