// Thumbnails decoded on worker threads: a search with workers gives the same
// records, thumbnails, thumbnail queue and found-file notifications as one
// that decodes each thumbnail on the spot; a cancel stops the workers.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "finder/found_file_thumbnail.h"
#include "finder/search_session.h"
#include "finder/thumbnail_pool.h"
#include "platform/window_message.h"
#include "search/search_driver.h"
#include "support/fat_image_builder.h"
#include "support/mkfs_tools.h"
#include "support/test_jpeg.h"

namespace veld {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;

// Records the found-file notifications; cancels the search at the one given.
class Notifications final : public MessageTarget {
public:
    Notifications(SearchSession& session, int cancelAt = 0) : session_(session), cancelAt_(cancelAt) {}
    void PostMessage(int message, intptr_t wParam, intptr_t) override {
        if (message != MsgFoundFile) return;
        std::lock_guard<std::mutex> hold(lock_);
        indices.push_back(reinterpret_cast<const DelFileInfo*>(wParam)->index);
        if (cancelAt_ > 0 && int(indices.size()) == cancelAt_) session_.cancelFlag = 1;
    }
    std::vector<int32_t> indices;

private:
    SearchSession& session_;
    int cancelAt_;
    std::mutex lock_;
};

struct Outcome {
    std::vector<DelFileInfo> records;
    std::vector<int32_t> queue;
    int32_t thumbnails = 0;
    std::vector<int32_t> notified;
};

// Searches the source with the given number of thumbnail workers.
Outcome Search(std::unique_ptr<DiskVolume> volume, int threads, int cancelAt = 0) {
    SearchSession session;
    Notifications notes(session, cancelAt);
    session.volume = std::move(volume);
    session.startWindow = &notes;
    SearchOptions options;
    options.thumbnailThreads = threads;
    session.options = options;
    EXPECT_EQ(SearchOpenVolume(session, options), SearchOk);
    EXPECT_FALSE(session.thumbnailPool) << "the workers end with the search";
    Outcome out;
    for (size_t i = 0; i < session.gcDelFileList.Count(); ++i) {
        out.records.push_back(*session.gcDelFileList.CopyAt(i));
        EXPECT_FALSE(session.ThumbnailPending(i)) << "record " << i;
    }
    for (size_t i = 0; i < session.ThumbnailQueue.Count(); ++i) out.queue.push_back(*session.ThumbnailQueue.CopyAt(i));
    out.thumbnails = session.ThumbnailCount.load();
    out.notified = notes.indices;
    return out;
}

void ExpectSame(const Outcome& one, const Outcome& pooled) {
    ASSERT_EQ(one.records.size(), pooled.records.size());
    EXPECT_EQ(one.queue, pooled.queue);
    EXPECT_EQ(one.thumbnails, pooled.thumbnails);
    EXPECT_EQ(one.notified, pooled.notified);
    for (size_t i = 0; i < one.records.size(); ++i) {
        const DelFileInfo& a = one.records[i];
        const DelFileInfo& b = pooled.records[i];
        SCOPED_TRACE("record " + std::to_string(i) + " " + a.name.value_or(""));
        EXPECT_EQ(a.index, b.index);
        EXPECT_EQ(a.name, b.name);
        EXPECT_EQ(a.folder, b.folder);
        EXPECT_EQ(a.state, b.state);
        EXPECT_EQ(a.clusterList, b.clusterList);
        EXPECT_EQ(a.firstClass, b.firstClass);
        EXPECT_EQ(a.thumbnailTried, b.thumbnailTried);
        EXPECT_EQ(a.thumbnailPending, 0);
        EXPECT_EQ(b.thumbnailPending, 0);
        EXPECT_EQ(a.jpeg.length, b.jpeg.length);
        EXPECT_EQ(a.jpeg.frameWidth, b.jpeg.frameWidth);
        EXPECT_EQ(a.jpeg.frameHeight, b.jpeg.frameHeight);
        ASSERT_EQ(a.thumbnail != nullptr, b.thumbnail != nullptr);
        if (a.thumbnail) {
            EXPECT_EQ(a.thumbnail->width, b.thumbnail->width);
            EXPECT_EQ(a.thumbnail->height, b.thumbnail->height);
            EXPECT_TRUE(a.thumbnail->bits == b.thumbnail->bits) << "thumbnail pixels differ";
        }
    }
}

TEST(ThumbnailWorkers, SameRecordsThumbnailsAndNotificationsOnRealPhotos) {
    const fs::path photos = VELD_SHARED_PHOTOS;
    if (!fs::is_directory(photos)) GTEST_SKIP() << "no sample photographs here";
    if (auto why = test::MkfsToolsMissing(); !why.empty()) GTEST_SKIP() << why;

    std::vector<fs::path> files;
    for (const auto& sub : {photos, photos / "gps"})
        for (const auto& e : fs::directory_iterator(sub))
            if (e.path().extension() == ".jpg") files.push_back(e.path());
    ASSERT_FALSE(files.empty());
    std::sort(files.begin(), files.end());

    // Every photo three times, two of the copies deleted: live, deleted and
    // damaged pictures (corrupted.jpg) mixed.
    test::TempDir dir;
    const std::string image = dir.File("card.img");
    uint64_t bytes = 0;
    for (const auto& f : files) bytes += fs::file_size(f);
    ASSERT_EQ(test::MakeFatImage(image, {.fatType = 32, .sizeKiB = std::max<uint64_t>(40 * 1024, bytes * 4 / 1024)}),
              "");
    test::MtoolsImage card(image);
    ASSERT_EQ(card.Mkdir("DCIM"), "");
    for (int copy = 0; copy < 3; ++copy)
        for (size_t i = 0; i < files.size(); ++i)
            ASSERT_EQ(card.Put(files[i].string(), "DCIM/P" + std::to_string(copy) + "_" + std::to_string(i) + ".JPG"),
                      "");
    for (int copy = 0; copy < 2; ++copy)
        for (size_t i = 0; i < files.size(); ++i)
            ASSERT_EQ(card.Delete("DCIM/P" + std::to_string(copy) + "_" + std::to_string(i) + ".JPG"), "");

    const Outcome one = Search(DiskIO_OpenImage(image, false), 0);
    const Outcome pooled = Search(DiskIO_OpenImage(image, false), 2);
    ASSERT_GT(one.thumbnails, int32_t(files.size()));
    ExpectSame(one, pooled);

    // The command line's listing is the same byte for byte.
    const test::CommandResult a = test::RunCommand({VELD_CLI_PATH, "search", "--json", "--threads", "0", image});
    const test::CommandResult b = test::RunCommand({VELD_CLI_PATH, "search", "--json", "--threads", "3", image});
    ASSERT_EQ(a.exitCode, 0) << a.err;
    ASSERT_EQ(b.exitCode, 0) << b.err;
    EXPECT_FALSE(a.out.empty());
    EXPECT_EQ(a.out, b.out);
}

// A small picture whose frame has no width: it is walked and listed, but no
// thumbnail can be decoded from it.
Bytes Undecodable() {
    Bytes jpeg = test::MakeTestJpeg(48, 32);
    for (size_t i = 0; i + 9 < jpeg.size(); ++i)
        if (jpeg[i] == 0xFF && jpeg[i + 1] == 0xC0) {
            jpeg[i + 7] = 0;
            jpeg[i + 8] = 0;
            break;
        }
    return jpeg;
}

TEST(ThumbnailWorkers, TheLimitOf500CountsOnlyThumbnailsMadeAsOnTheSpot) {
    // 530 carved pictures, every fiftieth undecodable: the 500 thumbnails go
    // to the first 500 decodable ones, whichever thread decoded them.
    test::FatImageBuilder b(test::FatGeometry::Fat16(65536, 2));
    const Bytes good = test::MakeTestJpeg(48, 32);
    const Bytes bad = Undecodable();
    FoundFileBytes probe;
    probe.data = std::make_unique<uint8_t[]>(bad.size());
    probe.size = bad.size();
    std::memcpy(probe.data.get(), bad.data(), bad.size());
    ASSERT_EQ(DecodeFoundFileThumbnail(probe), nullptr);
    const uint32_t step = uint32_t((std::max(good.size(), bad.size()) + b.ClusterSize() - 1) / b.ClusterSize()) + 1;
    for (uint32_t k = 0; k < 530; ++k) b.WriteCluster(100 + k * step, k % 50 == 7 ? bad : good);

    const Outcome one = Search(b.Open(), 0);
    const Outcome pooled = Search(b.Open(), 3);
    ASSERT_EQ(one.records.size(), 530u);
    EXPECT_EQ(one.thumbnails, 500);
    ExpectSame(one, pooled);
    // Every picture up to the one with the 500th thumbnail was tried (the
    // undecodable ones too), none after it.
    size_t lastWithThumbnail = 0;
    for (size_t i = 0; i < pooled.records.size(); ++i)
        if (pooled.records[i].thumbnail) lastWithThumbnail = i;
    for (size_t i = 0; i < pooled.records.size(); ++i)
        EXPECT_EQ(pooled.records[i].thumbnailTried, i <= lastWithThumbnail ? 1 : 0) << i;
    EXPECT_LT(lastWithThumbnail, 529u);
    // The good pictures the search did not decode say so; none it decoded does.
    for (size_t i = 0; i < pooled.records.size(); ++i) {
        const DelFileInfo& r = pooled.records[i];
        if (r.state != StateComplete) continue;
        EXPECT_EQ(r.remarks.value_or(""), i <= lastWithThumbnail ? "" : kUndecodedRemark) << i;
    }
}

TEST(ThumbnailWorkers, CancelStopsTheWorkersAndLeavesNothingPending) {
    test::FatImageBuilder b(test::FatGeometry::Fat16(65536, 2));
    const Bytes good = test::MakeTestJpeg(320, 240);
    const uint32_t step = uint32_t((good.size() + b.ClusterSize() - 1) / b.ClusterSize()) + 1;
    for (uint32_t k = 0; k < 100; ++k) b.WriteCluster(100 + k * step, good);
    const Outcome cancelled = Search(b.Open(), 2, 5);
    // The search stops after the cluster in hand; the records it made are
    // all settled (none waits for a worker that stopped).
    EXPECT_GE(cancelled.records.size(), 5u);
    EXPECT_LE(cancelled.records.size(), 6u);
    for (const DelFileInfo& r : cancelled.records) EXPECT_EQ(r.thumbnailPending, 0);

    // Workers told to stop decode nothing more: what they were given comes
    // back at once, without a thumbnail, in the order it was given.
    std::vector<int32_t> order;
    ThumbnailPoolSetup setup;
    setup.threads = 2;
    setup.cancelled = [] { return true; };
    setup.publish = [&order](ThumbnailJob& job) {
        EXPECT_TRUE(job.done);
        EXPECT_EQ(job.thumbnail, nullptr);
        order.push_back(job.index);
    };
    ThumbnailPool pool(std::move(setup));
    for (int i = 0; i < 20; ++i) {
        auto job = std::make_unique<ThumbnailJob>();
        job->bytes.data = std::make_unique<uint8_t[]>(good.size());
        job->bytes.size = good.size();
        std::memcpy(job->bytes.data.get(), good.data(), good.size());
        job->index = i;
        pool.Add(std::move(job));
    }
    pool.Finish();
    ASSERT_EQ(order.size(), 20u);
    for (int i = 0; i < 20; ++i) EXPECT_EQ(order[size_t(i)], i);
    EXPECT_EQ(pool.Unpublished(), 0u);
}

TEST(ThumbnailWorkers, DroppedBytesAreReadAgainAndPicturesPastTheLimitAreSkipped) {
    // No room for held bytes: every job is read through the reader when its
    // turn comes (one reader at a time, as for a source without positional
    // reads). Every third picture cannot be decoded; with a limit of 5 the
    // jobs after the fifth thumbnail in the order added are skipped, whatever
    // order the workers finished them in.
    const Bytes good = test::MakeTestJpeg(64, 48);
    const Bytes bad = Undecodable();
    std::mutex readLock;
    int reads = 0, readersAtOnce = 0, mostReadersAtOnce = 0;
    std::vector<ThumbnailJob> published;
    ThumbnailPoolSetup setup;
    setup.threads = 3;
    setup.heldBytesLimit = 0;
    setup.limit = 5;
    setup.read = [&](const ThumbnailJob& job) -> std::optional<FoundFileBytes> {
        {
            std::lock_guard<std::mutex> hold(readLock);
            ++reads;
            mostReadersAtOnce = std::max(mostReadersAtOnce, ++readersAtOnce);
        }
        const Bytes& picture = job.index % 3 == 2 ? bad : good;
        FoundFileBytes bytes;
        bytes.held = picture;
        bytes.size = picture.size();
        std::lock_guard<std::mutex> hold(readLock);
        --readersAtOnce;
        return bytes;
    };
    setup.publish = [&published](ThumbnailJob& job) {
        ThumbnailJob copy;
        copy.index = job.index;
        copy.thumbnail = job.thumbnail;
        copy.skipped = job.skipped;
        published.push_back(std::move(copy));
    };
    {
        ThumbnailPool pool(std::move(setup));
        for (int i = 0; i < 30; ++i) {
            auto job = std::make_unique<ThumbnailJob>();
            const Bytes& picture = i % 3 == 2 ? bad : good;
            job->bytes.held = picture;
            job->bytes.size = picture.size();
            job->index = i;
            pool.Add(std::move(job));
        }
        pool.Finish();
        EXPECT_EQ(pool.Unpublished(), 0u);
    }
    ASSERT_EQ(published.size(), 30u);
    EXPECT_EQ(mostReadersAtOnce, 1);
    // Past the fifth thumbnail only the jobs already under way beside it
    // were decoded (the publisher drops what they made); the rest skipped.
    int made = 0, decodedPast = 0;
    for (int i = 0; i < 30; ++i) {
        const ThumbnailJob& job = published[size_t(i)];
        EXPECT_EQ(job.index, i);
        if (made >= 5) {
            if (!job.skipped) ++decodedPast;
            else EXPECT_EQ(job.thumbnail, nullptr) << i;
            continue;
        }
        EXPECT_FALSE(job.skipped) << i;
        EXPECT_EQ(job.thumbnail != nullptr, i % 3 != 2) << i;
        if (job.thumbnail) ++made;
    }
    EXPECT_EQ(made, 5);
    EXPECT_LE(decodedPast, 3);
    // The seventh job (index 6) holds the fifth thumbnail.
    EXPECT_EQ(reads, 7 + decodedPast);
}

}  // namespace
}  // namespace veld
