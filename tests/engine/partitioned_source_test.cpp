// Whole-card images with a partition table, searched through the real
// veld-cli: the partition that holds the volume is opened and everything is
// found, named and saved as on the bare partition; --partition picks another;
// tables that cannot be trusted leave the raw search of the whole source.
#include <gtest/gtest.h>

// Before Qt's headers, whose "slots" macro the builder's members would meet.
#include "support/exfat_image_builder.h"

#include <QByteArray>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <tuple>
#include <unistd.h>

#include "support/fat_image_builder.h"
#include "support/mkfs_tools.h"
#include "support/partitioned_image.h"
#include "support/test_jpeg.h"
#include "volume/disk_volume.h"

namespace veld::test {
namespace {

namespace fs = std::filesystem;

constexpr uint64_t kStart = 8192;  // 4 MiB in 512-byte sectors, where SD cards start their partition
constexpr const char* kBasicData = "EBD0A0A2-B9E5-4433-87C0-68B6B72699C7";

CommandResult Cli(std::vector<std::string> args) {
    args.insert(args.begin(), VELD_CLI_PATH);
    return RunCommand(args);
}

std::vector<QJsonObject> Records(const std::string& out) {
    std::vector<QJsonObject> records;
    std::istringstream lines(out);
    for (std::string line; std::getline(lines, line);)
        records.push_back(QJsonDocument::fromJson(QByteArray::fromStdString(line)).object());
    return records;
}

QJsonObject Json(const std::string& out) { return QJsonDocument::fromJson(QByteArray::fromStdString(out)).object(); }

std::set<std::string> Names(const std::string& out) {
    std::set<std::string> names;
    for (const QJsonObject& o : Records(out)) names.insert(o["name"].toString().toStdString());
    return names;
}

std::vector<uint8_t> ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

// Every saved file below dir by its path relative to dir.
std::map<std::string, std::vector<uint8_t>> SavedFiles(const std::string& dir) {
    std::map<std::string, std::vector<uint8_t>> files;
    for (const auto& e : fs::recursive_directory_iterator(dir))
        if (e.is_regular_file()) files[fs::relative(e.path(), dir).string()] = ReadAll(e.path().string());
    return files;
}

// A FAT16 card of about 8 MiB with one deleted photo named name.
std::string SmallCard(const TempDir& dir, const std::string& file, const std::string& name, int width) {
    FatImageBuilder b(FatGeometry::Fat16(16384, 2));
    b.Root().AddDir("DCIM", 3).AddDeletedFile("PHOTO.JPG", 40, MakeTestJpeg(width, 96), name);
    return b.WriteTo(dir, file);
}

// Boot code in front of the table, as partitioning tools other than sfdisk
// write it: bytes that pass a loose boot-sector test (non-zero "sizes" at
// 11..13) without being a boot sector.
void WriteBootCode(const std::string& path) {
    std::vector<uint8_t> code(446);
    for (size_t i = 0; i < code.size(); ++i) code[i] = uint8_t(0x33 + i * 29);
    code[0] = 0xFA;  // cli: no jump instruction
    std::fstream f(path, std::ios::binary | std::ios::in | std::ios::out);
    f.write(reinterpret_cast<const char*>(code.data()), std::streamsize(code.size()));
    ASSERT_TRUE(f.good()) << path;
}

class PartitionedSource : public ::testing::Test {
protected:
    void SetUp() override {
        if (auto why = PartitionToolsMissing(); !why.empty()) GTEST_SKIP() << why;
    }
    TempDir dir_{"veld-parts"};
};

TEST_F(PartitionedSource, MbrAndGptCardsGiveTheRecordsAndBytesOfTheBarePartition) {
    // A FAT32 camera card: a live photo, deleted ones (one with a long name,
    // one in a deleted folder) and a clip-less picture only the signature
    // search finds.
    FatImageBuilder b(FatGeometry::Fat32(70000, 1));
    TestExif exif;
    exif.model = "PARTCAM";
    auto canon = b.Root().AddDir("DCIM", 3).AddDir("100CANON", 4);
    canon.AddFile("IMG_0001.JPG", 10, MakeTestJpeg(160, 120));
    canon.AddDeletedFile("IMG_0002.JPG", 100, MakeTestJpeg(320, 240, &exif), "Trip day 2.jpg");
    canon.AddDeletedDir("OLD", 300).AddDeletedFile("IMG_0003.JPG", 400, MakeTestJpeg(200, 150));
    b.WriteCluster(5000, MakeTestJpeg(240, 180));
    const std::string bare = b.WriteTo(dir_, "bare.img");
    ASSERT_FALSE(bare.empty());
    const uint64_t sectors = b.bytes().size() / 512;
    const std::string mbr = dir_.File("mbr.img"), gpt = dir_.File("gpt.img");
    ASSERT_EQ(MakePartitionedImage(mbr, "dos", 48u << 20,
                                   {{.startSector = kStart, .sectors = sectors, .type = "c", .contents = bare}}),
              "");
    WriteBootCode(mbr);
    ASSERT_EQ(MakePartitionedImage(gpt, "gpt", 48u << 20,
                                   {{.startSector = kStart, .sectors = sectors, .type = kBasicData, .contents = bare}}),
              "");

    auto run = [&](const std::string& image, const std::string& save) {
        CommandResult r = Cli({"search", "--json", "--trace", "--save", save, image});
        EXPECT_EQ(r.exitCode, 0) << r.err;
        return r;
    };
    const CommandResult expected = run(bare, dir_.File("saved-bare"));
    std::vector<QJsonObject> want = Records(expected.out);
    ASSERT_GE(want.size(), 3u) << expected.out;
    for (QJsonObject& o : want) o.remove("saved");
    EXPECT_TRUE(Names(expected.out).count("Trip day 2.jpg")) << expected.out;
    const auto wantFiles = SavedFiles(dir_.File("saved-bare"));

    for (const auto& [image, scheme] : {std::pair{mbr, std::string("MBR")}, std::pair{gpt, std::string("GPT")}}) {
        const std::string save = dir_.File("saved-" + scheme);
        const CommandResult r = run(image, save);
        std::vector<QJsonObject> got = Records(r.out);
        for (QJsonObject& o : got) o.remove("saved");
        EXPECT_EQ(got, want) << scheme << "\n" << r.out;
        EXPECT_EQ(SavedFiles(save), wantFiles) << scheme;
        EXPECT_NE(r.err.find(scheme + " partition table: partition 1 at offset 4194304"), std::string::npos) << r.err;

        const QJsonObject info = Json(Cli({"info", "--json", image}).out);
        EXPECT_EQ(info["partition_table"].toString().toStdString(), scheme == "MBR" ? "mbr" : "gpt");
        EXPECT_EQ(info["partition_index"].toInt(), 1);
        EXPECT_EQ(info["partition_offset"].toDouble(), double(4u << 20));
        EXPECT_EQ(info["volume_kind"].toInt(), int(VolumeFat32));
        const QJsonArray parts = info["partitions"].toArray();
        ASSERT_EQ(parts.size(), 1);
        EXPECT_EQ(parts[0].toObject()["size"].toDouble(), double(sectors * 512));
        EXPECT_EQ(parts[0].toObject()["volume"].toString(), QStringLiteral("fat"));
    }

    // The search windows close the source and open it again around their
    // dialogs: the reopened handle still reads the partition, not the table.
    auto volume = DiskIO_Open(gpt, 0);
    ASSERT_TRUE(volume);
    DiskIO_CloseHandle(*volume);
    ASSERT_TRUE(DiskIO_Reopen(*volume));
    std::vector<uint8_t> sector(512);
    uint32_t done = 0;
    ASSERT_TRUE(DiskIO_ReadAt(volume.get(), 0, sector.data(), 512, &done));
    EXPECT_TRUE(std::equal(sector.begin(), sector.end(), b.bytes().begin()));
    EXPECT_EQ(volume->device->Size(), int64_t(sectors * 512));
    // Nothing past the partition's end is read.
    ASSERT_TRUE(DiskIO_ReadAt(volume.get(), sectors * 512 - 100, sector.data(), 512, &done));
    EXPECT_EQ(done, 100u);
}

TEST_F(PartitionedSource, PartitionOptionChoosesBetweenTwoPartitions) {
    const std::string one = SmallCard(dir_, "one.img", "First card.jpg", 128);
    const std::string two = SmallCard(dir_, "two.img", "Second card.jpg", 144);
    const std::string card = dir_.File("two-parts.img");
    ASSERT_EQ(MakePartitionedImage(card, "dos", 40u << 20,
                                   {{.startSector = kStart, .sectors = 16384, .type = "e", .contents = one},
                                    {.startSector = kStart + 32768, .sectors = 16384, .type = "e", .contents = two}}),
              "");

    CommandResult first = Cli({"search", "--json", card});
    ASSERT_EQ(first.exitCode, 0) << first.err;
    EXPECT_TRUE(Names(first.out).count("First card.jpg")) << first.out;
    EXPECT_FALSE(Names(first.out).count("Second card.jpg"));
    CommandResult second = Cli({"search", "--json", "--partition", "2", card});
    ASSERT_EQ(second.exitCode, 0) << second.err;
    EXPECT_TRUE(Names(second.out).count("Second card.jpg")) << second.out;
    EXPECT_FALSE(Names(second.out).count("First card.jpg"));

    const QJsonObject info = Json(Cli({"info", "--json", "--partition", "2", card}).out);
    EXPECT_EQ(info["partition_table"].toString(), QStringLiteral("mbr"));
    EXPECT_EQ(info["partition_index"].toInt(), 2);
    EXPECT_EQ(info["partition_offset"].toDouble(), double((kStart + 32768) * 512));
    ASSERT_EQ(info["partitions"].toArray().size(), 2);
    EXPECT_EQ(info["partitions"].toArray()[1].toObject()["type"].toString(), QStringLiteral("0x0E FAT16 (LBA)"));
    const CommandResult text = Cli({"info", card});
    EXPECT_NE(text.out.find("partition table  mbr"), std::string::npos) << text.out;

    // A number that names no partition, or a source without a table: a wrong
    // command line, said clearly, nothing searched.
    for (const auto& [source, number, why] : {std::tuple{card, "3", "no partition 3; the MBR lists 1, 2"},
                                              std::tuple{one, "1", "no partition table"}}) {
        for (const char* command : {"search", "info"}) {
            CommandResult r = Cli({command, "--partition", number, source});
            EXPECT_EQ(r.exitCode, 2) << command << " " << source;
            EXPECT_NE(r.err.find(why), std::string::npos) << r.err;
            EXPECT_TRUE(r.out.empty()) << r.out;
        }
    }
    for (const char* bad : {"0", "-1", "x", "2b"})
        EXPECT_EQ(Cli({"search", "--partition", bad, card}).exitCode, 2) << bad;
}

TEST_F(PartitionedSource, UntrustedTablesLeaveTheRawSearchOfTheWholeSource) {
    const std::string bare = SmallCard(dir_, "bare.img", "Kept.jpg", 160);
    const std::string card = dir_.File("cut.img");
    ASSERT_EQ(MakePartitionedImage(card, "dos", 40u << 20,
                                   {{.startSector = kStart, .sectors = 65536, .type = "c", .contents = bare}}),
              "");
    // The partition runs to 36 MiB; the image now ends at 16 MiB.
    ASSERT_EQ(::truncate(card.c_str(), off_t(16) << 20), 0);
    CommandResult r = Cli({"search", "--json", "--trace", card});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_NE(r.err.find("No partition table: MBR partition ends past the end of the source "
                         "(table points outside the source)"),
              std::string::npos)
        << r.err;
    // Raw: the photo is still found by its signature, without its name, in
    // the 512-byte unit where it lies on the whole source (cluster 2 is unit 0).
    const std::vector<QJsonObject> records = Records(r.out);
    ASSERT_EQ(records.size(), 1u) << r.out;
    EXPECT_EQ(records[0]["folder"].toString(), QString());
    const uint64_t photoOffset = kStart * 512 + FatImageBuilder(FatGeometry::Fat16(16384, 2)).ClusterOffset(40);
    EXPECT_EQ(records[0]["start_cluster"].toDouble(), double(2 + photoOffset / 512));
    const QJsonObject info = Json(Cli({"info", "--json", card}).out);
    EXPECT_EQ(info["partition_table"].toString(), QStringLiteral("none"));
    EXPECT_EQ(info["volume_kind"].toInt(), int(VolumeRaw));
    EXPECT_TRUE(info["partitions"].toArray().isEmpty());

    // A consistent table whose partitions hold nothing we read.
    const std::string empty = dir_.File("linux.img");
    ASSERT_EQ(MakePartitionedImage(empty, "dos", 16u << 20, {{.startSector = 2048, .sectors = 8192, .type = "83"}}), "");
    WriteBootCode(empty);
    auto volume = DiskIO_Open(empty, 0);
    ASSERT_TRUE(volume);
    EXPECT_EQ(volume->partitionScheme, PartitionScheme::Mbr);
    EXPECT_EQ(volume->partitionIndex, 0);
    EXPECT_EQ(volume->volumeKind, VolumeRaw);
    EXPECT_EQ(volume->clusterCount, int64_t(16u << 20) / 512);
    EXPECT_NE(volume->partitionNote.find("none holds a FAT or exFAT volume"), std::string::npos)
        << volume->partitionNote;
}

TEST_F(PartitionedSource, ExfatPartitionIsTheOneOpened) {
    ExfatImageBuilder exfat(dir_.File("exfat.img"), {.sizeBytes = 16u << 20});
    ASSERT_EQ(exfat.error(), "");
    ASSERT_EQ(exfat.Finish(), "");
    const std::string card = dir_.File("sdxc.img");
    ASSERT_EQ(MakePartitionedImage(card, "dos", 40u << 20,
                                   {{.startSector = 2048, .sectors = 4096, .type = "83"},
                                    {.startSector = kStart, .sectors = 32768, .type = "7",
                                     .contents = dir_.File("exfat.img")}}),
              "");
    auto volume = DiskIO_Open(card, 0);
    ASSERT_TRUE(volume);
    EXPECT_EQ(volume->partitionIndex, 2);
    EXPECT_EQ(volume->partitionOffset, kStart * 512);
    ASSERT_EQ(volume->partitions.size(), 2u);
    EXPECT_EQ(volume->partitions[0].content, BootSectorKind::None);
    EXPECT_EQ(volume->partitions[1].content, BootSectorKind::Exfat);
    EXPECT_TRUE(HoldsSearchableVolume(volume->partitions[1]));
}

}  // namespace
}  // namespace veld::test
