// The signature search over whole cards: which clusters it reads, what it
// carves and registers, progress, cancellation and the end of the source.
#include <gtest/gtest.h>

#include <functional>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "base/search_progress.h"
#include "finder/cluster_classifier.h"
#include "finder/search_session.h"
#include "finder/signature_search.h"
#include "finder/tiff_raw_walk.h"
#include "finder/isobmff_walk.h"
#include "search/found_file_columns.h"
#include "search/search_driver.h"
#include "support/counting_device.h"
#include "support/fat_image_builder.h"
#include "support/mkfs_tools.h"
#include "support/search_card.h"
#include "support/test_jpeg.h"
#include "volume/cluster_map.h"
#include "volume/raw_file_system.h"

namespace veld {
namespace {

using Bytes = std::vector<uint8_t>;

using test::UseCard;

uint32_t LastCluster(const DiskVolume& v) { return uint32_t(v.clusterCount + 1); }

std::vector<DelFileInfo> Found(SearchSession& session) {
    std::vector<DelFileInfo> out;
    for (size_t i = 0; i < session.gcDelFileList.Count(); ++i) out.push_back(*session.gcDelFileList.CopyAt(i));
    return out;
}

const DelFileInfo* Named(const std::vector<DelFileInfo>& found, const std::string& name) {
    for (const auto& f : found)
        if (f.name && *f.name == name) return &f;
    return nullptr;
}

// A picture of several clusters that is no text, with a start that survives.
Bytes Picture(int width = 320, int height = 240, const test::TestExif* exif = nullptr) {
    return test::MakeTestJpeg(width, height, exif);
}

// Collects what the search shows on the progress display.
class Recorder : public ProgressDisplay {
public:
    explicit Recorder(SearchSession& session) : session_(session) { session_.progress.Attach(this); }
    ~Recorder() override { session_.progress.Attach(nullptr); }
    void SetLine(int line, const std::string& text) override {
        if (line == 1) headings.push_back(text);
    }
    void SetPercent(int percent) override { percents.push_back(percent); }
    bool Saw(const std::string& heading) const {
        return std::find(headings.begin(), headings.end(), heading) != headings.end();
    }
    std::vector<std::string> headings;
    std::vector<int> percents;

private:
    SearchSession& session_;
};

TEST(SignatureSearch, CarvesPlantedPicturesAndClips) {
    SearchSession session;
    test::TestExif exif;
    exif.make = "Veld Optical";
    exif.model = "VX-200";
    exif.dateTime = "2010:03:04 05:06:07";
    const Bytes withExif = Picture(400, 300, &exif);
    const Bytes plain = Picture(200, 150);
    const Bytes clip = test::MakeTestMp4(7000);
    const Bytes cutClip = test::MakeTestMp4(7000, test::TestMp4{.order = {"mdat"}});

    test::FatImageBuilder b(test::FatGeometry::Fat16());
    const uint32_t cs = b.ClusterSize();
    ASSERT_LT(withExif.size(), size_t(50 * cs));
    ASSERT_LT(plain.size(), size_t(50 * cs));
    b.WriteCluster(100, withExif);
    b.WriteCluster(150, plain);
    b.WriteCluster(200, clip);
    b.WriteCluster(250, cutClip);
    DiskVolume& v = UseCard(session, b);

    EXPECT_EQ(SearchClusters(session, 2, LastCluster(v)), 0);
    const auto found = Found(session);
    ASSERT_EQ(found.size(), 4u);

    const DelFileInfo* a = Named(found, "#00000100.jpg");
    ASSERT_NE(a, nullptr);
    EXPECT_EQ(a->fileSize, withExif.size());
    EXPECT_EQ(a->startCluster, 100u);
    EXPECT_EQ(a->jpeg.make, "Veld Optical");
    EXPECT_EQ(a->jpeg.model, "VX-200");
    EXPECT_EQ(a->jpeg.frameWidth, 400);
    EXPECT_EQ(a->jpeg.frameHeight, 300);
    EXPECT_EQ(a->firstClass, ContentClass::JpegStart);
    EXPECT_EQ(a->state, StateComplete);
    EXPECT_FALSE(a->fatEntry);  // no directory entry: no made-up one either

    const DelFileInfo* p = Named(found, "#00000150.jpg");
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(p->fileSize, plain.size());
    EXPECT_TRUE(p->jpeg.make.empty());

    const DelFileInfo* m = Named(found, "#00000200.mp4");
    ASSERT_NE(m, nullptr);
    EXPECT_EQ(m->fileSize, clip.size());
    EXPECT_EQ(m->mp4.majorBrand, "isom");
    EXPECT_FALSE(m->fatEntry);

    // A clip without moov (a recording cut short) keeps its frames, partly missing.
    const DelFileInfo* cut = Named(found, "#00000250.mp4");
    ASSERT_NE(cut, nullptr);
    EXPECT_EQ(cut->fileSize, cutClip.size());
    EXPECT_EQ(FoundFileStateText(*cut), "一部欠損");

    // The walked clusters carry the data classes, the start cluster included.
    const uint32_t jpegLast = 100 + uint32_t((withExif.size() - 2) / cs);
    for (uint32_t k = 100; k < jpegLast; ++k) EXPECT_EQ(ClusterClass(session.clusterMap, k), ContentClass::JpegData) << k;
    const uint32_t clipLast = 200 + uint32_t(clip.size() / cs);
    for (uint32_t k = 200; k < clipLast; ++k) EXPECT_EQ(ClusterClass(session.clusterMap, k), ContentClass::Mp4Data) << k;
    EXPECT_EQ(ClusterClass(session.clusterMap, 300), ContentClass::Fill);
}

TEST(SignatureSearch, CarvedNamesCarryTheStartCluster) {
    SearchSession session;
    test::FatImageBuilder b(test::FatGeometry::Fat16());
    ASSERT_GT(b.ClusterCount(), 1300u);
    b.WriteCluster(1234, Picture());
    b.WriteCluster(77, test::MakeTestMp4(3000));
    DiskVolume& v = UseCard(session, b);
    SearchClusters(session, 2, LastCluster(v));
    const auto found = Found(session);
    EXPECT_NE(Named(found, "#00001234.jpg"), nullptr);
    EXPECT_NE(Named(found, "#00000077.mp4"), nullptr);
    EXPECT_EQ(found.size(), 2u);
}

// A picture whose walk ends early keeps the clusters it has, partly missing:
// a start followed by zeros, a start followed by the next picture's start;
// so does a clip whose mdat was never closed.
// No record is ever empty, and the search goes on after each.
TEST(SignatureSearch, WalksCutShortKeepWhatTheyHave) {
    SearchSession session;
    test::FatImageBuilder b(test::FatGeometry::Fat16());
    const uint32_t cs = b.ClusterSize();
    Bytes start = Picture(640, 480);
    ASSERT_GT(start.size(), size_t(3 * cs));
    Bytes top = start;
    start.resize(cs);  // the next cluster stays zero
    b.WriteCluster(300, start);
    top.resize(3 * cs);  // the next picture starts in the cluster after it
    b.WriteCluster(400, top);
    const Bytes next = Picture();
    b.WriteCluster(403, next);
    b.WriteCluster(500, test::MakeTestMp4(7000, test::TestMp4{.order = {"junk", "moov", "mdat"}}));
    b.WriteCluster(600, Picture());
    // A recording cut by a power loss: no moov, its mdat's size never written.
    Bytes open = test::MakeTestMp4(7000, test::TestMp4{.order = {"mdat"}});
    const auto atoms = test::TopLevelAtoms(open);
    ASSERT_EQ(atoms.back().type, "mdat");
    std::fill_n(open.begin() + atoms.back().offset, 4, 0);
    b.WriteCluster(700, open);
    DiskVolume& v = UseCard(session, b);
    SearchClusters(session, 2, LastCluster(v));
    const auto found = Found(session);
    for (const DelFileInfo& f : found) EXPECT_NE(f.fileSize, 0u) << *f.name;
    ASSERT_EQ(found.size(), 5u);
    struct Expected {
        const char* name;
        uint64_t size;
        const char* state;
    };
    for (const Expected& e : {Expected{"#00000300.jpg", cs, "一部欠損"}, Expected{"#00000400.jpg", 3ull * cs, "一部欠損"},
                              Expected{"#00000403.jpg", next.size(), "良"}, Expected{"#00000600.jpg", 0, "良"},
                              Expected{"#00000700.mp4", (open.size() + cs - 1) / cs * cs, "一部欠損"}}) {
        const DelFileInfo* f = Named(found, e.name);
        ASSERT_NE(f, nullptr) << e.name;
        if (e.size != 0) EXPECT_EQ(f->fileSize, e.size) << e.name;
        EXPECT_EQ(FoundFileStateText(*f), e.state) << e.name;
    }
    EXPECT_EQ(ClusterClass(session.clusterMap, 300), ContentClass::JpegStart);
    EXPECT_EQ(ClusterClass(session.clusterMap, 301), ContentClass::Fill);
    EXPECT_EQ(ClusterClass(session.clusterMap, 500), ContentClass::Mp4Start);
}

TEST(SignatureSearch, ClaimedClustersExaminedOnlyInDetailedSearch) {
    SearchSession session;
    test::FatImageBuilder b(test::FatGeometry::Fat16());
    const Bytes jpeg = Picture();
    const uint32_t clusters = b.ClustersFor(jpeg.size());
    ASSERT_GT(clusters, 1u);
    b.WriteCluster(400, jpeg);
    b.WriteCluster(600, Picture());

    for (int32_t flags : {0, int32_t(SearchDetailed)}) {
        DiskVolume& v = UseCard(session, b, flags);
        for (uint32_t k = 400; k < 400 + clusters; ++k) SetClusterState(session.clusterMap, k, ClusterUse::DeletedFile);
        SetClusterState(session.clusterMap, 500, ClusterUse::LiveFolder);
        SearchClusters(session, 2, LastCluster(v));
        const auto found = Found(session);
        EXPECT_NE(Named(found, "#00000600.jpg"), nullptr) << flags;  // free: always examined
        if (flags == 0) {
            EXPECT_EQ(ClusterClass(session.clusterMap, 500), ContentClass::Folder);  // a folder's cluster is marked without reading it
            EXPECT_EQ(Named(found, "#00000400.jpg"), nullptr);
            EXPECT_EQ(ClusterClass(session.clusterMap, 400), ContentClass::None);
            EXPECT_EQ(found.size(), 1u);
        } else {
            EXPECT_NE(Named(found, "#00000400.jpg"), nullptr);
            EXPECT_EQ(ClusterClass(session.clusterMap, 400), ContentClass::JpegData);
            EXPECT_EQ(ClusterClass(session.clusterMap, 500), ContentClass::Fill);  // read like any other: it holds zeros
        }
    }
}

TEST(SignatureSearch, WalkedClustersAreNotReadAgain) {
    SearchSession session;
    // The second cluster of a picture happens to hold "ftyp" at byte 4; the
    // walk took it, so no clip is carved from it.
    test::FatImageBuilder b(test::FatGeometry::Fat16());
    const uint32_t cs = b.ClusterSize();
    Bytes jpeg = Picture(640, 480);
    ASSERT_GT(jpeg.size(), size_t(3 * cs));
    std::memcpy(&jpeg[cs + 4], "ftyp", 4);
    b.WriteCluster(100, jpeg);
    DiskVolume& v = UseCard(session, b);

    Bytes probe(jpeg.begin() + cs, jpeg.begin() + 2 * cs);
    ASSERT_EQ(ClassifyCluster(v, probe.data(), probe.size()), ContentClass::Mp4Start);

    SearchClusters(session, 2, LastCluster(v));
    const auto found = Found(session);
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(*found[0].name, "#00000100.jpg");
    EXPECT_EQ(found[0].fileSize, jpeg.size());
    EXPECT_EQ(ClusterClass(session.clusterMap, 101), ContentClass::JpegData);
}

TEST(SignatureSearch, DeletedFolderInFreeSpaceIsScannedOnFatVolumes) {
    SearchSession session;
    test::FatImageBuilder b(test::FatGeometry::Fat16());
    const Bytes jpeg = Picture();
    // A deleted folder's cluster with nothing pointing at it any more.
    auto dir = b.Dir({500});
    dir.AddDotEntries(0);
    dir.AddDeletedFile("LOST.JPG", 510, jpeg);

    auto fromDirectory = [](const std::vector<DelFileInfo>& found) {
        for (const auto& f : found)
            if (f.startCluster == 510 && f.name && f.name->rfind("#000", 0) != 0) return true;
        return false;
    };

    DiskVolume& v = UseCard(session, b);
    std::vector<uint8_t> cluster(b.bytes().begin() + b.ClusterOffset(500),
                                 b.bytes().begin() + b.ClusterOffset(500) + b.ClusterSize());
    ASSERT_EQ(ClassifyCluster(v, cluster.data(), cluster.size()), ContentClass::Folder);
    SearchClusters(session, 2, LastCluster(v));
    EXPECT_TRUE(fromDirectory(Found(session)));
    EXPECT_EQ(ClusterClass(session.clusterMap, 500), ContentClass::Folder);

    // The same card taken as a volume without FAT directories: not scanned.
    DiskVolume& w = UseCard(session, b);
    w.volumeKind = VolumeNtfs;
    w.fileSystem = std::make_shared<RawFileSystem>();
    SearchClusters(session, 2, LastCluster(w));
    EXPECT_FALSE(fromDirectory(Found(session)));
    EXPECT_NE(Named(Found(session), "#00000510.jpg"), nullptr);  // the data is still carved
}

TEST(SignatureSearch, ProgressPhasesAndSingleClusterRange) {
    SearchSession session;
    test::FatImageBuilder b(test::FatGeometry::Fat16());
    b.WriteCluster(100, Picture(640, 480));
    b.WriteCluster(200, test::MakeTestMp4(9000));
    DiskVolume& v = UseCard(session, b);
    {
        Recorder rec(session);
        SearchClusters(session, 2, LastCluster(v));
        EXPECT_TRUE(rec.Saw("詳細検索"));
        EXPECT_TRUE(rec.Saw("詳細検索(JPEG)"));
        EXPECT_TRUE(rec.Saw("詳細検索(MP4)"));
        ASSERT_FALSE(rec.percents.empty());
        EXPECT_EQ(rec.percents.front(), 0);
        EXPECT_EQ(rec.percents.back(), 100);
        EXPECT_TRUE(std::is_sorted(rec.percents.begin(), rec.percents.end()));
    }
    {
        // First and last equal: one cluster, no division by an empty range.
        Recorder rec(session);
        session.ClearFoundFileLists();
        EXPECT_EQ(SearchClusters(session, 100, 100), 0);
        EXPECT_EQ(Named(Found(session), "#00000100.jpg") != nullptr, true);
        ASSERT_FALSE(rec.percents.empty());
        EXPECT_EQ(rec.percents.back(), 100);
        for (int p : rec.percents) EXPECT_TRUE(p >= 0 && p <= 100) << p;
    }
}

TEST(SignatureSearch, CancelStopsAfterTheCurrentCluster) {
    SearchSession session;
    test::FatImageBuilder b(test::FatGeometry::Fat16());
    b.WriteCluster(10, Picture());
    b.WriteCluster(500, Picture());
    DiskVolume& v = UseCard(session, b);
    session.cancelFlag = 1;
    Recorder rec(session);
    SearchClusters(session, 10, LastCluster(v));
    session.cancelFlag = 0;
    const auto found = Found(session);
    ASSERT_EQ(found.size(), 1u);  // the cluster in hand is finished
    EXPECT_EQ(*found[0].name, "#00000010.jpg");
    EXPECT_EQ(ClusterClass(session.clusterMap, 500), ContentClass::None);
    ASSERT_FALSE(rec.percents.empty());
    EXPECT_EQ(rec.percents.back(), 100);  // the end is still reported
}

TEST(SignatureSearch, ReadFailureEndsTheSearch) {
    SearchSession session;
    test::FatImageBuilder b(test::FatGeometry::Fat16());
    b.WriteCluster(100, Picture());
    b.bytes().resize(b.ClusterOffset(300) + 100);  // the source ends inside cluster 300
    DiskVolume& v = UseCard(session, b);
    Recorder rec(session);
    EXPECT_EQ(SearchClusters(session, 2, LastCluster(v)), 0);
    EXPECT_NE(Named(Found(session), "#00000100.jpg"), nullptr);
    EXPECT_EQ(ClusterClass(session.clusterMap, 299), ContentClass::Fill);
    EXPECT_EQ(ClusterClass(session.clusterMap, 300), ContentClass::None);
    EXPECT_EQ(rec.percents.back(), 100);

    // Ranges that start below the data area or end at the largest number.
    session.ClearFoundFileLists();
    EXPECT_EQ(SearchClusters(session, 0, 0xFFFFFFFFu), 0);
    EXPECT_NE(Named(Found(session), "#00000100.jpg"), nullptr);
}

// A card whose reads fail where they touch [badFrom, badTo), like unreadable
// sectors; with positional set, reads at an offset are safe from two threads.
class BadSectors final : public RawDevice {
public:
    BadSectors(std::vector<uint8_t> bytes, int64_t badFrom, int64_t badTo, bool positional)
        : bytes_(std::move(bytes)), badFrom_(badFrom), badTo_(badTo), positional_(positional) {}
    bool Seek(int64_t offset) override { return offset >= 0 && (pos_ = offset, true); }
    bool Read(void* buffer, uint32_t count, uint32_t* done) override {
        const bool ok = ReadAt(pos_, buffer, count, done);
        pos_ += *done;
        return ok;
    }
    bool ReadAt(int64_t offset, void* buffer, uint32_t count, uint32_t* done) override {
        *done = 0;
        if (offset < badTo_ && offset + int64_t(count) > badFrom_) return false;
        const uint64_t left = uint64_t(offset) < bytes_.size() ? bytes_.size() - uint64_t(offset) : 0;
        *done = uint32_t(std::min<uint64_t>(count, left));
        std::memcpy(buffer, bytes_.data() + offset, *done);
        return true;
    }
    bool PositionalReads() const override { return positional_; }
    bool Write(const void*, uint32_t, uint32_t* done) override { return *done = 0, false; }
    int64_t Size() const override { return int64_t(bytes_.size()); }

private:
    std::vector<uint8_t> bytes_;
    int64_t badFrom_, badTo_;
    bool positional_;
    int64_t pos_ = 0;
};

TEST(SignatureSearch, UnreadableClustersAreSkippedListedAndTheSearchGoesOn) {
    for (const bool positional : {false, true}) {
        SCOPED_TRACE(positional ? "reader thread" : "reads on the search's thread");
        SearchSession session;
        test::FatImageBuilder b(test::FatGeometry::Fat16());
        b.WriteCluster(100, Picture());
        b.WriteCluster(900, Picture());
        b.WriteCluster(2000, Picture());
        DiskVolume& v = UseCard(session, b);
        // Clusters 400-402 cannot be read.
        auto bad = std::make_unique<BadSectors>(b.bytes(), b.ClusterOffset(400), b.ClusterOffset(403), positional);
        v.device = std::move(bad);
        SearchClusters(session, 2, 3000);
        const auto found = Found(session);
        EXPECT_NE(Named(found, "#00000100.jpg"), nullptr);
        EXPECT_NE(Named(found, "#00000900.jpg"), nullptr);
        EXPECT_NE(Named(found, "#00002000.jpg"), nullptr);
        ASSERT_EQ(session.notExamined.size(), 1u);
        EXPECT_EQ(session.notExamined[0].first, 400u);
        EXPECT_EQ(session.notExamined[0].last, 402u);
        EXPECT_EQ(session.notExamined[0].reason, NotExaminedReadError);
        EXPECT_EQ(ClusterClass(session.clusterMap, 403), ContentClass::Fill);
    }
}

TEST(SignatureSearch, ImageFileCutInsideAPicture) {
    SearchSession session;
    // Through an image file: the last picture is cut by the end of the file,
    // the one before it is carved whole.
    test::FatImageBuilder b(test::FatGeometry::Fat16());
    const Bytes whole = Picture();
    const Bytes cut = Picture(640, 480);
    b.WriteCluster(100, whole);
    b.WriteCluster(400, cut);
    b.bytes().resize(b.ClusterOffset(400) + cut.size() / 2);
    test::TempDir dir;
    const std::string path = b.WriteTo(dir, "card.img");
    ASSERT_FALSE(path.empty());

    session.volume = DiskIO_OpenImage(path, false);
    ASSERT_TRUE(session.volume);
    DiskVolume& v = *session.volume;
    ReadFat(session.clusterMap, v);
    session.ClearFoundFileLists();
    session.options = SearchOptions{};
    session.startWindow = nullptr;
    EXPECT_EQ(SearchClusters(session, 2, LastCluster(v)), 0);
    const auto found = Found(session);
    ASSERT_NE(Named(found, "#00000100.jpg"), nullptr);
    EXPECT_EQ(Named(found, "#00000100.jpg")->fileSize, whole.size());
    // Its end cannot be found: the whole clusters the file holds are kept
    // (its partial last sector reads whole).
    const DelFileInfo* top = Named(found, "#00000400.jpg");
    ASSERT_NE(top, nullptr);
    const size_t held = (cut.size() / 2 + 511) / 512 * 512;
    EXPECT_EQ(top->fileSize, held / b.ClusterSize() * b.ClusterSize());
    EXPECT_EQ(FoundFileStateText(*top), "一部欠損");
}

// A free area erased with 0xE5 (a common erase pattern): an erased cluster is
// no directory, so no folder scan starts there, and the whole search reads
// each cluster about once. What was planted in the erased area is found.
TEST(SignatureSearch, FreeAreaErasedWith0xE5IsSearchedInLinearWork) {
    SearchSession session;
    test::FatImageBuilder b(test::FatGeometry::Fat12(2048, 1));  // 1 MiB, 512-byte clusters
    const uint32_t last = b.ClusterCount() + 1;
    for (uint32_t c = 2; c <= last; ++c) b.FillCluster(c, 0xE5);
    const Bytes photo = Picture(160, 120);
    const Bytes inFolder = Picture(200, 150);
    const Bytes loose = Picture(120, 90);
    // A deleted photo whose entry is still in the root.
    b.Root().AddDeletedFile("PHOTO.JPG", 100, photo, "photo.jpg");
    // A deleted folder whose own entry is gone: its cluster, among erased
    // ones, keeps a deleted photo.
    auto folder = b.Dir({600});
    folder.AddDotEntries(0);
    folder.AddDeletedFile("TRIP.JPG", 610, inFolder, "trip.jpg");
    folder.AddEnd();
    // A photo that no entry names.
    b.WriteCluster(1500, loose);

    // The whole search, as the driver runs it.
    DiskVolume& v = UseCard(session, b);
    const uint64_t clusters = last - 1;
    const test::CountingDevice* device = test::CountReads(v, 3 * clusters);
    EXPECT_EQ(SearchOpenVolume(session, session.options), SearchOk);

    EXPECT_FALSE(device->exhausted());
    EXPECT_LE(device->reads(), 2 * clusters);
    const auto found = Found(session);
    const DelFileInfo* p = Named(found, "photo.jpg");
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(p->fileSize, photo.size());
    const DelFileInfo* t = Named(found, "trip.jpg");
    ASSERT_NE(t, nullptr);
    EXPECT_EQ(t->fileSize, inFolder.size());
    EXPECT_EQ(t->state, StateComplete);
    const DelFileInfo* l = Named(found, "#00001500.jpg");
    ASSERT_NE(l, nullptr);
    EXPECT_EQ(l->fileSize, loose.size());
    EXPECT_EQ(ClusterClass(session.clusterMap, 601), ContentClass::Fill);
}

// Starts in every cluster that promise a file and prove none: an "ftyp"
// with a "free" box and no more, an "ftyp" whose next box jumps 32 MiB, a
// TIFF header whose IFD names a whole array of strip offsets and no byte
// counts, a TIFF whose SubIFDs name one huge array. One walk from such a
// start reads a few clusters, not the run of them nor the array (a walk per
// cluster made the search's cost grow with the square of the run); the
// search finds nothing in them and the photo after them.
TEST(SignatureSearch, HostileStartsInEveryClusterCostLinearWork) {
    auto be32 = [](Bytes& b, size_t at, uint32_t v) {
        for (int k = 0; k < 4; ++k) b[at + size_t(k)] = uint8_t(v >> (24 - 8 * k));
    };
    auto le16 = [](Bytes& b, size_t at, uint16_t v) { b[at] = uint8_t(v), b[at + 1] = uint8_t(v >> 8); };
    auto le32 = [&](Bytes& b, size_t at, uint32_t v) { le16(b, at, uint16_t(v)), le16(b, at + 2, uint16_t(v >> 16)); };
    auto ftyp = [&](Bytes& b) {
        be32(b, 0, 16);
        std::memcpy(b.data() + 4, "ftypisom\0\0\0\0", 12);
    };
    // A TIFF header and one IFD entry (tag, type LONG, count, offset 8 on).
    auto tiff = [&](Bytes& b, uint16_t tag, uint32_t count) {
        std::memcpy(b.data(), "II*\0", 4);
        le32(b, 4, 8);
        le16(b, 8, 1);
        le16(b, 10, tag), le16(b, 12, 4), le32(b, 14, count), le32(b, 18, 64);
        le32(b, 22, 0);
    };
    const struct {
        const char* what;
        std::function<void(Bytes&)> make;
        bool tiff;
    } cases[] = {
        {"ftyp and free", [&](Bytes& b) { ftyp(b), be32(b, 16, uint32_t(b.size() - 16)), std::memcpy(b.data() + 20, "free", 4); }, false},
        {"a box jumping 32 MiB", [&](Bytes& b) { ftyp(b), be32(b, 16, 32u << 20), std::memcpy(b.data() + 20, "skip", 4); }, false},
        {"strip offsets without counts", [&](Bytes& b) { tiff(b, 273, 100000); }, true},
        {"SubIFDs naming one array", [&](Bytes& b) { tiff(b, 330, 100000); }, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        SearchSession session;
        test::FatImageBuilder b(test::FatGeometry::Fat12(2048, 1));  // 1 MiB, 512-byte clusters
        const uint32_t last = b.ClusterCount() + 1, photoAt = last - 20;
        Bytes sector(b.ClusterSize(), 0);
        c.make(sector);
        for (uint32_t k = 2; k < photoAt; ++k) b.WriteCluster(k, sector);
        const Bytes photo = Picture(64, 48);
        b.WriteCluster(photoAt, photo);
        DiskVolume& v = UseCard(session, b);
        const test::CountingDevice* device = test::CountReads(v, UINT64_MAX);
        MediaInfo media;
        JpegInfo exif;
        Mp4Info mp4;
        EXPECT_EQ(c.tiff ? WalkTiffRaw(session, 2, &media, &exif) : WalkIsoBmff(session, 2, &mp4, &media), 0u);
        EXPECT_LE(device->bytes(), 16u * b.ClusterSize());
        EXPECT_EQ(SearchOpenVolume(session, session.options), SearchOk);
        const auto found = Found(session);
        ASSERT_EQ(found.size(), 1u);
        EXPECT_EQ(found[0].fileSize, photo.size());
    }
}

// A long run of clusters that all look like deleted folders (each full of
// deleted entries): with the detailed search every cluster is examined, but
// none is read as a directory twice, so the work stays linear.
TEST(SignatureSearch, RunOfFolderClustersIsScannedAsDirectoryOnce) {
    SearchSession session;
    test::FatImageBuilder b(test::FatGeometry::Fat16());
    const uint32_t first = 1000, count = 300;
    std::vector<uint32_t> run;
    for (uint32_t i = 0; i < count; ++i) run.push_back(first + i);
    auto dir = b.Dir(run);
    const size_t slots = size_t(count) * b.ClusterSize() / 32;
    for (size_t i = 0; i < slots; ++i) {
        test::Entry e;
        e.name = "F" + std::to_string(i) + ".TXT";
        e.deleted = true;
        e.startCluster = 0x00FF0000;  // far beyond the card: never listed
        e.size = 100;
        dir.Add(e);
    }
    DiskVolume& v = UseCard(session, b);  // detailed: claimed clusters are examined too
    const uint32_t last = LastCluster(v);
    const test::CountingDevice* device = test::CountReads(v, 3ull * last);
    SearchClusters(session, 2, last);

    EXPECT_FALSE(device->exhausted());
    EXPECT_LE(device->reads(), uint64_t(last) + 2 * count);
    for (uint32_t c = first; c < first + count; ++c) {
        EXPECT_EQ(ClusterState(session.clusterMap, c), ClusterUse::DeletedFolder) << c;
        EXPECT_EQ(ClusterClass(session.clusterMap, c), ContentClass::Folder) << c;
    }
}

}  // namespace
}  // namespace veld
