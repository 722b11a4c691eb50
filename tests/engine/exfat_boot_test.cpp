// The exFAT boot region on volumes formatted by mkfs.exfat and by the test
// builder: the fields, the checksum of the main region, the backup region
// when the main one is damaged, rejection when both are, and the volume
// entries of the root (allocation bitmap, up-case table, label).
#include <gtest/gtest.h>

#include "support/exfat_image_builder.h"
#include "support/mkfs_tools.h"
#include "support/partitioned_image.h"
#include "volume/boot_sector_kind.h"
#include "volume/exfat_boot.h"

namespace veld {
namespace {

using test::ExfatFormat;
using test::ExfatImageBuilder;

ExfatBootRegion ReadRegion(const std::string& path) {
    return ReadExfatBootRegion(test::ReadFileRange(path, 0, kExfatBootHeadBytes), test::FileSize(path));
}

void WriteByte(const std::string& path, uint64_t offset, uint8_t value) {
    FILE* f = std::fopen(path.c_str(), "r+b");
    ASSERT_NE(f, nullptr);
    std::fseek(f, long(offset), SEEK_SET);
    std::fputc(value, f);
    std::fclose(f);
}

TEST(ExfatBoot, MkfsVolumeReadsFromTheMainRegionThenTheBackupThenNot) {
    if (test::FindTool("mkfs.exfat").empty()) GTEST_SKIP() << "mkfs.exfat is not installed (exfatprogs)";
    test::TempDir dir;
    const std::string img = dir.File("card.img");
    ExfatImageBuilder card(img, {.sizeBytes = 96ull << 20, .formatter = ExfatFormat::Formatter::Mkfs});
    ASSERT_EQ(card.error(), "");
    EXPECT_EQ(BootSectorKindOf(test::ReadFileRange(img, 0, 512)), BootSectorKind::Exfat);

    ExfatBootRegion region = ReadRegion(img);
    ASSERT_TRUE(region.boot) << region.why;
    EXPECT_FALSE(region.fromBackup);
    EXPECT_EQ(region.note, "");
    const ExfatBoot& b = *region.boot;
    EXPECT_EQ(b.BytesPerSector(), 512u);
    EXPECT_EQ(b.ClusterSize(), 32u * 1024);
    EXPECT_EQ(b.VolumeBytes(), 96ull << 20);
    EXPECT_EQ(b.clusterCount, card.ClusterCount());
    EXPECT_EQ(b.rootCluster, card.RootCluster());
    EXPECT_EQ(b.ClusterOffset(5), card.ClusterOffset(5));
    EXPECT_EQ(b.numberOfFats, 1);
    EXPECT_TRUE(b.IsHeapCluster(b.clusterCount + 1));
    EXPECT_FALSE(b.IsHeapCluster(b.clusterCount + 2));
    EXPECT_FALSE(b.IsHeapCluster(1));

    // Flags and percentage in use change while mounted; the checksum skips them.
    WriteByte(img, 106, 0x02);
    WriteByte(img, 112, 42);
    region = ReadRegion(img);
    ASSERT_TRUE(region.boot) << region.why;
    EXPECT_FALSE(region.fromBackup);
    EXPECT_EQ(region.boot->percentInUse, 42);

    const ExfatRootEntries root =
        ParseExfatRootEntries(test::ReadFileRange(img, card.ClusterOffset(b.rootCluster), b.ClusterSize()), b);
    EXPECT_EQ(root.why, "");
    EXPECT_EQ(root.label, "CARD");
    ASSERT_NE(root.ActiveBitmap(b), nullptr);
    ASSERT_TRUE(root.upcase);
    const ExfatAllocationBitmap& bitmapEntry = *root.ActiveBitmap(b);
    EXPECT_GE(bitmapEntry.dataLength, (b.clusterCount + 7) / 8);
    const std::vector<uint8_t> bitmap =
        test::ReadFileRange(img, b.ClusterOffset(bitmapEntry.firstCluster), size_t(bitmapEntry.dataLength));
    EXPECT_TRUE(ExfatClusterInUse(bitmap, bitmapEntry.firstCluster));
    EXPECT_TRUE(ExfatClusterInUse(bitmap, root.upcase->firstCluster));
    EXPECT_TRUE(ExfatClusterInUse(bitmap, b.rootCluster));
    EXPECT_FALSE(ExfatClusterInUse(bitmap, b.clusterCount + 1));
    EXPECT_FALSE(ExfatClusterInUse(bitmap, b.clusterCount + 100));  // outside the bitmap: free

    // A byte of an extended boot sector breaks the main checksum.
    WriteByte(img, 512 + 7, 0x77);
    region = ReadRegion(img);
    ASSERT_TRUE(region.boot) << region.why;
    EXPECT_TRUE(region.fromBackup);
    EXPECT_NE(region.note.find("checksum does not match"), std::string::npos) << region.note;
    EXPECT_EQ(region.boot->clusterCount, card.ClusterCount());

    // Both regions damaged: nothing to read the volume by.
    WriteByte(img, 12 * 512 + 512 + 7, 0x77);
    region = ReadRegion(img);
    EXPECT_FALSE(region.boot);
    EXPECT_NE(region.why.find("main:"), std::string::npos);
    EXPECT_NE(region.why.find("backup:"), std::string::npos);
}

// The backup is found by its own sector size when the main boot sector is
// wiped; a source shorter than the volume is noted, not rejected.
TEST(ExfatBoot, BackupOf4096ByteSectorVolumeAndTruncatedSource) {
    test::TempDir dir;
    const std::string img = dir.File("4k.img");
    ExfatImageBuilder card(img, {.sizeBytes = 64ull << 20, .sectorSize = 4096, .formatter = ExfatFormat::Formatter::Own});
    ASSERT_EQ(card.error(), "");
    ExfatBootRegion region = ReadRegion(img);
    ASSERT_TRUE(region.boot) << region.why;
    EXPECT_EQ(region.boot->BytesPerSector(), 4096u);

    for (uint64_t at = 0; at < 512; ++at) WriteByte(img, at, 0);
    region = ReadRegion(img);
    ASSERT_TRUE(region.boot) << region.why;
    EXPECT_TRUE(region.fromBackup);
    EXPECT_EQ(region.boot->BytesPerSector(), 4096u);
    EXPECT_EQ(region.boot->ClusterOffset(7), card.ClusterOffset(7));

    const ExfatBootRegion truncated =
        ReadExfatBootRegion(test::ReadFileRange(img, 0, kExfatBootHeadBytes), 32ull << 20);
    ASSERT_TRUE(truncated.boot);
    EXPECT_NE(truncated.note.find("longer than the source"), std::string::npos) << truncated.note;
}

// Boot sectors whose fields contradict each other are refused with the reason.
TEST(ExfatBoot, InconsistentFieldsAreRefused) {
    test::TempDir dir;
    const std::string img = dir.File("own.img");
    ExfatImageBuilder card(img, {.sizeBytes = 16ull << 20, .clusterSize = 4096, .formatter = ExfatFormat::Formatter::Own});
    ASSERT_EQ(card.error(), "");
    const std::vector<uint8_t> good = test::ReadFileRange(img, 0, 512);
    std::string why;
    ASSERT_TRUE(ParseExfatBootSector(good, &why)) << why;

    auto put32 = [](std::vector<uint8_t>& s, int at, uint32_t v) {
        for (int k = 0; k < 4; ++k) s[size_t(at + k)] = uint8_t(v >> (8 * k));
    };
    struct Case {
        const char* what;
        int offset;
        uint32_t value;
        int width;
        const char* why;
    };
    const Case cases[] = {
        {"byte in the zero area", 40, 1, 1, "zero area"},
        {"sector shift 13", 108, 13, 1, "sector size"},
        {"cluster shift 17 with 512-byte sectors", 109, 17, 1, "cluster size"},
        {"three FATs", 110, 3, 1, "FATs"},
        {"FAT in the boot regions", 80, 12, 4, "boot regions"},
        {"heap past the volume", 92, 0x00FFFFFF, 4, "FAT is too short"},
        {"heap past the volume, FAT long enough", 84, 0x00100000, 4, "heap starts inside the FAT"},
        {"root outside the heap", 96, 0x00FFFFFF, 4, "root directory"},
        {"cut-short cluster count", 92, 0, 4, "cluster count"},
    };
    for (const Case& c : cases) {
        std::vector<uint8_t> s = good;
        if (c.width == 1) s[size_t(c.offset)] = uint8_t(c.value);
        else put32(s, c.offset, c.value);
        why.clear();
        EXPECT_FALSE(ParseExfatBootSector(s, &why)) << c.what;
        EXPECT_NE(why.find(c.why), std::string::npos) << c.what << ": " << why;
    }
    std::vector<uint8_t> pastEnd = good;
    put32(pastEnd, 92, uint32_t(card.ClusterCount() + 10));
    EXPECT_FALSE(ParseExfatBootSector(pastEnd, &why));
    EXPECT_NE(why.find("runs past the end of the volume"), std::string::npos) << why;
}

}  // namespace
}  // namespace veld
