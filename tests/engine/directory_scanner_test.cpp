// The directory-entry scanner on built FAT images: deleted entries, long
// names, folder paths, modes, root areas, damaged structures.
#include <gtest/gtest.h>

#include <array>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "base/byte_reader.h"
#include "base/search_progress.h"
#include "finder/cluster_classifier.h"
#include "finder/directory_scanner.h"
#include "finder/orphan_folder_group.h"
#include "finder/registry.h"
#include "finder/search_session.h"
#include "support/fat_image_builder.h"
#include "support/test_jpeg.h"
#include "volume/cluster_map.h"

namespace veld {
namespace {

using test::DirWriter;
using test::Entry;
using test::FatGeometry;
using test::FatImageBuilder;

// FAT16 with 2 KB clusters (512-byte sectors, 4 per cluster).
FatGeometry Fat16Card() { return FatGeometry::Fat16(8192, 4); }
using test::kAttrDirectory;

using Slot = std::array<uint8_t, 32>;

// A long-name piece with the given sequence byte and up to 13 ASCII characters
// (a zero unit after a short text, 0xFFFF after that).
Slot LfnSlot(uint8_t sequence, const std::string& text) {
    Slot s{};
    s[0] = sequence;
    s[11] = 0x0F;
    const int at[13] = {1, 3, 5, 7, 9, 14, 16, 18, 20, 22, 24, 28, 30};
    for (size_t k = 0; k < 13; ++k) {
        uint16_t u = k < text.size() ? uint16_t(uint8_t(text[k])) : (k == text.size() ? 0x0000 : 0xFFFF);
        StoreLe16(s.data() + at[k], u);
    }
    return s;
}

Slot ShortSlot(const std::string& name83, uint8_t first, uint32_t start = 0, uint32_t size = 0,
               uint8_t attributes = 0x20) {
    Slot s{};
    auto n = test::ShortName11(name83);
    for (size_t i = 0; i < 11; ++i) s[i] = n[i];
    s[0] = first;
    s[11] = attributes;
    StoreLe16(s.data() + 20, uint16_t(start >> 16));
    StoreLe16(s.data() + 26, uint16_t(start));
    StoreLe32(s.data() + 28, size);
    return s;
}

Entry DeletedEmpty(const std::string& name, const std::string& longName = "") {
    Entry e;
    e.name = name;
    e.longName = longName;
    e.deleted = true;
    return e;
}

class ScannerTest : public ::testing::Test {
protected:
    // Opens the image as the session's volume and copies its FAT.
    void Use(const FatImageBuilder& b) {
        session.volume = b.Open();
        ASSERT_TRUE(session.volume);
        ReadFat(session.clusterMap, *session.volume);
    }
    // The root pass as the search driver makes it.
    void ScanRoot(const FatImageBuilder&) { ScanFatRoot(session); }
    void ScanContiguous(uint32_t start) { ScanDirectory(session, start, 0, false, true, ""); }
    std::vector<DelFileInfo> Listed() {
        std::vector<DelFileInfo> out;
        session.gcDelFileList.ForEach([&](DelFileInfo& r) {
            out.push_back(r);
            return true;
        });
        return out;
    }
    std::set<std::string> ListedNames() {
        std::set<std::string> out;
        for (auto& r : Listed()) out.insert(*r.name);
        return out;
    }

    SearchSession session;  // a fresh one for every case
};

TEST_F(ScannerTest, DcimWithoutLongNameGivesTrailingDotPathAndHashName) {
    FatImageBuilder b(Fat16Card());
    auto jpeg = test::MakeTestJpeg(64, 48);
    auto dcim = b.Root().AddDir("DCIM", 3);
    dcim.AddFile("DSC00002.JPG", 20, jpeg);
    dcim.AddDeletedFile("DSC00001.JPG", 10, jpeg);
    Use(b);
    ScanRoot(b);

    auto listed = Listed();
    ASSERT_EQ(listed.size(), 1u);
    EXPECT_EQ(*listed[0].name, "#SC00001.JPG");
    EXPECT_EQ(*listed[0].folder, "DCIM.");
    ASSERT_TRUE(listed[0].fatEntry);
    EXPECT_EQ((*listed[0].fatEntry)[0], '#');
    EXPECT_EQ(listed[0].state, StateComplete);
    EXPECT_EQ(listed[0].firstClass, ContentClass::JpegStart);
    EXPECT_EQ(ClusterState(session.clusterMap, 3), ClusterUse::LiveFolder);
    EXPECT_EQ(ClusterState(session.clusterMap, 20), ClusterUse::LiveFile);
    EXPECT_EQ(ClusterState(session.clusterMap, 10), ClusterUse::DeletedFile);
    EXPECT_EQ(session.folderCount.load(), 1);  // DCIM; dot entries do not count
    EXPECT_EQ(session.fileCount.load(), 2);
}

TEST_F(ScannerTest, LongNamesReassembled) {
    FatImageBuilder b(Fat16Card());
    auto jpeg = test::MakeTestJpeg(32, 32);
    // A deleted file whose three long-name pieces all carry 0xE5.
    const std::string longName = "Holiday at the seaside 2009 第1日.JPG";
    b.WriteCluster(10, jpeg);
    Entry deleted;
    deleted.name = "HOLIDA~1.JPG";
    deleted.longName = longName;
    deleted.deleted = true;
    deleted.startCluster = 10;
    deleted.size = uint32_t(jpeg.size());
    auto root = b.Root();
    root.Add(deleted);
    // A live folder with a three-piece long name (0x43, 0x02, 0x01) and a
    // sub-folder without one.
    auto trip = root.AddDir("PICTUR~1", 3, "Pictures from the summer trip");
    auto sub = trip.AddDir("SUB", 4);
    sub.Add(DeletedEmpty("A.TXT"));
    Use(b);
    ScanRoot(b);

    auto listed = Listed();
    ASSERT_EQ(listed.size(), 2u);
    EXPECT_EQ(*listed[0].name, longName);
    EXPECT_EQ(*listed[0].folder, "");
    EXPECT_EQ(listed[0].extension, "JPG");
    EXPECT_EQ(*listed[1].name, "#       .TXT");
    EXPECT_EQ(*listed[1].folder, "Pictures from the summer trip\\SUB.");
}

TEST_F(ScannerTest, LongNameSequenceOrderAndBrokenRuns) {
    FatImageBuilder b(Fat16Card());
    auto root = b.Root();
    // A deleted file whose pieces kept their sequence bytes: 0x43, 0x02, 0x01.
    root.AddRaw(LfnSlot(0x43, "third"));
    root.AddRaw(LfnSlot(0x02, "-second piece"));
    root.AddRaw(LfnSlot(0x01, "first piece, "));
    root.AddRaw(ShortSlot("FIRSTP~1.TXT", 0xE5));
    // A broken run: 0x43 then 0x01; the pieces are dropped.
    root.AddRaw(LfnSlot(0x43, "lost"));
    root.AddRaw(LfnSlot(0x01, "also lost"));
    root.AddRaw(ShortSlot("BROKEN.TXT", 0xE5));
    // A run does not carry over to the next short entry.
    root.AddRaw(ShortSlot("PLAIN.TXT", 0xE5));
    Use(b);
    ScanRoot(b);

    auto listed = Listed();
    ASSERT_EQ(listed.size(), 3u);
    EXPECT_EQ(*listed[0].name, "first piece, -second piecethird");
    EXPECT_EQ(*listed[1].name, "#ROKEN  .TXT");
    EXPECT_EQ(*listed[2].name, "#LAIN   .TXT");
}

TEST_F(ScannerTest, FirstByteMarks) {
    FatImageBuilder b(Fat16Card());
    auto root = b.Root();
    root.AddRaw(ShortSlot("KANJI.JPG", 0x05));          // deleted
    root.AddRaw(ShortSlot("ODD.TXT", 0x01));            // not an end of directory
    root.AddRaw(ShortSlot("AFTER.TXT", 0xE5));
    Slot unprintable = ShortSlot("XY.TXT", 0xE5);
    unprintable[1] = 0x90;                               // second byte not printable
    root.AddRaw(unprintable);
    root.AddRaw(ShortSlot("OLDLABEL", 0xE5, 0, 0, 0x08));  // a deleted volume label: no file
    root.AddEnd();
    root.AddRaw(ShortSlot("GONE.TXT", 0xE5));           // after the end: not read
    Use(b);
    ScanRoot(b);

    EXPECT_EQ(ListedNames(), (std::set<std::string>{"#ANJI   .JPG", "#FTER   .TXT", "##      .TXT"}));
    EXPECT_EQ(session.fileCount.load(), 5);
}

// A live folder whose first cluster lost its "." and ".." entries is still
// the folder its entry names when every slot is an entry (and not read when
// its cluster holds something else); the search's lost-folder scan does not
// read it again as a folder without a place.
TEST_F(ScannerTest, SubFolderWithoutDotEntriesIsReadOnlyWhenItHoldsEntries) {
    FatImageBuilder b(Fat16Card());
    Entry dir;
    dir.name = "DCIM";
    dir.attributes = kAttrDirectory;
    dir.startCluster = 5;
    b.Root().Add(dir);
    b.Dir({5}).Add(DeletedEmpty("LOST.TXT"));
    Entry other = dir;
    other.name = "MISC";
    other.startCluster = 9;
    auto root = b.Root();
    root.Skip(1);
    root.Add(other);
    b.WriteCluster(9, std::vector<uint8_t>(b.ClusterSize(), 0x5A));  // no folder
    // A deleted folder keeps its dot entries: its first cluster is read and
    // becomes a deleted directory cluster.
    root.AddDeletedDir("OLDDIR", 7).Add(DeletedEmpty("KEPT.TXT"));
    Use(b);
    ScanRoot(b);
    ScanLostFolder(session, 5);

    std::map<std::string, std::string> folderOf;
    for (auto& r : Listed()) folderOf[*r.name] = *r.folder;
    EXPECT_EQ(folderOf, (std::map<std::string, std::string>{{"#OST    .TXT", "DCIM."}, {"#EPT    .TXT", "#LDDIR."}}));
    EXPECT_EQ(ClusterState(session.clusterMap, 9), ClusterUse::Empty);
    EXPECT_EQ(ClusterState(session.clusterMap, 7), ClusterUse::DeletedFolder);
    ASSERT_EQ(session.DelFolderList.Count(), 1u);
    EXPECT_EQ(session.DelFolderList.Get(0)->startCluster, 7u);
}

// A lost folder's clusters taken one after another: a free one that parses
// as entries is still the folder's, and an entry in it that looks live went
// with the folder; one the card gives to a file ends the folder.
TEST_F(ScannerTest, ContiguousModeTakesFreeContinuationsAndStopsAtAnAllocatedOne) {
    for (bool allocated : {false, true}) {
        SCOPED_TRACE(allocated ? "second cluster allocated" : "second cluster free");
        session.ClearFoundFileLists();
        FatImageBuilder b(FatGeometry::Fat16(8192, 1));  // 16 entries per cluster
        DirWriter folder = b.Dir({20, 21});
        folder.AddDotEntries(0);
        for (int i = 0; i < 14; ++i) folder.Add(DeletedEmpty("D" + std::to_string(i) + ".TXT"));
        folder.Add(DeletedEmpty("D14.TXT"));  // first slot of cluster 21
        Entry live;
        live.name = "LIVE.TXT";
        folder.Add(live);
        folder.Add(DeletedEmpty("D15.TXT"));
        if (allocated) b.SetFat(21, b.EndOfChain());
        Use(b);
        ScanContiguous(20);

        auto names = ListedNames();
        EXPECT_EQ(names.size(), allocated ? 14u : 17u);
        EXPECT_EQ(names.count("#14     .TXT"), allocated ? 0u : 1u);
        EXPECT_EQ(names.count("LIVE    .TXT"), allocated ? 0u : 1u);
        EXPECT_EQ(ClusterState(session.clusterMap, 20), ClusterUse::DeletedFolder);
        EXPECT_EQ(ClusterState(session.clusterMap, 21), allocated ? ClusterUse::Empty : ClusterUse::DeletedFolder);
        EXPECT_EQ(ClusterState(session.clusterMap, 22), ClusterUse::Empty);
    }
}

// Folders of a card whose root was rewritten: one whose first cluster the
// FAT still allocates is read along its chain (not the cluster after it);
// one whose entry is gone from its parent is listed inside that parent by
// its ".." link, both named by their clusters, whichever is met first; each
// file once.
TEST_F(ScannerTest, LostFoldersFollowTheirChainAndArePlacedByTheirParentLinks) {
    for (bool childFirst : {false, true}) {
        SCOPED_TRACE(childFirst ? "child met first" : "parent met first");
        session.ClearFoundFileLists();
        FatImageBuilder b(FatGeometry::Fat16(8192, 1));  // 16 entries per cluster
        DirWriter top = b.Dir({30, 40});
        top.AddDotEntries(0);
        for (int i = 0; i < 15; ++i) {
            Entry file;
            file.name = "A" + std::to_string(i) + ".TXT";
            top.Add(file);  // the last one in cluster 40
        }
        b.SetFat(30, 40);
        b.SetFat(40, b.EndOfChain());
        DirWriter child = b.Dir({50});
        child.AddDotEntries(30);
        Entry inner;
        inner.name = "CHILD.TXT";
        child.Add(inner);
        Use(b);
        if (childFirst) ScanLostFolder(session, 50);
        ScanLostFolder(session, 30);
        ScanLostFolder(session, 50);

        const std::string topFolder = std::string(kOrphanFolderGroup) + "\\" + UnnamedFolderName(30);
        std::map<std::string, std::string> folderOf;
        for (auto& r : Listed()) folderOf[*r.name] = *r.folder;
        EXPECT_EQ(Listed().size(), 16u);
        EXPECT_EQ(folderOf["A0      .TXT"], topFolder);
        EXPECT_EQ(folderOf["A14     .TXT"], topFolder);
        EXPECT_EQ(folderOf["CHILD   .TXT"], topFolder + "\\" + UnnamedFolderName(50));
    }
}

// Lost folders each naming the one found before as its parent: each is
// placed under it, but no path grows past the depth a descent may take (a
// long chain made every path longer than the last: memory grew with the
// square of the chain).
TEST_F(ScannerTest, AChainOfLostFoldersKeepsItsPathsWithinTheDepthLimit) {
    FatImageBuilder b(FatGeometry::Fat16(8192, 1));
    constexpr uint32_t kFolders = 80, kFirst = 30;
    for (uint32_t k = 0; k < kFolders; ++k) {
        DirWriter folder = b.Dir({kFirst + k});
        folder.AddDotEntries(k == 0 ? 0 : kFirst + k - 1);
        folder.Add(DeletedEmpty("F" + std::to_string(k) + ".TXT"));
    }
    Use(b);
    for (uint32_t k = 0; k < kFolders; ++k) ScanLostFolder(session, kFirst + k);
    const auto listed = Listed();
    ASSERT_EQ(listed.size(), kFolders);
    size_t deepest = 0;
    for (const auto& r : listed) deepest = std::max<size_t>(deepest, std::count(r.folder->begin(), r.folder->end(), '\\') + 1);
    EXPECT_GT(deepest, 10u);  // placed under their parents
    EXPECT_LE(deepest, 33u);  // the group, then at most the depth limit
}

// A deleted folder whose own entries still look live (only the folder's
// entry was marked): they are deleted files of it, found both when the
// folder is reached from its parent and when it is read on its own; a live
// sub-folder entry in it is followed as a deleted one.
TEST_F(ScannerTest, EntriesThatLookLiveInADeletedFolderAreItsDeletedFiles) {
    for (bool fromParent : {true, false}) {
        SCOPED_TRACE(fromParent ? "reached from its parent" : "read on its own");
        session.ClearFoundFileLists();
        FatImageBuilder b(Fat16Card());
        auto kept = test::MakeTestJpeg(160, 120), inner = test::MakeTestJpeg(64, 48);
        auto old = b.Root().AddDeletedDir("OLD", 120);
        Entry photo;
        photo.name = "KEEP.JPG";
        photo.startCluster = 130;
        photo.size = uint32_t(kept.size());
        old.Add(photo);
        b.WriteCluster(130, kept);
        auto sub = old.AddDir("SUB", 140);
        b.SetFat(140, 0);  // freed with the folder
        Entry innerPhoto = photo;
        innerPhoto.name = "INNER.JPG";
        innerPhoto.startCluster = 150;
        innerPhoto.size = uint32_t(inner.size());
        sub.Add(innerPhoto);
        b.WriteCluster(150, inner);
        Use(b);
        if (fromParent)
            ScanRoot(b);
        else
            ScanContiguous(120);

        std::map<std::string, DelFileInfo> byName;
        for (auto& r : Listed()) byName[*r.name] = r;
        ASSERT_TRUE(byName.count("KEEP    .JPG"));
        EXPECT_EQ(byName["KEEP    .JPG"].state, StateComplete);
        EXPECT_EQ(byName["KEEP    .JPG"].clusterList[0], 130u);
        ASSERT_TRUE(byName.count("INNER   .JPG"));
        EXPECT_EQ(byName["INNER   .JPG"].state, StateComplete);
        EXPECT_EQ(ClusterState(session.clusterMap, 130), ClusterUse::DeletedFile);
    }
}

TEST_F(ScannerTest, ContiguousModeEndsAtLastCluster) {
    FatImageBuilder b(FatGeometry::Fat16(8192, 1));
    auto probe = b.Open();
    const uint32_t last = uint32_t(probe->clusterCount + 1);
    // Bytes beyond the volume's last cluster hold more deleted entries.
    b.bytes().resize(b.ClusterOffset(last + 3), 0);
    DirWriter tail = b.Dir({last - 1, last, last + 1, last + 2});
    for (int i = 0; i < 64; ++i) tail.Add(DeletedEmpty("T" + std::to_string(i) + ".TXT"));
    Use(b);
    ScanContiguous(last - 1);
    EXPECT_EQ(session.gcDelFileList.Count(), 32u);  // two clusters of 16 entries
}

TEST_F(ScannerTest, FixedRootReadAsWholeArea) {
    // 512 entries, 512-byte sectors, 4 sectors per cluster: eight blocks.
    // 512 entries with 32 KB clusters: one partial block of 16 KB.
    // 16 entries with 2 KB clusters: one partial block of 512 bytes.
    struct Case {
        uint16_t rootEntries;
        uint8_t sectorsPerCluster;
        uint32_t totalSectors;
    };
    for (Case c : {Case{512, 4, 8192}, Case{512, 64, 16384}, Case{16, 4, 8192}}) {
        SCOPED_TRACE(testing::Message() << c.rootEntries << " entries, " << int(c.sectorsPerCluster) << " spc");
        session.ClearFoundFileLists();
        FatGeometry g = FatGeometry::Fat16(c.totalSectors, c.sectorsPerCluster);
        g.rootEntries = c.rootEntries;
        FatImageBuilder b(g);
        auto root = b.Root();
        for (int i = 0; i + 1 < c.rootEntries; ++i) {
            Entry e;
            e.name = "F" + std::to_string(i) + ".TXT";
            root.Add(e);
        }
        root.Add(DeletedEmpty("LAST.TXT"));  // the very last slot of the area
        // Right after the root area the data area begins: no entries there.
        b.Dir({2}).Add(DeletedEmpty("GHOST.TXT"));
        Use(b);
        ScanRoot(b);
        EXPECT_EQ(ListedNames(), (std::set<std::string>{"#AST    .TXT"}));
        EXPECT_EQ(session.fileCount.exchange(0), c.rootEntries);
        EXPECT_EQ(ClusterState(session.clusterMap, 2), ClusterUse::Empty);
    }
}

TEST_F(ScannerTest, FoldersPointingBackToAncestorsEnd) {
    FatImageBuilder b(Fat16Card());
    auto dcim = b.Root().AddDir("DCIM", 3);
    auto sub = dcim.AddDir("SUB", 4);
    Entry back;
    back.name = "BACK";
    back.attributes = kAttrDirectory;
    back.startCluster = 3;  // DCIM again
    sub.Add(back);
    back.name = "SELF";
    back.startCluster = 4;
    sub.Add(back);
    sub.Add(DeletedEmpty("X.TXT"));
    Use(b);
    ScanRoot(b);

    auto listed = Listed();
    ASSERT_EQ(listed.size(), 1u);
    EXPECT_EQ(*listed[0].folder, "DCIM.\\SUB.");
    EXPECT_EQ(session.folderCount.load(), 4);  // DCIM, SUB, BACK, SELF each seen once
}

// Folders nest 32 levels deep below the top at most: a file on level 32 is
// found, one on level 33 is not.
TEST_F(ScannerTest, DescentIsBoundedInDepth) {
    FatImageBuilder b(Fat16Card());
    DirWriter dir = b.Root().AddDir("D1", 3);
    std::vector<DirWriter> levels{dir};  // levels[i] is on level i + 1
    for (uint32_t i = 1; i < 40; ++i) levels.push_back(levels.back().AddDir("D" + std::to_string(i + 1), 3 + i));
    levels[31].Add(DeletedEmpty("AT32.TXT"));
    levels[32].Add(DeletedEmpty("AT33.TXT"));
    Use(b);
    ScanRoot(b);
    EXPECT_EQ(ListedNames(), (std::set<std::string>{"#T32    .TXT"}));
}

TEST_F(ScannerTest, DirectoryBlockThatLooksLikeJpegDataIsStillRead) {
    FatImageBuilder b(Fat16Card());
    auto jpeg = test::MakeTestJpeg(48, 32);
    // DCIM in clusters 3 and 5: its dot entries and empty files fill the
    // first, the entries below stand in the second.
    Entry folder;
    folder.name = "DCIM";
    folder.attributes = test::kAttrDirectory;
    folder.startCluster = 3;
    b.Root().Add(folder);
    b.MakeChain({3, 5});
    DirWriter dcim = b.Dir({3, 5});
    dcim.AddDotEntries(0);
    for (int i = 0; dcim.NextSlot() < b.ClusterSize() / 32; ++i) {
        Entry empty;
        empty.name = "F" + std::to_string(i) + ".TXT";
        dcim.Add(empty);
    }
    dcim.AddFileOfSize("BIG.DAT", 0x01FF, 100);  // start cluster bytes FF 01
    dcim.AddFileOfSize("SMALL.TXT", 600, 10);
    dcim.AddDeletedFile("DEL1.JPG", 700, jpeg);
    dcim.AddDeletedFile("DEL2.JPG", 710, jpeg);
    Use(b);

    // The second block really is taken for JPEG data by the classifier.
    std::vector<uint8_t> block(b.bytes().begin() + std::ptrdiff_t(b.ClusterOffset(5)),
                               b.bytes().begin() + std::ptrdiff_t(b.ClusterOffset(6)));
    ASSERT_EQ(ClassifyCluster(*session.volume, block.data(), block.size()), ContentClass::JpegData);

    ScanRoot(b);
    EXPECT_EQ(ListedNames(), (std::set<std::string>{"#EL1    .JPG", "#EL2    .JPG"}));
    EXPECT_EQ(ClusterState(session.clusterMap, 0x01FF), ClusterUse::LiveFile);
    EXPECT_EQ(ClusterState(session.clusterMap, 3), ClusterUse::LiveFolder);
}

// Bytes like the entropy-coded part of a JPEG: pseudo-random, every 0xFF
// followed by a stuffed 0x00.
std::vector<uint8_t> EntropyLikeBytes(size_t size, uint32_t seed) {
    std::vector<uint8_t> out(size);
    uint32_t x = seed;
    for (size_t i = 0; i < size; ++i) {
        x = x * 1103515245u + 12345u;
        out[i] = uint8_t(x >> 16);
        if (i > 0 && out[i - 1] == 0xFF) out[i] = 0x00;
    }
    return out;
}

TEST_F(ScannerTest, JpegDataIsNotReadAsDirectory) {
    FatImageBuilder b(Fat16Card());
    const uint32_t first = 30, count = 8;
    b.WriteCluster(first, EntropyLikeBytes(size_t(count) * b.ClusterSize(), 7));
    Use(b);
    // Each cluster the classifier takes for JPEG data is tried as the start
    // of a deleted folder.
    int tried = 0;
    for (uint32_t c = first; c < first + count; ++c) {
        std::vector<uint8_t> block(b.bytes().begin() + std::ptrdiff_t(b.ClusterOffset(c)),
                                   b.bytes().begin() + std::ptrdiff_t(b.ClusterOffset(c + 1)));
        ContentClass contentClass = ClassifyCluster(*session.volume, block.data(), block.size());
        if (contentClass != ContentClass::JpegData && contentClass != ContentClass::JpegEnd) continue;
        ++tried;
        ScanContiguous(c);
        EXPECT_EQ(ClusterState(session.clusterMap, c), ClusterUse::Empty) << c;
    }
    EXPECT_GT(tried, 0);
    EXPECT_EQ(session.gcDelFileList.Count(), 0u);
    EXPECT_EQ(session.DelFolderList.Count(), 0u);
}

// A live file and deleted files over its clusters, in both entry orders.
TEST_F(ScannerTest, DeletedFileOverLiveFileClusters) {
    for (bool liveFirst : {true, false}) {
        SCOPED_TRACE(liveFirst ? "live entry first" : "deleted entries first");
        FatImageBuilder b(Fat16Card());
        auto live = test::MakeTestJpeg(320, 240);
        auto part = test::MakeTestJpeg(48, 32);
        const uint32_t cs = b.ClusterSize();
        ASSERT_GT(live.size(), 2 * cs);
        ASSERT_LE(part.size(), 2 * cs);
        b.WriteCluster(8, part);
        b.WriteCluster(10, live);
        const uint32_t liveClusters = b.ClustersFor(live.size());

        auto root = b.Root();
        auto addLive = [&] { root.AddFileOfSize("LIVE.JPG", 10, uint32_t(live.size())); };
        Entry old;
        old.name = "OLD.JPG";
        old.deleted = true;
        old.startCluster = 10;
        old.size = 2 * cs;
        Entry run;
        run.name = "PART.JPG";
        run.deleted = true;
        run.startCluster = 8;
        run.size = 4 * cs;

        if (liveFirst) {
            addLive();
            root.Add(run);
            root.Add(old);
        } else {
            root.Add(old);
            root.Add(run);
            addLive();
        }
        Use(b);
        ScanRoot(b);
        if (liveFirst) {
            EXPECT_EQ(session.lastRegistrationState, StateInUse);  // OLD.JPG came last
        }

        auto listed = Listed();
        ASSERT_EQ(listed.size(), 1u);
        EXPECT_EQ(*listed[0].name, "#ART    .JPG");
        // Its chain is gone: the free clusters after the live file complete
        // it, and the picture that ends in its first two says the entry's
        // size is not its own.
        EXPECT_EQ(listed[0].state, StateMismatch);
        EXPECT_EQ(listed[0].clustersCollected, 4);
        // No listed record holds a cluster of the live file.
        for (const auto& r : listed)
            for (uint32_t c : r.clusterList) EXPECT_FALSE(c >= 10 && c < 10 + liveClusters) << c;
        for (uint32_t c = 11; c < 10 + liveClusters; ++c) EXPECT_EQ(ClusterState(session.clusterMap, c), ClusterUse::LiveFile) << c;
    }
    // The deleted entry and the live one alone: in use in either order.
    for (bool liveFirst : {true, false}) {
        SCOPED_TRACE(liveFirst ? "live entry first, alone" : "deleted entry first, alone");
        session.ClearFoundFileLists();
        FatImageBuilder b(Fat16Card());
        b.WriteCluster(10, test::MakeTestJpeg(100, 80));
        auto root = b.Root();
        Entry old;
        old.name = "OLD.JPG";
        old.deleted = true;
        old.startCluster = 10;
        old.size = 100;
        if (liveFirst) root.AddFileOfSize("LIVE.JPG", 10, 3000);
        root.Add(old);
        if (!liveFirst) root.AddFileOfSize("LIVE.JPG", 10, 3000);
        Use(b);
        ScanRoot(b);
        EXPECT_EQ(session.lastRegistrationState, StateInUse);
        EXPECT_EQ(session.gcDelFileList.Count(), 0u);
        EXPECT_EQ(ClusterState(session.clusterMap, 11), ClusterUse::LiveFile);
    }
}

TEST_F(ScannerTest, ProgressCancelAndDamagedStarts) {
    struct Lines : ProgressDisplay {
        void SetLine(int line, const std::string& text) override {
            if (line == 2) second.push_back(text);
        }
        void SetPercent(int) override {}
        std::vector<std::string> second;
    } display;
    FatImageBuilder b(Fat16Card());
    auto root = b.Root();
    auto dcim = root.AddDir("DCIM", 3, "Camera");
    dcim.AddDir("100CANON", 4);
    Entry wild;
    wild.name = "WILD";
    wild.attributes = kAttrDirectory;
    wild.startCluster = 0x0FFFFFF0;  // far beyond the volume and the map
    root.Add(wild);
    root.Add(DeletedEmpty("Z.TXT"));
    Use(b);

    session.progress.Attach(&display);
    session.directoryPhase = 1;
    ScanRoot(b);
    session.progress.Attach(nullptr);
    EXPECT_EQ(display.second, (std::vector<std::string>{"フォルダ検索 ", "フォルダ検索 Camera",
                                                        "フォルダ検索 Camera\\100CANON."}));
    EXPECT_EQ(session.gcDelFileList.Count(), 1u);

    // With the cancel flag set nothing is read at all.
    session.ClearFoundFileLists();
    Use(b);
    session.cancelFlag = 1;
    ScanRoot(b);
    session.cancelFlag = 0;
    EXPECT_EQ(session.gcDelFileList.Count(), 0u);
    EXPECT_EQ(ClusterState(session.clusterMap, 3), ClusterUse::Empty);
}

// Damaged cards: random FAT links and random directory slots (with the dot
// entries in place so sub-folders are entered) must neither crash nor hang.
TEST_F(ScannerTest, RandomDirectoriesAndLinksEnd) {
    for (uint32_t seed = 1; seed <= 12; ++seed) {
        SCOPED_TRACE(seed);
        session.ClearFoundFileLists();
        FatImageBuilder b(FatGeometry::Fat16(8192, 1));
        uint32_t x = seed;
        auto next = [&x] {
            x = x * 1103515245u + 12345u;
            return x >> 8;
        };
        const uint32_t last = 60;
        for (uint32_t c = 2; c <= last; ++c) {
            std::vector<uint8_t> bytes(b.ClusterSize());
            for (auto& v : bytes) v = uint8_t(next());
            // Mostly plausible slots: directory and file attributes, small
            // cluster numbers that point at the other damaged clusters.
            for (size_t at = 0; at + 32 <= bytes.size(); at += 32) {
                if (next() % 4 == 0) continue;
                bytes[at + 11] = uint8_t(next() % 3 == 0 ? 0x10 : (next() % 5 == 0 ? 0x0F : 0x20));
                StoreLe16(bytes.data() + at + 20, uint16_t(next() % 8 == 0 ? next() : 0));
                StoreLe16(bytes.data() + at + 26, uint16_t(next() % 2 ? 2 + next() % (last - 1) : next()));
                if (next() % 3 == 0) bytes[at] = 0xE5;
            }
            b.WriteCluster(c, bytes);
            if (next() % 2) {
                DirWriter d = b.Dir({c});
                d.AddDotEntries(2 + next() % (last - 1));
            }
            b.SetFat(c, next() % 3 == 0 ? 0xFFFF : 2 + next() % (last + 10));
        }
        auto root = b.Root();
        for (int i = 0; i < 40; ++i) {
            Entry e;
            e.name = "D" + std::to_string(i);
            e.attributes = kAttrDirectory;
            e.startCluster = 2 + next() % (last - 1);
            e.deleted = next() % 2;
            root.Add(e);
        }
        Use(b);
        ScanRoot(b);
        for (uint32_t c = 2; c <= last; ++c) ScanContiguous(c);
        // Each of the 60 top-level calls reads a folder (one of at most 60
        // start clusters) once, over a chain of at most 60 clusters of 16 slots.
        EXPECT_LE(session.fileCount.exchange(0) + session.folderCount.exchange(0), 60 * 60 * 60 * 16);
    }
}

}  // namespace
}  // namespace veld
