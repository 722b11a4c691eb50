// Geometry from the boot sector: kinds, FAT type rules, cluster addressing,
// damaged or missing boot sectors, and the date and attribute texts.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include "support/fat_image_builder.h"
#include "volume/boot_sector.h"

namespace veld {
namespace {

using test::FatGeometry;
using test::FatImageBuilder;

TEST(BootSector, Fat16TypeStringGivesSixteenBitClusters) {
    FatImageBuilder b(FatGeometry::Fat16());
    auto v = b.Open();
    ASSERT_TRUE(v);
    EXPECT_EQ(v->volumeKind, VolumeFat16);
    EXPECT_EQ(FatTypeOf(v->bootSector), 16);
    EXPECT_TRUE(IsValidCluster(v->bootSector, 2));
    EXPECT_TRUE(IsValidCluster(v->bootSector, 0xFFF6));
    EXPECT_FALSE(IsValidCluster(v->bootSector, 0xFFF7));  // bad-cluster mark
    EXPECT_FALSE(IsValidCluster(v->bootSector, 0xFFFF));
    EXPECT_FALSE(IsValidCluster(v->bootSector, 1));
    EXPECT_FALSE(IsValidCluster(v->bootSector, 0));
    EXPECT_EQ(v->sectorSize, 512u);
    EXPECT_EQ(v->clusterSize, 1024u);
    // 1 reserved + 2 FATs + 32 root sectors before cluster 2.
    EXPECT_EQ(v->dataStart, (1 + 2 * b.SectorsPerFat() + 32) * 512u);
}

TEST(BootSector, Fat12TypeStringLimitsClustersTo0xFF6) {
    FatImageBuilder b(FatGeometry::Fat12());
    auto v = b.Open();
    EXPECT_EQ(v->volumeKind, VolumeFat16);  // FAT12 and FAT16 share one kind
    EXPECT_EQ(FatTypeOf(v->bootSector), 12);
    EXPECT_TRUE(IsValidCluster(v->bootSector, 0xFF6));
    EXPECT_FALSE(IsValidCluster(v->bootSector, 0xFF7));
    EXPECT_FALSE(IsValidCluster(v->bootSector, 0x1000));
}

TEST(BootSector, BlankTypeStringIsTreatedAsFat32ByTheRules) {
    FatImageBuilder b(FatGeometry::Fat16());
    b.SetBootBytes(bpb::FileSystemType, "        ");
    auto v = b.Open();
    EXPECT_EQ(v->volumeKind, VolumeFat16);  // the kind goes by root entries
    EXPECT_EQ(FatTypeOf(v->bootSector), 32);
    EXPECT_TRUE(IsValidCluster(v->bootSector, 0xFFF8));
    EXPECT_TRUE(IsValidCluster(v->bootSector, 0xFFFFFF6));
    EXPECT_FALSE(IsValidCluster(v->bootSector, 0xFFFFFF7));
    // "FAT1" alone is not enough: five bytes decide.
    b.SetBootBytes(bpb::FileSystemType, "FAT1    ");
    EXPECT_EQ(FatTypeOf(b.Open()->bootSector), 32);
}

TEST(BootSector, Fat32TakesSectorsPerFatFromOffset36AndTheRootCluster) {
    FatGeometry g = FatGeometry::Fat32(20000, 2);
    g.rootCluster = 5;
    FatImageBuilder b(g);
    auto v = b.Open();
    EXPECT_EQ(v->volumeKind, VolumeFat32);
    EXPECT_EQ(FatTypeOf(v->bootSector), 32);
    EXPECT_EQ(SectorsPerFatOf(v->bootSector), b.SectorsPerFat());
    EXPECT_EQ(v->dataStart, (32 + 2 * b.SectorsPerFat()) * 512u);
    EXPECT_EQ(v->clusterSize, 1024u);
    EXPECT_EQ(v->clusterCount, int64_t((20000 - 32 - 2 * b.SectorsPerFat() + 1) / 2));
    uint32_t root = uint32_t(v->bootSector[44]) | (uint32_t(v->bootSector[45]) << 8);
    EXPECT_EQ(root, 5u);
    // A stale value at offset 22 must not be used on FAT32.
    b.SetBoot16(bpb::SectorsPerFat16, 3);
    EXPECT_EQ(b.Open()->dataStart, (32 + 2 * b.SectorsPerFat()) * 512u);
}

TEST(BootSector, SixteenBitTotalWinsOverThirtyTwoBitTotal) {
    FatImageBuilder b(FatGeometry::Fat16(16384, 2));
    const int64_t firstData = b.DataStart() / 512;
    b.SetBoot32(bpb::TotalSectors32, 1000000);
    EXPECT_EQ(b.Open()->clusterCount, (16384 - firstData + 1) / 2);
    b.SetBoot16(bpb::TotalSectors16, 0);
    EXPECT_EQ(b.Open()->clusterCount, (1000000 - firstData + 1) / 2);
    // A partial last cluster counts.
    b.SetBoot16(bpb::TotalSectors16, uint16_t(firstData + 7));
    EXPECT_EQ(b.Open()->clusterCount, 4);
}

TEST(BootSector, ImageWithoutMarkerIsSearchedAsRawSectors) {
    auto v = DiskIO_OpenMemory(std::vector<uint8_t>(1000000, 0x5A));
    ASSERT_TRUE(v);
    EXPECT_EQ(v->volumeKind, VolumeRaw);
    EXPECT_EQ(v->sectorSize, 512u);
    EXPECT_EQ(v->clusterSize, 512u);
    EXPECT_EQ(v->clusterCount, 1954);  // the last sector partial
    EXPECT_EQ(v->dataStart, 0u);
    // The copy of an unusable boot sector is all zeros.
    EXPECT_EQ(std::count(v->bootSector.begin(), v->bootSector.end(), 0), 512);
    // Cluster 2 is the first sector of the source.
    EXPECT_EQ(ClusterOffset(*v, 2), 0);
    EXPECT_EQ(ClusterOffset(*v, 3), 512);

    // Too short to hold a boot sector at all: one partial sector.
    auto tiny = DiskIO_OpenMemory(std::vector<uint8_t>(100, 0));
    ASSERT_TRUE(tiny);
    EXPECT_EQ(tiny->volumeKind, VolumeRaw);
    EXPECT_EQ(tiny->clusterCount, 1);
}

TEST(BootSector, MarkerWithZeroSizesStaysSearchableWithoutDividing) {
    for (int field : {bpb::BytesPerSector, bpb::SectorsPerCluster}) {
        FatImageBuilder b(FatGeometry::Fat16());
        if (field == bpb::BytesPerSector)
            b.SetBoot16(field, 0);
        else
            b.SetBoot8(field, 0);
        auto v = b.Open();
        ASSERT_TRUE(v);
        EXPECT_EQ(v->volumeKind, VolumeRaw) << field;
        EXPECT_EQ(v->clusterSize, 512u);
        EXPECT_EQ(v->clusterCount, int64_t(b.bytes().size() / 512));
        // The rules that take the BPB directly must not divide by zero either.
        BootSector boot{};
        std::memcpy(boot.data(), b.bytes().data(), 512);
        EXPECT_EQ(ClusterCountOf(boot), 0);
    }
    // A partition table: marker present, everything else zero.
    std::vector<uint8_t> mbr(1 << 20, 0);
    mbr[510] = 0x55;
    mbr[511] = 0xAA;
    auto v = DiskIO_OpenMemory(mbr);
    EXPECT_EQ(v->volumeKind, VolumeRaw);
    EXPECT_EQ(v->clusterCount, 2048);
}

TEST(BootSector, ZeroedFirstSectorMakesTheCardRaw) {
    FatImageBuilder b(FatGeometry::Fat32());
    b.ZeroFirstSector();
    auto v = b.Open();
    EXPECT_EQ(v->volumeKind, VolumeRaw);
    EXPECT_EQ(v->clusterCount, int64_t(b.bytes().size() / 512));
}

TEST(BootSector, NtfsBootSectorCountsSectors) {
    FatImageBuilder b(FatGeometry::Fat16());
    b.SetBootBytes(bpb::OemName, "NTFS    ");
    b.SetBoot8(bpb::SectorsPerCluster, 8);
    b.SetBoot32(bpb::NtfsTotalSectors, 0x12345);
    b.SetBoot32(bpb::NtfsTotalSectors + 4, 0);
    auto v = b.Open();
    EXPECT_EQ(v->volumeKind, VolumeNtfs);
    EXPECT_EQ(v->dataStart, 0u);
    EXPECT_EQ(v->clusterSize, 4096u);
    EXPECT_EQ(v->clusterCount, 0x12345);
}

TEST(BootSector, ClusterOffsetIsExactBeyondFourGiB) {
    DiskVolume v;
    v.dataStart = 0x7E00;
    v.clusterSize = 32768;
    EXPECT_EQ(ClusterOffset(v, 0), 0);
    EXPECT_EQ(ClusterOffset(v, 1), 0);
    EXPECT_EQ(ClusterOffset(v, 2), 0x7E00);
    // Cluster 200,002 starts 6,553,600,000 bytes after cluster 2.
    EXPECT_EQ(ClusterOffset(v, 200002), int64_t(200000) * 32768 + 0x7E00);
    EXPECT_EQ(ClusterOffset(v, 0x0FFFFFF6), int64_t(0x0FFFFFF4) * 32768 + 0x7E00);
}

TEST(BootSector, DateTimeAndAttributeTexts) {
    EXPECT_STREQ(FatDateTimeText(test::DosDate(2009, 1, 1), test::DosTime(11, 33, 30)), "2009/01/01 11:33:30");
    EXPECT_STREQ(FatDateTimeText(0, 0), "1980/00/00 00:00:00");
    EXPECT_STREQ(FatDateTimeText(0xFFFF, 0xFFFF), "2107/15/31 31:63:62");
    EXPECT_STREQ(FatAttributeText(0x21), "R  A  ");
    EXPECT_STREQ(FatAttributeText(0x3F), "RHSADV");
    EXPECT_STREQ(FatAttributeText(0x10), "    D ");
    EXPECT_STREQ(FatAttributeText(0x08), "     V");
    EXPECT_STREQ(FatAttributeText(0x00), "      ");
}

}  // namespace
}  // namespace veld
