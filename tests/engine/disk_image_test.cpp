// Disk images made and written back through veld-cli, with regular files
// standing in for cards: what the image holds, that a search of it finds
// what a search of the card finds, the round trip, the size rule, a
// write-protected source, and (through the engine's jobs over scripted
// devices) cancelling, read errors and the read-back check.
#include <gtest/gtest.h>

#include <QByteArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <csignal>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include "support/fat_image_builder.h"
#include "support/mkfs_tools.h"
#include "support/scripted_device.h"
#include "support/test_jpeg.h"
#include "tools/disk_image.h"
#include "tools/disk_restore.h"

namespace veld::test {
namespace {

namespace fs = std::filesystem;

std::vector<uint8_t> ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

void WriteAll(const std::string& path, const std::vector<uint8_t>& bytes) {
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

CommandResult Cli(std::vector<std::string> args) {
    args.insert(args.begin(), VELD_CLI_PATH);
    return RunCommand(args);
}

// veld-cli search --json --save: listed name -> saved bytes.
std::map<std::string, std::vector<uint8_t>> SearchAndSave(const std::string& image, const std::string& saveDir) {
    CommandResult r = Cli({"search", "--json", "--save", saveDir, image});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    std::map<std::string, std::vector<uint8_t>> found;
    std::istringstream lines(r.out);
    for (std::string line; std::getline(lines, line);) {
        QJsonObject o = QJsonDocument::fromJson(QByteArray::fromStdString(line)).object();
        found[o["name"].toString().toStdString()] = ReadAll(o["saved"].toString().toStdString());
    }
    return found;
}

// A FAT16 card with a deleted photo in its first clusters and one ending in
// its very last cluster: the last cluster lies beyond cluster count x
// cluster size bytes from the card's start.
struct CardWithLastClusterPhoto {
    FatImageBuilder builder{FatGeometry::Fat16(16384, 4)};
    std::vector<uint8_t> firstPhoto = MakeTestJpeg(96, 64);
    std::vector<uint8_t> lastPhoto = MakeTestJpeg(80, 48);
    uint32_t lastStart = 0;

    CardWithLastClusterPhoto() {
        const uint64_t volumeBytes = uint64_t(builder.geometry().totalSectors) * 512;
        const uint32_t lastCluster = uint32_t((volumeBytes - builder.DataStart()) / builder.ClusterSize()) + 1;
        lastStart = lastCluster + 1 - builder.ClustersFor(lastPhoto.size());
        auto root = builder.Root();
        root.AddDeletedFile("FIRST.JPG", 3, firstPhoto, "first-shot.jpg");
        root.AddDeletedFile("LAST.JPG", lastStart, lastPhoto, "last-shot.jpg");
    }
    // Where the cut-short image of cluster count x cluster size would end.
    uint64_t ClusterCountBytes() const { return uint64_t(builder.ClusterCount()) * builder.ClusterSize(); }
};

TEST(DiskImage, HoldsTheWholeVolumeAndItsSearchFindsThePhotoInTheLastCluster) {
    CardWithLastClusterPhoto card;
    ASSERT_GT(card.builder.ClusterOffset(card.lastStart), card.ClusterCountBytes()) << "the case needs the photo there";
    TempDir dir;
    const std::string cardPath = card.builder.WriteTo(dir, "card.img");

    CommandResult r = Cli({"image", cardPath, dir.File("copy")});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out, dir.File("copy.img") + "\n") << "\".img\" is appended and the path printed";
    ASSERT_EQ(ReadAll(dir.File("copy.img")), card.builder.bytes());

    auto found = SearchAndSave(dir.File("copy.img"), dir.File("saved"));
    ASSERT_TRUE(found.count("last-shot.jpg")) << "the photo in the last cluster is lost";
    EXPECT_EQ(found["last-shot.jpg"], card.lastPhoto);
    EXPECT_EQ(found["first-shot.jpg"], card.firstPhoto);
}

TEST(DiskImage, FatVolumeSizeComesFromTheBootSectorBoundedByTheDevice) {
    if (auto why = MkfsToolsMissing(); !why.empty()) GTEST_SKIP() << why;
    TempDir dir;
    const std::string cardPath = dir.File("card.img");
    ASSERT_EQ(MakeFatImage(cardPath, {.fatType = 16, .sizeKiB = 16384, .sectorsPerCluster = 4}), "");
    std::vector<uint8_t> volume = ReadAll(cardPath);

    // A device larger than its volume: the slack after the volume is not part of it.
    std::vector<uint8_t> withSlack = volume;
    withSlack.resize(volume.size() + 3 * 512, 0x77);
    WriteAll(cardPath, withSlack);
    ASSERT_EQ(Cli({"image", cardPath, dir.File("a.IMG")}).exitCode, 0);
    EXPECT_EQ(ReadAll(dir.File("a.IMG")), volume) << "a name ending in .IMG keeps its name";

    // A device shorter than its boot sector says: everything it has.
    std::vector<uint8_t> cut(volume.begin(), volume.end() - 5 * 512);
    WriteAll(cardPath, cut);
    ASSERT_EQ(Cli({"image", cardPath, dir.File("b.img")}).exitCode, 0);
    EXPECT_EQ(ReadAll(dir.File("b.img")), cut);

    // A source without a boot sector is imaged whole, to its last odd byte.
    std::vector<uint8_t> raw(1000003, 0x3C);
    WriteAll(cardPath, raw);
    ASSERT_EQ(Cli({"image", cardPath, dir.File("c.img")}).exitCode, 0);
    EXPECT_EQ(ReadAll(dir.File("c.img")), raw);
}

TEST(DiskImage, WrittenBackToASameSizeTargetAndImagedAgainGivesIdenticalBytes) {
    CardWithLastClusterPhoto card;
    TempDir dir;
    const std::string cardPath = card.builder.WriteTo(dir, "card.img");
    ASSERT_EQ(Cli({"image", cardPath, dir.File("first.img")}).exitCode, 0);

    // A blank card of the same size, and one still holding another FAT volume.
    const std::string blank = dir.File("blank.bin");
    WriteAll(blank, std::vector<uint8_t>(card.builder.bytes().size(), 0xA5));
    CommandResult r = Cli({"restore", dir.File("first"), blank});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_NE(r.err.find("保存が完了しました"), std::string::npos) << r.err;
    ASSERT_EQ(Cli({"image", blank, dir.File("second.img")}).exitCode, 0);
    EXPECT_EQ(ReadAll(dir.File("second.img")), ReadAll(dir.File("first.img")));

    FatImageBuilder other(FatGeometry::Fat16(16384, 2));
    const std::string formatted = other.WriteTo(dir, "other.bin");
    ASSERT_EQ(Cli({"restore", dir.File("first.img"), formatted}).exitCode, 0);
    EXPECT_EQ(ReadAll(formatted), card.builder.bytes());
    auto found = SearchAndSave(formatted, dir.File("saved"));
    EXPECT_EQ(found["last-shot.jpg"], card.lastPhoto);
}

TEST(DiskImage, TargetOfAnotherSizeIsRefusedBeforeAnythingIsWritten) {
    TempDir dir;
    const std::string image = dir.File("card.img");
    WriteAll(image, std::vector<uint8_t>(3 * 1024 * 1024, 0x11));
    for (size_t size : {size_t(3 * 1024 * 1024 - 512), size_t(3 * 1024 * 1024 + 512)}) {
        SCOPED_TRACE(size);
        const std::string target = dir.File("target.bin");
        const std::vector<uint8_t> before(size, 0xEE);
        WriteAll(target, before);
        CommandResult r = Cli({"restore", image, target});
        EXPECT_EQ(r.exitCode, 1);
        EXPECT_NE(r.err.find("3,145,728 バイト"), std::string::npos) << r.err;
        EXPECT_NE(r.err.find(ByteCountText(int64_t(size))), std::string::npos) << r.err;
        EXPECT_EQ(ReadAll(target), before);
    }
    // An image named without ".img" is looked for with it, and a missing one
    // is an open error.
    CommandResult r = Cli({"restore", dir.File("nothing"), dir.File("target.bin")});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.err.find("オープンエラー"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("nothing.img"), std::string::npos) << r.err;
}

TEST(DiskImage, WriteProtectedSourceImagesNormally) {
    CardWithLastClusterPhoto card;
    TempDir dir;
    const std::string source = card.builder.WriteTo(dir, "locked.img");
    ASSERT_EQ(::chmod(source.c_str(), 0444), 0);
    const std::string out = dir.File("out");
    fs::create_directory(out);
    std::vector<std::string> argv{VELD_CLI_PATH, "image", source, out + "/copy"};
    if (::geteuid() == 0) {
        // Root may open a 0444 file for writing: run as nobody so a write
        // open fails as it would on a locked card.
        const std::string setpriv = FindTool("setpriv");
        if (setpriv.empty()) GTEST_SKIP() << "setpriv is needed to drop root rights";
        for (const auto& d : {dir.path(), out}) ::chmod(d.c_str(), d == out ? 0777 : 0755);
        argv.insert(argv.begin(), {setpriv, "--reuid=65534", "--regid=65534", "--clear-groups"});
    }
    CommandResult r = RunCommand(argv);
    if (r.exitCode != 0 && r.err.find("veld-cli") != std::string::npos && r.err.find("Permission") != std::string::npos)
        GTEST_SKIP() << "veld-cli is not reachable without root rights here: " << r.err;
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(ReadAll(out + "/copy.img"), card.builder.bytes());
}

TEST(DiskImage, SourceItselfIsNeverTheImageFile) {
    TempDir dir;
    const std::string card = dir.File("card.img");
    const std::vector<uint8_t> bytes(1 << 20, 0x42);
    WriteAll(card, bytes);
    CommandResult r = Cli({"image", "--force", card, dir.File("card")});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(ReadAll(card), bytes) << "the source was overwritten";
    // An existing image is replaced only with --force.
    WriteAll(dir.File("old.img"), {1, 2, 3});
    EXPECT_EQ(Cli({"image", card, dir.File("old.img")}).exitCode, 1);
    EXPECT_EQ(ReadAll(dir.File("old.img")), std::vector<uint8_t>({1, 2, 3}));
    EXPECT_EQ(Cli({"image", "--force", card, dir.File("old.img")}).exitCode, 0);
    EXPECT_EQ(ReadAll(dir.File("old.img")), bytes);
}

TEST(DiskImageJob, CancelDeletesThePartialImage) {
    auto medium = std::make_shared<ScriptedMedium>(std::vector<uint8_t>(6 << 20, 0x5A),
                                                   DeviceScript{.gateAt = 3 << 20});
    TempDir dir;
    const std::string path = dir.File("partial.img");
    DiskImageJob job;
    ASSERT_EQ(job.Open(medium->Volume(), path, false), DiskOpenOk);
    ASSERT_TRUE(job.Start());
    medium->WaitAtGate();
    EXPECT_EQ(DiskProgressCounterText(job.cells()), "3/6");
    EXPECT_EQ(DiskProgressPercent(job.cells()), 50);
    EXPECT_TRUE(fs::exists(path));
    job.RequestCancel();
    medium->OpenGate();
    EXPECT_EQ(job.Finish(), DiskToolCancelled);
    EXPECT_FALSE(fs::exists(path));
    EXPECT_EQ(job.OutcomeText(), "処理を中止しました");
}

TEST(DiskImageJob, ReadErrorKeepsWhatWasCopied) {
    const int64_t badAt = (2 << 20) + 7 * 512;
    std::vector<uint8_t> bytes(5 << 20);
    for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = uint8_t(i * 131 >> 9);
    auto medium = std::make_shared<ScriptedMedium>(bytes, DeviceScript{.failReadsFrom = badAt});
    TempDir dir;
    const std::string path = dir.File("failing.img");
    DiskImageJob job;
    ASSERT_EQ(job.Open(medium->Volume(), path, false), DiskOpenOk);
    ASSERT_TRUE(job.Start());
    EXPECT_EQ(job.Finish(), DiskToolReadError);
    EXPECT_EQ(job.OutcomeText(), "書き込み中にエラーが発生しました");
    EXPECT_NE(job.DetailText().find("読み取り"), std::string::npos) << job.DetailText();
    EXPECT_NE(job.DetailText().find(path + " には読み取れたところまでを残しました (不完全です)"), std::string::npos)
        << job.DetailText();
    // The chunks before the failing one are in the file.
    std::vector<uint8_t> kept = ReadAll(path);
    ASSERT_EQ(kept.size(), size_t(2 << 20));
    EXPECT_TRUE(std::equal(kept.begin(), kept.end(), bytes.begin()));
}

// The disk holding the image fills up (a file size limit stands in for it):
// the partial image is removed, and the message says so.
TEST(DiskImageJob, WriteErrorRemovesThePartialImageAndSaysSo) {
    auto medium = std::make_shared<ScriptedMedium>(std::vector<uint8_t>(5 << 20, 0x3C), DeviceScript{});
    TempDir dir;
    const std::string path = dir.File("full.img");
    DiskImageJob job;
    ASSERT_EQ(job.Open(medium->Volume(), path, false), DiskOpenOk);
    struct sigaction ignore {}, before {};
    ignore.sa_handler = SIG_IGN;
    ASSERT_EQ(::sigaction(SIGXFSZ, &ignore, &before), 0);
    rlimit limit {}, saved {};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
    limit.rlim_cur = (2 << 20) + 100;
    limit.rlim_max = saved.rlim_max;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &limit), 0);
    const bool started = job.Start();
    const int result = job.Finish();
    ::setrlimit(RLIMIT_FSIZE, &saved);
    ::sigaction(SIGXFSZ, &before, nullptr);
    ASSERT_TRUE(started);
    EXPECT_EQ(result, DiskToolWriteError);
    EXPECT_FALSE(fs::exists(path)) << "a partial image must not stay beside the error";
    EXPECT_NE(job.DetailText().find("書き込みに失敗しました"), std::string::npos) << job.DetailText();
    EXPECT_NE(job.DetailText().find(path + " は削除しました"), std::string::npos) << job.DetailText();
}

TEST(DiskRestoreJob, ReadBackCatchesACardThatDropsWrites) {
    TempDir dir;
    const std::string image = dir.File("card.img");
    std::vector<uint8_t> bytes(4 << 20);
    for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = uint8_t(i ^ (i >> 11));
    WriteAll(image, bytes);
    const int64_t dropFrom = (3 << 20) + 1000;
    auto medium = std::make_shared<ScriptedMedium>(std::vector<uint8_t>(bytes.size(), 0),
                                                   DeviceScript{.dropWritesFrom = dropFrom});
    DiskRestoreJob job;
    ASSERT_EQ(job.Open(image, medium->Volume()), DiskOpenOk);
    ASSERT_TRUE(job.Start());
    EXPECT_EQ(job.Finish(), DiskToolVerifyMismatch);
    // The first differing sector, in 512-byte sectors: 1000 bytes in is sector 1 of the chunk.
    EXPECT_EQ(job.cells().failedOffset.load(), (3 << 20) + 512);
    EXPECT_NE(job.DetailText().find("セクタ 6145"), std::string::npos) << job.DetailText();
}

TEST(DiskImagePath, ImgAppendedUnlessPresentAndShortPathsDoNothing) {
    EXPECT_EQ(ImageFilePath("/a/card"), "/a/card.img");
    EXPECT_EQ(ImageFilePath("/a/card.ImG"), "/a/card.ImG");
    EXPECT_EQ(ImageFilePath("abcd"), "abcd.img");
    EXPECT_EQ(ImageFilePath("abc"), "");
    EXPECT_EQ(ImageFilePath(""), "");
}

}  // namespace
}  // namespace veld::test
