// The FAT image builder is the ground truth of many tests, so its images are
// checked against an independent reader: mtools must see the same folders,
// files, long names and contents, and the FAT12 packing must decode as
// written.
#include <gtest/gtest.h>

#include "support/fat_image_builder.h"
#include "support/mkfs_tools.h"
#include "volume/boot_sector.h"

namespace veld::test {
namespace {

std::vector<uint8_t> Pattern(size_t size, uint8_t seed) {
    std::vector<uint8_t> bytes(size);
    for (size_t i = 0; i < size; ++i) bytes[i] = uint8_t(seed + i * 7 + (i >> 9));
    return bytes;
}

// True when mtools reads the file at path with exactly these bytes.
::testing::AssertionResult MtypeGives(const std::string& image, const std::string& path,
                                      const std::vector<uint8_t>& expected) {
    CommandResult r = RunCommand({"mtype", "-i", image, "::/" + path}, {"MTOOLS_SKIP_CHECK=1"});
    if (r.out == std::string(expected.begin(), expected.end())) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << path << ": mtype gave " << r.out.size() << " bytes, expected "
                                         << expected.size() << " (" << r.err << ")";
}

TEST(FatImageBuilder, LongNameEncodingAndChecksum) {
    EXPECT_EQ(ShortName11("img_0001.jpg"), ShortName11("IMG_0001.JPG"));
    auto dcim = ShortName11("DCIM");
    EXPECT_EQ(std::string(dcim.begin(), dcim.end()), "DCIM       ");
    // Checksum of "ABCDEFGHIJK" worked by hand with the rotate-right-and-add rule.
    std::array<uint8_t, 11> name{'A', 'A', 'A', 'A', 'A', 'A', 'A', 'A', 'A', 'A', 'A'};
    uint8_t sum = 0;
    for (uint8_t c : name) sum = uint8_t(((sum & 1) << 7) + (sum >> 1) + c);
    EXPECT_EQ(LongNameChecksum(name), sum);
    EXPECT_EQ(Utf16Of("a\xE3\x81\x82"), (std::vector<uint16_t>{0x61, 0x3042}));
    EXPECT_EQ(Utf16Of("\xF0\x9F\x93\xB7"), (std::vector<uint16_t>{0xD83D, 0xDCF7}));  // U+1F4F7
}

TEST(FatImageBuilder, Fat12EntriesStraddlingSectorsReadBack) {
    FatImageBuilder b(FatGeometry::Fat12());
    // Entry 341 occupies bytes 511 and 512: the last byte of FAT sector 0 and
    // the first of sector 1.
    b.SetFat(340, 0xABC);
    b.SetFat(341, 0x123);
    b.SetFat(342, 0xFED);
    EXPECT_EQ(b.GetFat(340), 0xABCu);
    EXPECT_EQ(b.GetFat(341), 0x123u);
    EXPECT_EQ(b.GetFat(342), 0xFEDu);
    EXPECT_EQ(b.GetFat(341, 1), 0x123u);  // second copy too
    const uint64_t fat = b.FatOffset();
    EXPECT_EQ(b.bytes()[fat + 510], 0xBC);
    EXPECT_EQ(b.bytes()[fat + 511], 0x3A);
    EXPECT_EQ(b.bytes()[fat + 512], 0x12);
}

TEST(FatImageBuilder, GeometryMatchesTheEngine) {
    for (const FatGeometry& g : {FatGeometry::Fat12(), FatGeometry::Fat16(), FatGeometry::Fat32()}) {
        FatImageBuilder b(g);
        auto volume = b.Open();
        ASSERT_TRUE(volume);
        EXPECT_EQ(volume->volumeKind, g.fatType == 32 ? VolumeFat32 : VolumeFat16);
        EXPECT_EQ(volume->dataStart, b.DataStart());
        EXPECT_EQ(volume->clusterSize, b.ClusterSize());
        EXPECT_EQ(volume->clusterCount, int64_t(b.ClusterCount()));
        EXPECT_EQ(FatTypeOf(volume->bootSector), g.fatType);
        EXPECT_EQ(ClusterOffset(*volume, 7), int64_t(b.ClusterOffset(7)));
    }
}

TEST(FatImageBuilder, MtoolsReadsTheTreeItBuilt) {
    if (auto why = MkfsToolsMissing(); !why.empty()) GTEST_SKIP() << why;
    for (const FatGeometry& g : {FatGeometry::Fat12(), FatGeometry::Fat16(), FatGeometry::Fat32(70000, 1)}) {
        SCOPED_TRACE(g.fatType);
        FatImageBuilder b(g);
        auto root = b.Root();
        auto dcim = root.AddDir("DCIM", 3);
        auto canon = dcim.AddDir("100CANON", 4);
        const auto first = Pattern(3 * b.ClusterSize() + 100, 1);
        const auto second = Pattern(700, 2);
        canon.AddFile("IMG_0001.JPG", 10, first);
        canon.AddFragmentedFile("IMG_0002.JPG", {30, 20}, Pattern(b.ClusterSize() + 5, 3));
        canon.AddFile("LONGNA~1.JPG", 40, second, "A long name for 写真.jpg");
        canon.AddDeletedFile("IMG_0003.JPG", 50, Pattern(600, 4), "deleted long name.jpg");
        root.AddDeletedDir("OLD", 60).AddDeletedFile("GONE.JPG", 61, second);

        TempDir dir;
        std::string image = b.WriteTo(dir, "built.img");
        ASSERT_FALSE(image.empty());
        EXPECT_TRUE(MtypeGives(image, "DCIM/100CANON/IMG_0001.JPG", first));
        EXPECT_TRUE(MtypeGives(image, "DCIM/100CANON/IMG_0002.JPG", Pattern(b.ClusterSize() + 5, 3)));
        EXPECT_TRUE(MtypeGives(image, "DCIM/100CANON/A long name for 写真.jpg", second));
        MtoolsImage m(image);
        std::string listing = m.List("DCIM/100CANON");
        EXPECT_NE(listing.find("A long name for 写真.jpg"), std::string::npos) << listing;
        EXPECT_EQ(listing.find("IMG_0003"), std::string::npos) << listing;
        EXPECT_EQ(listing.find("deleted long name"), std::string::npos) << listing;
        EXPECT_EQ(m.List("").find("OLD"), std::string::npos);
        // The folder chains survive an independent check of the FAT.
        CommandResult check = RunCommand({"fsck.fat", "-n", image});
        EXPECT_EQ(check.exitCode, 0) << check.out << check.err;
        // The deleted file's data is still in its clusters.
        EXPECT_EQ(b.bytes()[b.ClusterOffset(50)], Pattern(600, 4)[0]);
        EXPECT_EQ(b.GetFat(50), 0u);
    }
}

}  // namespace
}  // namespace veld::test
