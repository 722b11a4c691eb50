// The exFAT boot region on volumes formatted by mkfs.exfat and by the test
// builder: the fields, the checksum of the main region, the backup region
// when the main one is damaged, rejection when both are, and the volume
// entries of the root (allocation bitmap, up-case table, label).
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

#include <fstream>

#include "support/exfat_image_builder.h"
#include "support/mkfs_tools.h"
#include "support/partitioned_image.h"
#include "volume/boot_sector_kind.h"
#include "volume/cluster_map.h"
#include "volume/disk_volume.h"
#include "volume/exfat_boot.h"
#include "volume/exfat_volume.h"

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

    // Volumes whose fields agree with each other, at the edges of the rules:
    // the heap cut to what a volume of 2,047 sectors (just under 1 MiB)
    // holds, or 2,048; a FAT of exactly as many entries as clusters, two short
    // of the two reserved entries it needs as well, or exactly long enough.
    auto get32 = [&](int at) {
        return uint32_t(good[size_t(at)]) | uint32_t(good[size_t(at) + 1]) << 8 | uint32_t(good[size_t(at) + 2]) << 16 |
               uint32_t(good[size_t(at) + 3]) << 24;
    };
    const uint32_t heap = get32(88), clusterSectors = 1u << good[109];
    const uint32_t fatSectors = (get32(92) + 2) / 128;  // 128 four-byte entries per 512-byte sector
    struct Edge {
        const char* what;
        uint32_t volumeSectors;  // 0: as formatted
        uint32_t fatSectors;     // 0: as formatted
        uint32_t clusterCount;
        const char* why;         // "": the boot sector is sound
    };
    const Edge edges[] = {
        {"volume of 2,047 sectors", 2047, 0, (2047 - heap) / clusterSectors, "smaller than 1 MiB"},
        {"volume of 2,048 sectors", 2048, 0, (2048 - heap) / clusterSectors, ""},
        {"FAT of cluster count entries", 0, fatSectors, fatSectors * 128, "FAT is too short"},
        {"FAT of cluster count + 2 entries", 0, fatSectors, fatSectors * 128 - 2, ""},
    };
    for (const Edge& e : edges) {
        std::vector<uint8_t> s = good;
        if (e.volumeSectors) put32(s, 72, e.volumeSectors);
        if (e.fatSectors) put32(s, 84, e.fatSectors);
        put32(s, 92, e.clusterCount);
        why.clear();
        EXPECT_EQ(ParseExfatBootSector(s, &why).has_value(), *e.why == 0) << e.what << ": " << why;
        EXPECT_NE(why.find(e.why), std::string::npos) << e.what << ": " << why;
    }
}

// A sparse image, small on disk, whose boot sector claims 2^32 - 16 clusters
// of 4 KiB: its root directory is there and lists an allocation bitmap of
// 512 MiB, which would run far past the end of the source. Opening it
// allocates nothing of that size (an address-space limit would stop it).
TEST(ExfatBoot, ABitmapLargerThanTheSourceIsNeverAllocated) {
    test::TempDir dir;
    const std::string img = dir.File("claims.img");
    constexpr uint32_t kSector = 4096, kCount = 0xFFFFFFF0, kFatOffset = 24, kFatLength = 0x400000;
    constexpr uint64_t kHeap = kFatOffset + kFatLength;  // sectors; clusters are one sector
    auto put = [](std::vector<uint8_t>& b, size_t at, uint64_t v, int width) {
        for (int k = 0; k < width; ++k) b[at + size_t(k)] = uint8_t(v >> (8 * k));
    };
    std::vector<uint8_t> region(12 * kSector, 0);
    const uint8_t jump[] = {0xEB, 0x76, 0x90, 'E', 'X', 'F', 'A', 'T', ' ', ' ', ' '};
    std::copy(std::begin(jump), std::end(jump), region.begin());
    put(region, 72, kHeap + kCount, 8);  // volume length
    put(region, 80, kFatOffset, 4);
    put(region, 84, kFatLength, 4);
    put(region, 88, kHeap, 4);
    put(region, 92, kCount, 4);
    put(region, 96, 2, 4);  // root directory
    put(region, 104, 0x0100, 2);
    region[108] = 12;       // 4096-byte sectors
    region[110] = 1;        // one FAT
    region[112] = 0xFF;
    put(region, 510, 0xAA55, 2);
    const uint32_t sum = ExfatBootChecksum(region, kSector);
    for (size_t at = 11 * kSector; at < 12 * kSector; at += 4) put(region, at, sum, 4);
    std::vector<uint8_t> root(2 * kSector, 0);  // the root, then the bitmap's first cluster
    root[0] = 0x81;
    put(root, 20, 3, 4);
    put(root, 24, (uint64_t(kCount) + 7) / 8, 8);
    root[32] = 0x82;
    put(root, 32 + 20, 2, 4);
    put(root, 32 + 24, 5836, 8);
    {
        std::ofstream out(img, std::ios::binary);
        out.write(reinterpret_cast<const char*>(region.data()), std::streamsize(region.size()));
        out.seekp(std::streamoff(kHeap * kSector));
        out.write(reinterpret_cast<const char*>(root.data()), std::streamsize(root.size()));
    }

    auto volume = DiskIO_Open(img, 0);
    ASSERT_TRUE(volume);
    ASSERT_EQ(volume->volumeKind, VolumeExfat);
    ASSERT_EQ(uint64_t(volume->clusterCount), kCount);
#if !defined(__SANITIZE_ADDRESS__)
    // Room for 256 MiB more than the process holds now.
    long pages = 0;
    std::ifstream("/proc/self/statm") >> pages;
    rlimit saved{};
    ASSERT_EQ(::getrlimit(RLIMIT_AS, &saved), 0);
    rlimit limit = saved;
    limit.rlim_cur = rlim_t(pages) * rlim_t(::sysconf(_SC_PAGESIZE)) + (256u << 20);
    ASSERT_EQ(::setrlimit(RLIMIT_AS, &limit), 0);
#endif
    ClusterMap map;
    int read = 0;
    EXPECT_NO_THROW(read = ReadFat(map, *volume));
#if !defined(__SANITIZE_ADDRESS__)
    ::setrlimit(RLIMIT_AS, &saved);
#endif
    EXPECT_EQ(read, -1) << "the bitmap is refused: every cluster counts as free";
    const auto* exfat = dynamic_cast<const ExfatFileSystem*>(map.fileSystem.get());
    ASSERT_NE(exfat, nullptr);
    EXPECT_FALSE(exfat->HasBitmap());
    EXPECT_LE(map.size(), 4u) << "the map holds the two clusters on the source and the reserved numbers";
}

}  // namespace
}  // namespace veld
