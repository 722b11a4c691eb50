// Partition tables written by sfdisk (MBR and GPT) and by hand: partitions
// listed with their offsets and types, the partition that holds a volume
// picked, and damaged or inconsistent tables rejected with the reason.
#include <gtest/gtest.h>

#include <random>
#include <unistd.h>

#include "base/trace.h"
#include "support/mkfs_tools.h"
#include "support/partitioned_image.h"
#include "volume/boot_sector_kind.h"
#include "volume/partition_table.h"

namespace veld {
namespace {

using test::PartitionLayout;

constexpr uint64_t kCardBytes = 80ull << 20;
// Partition 1 without a volume, partition 2 a FAT32 volume at 4 MiB.
const std::vector<PartitionLayout> kTwoPartitionsMbr = {{.startSector = 2048, .sectors = 4096, .type = "83"},
                                                      {.startSector = 8192, .sectors = 131072, .type = "c"}};
const std::vector<PartitionLayout> kTwoPartitionsGpt = {
    {.startSector = 2048, .sectors = 4096, .type = "0FC63DAF-8483-4772-8E79-3D69D8477DE4"},
    {.startSector = 8192, .sectors = 131072, .type = "EBD0A0A2-B9E5-4433-87C0-68B6B72699C7"}};

PartitionTable ReadTable(const std::string& path, uint32_t sectorSize = 0) {
    return ReadPartitionTable(test::ReadFileRange(path, 0, kPartitionTableHeadBytes), test::FileSize(path), sectorSize);
}

std::optional<size_t> PickVolume(const std::string& path, const PartitionTable& table) {
    return DefaultPartition(table, [&](const Partition& p) {
        return BootSectorKindOf(test::ReadFileRange(path, p.offset, 512)) != BootSectorKind::None;
    });
}

void WriteByte(const std::string& path, uint64_t offset, uint8_t value) {
    FILE* f = std::fopen(path.c_str(), "r+b");
    ASSERT_NE(f, nullptr);
    std::fseek(f, long(offset), SEEK_SET);
    std::fputc(value, f);
    std::fclose(f);
}

uint8_t ByteAt(const std::string& path, uint64_t offset) { return test::ReadFileRange(path, offset, 1).at(0); }

class PartitionTableTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (auto why = test::PartitionToolsMissing(); !why.empty()) GTEST_SKIP() << why;
        if (test::FindTool("mkfs.fat").empty()) GTEST_SKIP() << "mkfs.fat is not installed (dosfstools)";
    }
    test::TempDir dir_;
};

TEST_F(PartitionTableTest, MbrBySfdiskListsBothPartitionsAndPicksTheFatOne) {
    const std::string card = dir_.File("mbr.img");
    ASSERT_EQ(test::MakePartitionedImage(card, "dos", kCardBytes, kTwoPartitionsMbr), "");
    ASSERT_EQ(test::FormatFatPartition(card, 8192, 131072, 32), "");

    EXPECT_EQ(BootSectorKindOf(test::ReadFileRange(card, 0, 512)), BootSectorKind::None);
    const PartitionTable table = ReadTable(card);
    ASSERT_EQ(table.scheme, PartitionScheme::Mbr) << table.why;
    EXPECT_STREQ(PartitionSchemeName(table.scheme), "mbr");
    ASSERT_EQ(table.partitions.size(), 2u);
    EXPECT_EQ(table.partitions[0].index, 1);
    EXPECT_EQ(table.partitions[0].offset, 2048u * 512);
    EXPECT_EQ(table.partitions[0].size, 4096u * 512);
    EXPECT_EQ(table.partitions[0].type, "0x83 Linux");
    EXPECT_EQ(table.partitions[1].index, 2);
    EXPECT_EQ(table.partitions[1].offset, 4u << 20);
    EXPECT_EQ(table.partitions[1].size, 64u << 20);
    EXPECT_EQ(table.partitions[1].type, "0x0C FAT32 (LBA)");

    EXPECT_EQ(BootSectorKindOf(test::ReadFileRange(card, 4u << 20, 512)), BootSectorKind::Fat);
    EXPECT_EQ(PickVolume(card, table), std::optional<size_t>(1));
    EXPECT_EQ(PartitionByIndex(table, 1), std::optional<size_t>(0));
    EXPECT_EQ(PartitionByIndex(table, 3), std::nullopt);
}

TEST_F(PartitionTableTest, LogicalPartitionsInAnExtendedOneAreOfferedAndTheChainIsBounded) {
    // A primary, then an extended partition holding a Linux and a FAT32 one.
    const std::string card = dir_.File("ebr.img");
    ASSERT_EQ(test::MakePartitionedImage(card, "dos", 96u << 20,
                                         {{.startSector = 2048, .sectors = 4096, .type = "83"},
                                          {.startSector = 8192, .sectors = 180224, .type = "5"},
                                          {.startSector = 10240, .sectors = 4096, .type = "83"},
                                          {.startSector = 16384, .sectors = 131072, .type = "c"}}),
              "");
    ASSERT_EQ(test::FormatFatPartition(card, 16384, 131072, 32), "");
    const auto sectors = [&](uint64_t offset) { return test::ReadFileRange(card, offset, 512); };

    PartitionTable table = ReadTable(card);
    ASSERT_EQ(table.scheme, PartitionScheme::Mbr) << table.why;
    ASSERT_EQ(table.partitions.size(), 2u);
    EXPECT_EQ(PickVolume(card, table), std::nullopt);  // only the logical one holds a volume
    AddLogicalPartitions(table, test::FileSize(card), sectors);
    ASSERT_EQ(table.partitions.size(), 4u);
    EXPECT_EQ(table.partitions[2].index, 5);
    EXPECT_EQ(table.partitions[2].offset, 10240u * 512);
    EXPECT_EQ(table.partitions[2].size, 4096u * 512);
    EXPECT_EQ(table.partitions[3].index, 6);
    EXPECT_EQ(table.partitions[3].offset, 16384u * 512);
    EXPECT_EQ(table.partitions[3].type, "0x0C FAT32 (LBA)");
    EXPECT_EQ(PickVolume(card, table), std::optional<size_t>(3));
    EXPECT_EQ(PartitionByIndex(table, 6), std::optional<size_t>(3));

    // The second record's link turned back to the first: the chain ends
    // there, with what it found. A logical partition reaching past its
    // extended one is not taken.
    const uint64_t ebr1 = 8192u * 512;
    const std::vector<uint8_t> first = test::ReadFileRange(card, ebr1, 512);
    const uint64_t ebr2 = ebr1 + uint64_t(first[0x1CE + 8] | first[0x1CE + 9] << 8 | first[0x1CE + 10] << 16) * 512;
    ASSERT_GT(ebr2, ebr1);
    for (int k = 0; k < 4; ++k) WriteByte(card, ebr2 + 0x1CE + 4 + uint64_t(k), k == 0 ? 0x05 : 0);  // type 05, next at +0
    for (int k = 0; k < 4; ++k) WriteByte(card, ebr2 + 0x1CE + 8 + uint64_t(k), 0);
    PartitionTable looped = ReadTable(card);
    AddLogicalPartitions(looped, test::FileSize(card), sectors);
    EXPECT_EQ(looped.partitions.size(), 4u);
    EXPECT_NE(LastTraceLine().find("does not lie after it"), std::string::npos) << LastTraceLine();
    WriteByte(card, ebr2 + 0x1BE + 12 + 2, 0x40);  // the FAT32 one's length now runs past the extended one
    PartitionTable tooLong = ReadTable(card);
    AddLogicalPartitions(tooLong, test::FileSize(card), sectors);
    ASSERT_EQ(tooLong.partitions.size(), 3u);
    EXPECT_EQ(tooLong.partitions[2].index, 5);
    EXPECT_NE(LastTraceLine().find("runs past the extended partition"), std::string::npos) << LastTraceLine();
}

TEST_F(PartitionTableTest, MbrPartitionPastTheEndOfATruncatedImageRejectsTheTable) {
    const std::string card = dir_.File("cut.img");
    ASSERT_EQ(test::MakePartitionedImage(card, "dos", kCardBytes, kTwoPartitionsMbr), "");
    ASSERT_EQ(::truncate(card.c_str(), off_t(40) << 20), 0);  // partition 2 ends at 68 MiB
    const PartitionTable table = ReadTable(card);
    EXPECT_EQ(table.scheme, PartitionScheme::None);
    EXPECT_NE(table.why.find("outside the source"), std::string::npos) << table.why;
    EXPECT_TRUE(table.partitions.empty());
}

TEST_F(PartitionTableTest, GptBySfdiskListsTypesAndNamesAndRejectsDamagedChecksums) {
    const std::string card = dir_.File("gpt.img");
    ASSERT_EQ(test::MakePartitionedImage(card, "gpt", kCardBytes, kTwoPartitionsGpt), "");
    ASSERT_EQ(test::FormatFatPartition(card, 8192, 131072, 32), "");

    const PartitionTable table = ReadTable(card);
    ASSERT_EQ(table.scheme, PartitionScheme::Gpt) << table.why;
    EXPECT_EQ(table.sectorSize, 512u);
    ASSERT_EQ(table.partitions.size(), 2u);
    EXPECT_EQ(table.partitions[0].type, "Linux filesystem");
    EXPECT_EQ(table.partitions[1].type, "Microsoft basic data");
    EXPECT_EQ(table.partitions[1].offset, 4u << 20);
    EXPECT_EQ(table.partitions[1].size, 64u << 20);
    EXPECT_EQ(PickVolume(card, table), std::optional<size_t>(1));

    // The disk GUID in the header, then a byte of the first entry's name.
    const uint64_t headerByte = 512 + 60, entryByte = 1024 + 100;
    for (uint64_t at : {headerByte, entryByte}) {
        const uint8_t was = ByteAt(card, at);
        WriteByte(card, at, uint8_t(was ^ 0x5A));
        const PartitionTable damaged = ReadTable(card);
        EXPECT_EQ(damaged.scheme, PartitionScheme::None);
        EXPECT_NE(damaged.why.find(at == headerByte ? "header CRC32" : "entry array CRC32"), std::string::npos)
            << damaged.why;
        WriteByte(card, at, was);
    }
    EXPECT_EQ(ReadTable(card).scheme, PartitionScheme::Gpt);

    // The usable area may end on the source's last sector, never one past it.
    const std::vector<uint8_t> field = test::ReadFileRange(card, 512 + 48, 8);
    uint64_t lastUsable = 0;
    for (int k = 7; k >= 0; --k) lastUsable = lastUsable << 8 | field[size_t(k)];
    ASSERT_EQ(::truncate(card.c_str(), off_t(lastUsable + 1) * 512), 0);
    EXPECT_EQ(ReadTable(card).scheme, PartitionScheme::Gpt) << ReadTable(card).why;
    ASSERT_EQ(::truncate(card.c_str(), off_t(lastUsable) * 512), 0);
    const PartitionTable pastEnd = ReadTable(card);
    EXPECT_EQ(pastEnd.scheme, PartitionScheme::None);
    EXPECT_NE(pastEnd.why.find("usable area ends past the end"), std::string::npos) << pastEnd.why;

    ASSERT_EQ(::truncate(card.c_str(), off_t(60) << 20), 0);
    const PartitionTable cut = ReadTable(card);
    EXPECT_EQ(cut.scheme, PartitionScheme::None);
    EXPECT_NE(cut.why.find("outside the source"), std::string::npos) << cut.why;
}

TEST_F(PartitionTableTest, GptWith4096ByteSectorsIsFoundWhenTheSectorSizeIsUnknown) {
    const std::string card = dir_.File("4kn.img");
    const std::vector<PartitionLayout> parts = {{.startSector = 1024, .sectors = 4096, .type = kTwoPartitionsGpt[1].type}};
    ASSERT_EQ(test::WriteGpt(card, 32u << 20, 4096, parts), "");
    const PartitionTable table = ReadTable(card);
    ASSERT_EQ(table.scheme, PartitionScheme::Gpt) << table.why;
    EXPECT_EQ(table.sectorSize, 4096u);
    ASSERT_EQ(table.partitions.size(), 1u);
    EXPECT_EQ(table.partitions[0].offset, 4u << 20);
    EXPECT_EQ(table.partitions[0].size, 16u << 20);
    // A drive that reports 512-byte sectors has no GPT at 512.
    EXPECT_EQ(ReadTable(card, 512).scheme, PartitionScheme::None);
}

// Sector 0 with the marker but no consistent table: garbage, boot flags other
// than 00/80, typed entries without sectors, overlaps, no entry at all, and a
// FAT boot sector (a volume, not a table).
TEST(PartitionTable, InconsistentFirstSectorsAreNotTaken) {
    struct Entry {
        uint8_t status, type;
        uint32_t first, count;
    };
    auto sector = [](std::vector<Entry> entries) {
        std::vector<uint8_t> s(512, 0);
        for (size_t i = 0; i < entries.size(); ++i) {
            uint8_t* e = &s[446 + 16 * i];
            e[0] = entries[i].status;
            e[4] = entries[i].type;
            for (int k = 0; k < 4; ++k) e[8 + k] = uint8_t(entries[i].first >> (8 * k));
            for (int k = 0; k < 4; ++k) e[12 + k] = uint8_t(entries[i].count >> (8 * k));
        }
        s[510] = 0x55, s[511] = 0xAA;
        return s;
    };
    const uint64_t size = 64u << 20;  // 131072 sectors
    struct Case {
        const char* what;
        std::vector<uint8_t> bytes;
        const char* why;
    };
    std::mt19937 random(13);
    std::vector<uint8_t> garbage(512);
    for (auto& b : garbage) b = uint8_t(random());
    garbage[510] = 0x55, garbage[511] = 0xAA;
    std::vector<uint8_t> fat = sector({});
    fat[0] = 0xEB, fat[1] = 0x58, fat[2] = 0x90, fat[12] = 2, fat[13] = 8, fat[14] = 32, fat[16] = 2, fat[21] = 0xF8,
    fat[32] = 0x00, fat[33] = 0x00, fat[34] = 0x02, fat[36] = 0x10;

    const Case cases[] = {
        {"garbage", garbage, "boot flag"},
        {"boot flag 0x01", sector({{0x01, 0x0C, 2048, 1000}}), "boot flag"},
        {"typed but empty", sector({{0x80, 0x0C, 2048, 0}}), "no sectors"},
        {"overlap", sector({{0, 0x0C, 2048, 8192}, {0, 0x83, 8000, 100}}), "overlap"},
        {"past the end", sector({{0, 0x0C, 2048, 131072}}), "outside the source"},
        {"one sector past the end", sector({{0, 0x0C, 2048, 8192}, {0, 0x07, 10240, 131072 - 10240 + 1}}),
         "outside the source"},
        {"no entries", sector({}), "lists no partition"},
        {"FAT boot sector", fat, "boot sector (fat)"},
        {"protective without GPT", sector({{0, 0xEE, 1, 131071}}), "without a GPT header"},
    };
    for (const Case& c : cases) {
        const PartitionTable table = ReadPartitionTable(c.bytes, size, 0);
        EXPECT_EQ(table.scheme, PartitionScheme::None) << c.what;
        EXPECT_NE(table.why.find(c.why), std::string::npos) << c.what << ": " << table.why;
    }
    const PartitionTable fine = ReadPartitionTable(sector({{0, 0x0C, 2048, 8192}, {0x80, 0x07, 10240, 100}}), size, 0);
    ASSERT_EQ(fine.scheme, PartitionScheme::Mbr) << fine.why;
    EXPECT_EQ(fine.partitions.size(), 2u);
    // The last partition ending on the source's last sector: a whole card.
    const PartitionTable whole =
        ReadPartitionTable(sector({{0, 0x0C, 2048, 8192}, {0, 0x07, 10240, 131072 - 10240}}), size, 0);
    EXPECT_EQ(whole.scheme, PartitionScheme::Mbr) << whole.why;
    EXPECT_EQ(DefaultPartition(fine, [](const Partition&) { return false; }), std::nullopt);
}

}  // namespace
}  // namespace veld
