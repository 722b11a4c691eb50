// Registration of found files: state decision, claim, duplicates, filters,
// thumbnails, tally and notification, on small FAT16 images.
#include <gtest/gtest.h>

#include <mutex>
#include <string>
#include <vector>

#include "base/byte_reader.h"
#include "base/search_progress.h"
#include "finder/deleted_files.h"
#include "finder/registry.h"
#include "finder/search_session.h"
#include "support/fat_image_builder.h"
#include "support/test_jpeg.h"
#include "volume/cluster_map.h"

namespace veld {
namespace {

using test::FatGeometry;
using test::FatImageBuilder;

// FAT16 with 2 KB clusters (512-byte sectors, 4 per cluster).
FatGeometry Fat16Card() { return FatGeometry::Fat16(8192, 4); }

class RecordingDisplay : public ProgressDisplay {
public:
    void SetLine(int line, const std::string& text) override {
        if (line == 3) found.push_back(text);
    }
    void SetPercent(int) override {}
    std::vector<std::string> found;  // the latest-found-file line, every report
};

class RecordingTarget : public MessageTarget {
public:
    void PostMessage(int message, intptr_t wParam, intptr_t) override {
        std::lock_guard<std::mutex> guard(lock);
        posts.emplace_back(message, wParam);
    }
    std::mutex lock;
    std::vector<std::pair<int, intptr_t>> posts;
};

// A short entry as the scanner hands it over: first byte already "#".
DirEntry DeletedEntry(const std::string& name83, uint32_t start, uint32_t size, uint8_t attributes = 0x20) {
    DirEntry e{};
    auto n = test::ShortName11(name83);
    for (int i = 0; i < 11; ++i) e[size_t(i)] = n[size_t(i)];
    e[0] = '#';
    e[dirent::Attributes] = attributes;
    StoreLe16(e.data() + dirent::ClusterHigh, uint16_t(start >> 16));
    StoreLe16(e.data() + dirent::ClusterLow, uint16_t(start));
    StoreLe32(e.data() + dirent::FileSize, size);
    return e;
}

std::vector<uint8_t> TextBytes(size_t size) {
    std::string line = "The quick brown fox jumps over the lazy dog. ";
    std::vector<uint8_t> out;
    while (out.size() < size) out.insert(out.end(), line.begin(), line.end());
    out.resize(size);
    return out;
}

class RegistryTest : public ::testing::Test {
protected:
    void SetUp() override {
        session.startWindow = &target;
        session.progress.Attach(&display);
    }
    // Opens the image as the session's volume and copies its FAT.
    void Use(const FatImageBuilder& b) {
        session.volume = b.Open();
        ASSERT_TRUE(session.volume);
        ReadFat(session.clusterMap, *session.volume);
    }
    std::vector<DelFileInfo> Listed() {
        std::vector<DelFileInfo> out;
        session.gcDelFileList.ForEach([&](DelFileInfo& r) {
            out.push_back(r);
            return true;
        });
        return out;
    }

    RecordingDisplay display;
    RecordingTarget target;
    SearchSession session;  // a fresh one for every case; goes before the display and the target
};

TEST_F(RegistryTest, DeletedJpgOverTextIsBrokenAndListedWithoutThumbnail) {
    FatImageBuilder b(Fat16Card());
    b.WriteCluster(10, TextBytes(b.ClusterSize()));
    Use(b);
    RegisterDeletedEntry(session, DeletedEntry("DSC00001.JPG", 10, 3000), "", "DCIM.");

    auto listed = Listed();
    ASSERT_EQ(listed.size(), 1u);
    EXPECT_EQ(listed[0].state, StateBroken);
    EXPECT_EQ(listed[0].firstClass, ContentClass::Text);
    EXPECT_EQ(listed[0].listed, 1);
    EXPECT_EQ(listed[0].thumbnailTried, 0);
    EXPECT_FALSE(listed[0].thumbnail);
    EXPECT_EQ(*listed[0].name, "#SC00001.JPG");
    EXPECT_EQ(*listed[0].folder, "DCIM.");
    EXPECT_EQ(listed[0].clustersNeeded, 2);
    EXPECT_EQ(listed[0].clustersCollected, 2);
    EXPECT_EQ(ClusterState(session.clusterMap, 10), ClusterUse::DeletedFile);
    EXPECT_EQ(ClusterState(session.clusterMap, 11), ClusterUse::DeletedFile);
    EXPECT_EQ(session.ThumbnailQueue.Count(), 0u);

    // A text file over the same kind of bytes is fine: only "JPG" entries break.
    b.WriteCluster(20, TextBytes(b.ClusterSize()));
    Use(b);
    session.ClearFoundFileLists();
    RegisterDeletedEntry(session, DeletedEntry("NOTE.TXT", 20, 100), "", "");
    listed = Listed();
    ASSERT_EQ(listed.size(), 1u);
    EXPECT_EQ(listed[0].state, StateComplete);
}

// Empty files: one reached twice is listed once; one of the same name in
// another folder is another file.
TEST_F(RegistryTest, SizeZeroListedOnceByFolderAndName) {
    FatImageBuilder b(Fat16Card());
    Use(b);
    RegisterDeletedEntry(session, DeletedEntry("EMPTY.TXT", 0, 0), "", "");
    RegisterDeletedEntry(session, DeletedEntry("EMPTY.TXT", 0, 0), "", "");
    RegisterDeletedEntry(session, DeletedEntry("OTHER.TXT", 0, 0), "", "");
    RegisterDeletedEntry(session, DeletedEntry("EMPTY.TXT", 0, 0), "", "DCIM");

    auto listed = Listed();
    ASSERT_EQ(listed.size(), 3u);
    EXPECT_EQ(*listed[2].name, "#MPTY   .TXT");
    EXPECT_EQ(*listed[2].folder, "DCIM");
    listed.pop_back();
    EXPECT_EQ(listed[0].state, StateComplete);
    EXPECT_FALSE(listed[0].hasClusterList());
    EXPECT_EQ(*listed[0].name, "#MPTY   .TXT");
    EXPECT_EQ(*listed[1].name, "#THER   .TXT");
    // The dropped duplicate has no cluster list, so it reports nothing.
    EXPECT_EQ(display.found, (std::vector<std::string>{"見つかったファイル 1", "見つかったファイル 2", "見つかったファイル 3"}));
    EXPECT_EQ(session.FoundCount.load(), 3);
}

TEST_F(RegistryTest, SameFileReachedTwiceListedOnceAndEqualNamesKept) {
    FatImageBuilder b(Fat16Card());
    auto jpeg = test::MakeTestJpeg(32, 24);
    b.WriteCluster(10, jpeg);
    b.WriteCluster(30, jpeg);
    Use(b);
    const uint32_t size = uint32_t(jpeg.size());

    RegisterDeletedEntry(session, DeletedEntry("DSC00001.JPG", 10, size), "", "DCIM.");
    RegisterDeletedEntry(session, DeletedEntry("DSC00001.JPG", 10, size), "", "DCIM.");
    // Same name and size, another start cluster: a different file.
    RegisterDeletedEntry(session, DeletedEntry("DSC00001.JPG", 30, size), "", "DCIM.");

    auto listed = Listed();
    ASSERT_EQ(listed.size(), 2u);
    EXPECT_EQ(listed[0].clusterList[0], 10u);
    EXPECT_EQ(listed[1].clusterList[0], 30u);
    EXPECT_EQ(listed[0].index, 0);
    EXPECT_EQ(listed[1].index, 1);
    ASSERT_EQ(display.found.size(), 3u);
    EXPECT_EQ(display.found[1], "見つかったファイル 1(既に登録済み #10)");
    EXPECT_EQ(display.found[2], "見つかったファイル 2");
}

// A hundred deleted entries claiming 4 GiB each on a small card: every list
// stays within the card's clusters, the clusters needed still follow from the
// size, and a normal entry registered among them is unchanged.
TEST_F(RegistryTest, HugeClaimedSizesKeepListsWithinTheCard) {
    FatImageBuilder b(FatGeometry::Fat12(2048, 1));  // 1 MiB, 512-byte clusters
    auto jpeg = test::MakeTestJpeg(64, 48);
    b.WriteCluster(1800, jpeg);
    Use(b);
    const uint64_t clusters = uint64_t(session.volume->clusterCount);
    // Held and decided together, as the directory passes do.
    session.holdDeletedFiles = true;
    for (int i = 0; i < 100; ++i)
        RegisterDeletedEntry(session,
                             DeletedEntry("HUGE" + std::to_string(i) + ".MOV", 2 + uint32_t(i) * 10, 0xFFFFFFFFu), "",
                             "");
    RegisterDeletedEntry(session, DeletedEntry("DSC00001.JPG", 1800, uint32_t(jpeg.size())), "", "");
    session.holdDeletedFiles = false;
    RegisterHeldFiles(session);

    auto listed = Listed();
    ASSERT_EQ(listed.size(), 101u);
    for (int i = 0; i < 100; ++i) {
        SCOPED_TRACE(i);
        EXPECT_LE(listed[size_t(i)].clusterList.size(), clusters);
        // The stored list holds what was taken, not room for what was claimed.
        const DelFileInfo* stored = session.gcDelFileList.Get(size_t(i));
        EXPECT_EQ(stored->clusterList.size(), size_t(stored->clustersCollected));
        EXPECT_LE(stored->clusterList.capacity(), 2 * stored->clusterList.size() + 16);
        EXPECT_EQ(listed[size_t(i)].state, StateFragmented);
        EXPECT_EQ(listed[size_t(i)].clustersNeeded, int32_t((0xFFFFFFFFull + 511) / 512));
    }
    const DelFileInfo& normal = listed[100];
    EXPECT_EQ(normal.state, StateComplete);
    EXPECT_EQ(normal.clustersNeeded, int32_t(b.ClustersFor(jpeg.size())));
    EXPECT_EQ(normal.clusterList.size(), b.ClustersFor(jpeg.size()));
    EXPECT_EQ(normal.firstClass, ContentClass::JpegStart);
}

TEST_F(RegistryTest, ImagesOnlyDropsTextButReportsIt) {
    FatImageBuilder b(Fat16Card());
    b.WriteCluster(12, TextBytes(700));
    auto jpeg = test::MakeTestJpeg(16, 16);
    b.WriteCluster(20, jpeg);
    Use(b);
    session.options.flags = SearchImagesOnly;

    RegisterDeletedEntry(session, DeletedEntry("README.TXT", 12, 700), "", "");
    RegisterDeletedEntry(session, DeletedEntry("PIC.JPG", 20, uint32_t(jpeg.size())), "", "");

    auto listed = Listed();
    ASSERT_EQ(listed.size(), 1u);
    EXPECT_EQ(listed[0].extension, "JPG");
    EXPECT_EQ(listed[0].isImage, 1);
    ASSERT_GE(display.found.size(), 1u);
    EXPECT_EQ(display.found[0], "見つかったファイル 0(既に登録済み #12)");
    // The text file still claimed its cluster.
    EXPECT_EQ(ClusterState(session.clusterMap, 12), ClusterUse::DeletedFile);
}

TEST_F(RegistryTest, ExtensionRulesAndShortNames) {
    FatImageBuilder b(Fat16Card());
    Use(b);
    const std::string longExt = "abcdefghijklmnopqrstuvwxyz0123456789";
    RegisterDeletedEntry(session, DeletedEntry("LONGEX~1.ABC", 0, 0), "file." + longExt, "");
    RegisterDeletedEntry(session, DeletedEntry("NOEXT", 0, 0), "", "");
    RegisterDeletedEntry(session, DeletedEntry("A.TXT", 0, 0), "", "");
    RegisterDeletedEntry(session, DeletedEntry("MIXED.TXT", 0, 0), "Photo. jpeg ", "");

    auto listed = Listed();
    ASSERT_EQ(listed.size(), 4u);
    EXPECT_EQ(listed[0].extension, "ABCDEFGHIJKLMNOPQRSTUVWXYZ01234");
    EXPECT_EQ(listed[0].extension.size(), 31u);
    EXPECT_EQ(*listed[0].name, "file." + longExt);
    EXPECT_EQ(listed[1].extension, "   ");
    EXPECT_EQ(*listed[1].name, "#OEXT   .   ");
    EXPECT_EQ(listed[2].extension, "TXT");
    EXPECT_EQ(*listed[2].name, "#       .TXT");
    EXPECT_EQ(listed[3].extension, "JPEG");
    EXPECT_EQ(listed[3].isImage, 1);

    int jpeg = 0, blank = 0, txt = 0;
    session.ExtensionTally.ForEach([&](ExtensionCount& c) {
        if (c.extension == "JPEG") jpeg = c.count;
        if (c.extension == "   ") blank = c.count;
        if (c.extension == "TXT") txt = c.count;
        return true;
    });
    EXPECT_EQ(jpeg, 1);
    EXPECT_EQ(blank, 1);
    EXPECT_EQ(txt, 1);
}

TEST_F(RegistryTest, ListingPostsFoundFileWithStoredAddress) {
    FatImageBuilder b(Fat16Card());
    Use(b);
    RegisterDeletedEntry(session, DeletedEntry("A.TXT", 0, 0), "", "");
    RegisterDeletedEntry(session, DeletedEntry("A.TXT", 0, 0), "", "");  // duplicate: no post
    ASSERT_EQ(target.posts.size(), 1u);
    EXPECT_EQ(target.posts[0].first, MsgFoundFile);
    EXPECT_EQ(target.posts[0].second, reinterpret_cast<intptr_t>(session.gcDelFileList.Get(0)));
}

TEST_F(RegistryTest, InvalidStartAndClaimedStartAreNotListed) {
    FatImageBuilder b(Fat16Card());
    b.WriteCluster(40, TextBytes(100));
    Use(b);
    RegisterDeletedEntry(session, DeletedEntry("ZERO.TXT", 0, 500), "", "");
    EXPECT_EQ(session.lastRegistrationState, StateInvalidStart);
    SetClusterState(session.clusterMap, 40, ClusterUse::LiveFolder);
    RegisterDeletedEntry(session, DeletedEntry("DIR.TXT", 40, 100), "", "");
    EXPECT_EQ(session.lastRegistrationState, StateInUse);
    EXPECT_EQ(session.gcDelFileList.Count(), 0u);
    EXPECT_TRUE(display.found.empty());  // neither has a cluster list
}

TEST_F(RegistryTest, DeletedFileOverLiveFileIsInUseAndRunSkipsIt) {
    FatImageBuilder b(Fat16Card());
    auto jpeg = test::MakeTestJpeg(160, 120);
    ASSERT_GT(jpeg.size(), b.ClusterSize());
    // A live file in clusters 10.. whose FAT chain the scanner has not met yet.
    b.Root().AddFile("LIVE.JPG", 10, jpeg);
    b.WriteCluster(8, TextBytes(2 * b.ClusterSize()));
    Use(b);

    RegisterDeletedEntry(session, DeletedEntry("OLD.JPG", 10, uint32_t(jpeg.size())), "", "");
    EXPECT_EQ(session.lastRegistrationState, StateInUse);
    RegisterDeletedEntry(session, DeletedEntry("PART.TXT", 8, 4 * b.ClusterSize()), "", "");
    EXPECT_EQ(session.lastRegistrationState, StateFragmented);
    // Registered again once the run went round cluster 10: still in use.
    RegisterDeletedEntry(session, DeletedEntry("OLD2.JPG", 10, 100), "", "");
    EXPECT_EQ(session.lastRegistrationState, StateInUse);

    auto listed = Listed();
    ASSERT_EQ(listed.size(), 1u);
    EXPECT_EQ(*listed[0].name, "#ART    .TXT");
    EXPECT_EQ(listed[0].clustersNeeded, 4);
    // The next clusters no other file claims: round the live file's chain.
    EXPECT_EQ(listed[0].clustersCollected, 4);
    EXPECT_EQ(listed[0].clusterList, (std::vector<uint64_t>{8, 9, 12, 13}));
}

TEST_F(RegistryTest, JpegStartGetsExifAndThumbnail) {
    FatImageBuilder b(Fat16Card());
    test::TestExif exif;
    exif.make = "Canon";
    exif.model = "Canon PowerShot";
    exif.dateTime = "2009:05:06 07:08:09";
    auto jpeg = test::MakeTestJpeg(64, 48, &exif);
    b.WriteCluster(10, jpeg);
    Use(b);
    RegisterDeletedEntry(session, DeletedEntry("IMG_0001.JPG", 10, uint32_t(jpeg.size())), "IMG_0001.JPG",
                         "DCIM\\100CANON");

    auto listed = Listed();
    ASSERT_EQ(listed.size(), 1u);
    EXPECT_EQ(listed[0].state, StateComplete);
    EXPECT_EQ(listed[0].firstClass, ContentClass::JpegStart);
    EXPECT_EQ(listed[0].jpeg.model, "Canon PowerShot");
    EXPECT_EQ(listed[0].jpeg.dateTime, "2009/05/06 07:08:09");
    EXPECT_EQ(listed[0].thumbnailTried, 1);
    ASSERT_TRUE(listed[0].thumbnail);
    EXPECT_EQ(listed[0].thumbnail->width, 64);
    EXPECT_EQ(session.ThumbnailCount.load(), 1);
    ASSERT_EQ(session.ThumbnailQueue.Count(), 1u);
    EXPECT_EQ(*session.ThumbnailQueue.Get(0), 0);
}

TEST_F(RegistryTest, FiveHundredFirstPictureGetsNoThumbnail) {
    // 501 tiny pictures, one per cluster.
    FatImageBuilder b(FatGeometry::Fat16(8192, 1));
    auto jpeg = test::MakeTestJpeg(8, 8, nullptr, true);
    ASSERT_LE(jpeg.size(), b.ClusterSize());
    for (uint32_t i = 0; i < 501; ++i) b.WriteCluster(10 + i, jpeg);
    Use(b);
    for (uint32_t i = 0; i < 501; ++i) {
        char name[16];
        std::snprintf(name, sizeof name, "P%07u.JPG", i);
        RegisterDeletedEntry(session, DeletedEntry(name, 10 + i, uint32_t(jpeg.size())), "", "");
    }
    ASSERT_EQ(session.gcDelFileList.Count(), 501u);
    EXPECT_EQ(session.ThumbnailCount.load(), 500);
    EXPECT_EQ(session.ThumbnailQueue.Count(), 500u);
    DelFileInfo* last = session.gcDelFileList.Get(500);
    EXPECT_EQ(last->thumbnailTried, 0);
    EXPECT_FALSE(last->thumbnail);
    EXPECT_EQ(session.gcDelFileList.Get(499)->thumbnailTried, 1);
    EXPECT_TRUE(session.gcDelFileList.Get(499)->thumbnail);
}

TEST_F(RegistryTest, WithoutVolumeNothingIsRead) {
    FatImageBuilder b(Fat16Card());
    b.WriteCluster(10, test::MakeTestJpeg(16, 16));
    Use(b);
    session.volume.reset();  // the map stays, the source is gone
    RegisterDeletedEntry(session, DeletedEntry("A.JPG", 10, 100), "", "");
    EXPECT_EQ(session.gcDelFileList.Count(), 0u);
    RegisterDeletedEntry(session, DeletedEntry("B.TXT", 0, 0), "", "");
    EXPECT_EQ(session.gcDelFileList.Count(), 1u);

    // Without a map every start counts as claimed.
    FreeFat(session.clusterMap);
    RegisterDeletedEntry(session, DeletedEntry("C.TXT", 0, 0), "", "");
    EXPECT_EQ(session.gcDelFileList.Count(), 1u);
}

TEST_F(RegistryTest, DeletedFolderGoesToFolderList) {
    FatImageBuilder b(Fat16Card());
    Use(b);
    RegisterDeletedFolder(session, DeletedEntry("DCIM", 5, 0, 0x10), "", "");
    RegisterDeletedFolder(session, DeletedEntry("OLD", 6, 0, 0x10), "Old pictures", "DCIM.");
    EXPECT_EQ(session.gcDelFileList.Count(), 0u);
    ASSERT_EQ(session.DelFolderList.Count(), 2u);
    EXPECT_EQ(*session.DelFolderList.Get(0)->name, "");
    EXPECT_EQ(*session.DelFolderList.Get(1)->name, "Old pictures");
    EXPECT_EQ(*session.DelFolderList.Get(1)->folder, "DCIM.");
    EXPECT_TRUE(target.posts.empty());
}

}  // namespace
}  // namespace veld
