// Cards where photos were deleted, new ones shot over them and those deleted
// in turn, on FAT16 and exFAT, searched end to end: every record called "良"
// holds its own file's bytes, every photo whose clusters nothing overwrote
// comes back "良" and byte-identical, an older entry whose start cluster a
// newer photo took is "上書きされています", a photo whose scan data libjpeg
// finds corrupt is "内容が一致しません", and no photo is listed twice (not
// even as a carved record of another length at a good photo's start).
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "search/extraction.h"
#include "search/found_file_columns.h"
#include "search/search_driver.h"
#include "support/exfat_image_builder.h"
#include "support/fat_image_builder.h"
#include "support/mkfs_tools.h"
#include "support/test_jpeg.h"

namespace veld {
namespace {

using test::FatImageBuilder;

// One file the card held: where it was written, and whether a later file
// took any of its clusters.
struct Shot {
    std::string name;
    uint64_t start = 0;
    std::vector<uint8_t> bytes;
    bool deleted = true;
    bool intact = true;
    bool startTaken = false;  // a newer deleted photo starts at its start cluster
    bool corrupt = false;     // its scan data was spoiled (structure intact)
};

// Marks the shots whose clusters a later shot (in the order given) wrote over.
void MarkOverwritten(std::vector<Shot>& shots, uint32_t clusterSize) {
    std::map<uint64_t, size_t> lastWriter;
    for (size_t i = 0; i < shots.size(); ++i) {
        const uint64_t count = (shots[i].bytes.size() + clusterSize - 1) / clusterSize;
        for (uint64_t c = shots[i].start; c < shots[i].start + count; ++c) lastWriter[c] = i;
    }
    for (size_t i = 0; i < shots.size(); ++i) {
        const uint64_t count = (shots[i].bytes.size() + clusterSize - 1) / clusterSize;
        for (uint64_t c = shots[i].start; c < shots[i].start + count; ++c)
            if (lastWriter[c] != i) shots[i].intact = false;
        for (size_t j = i + 1; j < shots.size(); ++j)
            if (shots[j].deleted && shots[j].start == shots[i].start) shots[i].startTaken = true;
    }
}

// Sets 64 bytes of the middle of the first scan's data to FF 00 pairs: still
// a valid marker structure (FF 00 is a stuffed data byte), but codes no
// Huffman table holds.
void SpoilScanData(std::vector<uint8_t>& jpeg) {
    size_t sos = 0;
    for (size_t i = 2; i + 3 < jpeg.size(); ++i)
        if (jpeg[i] == 0xFF && jpeg[i + 1] == 0xDA) {
            sos = i + 2 + (size_t(jpeg[i + 2]) << 8 | jpeg[i + 3]);
            break;
        }
    ASSERT_GT(sos, 0u);
    const size_t at = sos + (jpeg.size() - 2 - sos) / 2;
    ASSERT_LT(at + 64, jpeg.size() - 2);
    for (size_t k = 0; k < 64; k += 2) {
        jpeg[at + k] = 0xFF;
        jpeg[at + k + 1] = 0x00;
    }
}

std::vector<uint8_t> Saved(SearchSession& session, const DelFileInfo& record) {
    ExtractRequest request;
    request.toMemory = true;
    return ExtractFoundFile(*session.volume, record, request).memory;
}

void SearchAndCheck(const std::string& image, const std::vector<Shot>& shots) {
    SearchSession session;
    SearchOptions options;
    options.flags = SearchDetailed;
    ASSERT_EQ(RunSearch(session, 0, image, options), SearchOk);

    std::map<std::vector<uint8_t>, int> copies;
    std::map<uint64_t, int> carvedAt, goodNamedAt;
    int good = 0;
    for (size_t i = 0; i < session.gcDelFileList.Count(); ++i) {
        const DelFileInfo* r = session.gcDelFileList.Get(i);
        if (!r || !r->listed) continue;
        const std::vector<uint8_t> saved = Saved(session, *r);
        const std::string state = FoundFileStateText(*r);
        const Shot* own = nullptr;
        for (const Shot& s : shots) {
            if (saved == s.bytes) ++copies[s.bytes];
            if (!r->carved && s.deleted && s.start == r->startCluster && s.bytes.size() == r->fileSize) own = &s;
        }
        SCOPED_TRACE(r->name.value_or("") + " at cluster " + std::to_string(r->startCluster) + ": " + state);
        (r->carved ? carvedAt : goodNamedAt)[r->startCluster] += r->carved || state == "良";
        if (r->carved) {
            // A carved record called good holds one of the card's photos.
            if (state == "良") {
                bool known = false;
                for (const Shot& s : shots) known = known || saved == s.bytes;
                EXPECT_TRUE(known);
            }
            continue;
        }
        ASSERT_NE(own, nullptr);
        if (own->intact && !own->corrupt) {
            EXPECT_EQ(state, "良");
            EXPECT_TRUE(saved == own->bytes);
            ++good;
        } else {
            EXPECT_NE(state, "良");
        }
        if (own->startTaken) {
            EXPECT_EQ(state, "上書きされています");
        }
        if (own->corrupt) {
            EXPECT_EQ(state, "内容が一致しません");
        }
    }
    int intact = 0;
    for (const Shot& s : shots) {
        if (!s.deleted || !s.intact || s.corrupt) continue;
        ++intact;
        EXPECT_EQ(copies[s.bytes], 1) << s.name << " is not listed exactly once";
    }
    EXPECT_EQ(good, intact);
    // A carved reading of a photo its entry confirmed, whatever its length, is not listed.
    for (const auto& [start, count] : goodNamedAt)
        if (count > 0) EXPECT_EQ(carvedAt.count(start), 0u) << "a carved copy at cluster " << start;
}

// Photos of different sizes; odd numbers larger than even ones.
std::vector<uint8_t> Photo(int n) { return test::MakeTestJpeg(200 + 40 * (n % 5) + 7 * n, 150 + 30 * (n % 3)); }

TEST(OverwrittenCards, FatPhotosShotOverDeletedOnesAndDeletedAgain) {
    FatImageBuilder b(test::FatGeometry::Fat16(8192, 4));
    const uint32_t cs = b.ClusterSize();
    std::vector<Shot> shots;
    // Two rounds written from cluster 10 on, as a camera fills the first
    // free clusters, each deleted before the next; then one kept photo.
    for (int round = 0; round < 3; ++round) {
        uint64_t next = 10;
        const int count = round == 0 ? 6 : round == 1 ? 3 : 1;
        for (int k = 0; k < count; ++k) {
            const int n = round * 10 + k + 1;
            Shot s;
            s.name = "IMG_" + std::to_string(1000 + n) + ".JPG";
            s.start = next;
            s.bytes = Photo(n);
            s.deleted = round < 2;
            if (round == 1 && k == 2) {
                SpoilScanData(s.bytes);
                s.corrupt = true;
            }
            next += b.ClustersFor(s.bytes.size());
            shots.push_back(std::move(s));
        }
        if (round == 2) shots.back().start = next - b.ClustersFor(shots.back().bytes.size()) + 40;
    }
    MarkOverwritten(shots, cs);
    auto root = b.Root();
    for (size_t i = 0; i < shots.size(); ++i) {
        const Shot& s = shots[i];
        b.WriteCluster(uint32_t(s.start), s.bytes);
        if (!s.deleted) {
            root.AddFile(s.name, uint32_t(s.start), s.bytes);
            continue;
        }
        test::Entry e;
        e.name = s.name;
        e.deleted = true;
        e.startCluster = uint32_t(s.start);
        e.size = uint32_t(s.bytes.size());
        e.date = test::DosDate(2024, 5, i < 6 ? 1 : 2);
        e.time = test::DosTime(10, int(i), 0);
        root.Add(e);
    }
    int overwritten = 0;
    for (const Shot& s : shots) overwritten += s.deleted && !s.intact;
    ASSERT_GE(overwritten, 3);

    test::TempDir dir;
    const std::string image = b.WriteTo(dir, "card.img");
    ASSERT_FALSE(image.empty());
    SearchAndCheck(image, shots);
}

// Forty deleted entries (short names only, as cameras write them) in two
// folders, all claiming the same 64 KiB from one start: each is listed,
// one keeps the clusters and the rest are overwritten, and saving them all
// writes those clusters once, not forty times.
TEST(OverwrittenCards, EntriesStackedOnTheSameClustersLeaveThemOneOwner) {
    FatImageBuilder b(test::FatGeometry::Fat16(8192, 4));
    const uint32_t cs = b.ClusterSize(), start = 40;
    const std::vector<uint8_t> photo = Photo(1);
    b.WriteCluster(start, photo);
    constexpr uint32_t kClaim = 64 * 1024;
    auto root = b.Root();
    auto a = root.AddDir("A", 3), c = root.AddDir("C", 4);
    for (int i = 0; i < 40; ++i) {
        test::Entry e;
        e.name = "IMG_" + std::to_string(1000 + i % 20) + ".JPG";
        e.deleted = true;
        e.startCluster = start;
        e.size = kClaim;
        e.time = test::DosTime(10, i, 0);
        (i < 20 ? a : c).Add(e);
    }
    test::TempDir dir;
    const std::string image = b.WriteTo(dir, "card.img");
    SearchSession session;
    SearchOptions options;
    ASSERT_EQ(RunSearch(session, 0, image, options), SearchOk);
    std::map<std::string, int> states;
    size_t savedBytes = 0;
    int named = 0;
    for (size_t i = 0; i < session.gcDelFileList.Count(); ++i) {
        const DelFileInfo* r = session.gcDelFileList.Get(i);
        if (!r || !r->listed || r->carved) continue;
        ++named;
        ++states[FoundFileStateText(*r)];
        savedBytes += Saved(session, *r).size();
    }
    EXPECT_EQ(named, 40);
    EXPECT_EQ(states["上書きされています"], 39);
    EXPECT_LE(savedBytes, kClaim + 39 * cs);
}

// Two photos written at the same time, FAT handing each the next free
// cluster in turn (one by one, or in runs), and a third split around a
// fourth written before it, all deleted: every one comes back whole and
// "良", none called overwritten for the clusters the others' guesses cross.
TEST(OverwrittenCards, FatPhotosWrittenTogetherComeBackWhole) {
    for (const auto [firstRun, secondRun] : {std::pair{1u, 1u}, {3u, 3u}, {4u, 2u}}) {
        SCOPED_TRACE("runs of " + std::to_string(firstRun) + " and " + std::to_string(secondRun));
        FatImageBuilder b(test::FatGeometry::Fat16(8192, 4));
        std::vector<Shot> shots(4);
        for (int i = 0; i < 4; ++i) {
            shots[size_t(i)].name = "IMG_" + std::to_string(2001 + i) + ".JPG";
            // Larger than the runs tried: tens of clusters each.
            shots[size_t(i)].bytes = test::MakeTestJpeg(900 + 70 * i, 600 + 30 * i);
        }
        std::vector<std::vector<uint32_t>> chains(4);
        const uint32_t na = b.ClustersFor(shots[0].bytes.size()), nb = b.ClustersFor(shots[1].bytes.size());
        uint32_t next = 20;
        for (bool firsts = true; chains[0].size() < na || chains[1].size() < nb; firsts = !firsts) {
            std::vector<uint32_t>& to = chains[firsts ? 0 : 1];
            for (uint32_t k = 0; k < (firsts ? firstRun : secondRun) && to.size() < (firsts ? na : nb); ++k)
                to.push_back(next++);
        }
        next += 7;
        const uint32_t nc = b.ClustersFor(shots[2].bytes.size()), nd = b.ClustersFor(shots[3].bytes.size());
        for (uint32_t k = 0; k < nc / 2; ++k) chains[2].push_back(next++);
        for (uint32_t k = 0; k < nd; ++k) chains[3].push_back(next++);
        for (uint32_t k = nc / 2; k < nc; ++k) chains[2].push_back(next++);
        auto root = b.Root();
        for (size_t i = 0; i < 4; ++i) {
            shots[i].start = chains[i].front();
            b.WriteChainData(chains[i], shots[i].bytes);
            test::Entry e;
            e.name = shots[i].name;
            e.deleted = true;
            e.startCluster = chains[i].front();
            e.size = uint32_t(shots[i].bytes.size());
            e.date = test::DosDate(2024, 5, 3);
            e.time = test::DosTime(10, i < 2 ? 10 : int(8 - i), 0);
            root.Add(e);
        }
        test::TempDir dir;
        const std::string image = b.WriteTo(dir, "card.img");
        ASSERT_FALSE(image.empty());
        SearchAndCheck(image, shots);
    }
}

TEST(OverwrittenCards, ExfatPhotosShotOverDeletedOnesAndDeletedAgain) {
    if (test::FindTool("mkfs.exfat").empty()) GTEST_SKIP() << "mkfs.exfat is not installed (exfatprogs)";
    test::TempDir dir;
    test::ExfatImageBuilder card(dir.File("card.img"), {.sizeBytes = 64ull << 20, .clusterSize = 4096});
    ASSERT_EQ(card.error(), "");
    std::vector<Shot> shots;
    std::vector<test::ExfatImageBuilder::Node> nodes;
    for (int round = 0; round < 3; ++round) {
        std::vector<test::ExfatImageBuilder::Node> made;
        const int count = round == 0 ? 6 : round == 1 ? 3 : 1;
        for (int k = 0; k < count; ++k) {
            const int n = round * 10 + k + 1;
            Shot s;
            s.name = "IMG_" + std::to_string(1000 + n) + ".JPG";
            s.bytes = Photo(n);
            s.deleted = round < 2;
            test::ExfatFileOptions options;
            options.time.day = 1 + round;
            options.time.minute = k;
            made.push_back(card.AddFile(card.Root(), s.name, s.bytes, options));
            s.start = card.FirstCluster(made.back());
            shots.push_back(std::move(s));
        }
        if (round < 2)
            for (auto node : made) card.Delete(node);
    }
    ASSERT_EQ(card.Finish(), "");
    MarkOverwritten(shots, 4096);
    int overwritten = 0;
    for (const Shot& s : shots) overwritten += s.deleted && !s.intact;
    ASSERT_GE(overwritten, 3);
    SearchAndCheck(card.path(), shots);
}

}  // namespace
}  // namespace veld
