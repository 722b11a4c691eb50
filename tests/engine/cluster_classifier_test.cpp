// The cluster classifier: each test of the fixed order, the order itself, and
// reading a cluster from a source.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "finder/cluster_classifier.h"
#include "support/fat_image_builder.h"
#include "volume/cluster_map.h"

namespace veld {
namespace {

constexpr size_t kCluster = 2048;

ContentClass Classify(const std::vector<uint8_t>& b) {
    DiskVolume v;
    v.clusterSize = uint32_t(b.size());
    return ClassifyCluster(v, b.data(), b.size());
}

std::vector<uint8_t> Binary(size_t n = kCluster) {
    // Bytes 0x00..0x7F (no Shift-JIS lead byte, no 0xFF) with 0x00 at every
    // 128th byte: neither text nor JPEG data nor a directory.
    std::vector<uint8_t> b(n);
    for (size_t i = 0; i < n; ++i) b[i] = uint8_t((i * 13) % 0x80);
    return b;
}

TEST(ClusterClassifier, DirectoryClusterWithDeletedEntries) {
    std::vector<uint8_t> b(kCluster, 0);
    // Three deleted entries, two live ones, the rest empty: others < deleted.
    const uint8_t firsts[] = {0xE5, 'A', 0xE5, 'B', 0x05};
    for (size_t i = 0; i < 5; ++i) {
        std::memset(&b[i * 32], 'X', 32);
        b[i * 32] = firsts[i];
        b[i * 32 + 11] = 0x20;  // archive attribute
    }
    EXPECT_EQ(Classify(b), ContentClass::Folder);

    // As many live entries as deleted ones: not a directory by the deleted rule,
    // and it is binary otherwise.
    b[4 * 32] = 'C';
    b[3 * 32] = 'D';
    EXPECT_NE(Classify(b), ContentClass::Folder);

    // A fresh sub-folder: "." and "..", then empty slots only.
    std::vector<uint8_t> dots(kCluster, 0);
    std::memset(&dots[0], ' ', 11);
    dots[0] = '.';
    std::memset(&dots[32], ' ', 11);
    dots[32] = dots[33] = '.';
    EXPECT_EQ(Classify(dots), ContentClass::Folder);
    // One live entry beside the dots ends it.
    dots[64] = 'F';
    EXPECT_NE(Classify(dots), ContentClass::Folder);

    // Shorter than one slot: never a directory.
    std::vector<uint8_t> tiny{0xE5, 0xE5, 0xE5};
    EXPECT_NE(Classify(tiny), ContentClass::Folder);
}

TEST(ClusterClassifier, FillAndTwoBytePattern) {
    EXPECT_EQ(Classify(std::vector<uint8_t>(kCluster, 0xFF)), ContentClass::Fill);

    std::vector<uint8_t> pattern(kCluster);
    for (size_t i = 0; i < kCluster; ++i) pattern[i] = i % 2 ? 0x00 : 0xFF;
    EXPECT_EQ(Classify(pattern), ContentClass::Pattern2);
    pattern[kCluster - 1] = 0x01;  // the last pair differs
    EXPECT_NE(Classify(pattern), ContentClass::Pattern2);
}

// Deleted marks at every slot start do not make a directory unless one slot
// can be an entry with a name: an erase pattern of 0xE5 is fill, and a
// two-byte pattern beginning with 0xE5 is that pattern.
TEST(ClusterClassifier, ErasePatternsAreNotDirectories) {
    EXPECT_EQ(Classify(std::vector<uint8_t>(kCluster, 0xE5)), ContentClass::Fill);
    EXPECT_EQ(Classify(std::vector<uint8_t>(kCluster, 0x05)), ContentClass::Fill);
    std::vector<uint8_t> pairs(kCluster);
    for (size_t i = 0; i < kCluster; ++i) pairs[i] = i % 2 ? 0x00 : 0xE5;
    EXPECT_EQ(Classify(pairs), ContentClass::Pattern2);

    // One deleted entry with a name among the erased slots is a directory.
    std::vector<uint8_t> one(kCluster, 0xE5);
    std::memcpy(&one[64], "\xE5MG_0001JPG", 11);
    one[64 + 11] = 0x20;
    EXPECT_EQ(Classify(one), ContentClass::Folder);
    // So is a deleted long-name piece.
    std::vector<uint8_t> piece(kCluster, 0xE5);
    piece[32 + 11] = 0x0F;
    EXPECT_EQ(Classify(piece), ContentClass::Folder);
}

TEST(ClusterClassifier, AllZeroClusterIsFillNotDirectory) {
    // No deleted marks and no dots: the directory rule does not hold, fill does.
    std::vector<uint8_t> zeros(kCluster, 0);
    EXPECT_EQ(Classify(zeros), ContentClass::Fill);
}

TEST(ClusterClassifier, JpegStartNeedsApplicationMarker) {
    std::vector<uint8_t> b = Binary();
    b[0] = 0xFF; b[1] = 0xD8; b[2] = 0xFF; b[3] = 0xE1;
    EXPECT_EQ(Classify(b), ContentClass::JpegStart);
    b[3] = 0xEF;
    EXPECT_EQ(Classify(b), ContentClass::JpegStart);
    b[3] = 0xDB;  // a quantisation table right after the start: not taken as a start
    EXPECT_NE(Classify(b), ContentClass::JpegStart);
}

TEST(ClusterClassifier, AsciiAndShiftJisTextIsText) {
    std::vector<uint8_t> b;
    const char* line = "2009/01/01 DSC00001.JPG ";
    while (b.size() + 64 < kCluster) {
        b.insert(b.end(), line, line + std::strlen(line));
        // Shift-JIS pairs: lead 0x82 / 0x93 / 0xE0 with trails from every range,
        // including 0xA0-0xDF and 0x00 which only pass as trail bytes.
        const uint8_t sjis[] = {0x82, 0xA0, 0x93, 0xFA, 0xE0, 0x40, 0x88, 0x00, 0x0D, 0x0A};
        b.insert(b.end(), sjis, sjis + sizeof sjis);
    }
    b.resize(kCluster, ' ');
    EXPECT_EQ(Classify(b), ContentClass::Text);

    std::vector<uint8_t> withNul = b;
    withNul[40] = 0x00;  // a single-byte position
    ASSERT_NE(withNul[39], 0x82);
    EXPECT_NE(Classify(withNul), ContentClass::Text);

    std::vector<uint8_t> withKana = b;
    withKana[5] = 0xB1;  // half-width katakana as a single byte
    EXPECT_NE(Classify(withKana), ContentClass::Text);

    // A lead byte as the very last byte passes (nothing left to pair with).
    std::vector<uint8_t> trailingLead = b;
    trailingLead[kCluster - 1] = 0x82;
    trailingLead[kCluster - 2] = 'x';
    EXPECT_EQ(Classify(trailingLead), ContentClass::Text);
}

TEST(ClusterClassifier, TextWithFtypAtByteFourIsText) {
    std::vector<uint8_t> b(kCluster, 'a');
    std::memcpy(&b[0], "abcdftypisom", 12);
    EXPECT_EQ(Classify(b), ContentClass::Text);
    EXPECT_EQ(ClassifyContent(b.data(), b.size()), ContentClass::Text);

    // The same header in binary: a clip's start.
    std::vector<uint8_t> clip = Binary();
    const uint8_t head[] = {0, 0, 0, 0x20, 'f', 't', 'y', 'p', 'i', 's', 'o', 'm'};
    std::memcpy(clip.data(), head, sizeof head);
    EXPECT_EQ(Classify(clip), ContentClass::Mp4Start);
    EXPECT_EQ(ClassifyContent(clip.data(), clip.size()), ContentClass::Mp4Start);
}

TEST(ClusterClassifier, JpegDataAndEndOfImage) {
    std::vector<uint8_t> b = Binary();
    EXPECT_EQ(Classify(b), ContentClass::None);  // binary without any 0xFF

    b[300] = 0xFF; b[301] = 0x00;      // stuffed byte
    b[700] = 0xFF; b[701] = 0xD3;      // restart marker
    b[900] = 0xFF; b[901] = 0xFF; b[902] = 0xC4;  // fill byte, then a marker
    EXPECT_EQ(Classify(b), ContentClass::JpegData);

    std::vector<uint8_t> end = b;
    end[1500] = 0xFF; end[1501] = 0xD9;
    EXPECT_EQ(Classify(end), ContentClass::JpegEnd);

    // 0xFF followed by 0x03..0xBF cannot occur in entropy-coded data.
    std::vector<uint8_t> bad = b;
    bad[1200] = 0xFF; bad[1201] = 0x42;
    EXPECT_EQ(Classify(bad), ContentClass::None);
    // ... and decides at once, even before a later end of image.
    bad[1500] = 0xFF; bad[1501] = 0xD9;
    EXPECT_EQ(Classify(bad), ContentClass::None);

    // A 0xFF as the very last byte has no follower and is not looked at.
    std::vector<uint8_t> last = Binary();
    last[kCluster - 1] = 0xFF;
    EXPECT_EQ(Classify(last), ContentClass::None);
}

TEST(ClusterClassifier, ReadAndClassifyFromSource) {
    test::FatImageBuilder b(test::FatGeometry::Fat16());
    std::vector<uint8_t> start = Binary(b.ClusterSize());
    start[0] = 0xFF; start[1] = 0xD8; start[2] = 0xFF; start[3] = 0xE0;
    b.WriteCluster(40, start);
    std::vector<uint8_t> text(b.ClusterSize(), 'T');
    text[0] = 'Q';
    b.WriteCluster(41, text);
    auto volume = b.Open();
    ASSERT_TRUE(volume);

    EXPECT_EQ(ReadAndClassifyCluster(*volume, 40), ContentClass::JpegStart);
    EXPECT_EQ(ReadAndClassifyCluster(*volume, 41), ContentClass::Text);
    EXPECT_EQ(ReadAndClassifyCluster(*volume, 42), ContentClass::Fill);
    // No data area below cluster 2, nothing past the source.
    EXPECT_EQ(ReadAndClassifyCluster(*volume, 0), ContentClass::None);
    EXPECT_EQ(ReadAndClassifyCluster(*volume, 1), ContentClass::None);
    EXPECT_EQ(ReadAndClassifyCluster(*volume, 0xFFFFFFF0u), ContentClass::None);
}

}  // namespace
}  // namespace veld
