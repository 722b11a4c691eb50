// exFAT entry sets as the test builder writes them on a card (live and
// deleted files and folders, long and Japanese names, contiguous and chained
// data), read back from the image; and sets damaged by later writes.
#include <gtest/gtest.h>

#include <algorithm>

#include "finder/exfat_entry_set.h"
#include "support/exfat_image_builder.h"
#include "support/fat_image_builder.h"
#include "support/mkfs_tools.h"
#include "support/partitioned_image.h"

namespace veld {
namespace {

using test::ExfatFileOptions;
using test::ExfatImageBuilder;
using test::ExfatTime;

const std::string kLongName = "2024-05-03 清水寺の夕景 パノラマ合成 (最終版).JPG";  // 34 UTF-16 units: three name entries

std::vector<uint8_t> Bytes(size_t size, uint8_t seed) {
    std::vector<uint8_t> b(size);
    for (size_t i = 0; i < size; ++i) b[i] = uint8_t(seed + i * 7);
    return b;
}

std::vector<uint8_t> DirectoryOnImage(const ExfatImageBuilder& card, ExfatImageBuilder::Node dir) {
    std::vector<uint8_t> bytes;
    for (uint64_t c : card.Clusters(dir)) {
        std::vector<uint8_t> part = test::ReadFileRange(card.path(), card.ClusterOffset(c), card.ClusterSize());
        bytes.insert(bytes.end(), part.begin(), part.end());
    }
    return bytes;
}

const ExfatEntrySet* Named(const std::vector<ExfatEntrySet>& sets, const std::string& name) {
    auto it = std::find_if(sets.begin(), sets.end(), [&](const ExfatEntrySet& s) { return s.name == name; });
    return it == sets.end() ? nullptr : &*it;
}

class ExfatEntrySetTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(card_.error(), "");
        dcim_ = card_.AddDir(card_.Root(), "DCIM");
        canon_ = card_.AddDir(dcim_, "100CANON", ExfatTime{.year = 2023, .month = 12, .day = 31});
        photo_ = card_.AddFile(canon_, "IMG_0001.JPG", Bytes(70000, 1),
                               {.time = {.year = 2024, .month = 5, .day = 3, .hour = 18, .minute = 45, .second = 17}});
        panorama_ = card_.AddFile(canon_, kLongName, Bytes(100000, 2), {.noFatChain = false});
        clip_ = card_.AddFile(canon_, "MVI_0002.MP4", Bytes(40000, 3),
                              {.time = {.hour = 7, .utcOffsetMinutes = -300}});
        old_ = card_.AddDir(dcim_, "101CANON");
        oldPhoto_ = card_.AddFile(old_, "IMG_0100.JPG", Bytes(5000, 4), {.time = {.offsetValid = false}});
        card_.Delete(clip_);
        card_.Delete(old_);
        ASSERT_EQ(card_.Finish(), "");
    }

    test::TempDir dir_;
    ExfatImageBuilder card_{dir_.File("card.img"), {.sizeBytes = 32ull << 20, .clusterSize = 4096}};
    ExfatImageBuilder::Node dcim_, canon_, photo_, panorama_, clip_, old_, oldPhoto_;
};

TEST_F(ExfatEntrySetTest, LiveAndDeletedSetsReadBackWithNamesSizesFlagsAndTimes) {
    const std::vector<ExfatEntrySet> sets = ParseExfatDirectory(DirectoryOnImage(card_, canon_));
    ASSERT_EQ(sets.size(), 3u);

    const ExfatEntrySet* photo = Named(sets, "IMG_0001.JPG");
    ASSERT_NE(photo, nullptr);
    EXPECT_FALSE(photo->deleted);
    EXPECT_TRUE(photo->checksumOk);
    EXPECT_TRUE(photo->complete);
    EXPECT_EQ(photo->note, "");
    EXPECT_EQ(photo->dataLength, 70000u);
    EXPECT_EQ(photo->validDataLength, 70000u);
    EXPECT_EQ(photo->firstCluster, card_.FirstCluster(photo_));
    EXPECT_TRUE(photo->NoFatChain());
    EXPECT_TRUE(photo->AllocationPossible());
    EXPECT_FALSE(photo->IsDirectory());
    EXPECT_EQ(photo->attributes, 0x20);
    EXPECT_EQ(photo->nameLength, 12);
    EXPECT_EQ(photo->nameHash, ExfatImageBuilder::NameHash(test::Utf16Of("IMG_0001.JPG")));
    // 17 seconds: 16 in the time word and one in the 10 ms byte.
    EXPECT_EQ(ExfatTimestampText(photo->modified), "2024/05/03 18:45:17");
    EXPECT_TRUE(photo->modified.OffsetValid());
    EXPECT_EQ(photo->modified.OffsetMinutes(), 540);

    const ExfatEntrySet* panorama = Named(sets, kLongName);
    ASSERT_NE(panorama, nullptr);
    EXPECT_FALSE(panorama->NoFatChain());
    EXPECT_EQ(panorama->slots, 5u);  // file, stream, three names
    EXPECT_TRUE(panorama->checksumOk);
    EXPECT_EQ(panorama->dataLength, 100000u);

    const ExfatEntrySet* clip = Named(sets, "MVI_0002.MP4");
    ASSERT_NE(clip, nullptr);
    EXPECT_TRUE(clip->deleted);
    EXPECT_TRUE(clip->checksumOk) << clip->note;  // summed as it was when live
    EXPECT_EQ(clip->firstCluster, card_.FirstCluster(clip_));
    EXPECT_EQ(clip->dataLength, 40000u);
    EXPECT_EQ(ExfatTimestampText(clip->modified), "2024/05/03 07:20:30");  // the camera's clock, not UTC
    EXPECT_EQ(clip->modified.OffsetMinutes(), -300);

    const std::vector<ExfatEntrySet> dcim = ParseExfatDirectory(DirectoryOnImage(card_, dcim_));
    ASSERT_EQ(dcim.size(), 2u);
    const ExfatEntrySet* old = Named(dcim, "101CANON");
    ASSERT_NE(old, nullptr);
    EXPECT_TRUE(old->deleted);
    EXPECT_TRUE(old->IsDirectory());
    EXPECT_EQ(old->dataLength, card_.ClusterSize());
    EXPECT_EQ(ExfatTimestampText(Named(dcim, "100CANON")->created), "2023/12/31 10:20:30");

    // The deleted folder's cluster still holds its own deleted set.
    const std::vector<ExfatEntrySet> inside = ParseExfatDirectory(DirectoryOnImage(card_, old_));
    ASSERT_EQ(inside.size(), 1u);
    EXPECT_EQ(inside[0].name, "IMG_0100.JPG");
    EXPECT_TRUE(inside[0].deleted);
    EXPECT_TRUE(inside[0].checksumOk);
    EXPECT_FALSE(inside[0].modified.OffsetValid());
    EXPECT_EQ(inside[0].modified.OffsetMinutes(), 0);
}

// Later writes into a folder's slots: a changed name byte in a deleted set, a
// new set over the tail of a deleted one, a broken live set before a good one.
TEST_F(ExfatEntrySetTest, DamagedSetsAreKeptOrSkippedWithTheReason) {
    std::vector<uint8_t> bytes = DirectoryOnImage(card_, canon_);
    const auto sets = ParseExfatDirectory(bytes);
    const ExfatEntrySet* clip = Named(sets, "MVI_0002.MP4");
    const ExfatEntrySet* panorama = Named(sets, kLongName);
    ASSERT_TRUE(clip && panorama);
    const size_t clipSlot = clip->slot, panoramaSlot = panorama->slot;

    std::vector<uint8_t> renamed = bytes;
    renamed[(clipSlot + 2) * 32 + 2] = 'X';  // first name unit
    auto read = ParseExfatEntrySet(renamed, clipSlot);
    ASSERT_TRUE(read);
    EXPECT_FALSE(read->checksumOk);
    EXPECT_EQ(read->name, "XVI_0002.MP4");
    EXPECT_NE(read->note.find("checksum"), std::string::npos);

    // A live file entry where the deleted set's name entry was.
    std::vector<uint8_t> reused = bytes;
    reused[(clipSlot + 2) * 32] = 0x85;
    read = ParseExfatEntrySet(reused, clipSlot);
    ASSERT_TRUE(read);
    EXPECT_FALSE(read->complete);
    EXPECT_FALSE(read->checksumOk);
    EXPECT_EQ(read->name, "");
    EXPECT_EQ(read->slots, 2u);
    EXPECT_EQ(read->firstCluster, card_.FirstCluster(clip_));  // the stream still leads to the data
    EXPECT_NE(read->note.find("cut short"), std::string::npos);

    // A live set whose stream entry is gone is no set; the walk goes on.
    std::vector<uint8_t> broken = bytes;
    broken[(panoramaSlot + 1) * 32] = 0xC1;  // a name entry where the stream should be
    EXPECT_FALSE(ParseExfatEntrySet(broken, panoramaSlot));
    const auto after = ParseExfatDirectory(broken);
    EXPECT_TRUE(Named(after, "MVI_0002.MP4"));
    EXPECT_FALSE(Named(after, kLongName));

    // A live set with a wrong checksum is kept and flagged.
    std::vector<uint8_t> changed = bytes;
    changed[(panoramaSlot + 1) * 32 + 24] ^= 1;  // data length
    read = ParseExfatEntrySet(changed, panoramaSlot);
    ASSERT_TRUE(read);
    EXPECT_FALSE(read->deleted);
    EXPECT_FALSE(read->checksumOk);

    // Secondary counts outside 2..18 and slots past the end are refused.
    std::vector<uint8_t> counted = bytes;
    counted[panoramaSlot * 32 + 1] = 19;
    EXPECT_FALSE(ParseExfatEntrySet(counted, panoramaSlot));
    EXPECT_FALSE(ParseExfatEntrySet(std::span<const uint8_t>(bytes).first(panoramaSlot * 32 + 40), panoramaSlot));
    EXPECT_FALSE(ParseExfatEntrySet(bytes, bytes.size()));
}

TEST(ExfatTimestamp, TextAddsTheWholeSecondsOfTheTenMillisecondByte) {
    ExfatTimestamp t;
    t.packed = (uint32_t(2019 - 1980) << 25) | (2u << 21) | (28u << 16) | (23u << 11) | (59u << 5) | 29u;
    t.tenMs = 199;
    EXPECT_EQ(ExfatTimestampText(t), "2019/02/28 23:59:59");
    t.tenMs = 99;
    EXPECT_EQ(ExfatTimestampText(t), "2019/02/28 23:59:58");
    t.utcOffset = 0x80 | 0x7F;  // -15 minutes
    EXPECT_EQ(t.OffsetMinutes(), -15);
    t.utcOffset = 0x80 | 0x3F;  // +15:45
    EXPECT_EQ(t.OffsetMinutes(), 945);
}

}  // namespace
}  // namespace veld
