// exFAT cards searched end to end: the geometry from the main or backup boot
// region (also inside a partition), deleted photos, clips and folders of a
// camera-like card found with their names, folders, times and states, saved
// byte-identical, and agreeing with The Sleuth Kit's fls; a clip of more than
// 4 GiB saved whole; a photo in the last cluster of a 1 TiB card.
#include <gtest/gtest.h>
#include <zlib.h>

#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <functional>
#include <map>
#include <fstream>
#include <mutex>
#include <set>
#include <span>
#include <sstream>

#include "base/trace.h"
#include "finder/exfat_directory_scanner.h"
#include "finder/exfat_orphan_folders.h"
#include "finder/orphan_folder_group.h"
#include "search/extraction.h"
#include "search/found_file_columns.h"
#include "search/search_driver.h"
#include "support/exfat_image_builder.h"
#include "support/mkfs_tools.h"
#include "support/partitioned_image.h"
#include "support/test_jpeg.h"
#include "volume/boot_sector.h"
#include "volume/cluster_map.h"
#include "volume/exfat_boot.h"
#include "volume/exfat_chain.h"
#include "volume/exfat_volume.h"

// After the engine's headers: Qt's "slots" keyword is a macro.
#include <QJsonDocument>
#include <QJsonObject>

namespace veld {
namespace {

using test::ExfatFileOptions;
using test::ExfatFormat;
using test::ExfatImageBuilder;
using test::ExfatTime;

std::string ToolsMissing() {
    for (const char* tool : {"mkfs.exfat", "fsck.exfat", "fls"})
        if (test::FindTool(tool).empty()) return std::string(tool) + " is not installed (exfatprogs, sleuthkit)";
    return {};
}

// The local time zone of the machine, set for one test: exFAT times are shown
// in it.
class ZoneForTest {
public:
    explicit ZoneForTest(const char* zone) {
        if (const char* old = std::getenv("TZ")) old_ = old;
        setenv("TZ", zone, 1);
        tzset();
    }
    ~ZoneForTest() {
        if (old_.empty())
            unsetenv("TZ");
        else
            setenv("TZ", old_.c_str(), 1);
        tzset();
    }

private:
    std::string old_;
};

void Patch(const std::string& path, uint64_t offset, uint8_t value) {
    std::fstream f(path, std::ios::in | std::ios::out | std::ios::binary);
    f.seekp(std::streamoff(offset));
    f.put(char(value));
}

void WriteBytes(const std::string& path, uint64_t offset, std::span<const uint8_t> bytes) {
    std::fstream f(path, std::ios::in | std::ios::out | std::ios::binary);
    f.seekp(std::streamoff(offset));
    f.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

// Changes a file's entry set on the image (its stream entry is at byte 32)
// and makes the set's checksum agree again: the entry is altered, not torn.
void ChangeEntrySet(const ExfatImageBuilder& card, ExfatImageBuilder::Node node,
                    const std::function<void(std::vector<uint8_t>&)>& change) {
    const uint64_t at = card.EntryOffset(node);
    std::vector<uint8_t> set = test::ReadFileRange(card.path(), at, 32);
    set = test::ReadFileRange(card.path(), at, 32 * (size_t(set[1]) + 1));
    change(set);
    const uint16_t sum = ExfatImageBuilder::SetChecksum(set);
    set[2] = uint8_t(sum);
    set[3] = uint8_t(sum >> 8);
    WriteBytes(card.path(), at, set);
}

// A new data length (and valid data length) for a file.
void SetDataLength(const ExfatImageBuilder& card, ExfatImageBuilder::Node node, uint64_t length) {
    ChangeEntrySet(card, node, [&](std::vector<uint8_t>& set) {
        for (int k = 0; k < 8; ++k) {
            set[32 + 8 + k] = uint8_t(length >> (8 * k));   // ValidDataLength
            set[32 + 24 + k] = uint8_t(length >> (8 * k));  // DataLength
        }
    });
}

const DelFileInfo* Named(SearchSession& session, const std::string& name) {
    for (size_t i = 0; i < session.gcDelFileList.Count(); ++i) {
        const DelFileInfo* r = session.gcDelFileList.Get(i);
        if (r && !r->carved && r->name == name) return r;
    }
    return nullptr;
}

std::vector<uint8_t> Saved(SearchSession& session, const DelFileInfo& record) {
    ExtractRequest request;
    request.toMemory = true;
    return ExtractFoundFile(*session.volume, record, request).memory;
}

// Deleted regular files as fls -r -d -p lists them ("DCIM/100CANON/IMG.JPG").
std::set<std::string> FlsDeletedFiles(const std::string& image) {
    const test::CommandResult r = test::RunCommand({"fls", "-r", "-d", "-p", "-f", "exfat", image});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    std::set<std::string> names;
    std::istringstream in(r.out);
    for (std::string line; std::getline(in, line);) {
        const size_t tab = line.find('\t');
        if (line.rfind("r/r", 0) != 0 || tab == std::string::npos) continue;
        names.insert(line.substr(tab + 1));
    }
    return names;
}

TEST(ExfatVolume, GeometryFromTheMainRegionElseTheBackupElseRaw) {
    if (auto why = ToolsMissing(); !why.empty()) GTEST_SKIP() << why;
    test::TempDir dir;
    ExfatImageBuilder card(dir.File("card.img"), {.sizeBytes = 64ull << 20, .clusterSize = 16 * 1024});
    ASSERT_EQ(card.error(), "");
    ASSERT_EQ(card.Finish(), "");

    auto v = DiskIO_Open(card.path(), 0);
    ASSERT_TRUE(v);
    EXPECT_EQ(v->volumeKind, VolumeExfat);
    EXPECT_EQ(v->sectorSize, 512u);
    EXPECT_EQ(v->clusterSize, 16u * 1024);
    EXPECT_EQ(v->dataStart, card.ClusterOffset(2));
    EXPECT_EQ(v->clusterCount, int64_t(card.ClusterCount()));
    EXPECT_EQ(uint64_t(ClusterOffset(*v, card.RootCluster())), card.ClusterOffset(card.RootCluster()));
    DiskIO_Close(v);

    // A damaged main region (its checksum no longer holds): the backup at sector 12.
    Patch(card.path(), 512 + 100, 0x5A);
    v = DiskIO_Open(card.path(), 0);
    ASSERT_TRUE(v);
    EXPECT_EQ(v->volumeKind, VolumeExfat);
    EXPECT_EQ(v->clusterCount, int64_t(card.ClusterCount()));
    DiskIO_Close(v);

    // Both damaged: searched raw, in 512-byte units.
    Patch(card.path(), 13 * 512 + 100, 0x5A);
    v = DiskIO_Open(card.path(), 0);
    ASSERT_TRUE(v);
    EXPECT_EQ(v->volumeKind, VolumeRaw);
    EXPECT_EQ(v->clusterSize, 512u);
}

// DCIM/100CANON as a camera writes it, with deletions of every kind.
class ExfatCameraCard : public ::testing::Test {
protected:
    void SetUp() override {
        if (auto why = ToolsMissing(); !why.empty()) GTEST_SKIP() << why;
        card_ = std::make_unique<ExfatImageBuilder>(dir_.File("card.img"),
                                                    ExfatFormat{.sizeBytes = 64ull << 20, .clusterSize = 4096});
        ExfatImageBuilder& card = *card_;
        ASSERT_EQ(card.error(), "");
        auto dcim = card.AddDir(card.Root(), "DCIM");
        auto canon = card.AddDir(dcim, "100CANON");
        // A small deleted file before a live photo leaves a hole that the
        // chained photo's first cluster takes: its clusters are not consecutive.
        auto filler = card.AddFile(canon, "FILLER.TXT", std::vector<uint8_t>(100, 'x'));
        live_ = test::MakeTestJpeg(320, 240);
        liveNode_ = card.AddFile(canon, "IMG_0001.JPG", live_);
        card.Delete(filler);
        night_ = test::MakeTestJpeg(800, 600);
        auto night = card.AddFile(canon, "夜景_長秒露光_三脚使用.JPG", night_, {.noFatChain = false});
        const auto nightClusters = card.Clusters(night);
        chainedApart_ = nightClusters.size() > 1 && nightClusters[1] != nightClusters[0] + 1;

        photo_ = test::MakeTestJpeg(640, 480);
        const ExfatTime tokyo{.year = 2024, .month = 5, .day = 3, .hour = 10, .minute = 20, .second = 31};
        auto photo = card.AddFile(canon, "IMG_0002.JPG", photo_, {.time = tokyo});
        kyoto_ = test::MakeTestJpeg(400, 300);
        auto kyoto = card.AddFile(canon, "京都の桜 2024年春 まとめて撮った一枚.JPG", kyoto_);
        clip_ = test::MakeTestMp4(150000);
        const ExfatTime utc{.year = 2023, .month = 12, .day = 31, .hour = 20, .minute = 0, .second = 0,
                            .utcOffsetMinutes = 0};
        auto clip = card.AddFile(canon, "MVI_0004.MP4", clip_, {.noFatChain = false, .time = utc});
        auto older = card.AddDir(dcim, "101CANON");
        folderPhoto_ = test::MakeTestJpeg(360, 240);
        card.AddFile(older, "IMG_0101.JPG", folderPhoto_);

        // Partly overwritten: a later live photo takes its second cluster on.
        auto overwritten = card.AddFile(canon, "IMG_0003.JPG", test::MakeTestJpeg(640, 480));
        ASSERT_GT(card.Clusters(overwritten).size(), 1u);
        card.Delete(overwritten);
        card.AddFile(canon, "IMG_0006.JPG", test::MakeTestJpeg(320, 240),
                     {.firstCluster = card.FirstCluster(overwritten) + 1});

        // Deleted last, so that no later file reuses their clusters.
        for (auto node : {night, photo, kyoto, clip, older}) card.Delete(node);
        ASSERT_EQ(card.Finish(), "");
        ASSERT_EQ(test::RunCommand({"fsck.exfat", "-n", card.path()}).exitCode, 0);
    }

    void Search(const std::string& image) {
        SearchOptions options;
        options.flags = 0;
        ASSERT_EQ(RunSearch(session_, 0, image, options), SearchOk);
        ASSERT_TRUE(session_.volume);
        ASSERT_EQ(session_.volume->volumeKind, VolumeExfat);
    }

    // The deleted photos, the clip and the photo of the deleted folder come
    // back whole and "良".
    void ExpectIntactDeletedFiles() {
        const struct {
            const char* name;
            const char* folder;
            const std::vector<uint8_t>* bytes;
        } intact[] = {{"IMG_0002.JPG", "DCIM\\100CANON", &photo_},
                      {"夜景_長秒露光_三脚使用.JPG", "DCIM\\100CANON", &night_},
                      {"京都の桜 2024年春 まとめて撮った一枚.JPG", "DCIM\\100CANON", &kyoto_},
                      {"MVI_0004.MP4", "DCIM\\100CANON", &clip_},
                      {"IMG_0101.JPG", "DCIM\\101CANON", &folderPhoto_}};
        for (const auto& want : intact) {
            SCOPED_TRACE(want.name);
            const DelFileInfo* r = Named(session_, want.name);
            ASSERT_NE(r, nullptr);
            EXPECT_EQ(r->folder.value_or(""), want.folder);
            EXPECT_EQ(r->fileSize, want.bytes->size());
            EXPECT_EQ(FoundFileStateText(*r), "良");
            EXPECT_EQ(Saved(session_, *r), *want.bytes);
        }
    }

    test::TempDir dir_;
    std::unique_ptr<ExfatImageBuilder> card_;
    SearchSession session_;
    std::vector<uint8_t> live_, photo_, night_, kyoto_, clip_, folderPhoto_;
    ExfatImageBuilder::Node liveNode_;
    bool chainedApart_ = false;
};

TEST_F(ExfatCameraCard, DeletedFilesComeBackWithNamesFoldersTimesAndBytes) {
    ZoneForTest zone("Asia/Tokyo");
    Search(card_->path());
    EXPECT_TRUE(chainedApart_) << "the chained photo was meant to be fragmented";
    ExpectIntactDeletedFiles();

    // Times in this machine's zone: +09:00 as written; UTC moved on by nine hours.
    EXPECT_EQ(FoundFileColumnText(*Named(session_, "IMG_0002.JPG"), ColDate), "2024/05/03 10:20:30");
    EXPECT_EQ(FoundFileColumnText(*Named(session_, "MVI_0004.MP4"), ColDate), "2024/01/01 05:00:00");

    // The overwritten photo is listed, but not as intact.
    const DelFileInfo* overwritten = Named(session_, "IMG_0003.JPG");
    ASSERT_NE(overwritten, nullptr);
    EXPECT_NE(overwritten->state, StateComplete);
    EXPECT_NE(FoundFileStateText(*overwritten), "良");

    // Live files are not found files, and their clusters are never carved.
    for (size_t i = 0; i < session_.gcDelFileList.Count(); ++i) {
        const DelFileInfo* r = session_.gcDelFileList.Get(i);
        EXPECT_NE(r->name.value_or(""), "IMG_0001.JPG");
        EXPECT_NE(r->name.value_or(""), "IMG_0006.JPG");
        if (r->carved) {
            EXPECT_NE(Saved(session_, *r), live_);
        }
    }

    // The deleted names agree with an independent reader.
    std::set<std::string> ours;
    for (size_t i = 0; i < session_.gcDelFileList.Count(); ++i) {
        const DelFileInfo* r = session_.gcDelFileList.Get(i);
        if (r->carved) continue;
        std::string path = r->folder.value_or("") + "/" + r->name.value_or("");
        for (char& c : path)
            if (c == '\\') c = '/';
        ours.insert(path);
    }
    EXPECT_EQ(ours, FlsDeletedFiles(card_->path()));
}

// A live photo's size with bit 40 set: its claim ends at the first cluster
// the allocation bitmap calls free, so the deleted files after it are still
// found, and the trace names the damaged entry.
TEST_F(ExfatCameraCard, ADamagedLiveSizeHidesNoDeletedFile) {
    SetDataLength(*card_, liveNode_, live_.size() | (uint64_t(1) << 40));
    std::mutex lock;
    std::vector<std::string> trace;
    SetTraceSink([&](const std::string& line) {
        std::lock_guard<std::mutex> hold(lock);
        trace.push_back(line);
    });
    Search(card_->path());
    SetTraceSink({});
    ExpectIntactDeletedFiles();
    const auto damaged = std::find_if(trace.begin(), trace.end(), [](const std::string& line) {
        return line.find("damaged live entry DCIM\\100CANON\\IMG_0001.JPG") != std::string::npos;
    });
    EXPECT_NE(damaged, trace.end());
}

TEST_F(ExfatCameraCard, InsideAnMbrPartitionTheSameRecordsAndBytes) {
    if (!test::PartitionToolsMissing().empty()) GTEST_SKIP() << test::PartitionToolsMissing();
    const std::string whole = dir_.File("whole.img");
    ASSERT_EQ(test::MakePartitionedImage(whole, "dos", 72ull << 20,
                                         {{.startSector = 8192, .sectors = (64ull << 20) / 512, .type = "7",
                                           .contents = card_->path()}}),
              "");
    Search(whole);
    EXPECT_EQ(session_.volume->partitionOffset, 4ull << 20);
    const DelFileInfo* r = Named(session_, "京都の桜 2024年春 まとめて撮った一枚.JPG");
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(r->state, StateComplete);
    EXPECT_EQ(Saved(session_, *r), kyoto_);
}

// A camera card quick-formatted by mkfs.exfat (boot region, FAT, bitmap,
// up-case table and root rewritten): DCIM, its live folder 100VELD of two
// clusters (forty photos with long names) and its deleted folder 101VELD
// survive in free space. Met in either order on the card, each folder is
// listed once under the group with its name from its parent's entry (DCIM's
// own name was only in the old root), every photo with its name and bytes,
// live-looking or not, as The Sleuth Kit lists them before the format. A
// sub-folder entry that leads back to an ancestor moves nothing.
TEST(ExfatQuickFormat, FoldersComeBackWithTheirNamesWhicheverComesFirst) {
    if (auto why = ToolsMissing(); !why.empty()) GTEST_SKIP() << why;
    const struct {
        bool parentFirst;
        bool loop;  // a folder in 100VELD whose entry names DCIM's cluster
    } rows[] = {{true, false}, {false, false}, {true, true}};
    for (const auto [parentFirst, loop] : rows) {
        SCOPED_TRACE(std::string(parentFirst ? "DCIM before its folders" : "DCIM after its folders") +
                     (loop ? ", a loop back to it" : ""));
        test::TempDir dir;
        ExfatImageBuilder card(dir.File("formatted.img"), {.sizeBytes = 32ull << 20, .clusterSize = 4096});
        ASSERT_EQ(card.error(), "");
        const uint64_t dcimAt = parentFirst ? 100 : 3000, canonAt = parentFirst ? 200 : 2000;
        auto dcim = card.AddDir(card.Root(), "DCIM", {}, 1, dcimAt);
        auto canon = card.AddDir(dcim, "100VELD", {}, 2, canonAt);
        auto older = card.AddDir(dcim, "101VELD", {}, 1, canonAt + 2);
        std::map<std::string, std::vector<uint8_t>> photos;  // folder\name -> bytes
        for (int i = 0; i < 40; ++i) {
            const std::string name = "旅行の写真_" + std::to_string(1000 + i) + "_夕焼けの海岸.JPG";
            photos["100VELD\\" + name] = test::MakeTestJpeg(80 + 8 * i, 60);
            card.AddFile(canon, name, photos["100VELD\\" + name]);
        }
        photos["101VELD\\IMG_0101.JPG"] = test::MakeTestJpeg(200, 150);
        card.AddFile(older, "IMG_0101.JPG", photos["101VELD\\IMG_0101.JPG"]);
        const auto back = loop ? card.AddDir(canon, "LOOP") : ExfatImageBuilder::Node{};
        card.Delete(older);
        ASSERT_EQ(card.Finish(), "");
        ASSERT_GT(card.DirectoryBytes(canon).size(), 4096u) << "100VELD was meant to span two clusters";
        const test::CommandResult before = test::RunCommand({"fls", "-r", "-p", "-f", "exfat", card.path()});
        ASSERT_EQ(before.exitCode, 0) << before.err;
        if (loop) {
            ChangeEntrySet(card, back, [&](std::vector<uint8_t>& set) {
                for (int k = 0; k < 4; ++k) set[32 + 20 + k] = uint8_t(dcimAt >> (8 * k));  // FirstCluster
            });
        }
        ASSERT_EQ(test::RunCommand({"mkfs.exfat", "-c", "4096", card.path()}).exitCode, 0);

        SearchSession session;
        SearchOptions options;
        options.flags = 0;
        ASSERT_EQ(RunSearch(session, 0, card.path(), options), SearchOk);
        const std::string top = std::string(kOrphanFolderGroup) + "\\" + UnnamedFolderName(dcimAt) + "\\";
        std::set<std::string> listed;
        for (size_t i = 0; i < session.gcDelFileList.Count(); ++i) {
            const DelFileInfo* r = session.gcDelFileList.Get(i);
            if (!r->listed || r->carved) continue;
            const std::string path = r->folder.value_or("") + "\\" + r->name.value_or("");
            EXPECT_TRUE(listed.insert(path).second) << path << " listed twice";
            ASSERT_EQ(path.rfind(top, 0), 0u) << path;
            const auto photo = photos.find(path.substr(top.size()));
            ASSERT_NE(photo, photos.end()) << path;
            EXPECT_EQ(FoundFileStateText(*r), "良") << path;
            EXPECT_EQ(Saved(session, *r), photo->second) << path;
        }
        EXPECT_EQ(listed.size(), photos.size());

        // The same files, in the same folders, as The Sleuth Kit lists them
        // before the format ("DCIM/100VELD/...", deleted ones too).
        std::set<std::string> ours, theirs;
        for (std::string path : listed) {
            path = "DCIM/" + path.substr(top.size());
            std::replace(path.begin(), path.end(), '\\', '/');
            ours.insert(path);
        }
        std::istringstream lines(before.out);
        for (std::string line; std::getline(lines, line);) {
            const size_t tab = line.find('\t');
            if (line.rfind("r/r", 0) == 0 && tab != std::string::npos && line.compare(tab + 1, 5, "DCIM/") == 0)
                theirs.insert(line.substr(tab + 1));
        }
        EXPECT_EQ(ours, theirs);
    }
}

// Thirty deleted two-cluster chains side by side whose sizes say 40
// clusters (the chain, then the free clusters after it: none, the next
// file's chain follows), 2^64 - 1 or 1 TiB (more than the heap holds: the
// chain alone, also for the last, which free space follows); and one more
// far from them whose 40 clusters the free space after its chain delivers.
// No list runs over the heap, only that one is whole, no size shows
// negative, and saving one of 2^64 - 1 bytes gives what its clusters hold.
TEST(ExfatDamagedSizes, DeletedChainsPlanTheirChainsAndSaveWhatTheyHold) {
    if (auto why = ToolsMissing(); !why.empty()) GTEST_SKIP() << why;
    test::TempDir dir;
    ExfatImageBuilder card(dir.File("card.img"), {.sizeBytes = 64ull << 20, .clusterSize = 4096});
    ASSERT_EQ(card.error(), "");
    const std::vector<uint8_t> bytes(4096 + 100, 'x');
    std::vector<ExfatImageBuilder::Node> files;
    for (int i = 0; i < 30; ++i)
        files.push_back(card.AddFile(card.Root(), "FILE" + std::to_string(i) + ".BIN", bytes, {.noFatChain = false}));
    auto spare = card.AddFile(card.Root(), "SPARE.BIN", bytes, {.noFatChain = false, .firstCluster = 10000});
    for (auto node : files) card.Delete(node);
    card.Delete(spare);
    ASSERT_EQ(card.Finish(), "");
    const uint64_t sizes[] = {40 * 4096, UINT64_MAX, 1ull << 40};
    for (size_t i = 0; i < files.size(); ++i) SetDataLength(card, files[i], sizes[i % 3]);
    SetDataLength(card, spare, 40 * 4096);

    SearchSession session;
    SearchOptions options;
    options.flags = 0;
    ASSERT_EQ(RunSearch(session, 0, card.path(), options), SearchOk);
    uint64_t planned = 0;
    for (size_t i = 0; i < files.size(); ++i) {
        SCOPED_TRACE(i);
        const DelFileInfo* r = Named(session, "FILE" + std::to_string(i) + ".BIN");
        ASSERT_NE(r, nullptr);
        EXPECT_EQ(r->clusterList.size(), 2u);
        EXPECT_NE(r->state, StateComplete);
        planned += r->clusterList.size();
        if (i % 3 == 1) {
            EXPECT_EQ(FoundFileColumnText(*r, ColSize), "17179869184.0Gﾊﾞｲﾄ");
            const std::vector<uint8_t> saved = Saved(session, *r);
            ASSERT_GE(saved.size(), bytes.size());
            EXPECT_TRUE(std::equal(bytes.begin(), bytes.end(), saved.begin()));
        }
    }
    const DelFileInfo* r = Named(session, "SPARE.BIN");
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(r->clusterList.size(), 40u);
    EXPECT_EQ(r->state, StateComplete);
    EXPECT_LT(planned + r->clusterList.size(), card.ClusterCount()) << "no list runs over the whole heap";
}

// Chains and folders that reach into the corners of a card of 40,000
// clusters, all read whole by one search:
// - a deleted file whose chain goes from the heap's last cluster back to an
//   earlier one;
// - a deleted file chained across cluster 16384, the first entry of the FAT's
//   second 64 KiB block, around a live file;
// - a deleted folder of two clusters written without a FAT chain whose stream
//   is then marked chained (its FAT entries are zero, as some systems leave
//   them on deletion): the files listed in its second cluster;
// - a deleted folder whose second cluster a live folder took, and one whose
//   second cluster a live folder no entry reaches took: their live entries
//   are not deleted files;
// - an allocation bitmap of two clusters whose FAT entries are zero: loaded
//   whole, so a live photo past its first cluster's clusters stays in use.
TEST(ExfatChains, ChainsAndFoldersAtTheCornersOfTheCardAreReadWhole) {
    if (auto why = ToolsMissing(); !why.empty()) GTEST_SKIP() << why;
    test::TempDir dir;
    ExfatImageBuilder card(dir.File("corners.img"), {.sizeBytes = 160ull << 20, .clusterSize = 4096});
    ASSERT_EQ(card.error(), "");
    ASSERT_GT(card.ClusterCount(), 40000u);
    const uint64_t last = uint64_t(card.ClusterCount()) + 1;
    auto root = card.Root();

    const std::vector<uint8_t> wrapped = test::MakeTestJpeg(800, 600);
    ASSERT_GT(wrapped.size(), 4096u);
    const std::vector<uint8_t> wrapHead(wrapped.begin(), wrapped.begin() + 4096);
    auto wrap = card.AddFile(root, "WRAP.JPG", wrapHead, {.noFatChain = false, .firstCluster = last});
    const uint64_t wrapTail = 30000;
    card.Delete(wrap);

    card.AddFile(root, "BLOCKER.BIN", std::vector<uint8_t>(5 * 4096, 0x42), {.firstCluster = 16385});
    const std::vector<uint8_t> across = test::MakeTestJpeg(800, 600);
    auto acrossNode = card.AddFile(root, "ACROSS.JPG", across, {.noFatChain = false, .firstCluster = 16383});
    const std::vector<uint64_t> acrossClusters = card.Clusters(acrossNode);
    ASSERT_GE(acrossClusters.size(), 3u);
    ASSERT_EQ(acrossClusters[1], 16384u);
    ASSERT_EQ(acrossClusters[2], 16390u);
    card.Delete(acrossNode);

    // Fifty entry sets of three slots each: 42 fill the first cluster.
    auto fill = [&](ExfatImageBuilder::Node folder, const std::string& stem) {
        for (int i = 0; i < 50; ++i)
            card.AddFile(folder, stem + std::to_string(100 + i) + ".TXT", std::vector<uint8_t>(100, uint8_t('a' + i % 26)));
    };
    auto unchained = card.AddDir(root, "UNCHAINED", {}, 2);
    fill(unchained, "U");
    auto gone = card.AddDir(root, "GONE", {}, 2);
    fill(gone, "G");
    auto lost = card.AddDir(root, "LOST", {}, 2);
    fill(lost, "L");
    // Deleted together, so that none takes another's freed clusters.
    for (auto folder : {unchained, gone, lost}) card.Delete(folder);
    const uint64_t goneFirst = card.FirstCluster(gone), lostFirst = card.FirstCluster(lost);
    auto taker = card.AddDir(root, "TAKER", {}, 1, goneFirst + 1);
    // Live files far from the freed clusters, which stay as deletion left them.
    card.AddFile(taker, "LIVE_1.JPG", test::MakeTestJpeg(64, 48), {.firstCluster = 36000});
    // Empty files own no cluster that could show them live: only the folder
    // read itself can keep them from being taken for deleted ones.
    card.AddFile(taker, "LIVE_0.TXT", {});

    auto orphan = card.AddDir(root, "ORPHAN", {}, 1, lostFirst + 1);
    card.AddFile(orphan, "ORPHANED_1.JPG", test::MakeTestJpeg(64, 48), {.firstCluster = 36100});
    card.AddFile(orphan, "ORPHANED_0.TXT", {});

    const std::vector<uint8_t> late = test::MakeTestJpeg(96, 72);
    card.AddFile(root, "LATE.JPG", late, {.firstCluster = 35000});
    ASSERT_EQ(card.Finish(), "");

    // The wrapped chain: the heap's last cluster, then an earlier one.
    const ExfatBootRegion region = ReadExfatBootRegion(test::ReadFileRange(card.path(), 0, kExfatBootHeadBytes), 0);
    ASSERT_TRUE(region.boot);
    const ExfatBoot& boot = *region.boot;
    auto putFat = [&](uint64_t cluster, uint32_t value) {
        const uint8_t bytes[4] = {uint8_t(value), uint8_t(value >> 8), uint8_t(value >> 16), uint8_t(value >> 24)};
        WriteBytes(card.path(), boot.ActiveFatOffset() + 4 * cluster, bytes);
    };
    const uint64_t tailClusters = (wrapped.size() - 4096 + 4095) / 4096;
    putFat(last, uint32_t(wrapTail));
    for (uint64_t k = 0; k < tailClusters; ++k)
        putFat(wrapTail + k, k + 1 < tailClusters ? uint32_t(wrapTail + k + 1) : 0xFFFFFFFF);
    WriteBytes(card.path(), card.ClusterOffset(wrapTail),
               std::span<const uint8_t>(wrapped).subspan(4096));
    SetDataLength(card, wrap, wrapped.size());
    // The folder stream marked chained: stream flags AllocationPossible only.
    ChangeEntrySet(card, unchained, [](std::vector<uint8_t>& set) { set[32 + 1] = 0x01; });
    // ORPHAN's set torn (its stream entry's type overwritten): no walk reaches it.
    const uint8_t wiped = 0x20;
    WriteBytes(card.path(), card.EntryOffset(orphan) + 32, std::span<const uint8_t>(&wiped, 1));
    // The bitmap's FAT entries zeroed.
    const ExfatRootEntries entries = ParseExfatRootEntries(
        test::ReadFileRange(card.path(), card.ClusterOffset(boot.rootCluster), boot.ClusterSize()), boot);
    ASSERT_NE(entries.ActiveBitmap(boot), nullptr);
    const uint64_t bitmapFirst = entries.ActiveBitmap(boot)->firstCluster;
    const uint64_t bitmapClusters = ExfatClustersFor(boot, (boot.clusterCount + 7) / 8);
    ASSERT_EQ(bitmapClusters, 2u);
    for (uint64_t k = 0; k < bitmapClusters; ++k) putFat(bitmapFirst + k, 0);

    SearchSession session;
    SearchOptions options;
    options.flags = 0;
    ASSERT_EQ(RunSearch(session, 0, card.path(), options), SearchOk);
    for (const auto& [name, bytes] : {std::pair{"WRAP.JPG", &wrapped}, std::pair{"ACROSS.JPG", &across}}) {
        SCOPED_TRACE(name);
        const DelFileInfo* r = Named(session, name);
        ASSERT_NE(r, nullptr);
        EXPECT_EQ(FoundFileStateText(*r), "良");
        EXPECT_EQ(Saved(session, *r), *bytes);
    }
    for (int i = 0; i < 50; ++i) {
        const std::string name = "U" + std::to_string(100 + i) + ".TXT";
        const DelFileInfo* r = Named(session, name);
        EXPECT_NE(r, nullptr) << name << (i >= 42 ? ", listed in the folder's second cluster" : "");
        if (r) EXPECT_EQ(r->folder.value_or(""), "UNCHAINED");
    }
    // The deleted folders' first clusters are still theirs; their second
    // clusters hold live entries, which are nobody's deleted files.
    for (const char* name : {"G100.TXT", "L100.TXT"}) EXPECT_NE(Named(session, name), nullptr) << name;
    for (size_t i = 0; i < session.gcDelFileList.Count(); ++i) {
        const DelFileInfo* r = session.gcDelFileList.Get(i);
        const std::string name = r->name.value_or("");
        EXPECT_EQ(name.find("LIVE_"), std::string::npos) << name << " in " << r->folder.value_or("");
        EXPECT_EQ(name.find("ORPHANED_"), std::string::npos) << name << " in " << r->folder.value_or("");
        EXPECT_NE(r->startCluster, 35000u) << name << ": the live photo past the bitmap's first cluster";
    }
    const auto* exfat = dynamic_cast<const ExfatFileSystem*>(session.clusterMap.fileSystem.get());
    ASSERT_NE(exfat, nullptr);
    EXPECT_TRUE(exfat->HasBitmap());
    EXPECT_TRUE(AllocatedOnCard(session.clusterMap, 35000));
}

uint32_t Crc(std::istream& in, uint64_t bytes) {
    std::vector<char> buffer(1 << 20);
    uLong crc = crc32(0, nullptr, 0);
    while (bytes > 0 && in) {
        const size_t take = size_t(std::min<uint64_t>(bytes, buffer.size()));
        in.read(buffer.data(), std::streamsize(take));
        crc = crc32(crc, reinterpret_cast<const Bytef*>(buffer.data()), uInt(in.gcount()));
        bytes -= uint64_t(in.gcount());
    }
    return uint32_t(crc);
}

QJsonObject OnlyRecordNamed(const std::string& jsonLines, const std::string& name) {
    std::istringstream lines(jsonLines);
    for (std::string line; std::getline(lines, line);) {
        QJsonObject o = QJsonDocument::fromJson(QByteArray::fromStdString(line)).object();
        if (o["name"].toString().toStdString() == name) return o;
    }
    return {};
}

// A deleted clip of more than 4 GiB: listed with its whole size and saved
// whole through veld-cli. The saved copy is removed with the test's folder.
TEST(ExfatLargeFiles, ClipOfMoreThanFourGibIsSavedWhole) {
    if (auto why = ToolsMissing(); !why.empty()) GTEST_SKIP() << why;
    test::TempDir dir;
    // The saved copy really takes its 4 GiB on disk.
    if (std::filesystem::space(dir.path()).available < (6ull << 30)) GTEST_SKIP() << "less than 6 GiB free";
    ExfatImageBuilder card(dir.File("big.img"), {.sizeBytes = 5ull << 30, .clusterSize = 128 * 1024});
    ASSERT_EQ(card.error(), "");
    const uint64_t size = (4ull << 30) + 123457;
    const std::vector<uint8_t> head = test::MakeTestMp4(100000), tail(4000, 0x7E);
    auto clip = card.AddFile(card.Root(), "MVI_9999.MP4", head, {.size = size, .tail = tail});
    card.Delete(clip);
    ASSERT_EQ(card.Finish(), "");

    const std::string saveTo = dir.File("saved");
    std::filesystem::create_directories(saveTo);
    const test::CommandResult r =
        test::RunCommand({VELD_CLI_PATH, "search", "--json", "--no-detail", "--save", saveTo, card.path()});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const QJsonObject record = OnlyRecordNamed(r.out, "MVI_9999.MP4");
    ASSERT_FALSE(record.isEmpty()) << r.out;
    EXPECT_EQ(uint64_t(record["size"].toDouble()), size);
    // Its boxes end after the first 100000 bytes, far short of its size: the
    // state says so, and the bytes are saved all the same.
    EXPECT_EQ(record["state_text"].toString().toStdString(), "内容が一致しません");
    const std::string saved = record["saved"].toString().toStdString();
    ASSERT_EQ(std::filesystem::file_size(saved), size);

    std::ifstream image(card.path(), std::ios::binary), copy(saved, std::ios::binary);
    image.seekg(std::streamoff(card.ClusterOffset(card.FirstCluster(clip))));
    EXPECT_EQ(Crc(copy, size), Crc(image, size));
    std::filesystem::remove(saved);
}

// A 1 TiB card (sparse) with a deleted photo in its very last cluster: a
// search over the last clusters finds it there.
TEST(ExfatLargeFiles, TerabyteCardPhotoInTheLastCluster) {
    if (auto why = ToolsMissing(); !why.empty()) GTEST_SKIP() << why;
    test::TempDir dir;
    ExfatImageBuilder card(dir.File("tera.img"), {.sizeBytes = 1ull << 40, .clusterSize = 128 * 1024});
    ASSERT_EQ(card.error(), "");
    const uint64_t last = uint64_t(card.ClusterCount()) + 1;
    const std::vector<uint8_t> photo = test::MakeTestJpeg(160, 120);
    ASSERT_LE(photo.size(), card.ClusterSize());
    card.Delete(card.AddFile(card.Root(), "IMG_LAST.JPG", photo, {.firstCluster = last}));
    ASSERT_EQ(card.Finish(), "");

    const test::CommandResult r = test::RunCommand({VELD_CLI_PATH, "search", "--json", "--first",
                                                    std::to_string(last - 50), "--last", std::to_string(last),
                                                    card.path()});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    bool found = false;
    std::istringstream lines(r.out);
    for (std::string line; std::getline(lines, line);) {
        QJsonObject o = QJsonDocument::fromJson(QByteArray::fromStdString(line)).object();
        if (uint64_t(o["start_cluster"].toDouble()) == last && o["ext"].toString() == "JPG") {
            found = true;
            EXPECT_EQ(uint64_t(o["size"].toDouble()), photo.size());
        }
    }
    EXPECT_TRUE(found) << r.out << r.err;
}

}  // namespace
}  // namespace veld
