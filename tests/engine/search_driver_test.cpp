// The search driver on cards built in code: which passes run for which
// volume, the cluster range, and cancelling from another thread.
#include <gtest/gtest.h>

#include <algorithm>
#include <condition_variable>
#include <fstream>
#include <mutex>
#include <random>
#include <stdexcept>

#include "base/search_progress.h"
#include "base/trace.h"
#include "platform/finish_waiter.h"
#include "search/search_driver.h"
#include "volume/fat_file_system.h"
#include "support/fat_image_builder.h"
#include "support/mkfs_tools.h"
#include "support/test_jpeg.h"
#include "volume/cluster_map.h"
#include "volume/fat_file_system.h"

namespace veld::test {
namespace {

// A card with one deleted picture found through its entry and one picture
// in free clusters that only carving finds.
struct SmallCard {
    TempDir dir;
    std::string path = dir.File("card.img");
    std::vector<uint8_t> deleted = MakeTestJpeg(200, 150);
    std::vector<uint8_t> loose = MakeTestJpeg(160, 120);
    uint32_t deletedStart = 10, looseStart = 200;

    SmallCard() {
        FatImageBuilder b(FatGeometry::Fat16(16384, 4));
        b.Root().AddDeletedFile("PHOTO.JPG", deletedStart, deleted, "photo.jpg");
        // The loose picture lies in free clusters: no entry, no chain.
        std::vector<uint32_t> run;
        for (uint32_t i = 0; i < b.ClustersFor(loose.size()); ++i) run.push_back(looseStart + i);
        b.WriteChainData(run, loose);
        std::ofstream(path, std::ios::binary)
            .write(reinterpret_cast<const char*>(b.bytes().data()), std::streamsize(b.bytes().size()));
    }
};

std::vector<std::string> Names(SearchSession& session) {
    std::vector<std::string> names;
    session.gcDelFileList.ForEach([&](DelFileInfo& r) {
        names.push_back(r.name.value_or(""));
        return true;
    });
    return names;
}

int Search(SearchSession& session, const std::string& path, const SearchOptions& options) {
    FinishWaiter target;
    ResetSearch(session);
    EXPECT_EQ(StartSearchWorker(session, &target, 0, path, options), 0);
    int result = target.Wait();
    EXPECT_TRUE(WaitForSearchWorker(session));
    return result;
}

// The phase headings a search shows, in order.
class HeadingRecorder : public ProgressDisplay {
public:
    void SetLine(int line, const std::string& text) override {
        std::lock_guard<std::mutex> guard(lock_);
        if (line == 1 && (headings_.empty() || headings_.back() != text)) headings_.push_back(text);
    }
    void SetPercent(int) override {}
    std::vector<std::string> headings() {
        std::lock_guard<std::mutex> guard(lock_);
        return headings_;
    }

private:
    std::mutex lock_;
    std::vector<std::string> headings_;
};

TEST(SearchDriver, FatCardRunsDirectoryPassAndCarving) {
    SearchSession session;
    SmallCard card;
    HeadingRecorder shown;
    session.progress.Attach(&shown);
    ASSERT_EQ(Search(session, card.path, SearchOptions{}), 0);
    session.progress.Attach(nullptr);
    auto names = Names(session);
    EXPECT_NE(std::find(names.begin(), names.end(), "photo.jpg"), names.end());
    EXPECT_NE(std::find(names.begin(), names.end(), "#00000200.jpg"), names.end());
    // The signature search's full bar is followed by the last step, named.
    const std::vector<std::string> headings = shown.headings();
    ASSERT_GE(headings.size(), 2u);
    EXPECT_EQ(headings.back(), "仕上げ");
    EXPECT_EQ(headings[headings.size() - 2].rfind("詳細検索", 0), 0u) << headings[headings.size() - 2];
    ResetSearch(session);
}

// Whatever escapes the search (here from the trace, just before the signature
// search) ends it as a failure, not as a success; what the directory pass
// found stays listed.
TEST(SearchDriver, ASearchThatThrowsEndsAsAFailureWithWhatItFound) {
    SearchSession session;
    SmallCard card;
    SetTraceSink([](const std::string& line) {
        if (line == "●クラスタサーチ") throw std::runtime_error("damaged");
    });
    const int result = Search(session, card.path, SearchOptions{});
    SetTraceSink({});
    EXPECT_EQ(result, SearchFailed);
    EXPECT_EQ(session.resultCode.load(), SearchFailed);
    auto names = Names(session);
    EXPECT_NE(std::find(names.begin(), names.end(), "photo.jpg"), names.end());
    EXPECT_EQ(std::find(names.begin(), names.end(), "#00000200.jpg"), names.end());
    ResetSearch(session);
}

TEST(SearchDriver, RangeOnlySearchesExactlyTheRangeWithoutDirectoryPass) {
    SearchSession session;
    SmallCard card;
    SearchOptions options;
    options.firstCluster = 150;
    options.lastCluster = 400;
    options.rangeOnly = 1;
    ASSERT_EQ(Search(session, card.path, options), 0);
    auto names = Names(session);
    EXPECT_EQ(std::find(names.begin(), names.end(), "photo.jpg"), names.end()) << "directory pass ran";
    EXPECT_EQ(std::find(names.begin(), names.end(), "#00000010.jpg"), names.end()) << "carved outside the range";
    EXPECT_NE(std::find(names.begin(), names.end(), "#00000200.jpg"), names.end());
    ResetSearch(session);
}

// Two searches of two different cards at the same time, each in a session of
// its own: neither sees the other's files, counts, map or source.
TEST(SearchDriver, TwoSessionsSearchTwoCardsSideBySide) {
    SmallCard first;
    TempDir dir;
    const std::vector<uint8_t> clip = MakeTestMp4(9000);
    FatImageBuilder b(FatGeometry::Fat32());
    b.Root().AddDir("DCIM", 5).AddDeletedFile("MOV_0001.MP4", 40, clip, "holiday clip.mp4");
    const std::string secondPath = dir.File("second.img");
    ASSERT_TRUE(b.WriteToFile(secondPath));

    SearchSession one, two;
    FinishWaiter oneDone, twoDone;
    ASSERT_EQ(StartSearchWorker(one, &oneDone, 0, first.path, SearchOptions{}), 0);
    ASSERT_EQ(StartSearchWorker(two, &twoDone, 0, secondPath, SearchOptions{}), 0);
    EXPECT_EQ(oneDone.Wait(), SearchOk);
    EXPECT_EQ(twoDone.Wait(), SearchOk);
    ASSERT_TRUE(WaitForSearchWorker(one));
    ASSERT_TRUE(WaitForSearchWorker(two));

    const auto oneNames = Names(one), twoNames = Names(two);
    EXPECT_NE(std::find(oneNames.begin(), oneNames.end(), "photo.jpg"), oneNames.end());
    EXPECT_NE(std::find(oneNames.begin(), oneNames.end(), "#00000200.jpg"), oneNames.end());
    EXPECT_EQ(std::find(oneNames.begin(), oneNames.end(), "holiday clip.mp4"), oneNames.end());
    EXPECT_NE(std::find(twoNames.begin(), twoNames.end(), "holiday clip.mp4"), twoNames.end());
    EXPECT_EQ(std::find(twoNames.begin(), twoNames.end(), "photo.jpg"), twoNames.end());
    EXPECT_EQ(size_t(one.FoundCount.load()), one.gcDelFileList.Count());
    EXPECT_EQ(size_t(two.FoundCount.load()), two.gcDelFileList.Count());

    // Each keeps its own source and map: FAT16 and FAT32, claims of its own files only.
    ASSERT_TRUE(one.volume && two.volume);
    EXPECT_EQ(one.volume->volumeKind, VolumeFat16);
    EXPECT_EQ(two.volume->volumeKind, VolumeFat32);
    auto fatType = [](const SearchSession& s) {
        const auto* fat = dynamic_cast<const FatFileSystem*>(s.clusterMap.fileSystem.get());
        return fat ? fat->FatType() : 0;
    };
    EXPECT_EQ(fatType(one), 16);
    EXPECT_EQ(fatType(two), 32);
    EXPECT_EQ(ClusterState(one.clusterMap, first.deletedStart), ClusterUse::DeletedFile);
    EXPECT_EQ(ClusterState(two.clusterMap, 40), ClusterUse::DeletedFile);
    EXPECT_EQ(ClusterState(one.clusterMap, 40), ClusterUse::Empty);

    // Clearing one leaves the other as it was.
    const size_t twoCount = two.gcDelFileList.Count();
    ResetSearch(one);
    EXPECT_EQ(one.gcDelFileList.Count(), 0u);
    EXPECT_EQ(two.gcDelFileList.Count(), twoCount);
    EXPECT_TRUE(two.volume);
}

TEST(SearchDriver, CardWithoutBootSectorIsSearchedRawFromClusterTwo) {
    SearchSession session;
    SmallCard card;
    {
        std::fstream f(card.path, std::ios::in | std::ios::out | std::ios::binary);
        std::vector<char> zeros(512, 0);
        f.write(zeros.data(), 512);
    }
    ASSERT_EQ(Search(session, card.path, SearchOptions{}), 0);
    ASSERT_TRUE(session.volume);
    EXPECT_EQ(session.volume->volumeKind, VolumeRaw);
    auto names = Names(session);
    EXPECT_EQ(std::find(names.begin(), names.end(), "photo.jpg"), names.end());
    // Raw clusters are sectors, numbered from 2 at the first sector.
    uint64_t sector = (FatImageBuilder(FatGeometry::Fat16(16384, 4)).ClusterOffset(card.looseStart)) / 512;
    char name[32];
    std::snprintf(name, sizeof name, "#%08u.jpg", unsigned(sector + 2));
    EXPECT_NE(std::find(names.begin(), names.end(), name), names.end()) << name;
    ResetSearch(session);
}

TEST(SearchDriver, PictureOnAllocatedClustersNoEntryReachesIsCarved) {
    SearchSession session;
    // A lost chain: the FAT still holds the picture's clusters, but no
    // directory entry points at them any more.
    TempDir dir;
    FatImageBuilder b(FatGeometry::Fat16(16384, 4));
    const std::vector<uint8_t> picture = MakeTestJpeg(200, 150);
    std::vector<uint32_t> run;
    for (uint32_t i = 0; i < b.ClustersFor(picture.size()); ++i) run.push_back(300 + i);
    b.MakeChain(run);
    b.WriteChainData(run, picture);
    std::string path = dir.File("card.img");
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(b.bytes().data()), std::streamsize(b.bytes().size()));

    ASSERT_EQ(Search(session, path, SearchOptions{}), 0);
    bool carved = false;
    session.gcDelFileList.ForEach([&](DelFileInfo& r) {
        if (r.name == std::optional<std::string>("#00000300.jpg")) {
            carved = true;
            EXPECT_EQ(r.state, StateComplete);
            EXPECT_EQ(r.fileSize, picture.size());
        }
        return true;
    });
    EXPECT_TRUE(carved);
    ResetSearch(session);
}

TEST(SearchDriver, DeletedFolderOnLiveDirectoryClusterIsSkippedAndTraced) {
    SearchSession session;
    TempDir dir;
    FatImageBuilder b(FatGeometry::Fat16(16384, 4));
    auto root = b.Root();
    auto live = root.AddDir("LIVE", 20);
    live.AddEnd();
    // A deleted folder entry whose start cluster a live folder owns now.
    auto gone = root.AddDeletedDir("GONE", 20);
    (void)gone;
    std::string path = dir.File("card.img");
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(b.bytes().data()), std::streamsize(b.bytes().size()));

    std::vector<std::string> lines;
    std::mutex lock;
    SetTraceSink([&](const std::string& line) {
        std::lock_guard<std::mutex> guard(lock);
        lines.push_back(line);
    });
    ASSERT_EQ(Search(session, path, SearchOptions{}), 0);
    SetTraceSink({});
    bool skipped = false;
    for (const auto& l : lines) skipped |= l.find(">>Skip Search Del Dir") != std::string::npos && l.find("FA_USE_DIR") != std::string::npos;
    EXPECT_TRUE(skipped);
    ResetSearch(session);
}

TEST(SearchDriver, DamagedCardsNeverCrashOrHang) {
    SearchSession session;
    // A card with folders, long names, deleted entries and pictures whose
    // boot sector, FAT and directories are then damaged at random.
    FatImageBuilder b(FatGeometry::Fat16(16384, 4));
    auto dcim = b.Root().AddDir("DCIM", 3);
    auto canon = dcim.AddDir("100CANON", 4, "100CANON");
    const std::vector<uint8_t> picture = MakeTestJpeg(160, 120);
    canon.AddFile("IMG_0001.JPG", 10, picture, "first picture.jpg");
    canon.AddDeletedFile("IMG_0002.JPG", 20, picture, "deleted picture.jpg");
    b.Root().AddDeletedDir("OLD", 30).AddDeletedFile("GONE.JPG", 31, picture);
    const std::vector<uint8_t> clean = b.bytes();
    const uint64_t metadataEnd = b.ClusterOffset(40);

    TempDir dir;
    const std::string path = dir.File("damaged.img");
    std::mt19937 rng(20261207);
    for (int round = 0; round < 40; ++round) {
        std::vector<uint8_t> bytes = clean;
        const int flips = 1 + int(rng() % 200);
        for (int k = 0; k < flips; ++k) bytes[rng() % metadataEnd] = uint8_t(rng());
        if (round % 4 == 0) bytes.resize(bytes.size() / (2 + rng() % 8));  // a truncated image too
        std::ofstream(path, std::ios::binary | std::ios::trunc)
            .write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
        EXPECT_EQ(Search(session, path, SearchOptions{}), 0) << "round " << round;
    }
    ResetSearch(session);
}

// Holds the worker at its first cluster report until the test thread has
// asked to cancel, so the cancel surely arrives in the middle of the search.
class GateProgress : public ProgressDisplay {
public:
    void SetLine(int line, const std::string& text) override {
        if (line != 2 || text.find("クラスタ") == std::string::npos) return;
        std::unique_lock<std::mutex> guard(lock_);
        ++clusterReports_;
        reached_ = true;
        cv_.notify_all();
        cv_.wait(guard, [&] { return released_; });
    }
    void SetPercent(int) override {}
    void WaitReached() {
        std::unique_lock<std::mutex> guard(lock_);
        cv_.wait(guard, [&] { return reached_; });
    }
    void Release() {
        std::lock_guard<std::mutex> guard(lock_);
        released_ = true;
        cv_.notify_all();
    }
    int clusterReports() {
        std::lock_guard<std::mutex> guard(lock_);
        return clusterReports_;
    }

private:
    std::mutex lock_;
    std::condition_variable cv_;
    bool reached_ = false, released_ = false;
    int clusterReports_ = 0;
};

TEST(SearchDriver, CancelFromAnotherThreadEndsWithResultZero) {
    SearchSession session;
    TempDir dir;
    // A raw card of non-zero sectors: every one of them is examined.
    std::vector<uint8_t> bytes(4 << 20, 0x5A);
    std::string path = dir.File("raw.img");
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));

    GateProgress gate;
    session.progress.Attach(&gate);
    FinishWaiter target;
    ResetSearch(session);
    ASSERT_EQ(StartSearchWorker(session, &target, 0, path, SearchOptions{}), 0);
    gate.WaitReached();
    RequestCancel(session);
    gate.Release();
    EXPECT_EQ(target.Wait(), 0);
    EXPECT_TRUE(WaitForSearchWorker(session));
    session.progress.Attach(nullptr);
    EXPECT_TRUE(session.Cancelled());
    EXPECT_LT(gate.clusterReports(), 10) << "the search went on after the cancel";
    EXPECT_EQ(session.FoundCount.load(), 0);
    ResetSearch(session);
}

}  // namespace
}  // namespace veld::test
