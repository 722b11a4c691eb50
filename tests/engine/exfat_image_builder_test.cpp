// The exFAT test builder checked by independent tools: fsck.exfat accepts
// what it writes, and The Sleuth Kit's fls lists the live and deleted names
// it wrote; whole-card wrapping with an MBR keeps the volume readable.
#include <gtest/gtest.h>

#include <set>
#include <sstream>

#include "finder/exfat_entry_set.h"
#include "support/exfat_image_builder.h"
#include "support/mkfs_tools.h"
#include "support/partitioned_image.h"
#include "volume/exfat_boot.h"
#include "volume/partition_table.h"

namespace veld {
namespace {

using test::ExfatFormat;
using test::ExfatImageBuilder;
using test::RunCommand;

using Listing = std::set<std::string>;  // "path" for live, "* path" for deleted

std::vector<uint8_t> Bytes(size_t size, uint8_t seed) {
    std::vector<uint8_t> b(size);
    for (size_t i = 0; i < size; ++i) b[i] = uint8_t(seed * 31 + i * 13);
    return b;
}

std::string ToolsMissing() {
    for (const char* tool : {"fsck.exfat", "fls"})
        if (test::FindTool(tool).empty()) return std::string(tool) + " is not installed (exfatprogs, sleuthkit)";
    return {};
}

// fls -r -p lines: "r/r 4101:\tDCIM/IMG.JPG", deleted "r/r * 4102:\t...".
// The volume's own entries ($ALLOC_BITMAP, the label, ...) are left out.
Listing Fls(const std::string& image, bool deletedOnly, uint64_t sectorOffset = 0) {
    std::vector<std::string> argv = {"fls", "-r", "-p", "-f", "exfat"};
    if (deletedOnly) argv.push_back("-d");
    if (sectorOffset) argv.insert(argv.end(), {"-o", std::to_string(sectorOffset)});
    argv.push_back(image);
    const test::CommandResult r = RunCommand(argv);
    EXPECT_EQ(r.exitCode, 0) << r.err;
    Listing names;
    std::istringstream in(r.out);
    for (std::string line; std::getline(in, line);) {
        const size_t tab = line.find('\t');
        if (tab == std::string::npos) continue;
        const std::string name = line.substr(tab + 1);
        if (name.rfind('$', 0) == 0 || name.find("(Volume Label Entry)") != std::string::npos) continue;
        const bool deleted = line.substr(0, tab).find(" * ") != std::string::npos;
        names.insert((deleted ? "* " : "") + name);
    }
    return names;
}

void ExpectFsckAccepts(const std::string& image) {
    const test::CommandResult r = RunCommand({"fsck.exfat", "-n", image});
    EXPECT_EQ(r.exitCode, 0) << r.out << r.err;
}

TEST(ExfatImageBuilder, CameraCardPassesFsckAndFlsListsWhatWasWritten) {
    if (auto why = ToolsMissing(); !why.empty()) GTEST_SKIP() << why;
    test::TempDir dir;
    ExfatImageBuilder card(dir.File("card.img"), {.sizeBytes = 64ull << 20});
    ASSERT_EQ(card.error(), "");
    EXPECT_EQ(card.formattedByMkfs(), !test::FindTool("mkfs.exfat").empty());

    auto dcim = card.AddDir(card.Root(), "DCIM");
    auto canon = card.AddDir(dcim, "100CANON");
    card.AddFile(canon, "IMG_0001.JPG", Bytes(200000, 1));
    auto second = card.AddFile(canon, "IMG_0002.JPG", Bytes(150000, 2));
    card.AddFile(canon, "MVI_0003.MP4", Bytes(300000, 3), {.noFatChain = false});
    auto kyoto = card.AddFile(canon, "京都の桜 2024年春 まとめて撮った一枚.JPG", Bytes(90000, 4));
    card.AddFile(canon, "夜景_長秒露光_三脚使用.JPG", Bytes(120000, 5), {.noFatChain = false});
    auto older = card.AddDir(dcim, "101CANON");
    card.AddFile(older, "IMG_0101.JPG", Bytes(50000, 6));
    card.Delete(second);
    card.Delete(kyoto);
    card.Delete(older);
    // Written after the deletions into the second photo's clusters, from its second one on.
    const uint64_t into = card.FirstCluster(second) + 1;
    auto later = card.AddFile(canon, "IMG_0006.JPG", Bytes(80000, 7), {.firstCluster = into});
    ASSERT_EQ(card.Finish(), "");
    EXPECT_EQ(card.FirstCluster(later), into);

    ExpectFsckAccepts(card.path());
    const Listing deleted = {"* DCIM/100CANON/IMG_0002.JPG", "* DCIM/100CANON/京都の桜 2024年春 まとめて撮った一枚.JPG",
                             "* DCIM/101CANON", "* DCIM/101CANON/IMG_0101.JPG"};
    Listing all = {"DCIM", "DCIM/100CANON", "DCIM/100CANON/IMG_0001.JPG", "DCIM/100CANON/MVI_0003.MP4",
                   "DCIM/100CANON/夜景_長秒露光_三脚使用.JPG", "DCIM/100CANON/IMG_0006.JPG"};
    all.insert(deleted.begin(), deleted.end());
    EXPECT_EQ(Fls(card.path(), false), all);
    EXPECT_EQ(Fls(card.path(), true), deleted);
}

// A clip of more than 4 GiB in a sparse image: its set carries the 64-bit
// length, fsck accepts the volume and fls lists the clip.
TEST(ExfatImageBuilder, ClipLargerThanFourGibInASparseImage) {
    if (auto why = ToolsMissing(); !why.empty()) GTEST_SKIP() << why;
    test::TempDir dir;
    ExfatImageBuilder card(dir.File("big.img"), {.sizeBytes = 5ull << 30, .clusterSize = 128 * 1024});
    ASSERT_EQ(card.error(), "");
    const uint64_t size = (4ull << 30) + 123457;
    const std::vector<uint8_t> head = Bytes(4096, 8), tail = Bytes(1000, 9);
    auto clip = card.AddFile(card.Root(), "MVI_9999.MP4", head, {.size = size, .tail = tail});
    ASSERT_EQ(card.Finish(), "");

    ExpectFsckAccepts(card.path());
    EXPECT_EQ(Fls(card.path(), false).count("MVI_9999.MP4"), 1u);
    const auto root = ParseExfatDirectory(test::ReadFileRange(card.path(), card.ClusterOffset(card.RootCluster()),
                                                              card.ClusterSize()));
    ASSERT_EQ(root.size(), 1u);
    EXPECT_EQ(root[0].dataLength, size);
    EXPECT_EQ(root[0].firstCluster, card.FirstCluster(clip));
    const uint64_t end = card.ClusterOffset(card.FirstCluster(clip)) + size;
    EXPECT_EQ(test::ReadFileRange(card.path(), end - tail.size(), tail.size()), tail);
}

// The builder's own formatter (used where mkfs.exfat is missing, and for
// 4096-byte sectors) writes volumes fsck.exfat accepts.
TEST(ExfatImageBuilder, OwnFormatterPassesFsck) {
    if (auto why = ToolsMissing(); !why.empty()) GTEST_SKIP() << why;
    test::TempDir dir;
    for (uint32_t sector : {512u, 4096u}) {
        ExfatImageBuilder card(dir.File("own.img"), {.sizeBytes = 48ull << 20, .sectorSize = sector,
                                                     .formatter = ExfatFormat::Formatter::Own});
        ASSERT_EQ(card.error(), "");
        auto photo = card.AddFile(card.Root(), "IMG_0001.JPG", Bytes(70000, 1), {.noFatChain = false});
        card.AddFile(card.Root(), "IMG_0002.JPG", Bytes(10000, 2));
        card.Delete(photo);
        ASSERT_EQ(card.Finish(), "");
        SCOPED_TRACE(sector);
        ExpectFsckAccepts(card.path());
        EXPECT_EQ(Fls(card.path(), false).count("IMG_0002.JPG"), 1u);
        EXPECT_EQ(Fls(card.path(), true).count("* IMG_0001.JPG"), 1u);
    }
}

// A whole-card image: the exFAT volume copied behind an MBR at 4 MiB.
TEST(ExfatImageBuilder, VolumeWrappedInAnMbrReadsAtThePartitionOffset) {
    if (auto why = ToolsMissing(); !why.empty()) GTEST_SKIP() << why;
    if (auto why = test::PartitionToolsMissing(); !why.empty()) GTEST_SKIP() << why;
    test::TempDir dir;
    ExfatImageBuilder card(dir.File("part.img"), {.sizeBytes = 32ull << 20});
    ASSERT_EQ(card.error(), "");
    card.AddFile(card.Root(), "IMG_0001.JPG", Bytes(5000, 1));
    ASSERT_EQ(card.Finish(), "");
    const std::string whole = dir.File("whole.img");
    ASSERT_EQ(test::MakePartitionedImage(whole, "dos", 40ull << 20,
                                         {{.startSector = 8192, .sectors = 65536, .type = "7", .contents = card.path()}}),
              "");

    const PartitionTable table =
        ReadPartitionTable(test::ReadFileRange(whole, 0, kPartitionTableHeadBytes), test::FileSize(whole), 0);
    ASSERT_EQ(table.scheme, PartitionScheme::Mbr) << table.why;
    ASSERT_EQ(table.partitions.size(), 1u);
    EXPECT_EQ(table.partitions[0].type, "0x07 exFAT/NTFS");
    const uint64_t offset = table.partitions[0].offset;
    EXPECT_EQ(offset, 4u << 20);
    const ExfatBootRegion region =
        ReadExfatBootRegion(test::ReadFileRange(whole, offset, kExfatBootHeadBytes), table.partitions[0].size);
    ASSERT_TRUE(region.boot) << region.why;
    EXPECT_EQ(region.boot->clusterCount, card.ClusterCount());
    EXPECT_EQ(Fls(whole, false, 8192).count("IMG_0001.JPG"), 1u);
}

}  // namespace
}  // namespace veld
