// The FAT copy and the cluster map: unpacking of every FAT width, table
// sizing, chain walks over damaged FATs, and the claiming rules of the
// directory scanner (MarkChain) and the registration (MarkContiguous).
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include "finder/search_session.h"
#include "finder/signature_search.h"
#include "support/fat_image_builder.h"
#include "volume/boot_sector.h"
#include "volume/cluster_map.h"
#include "volume/fat_file_system.h"

namespace veld {
namespace {

using test::FatGeometry;
using test::FatImageBuilder;

class ClusterMapTest : public ::testing::Test {
protected:
    // Opens the builder's image and copies its FAT as a search does.
    std::unique_ptr<DiskVolume> LoadFat(const FatImageBuilder& b) {
        auto v = b.Open();
        EXPECT_EQ(ReadFat(clusterMap, *v), 0);
        return v;
    }

    // Entries in the volume's FAT copy.
    uint64_t FatEntryCount() const {
        const auto* fat = dynamic_cast<const FatFileSystem*>(clusterMap.fileSystem.get());
        return fat ? fat->EntryCount() : 0;
    }

    ClusterMap clusterMap;  // the map every case reads and claims in
};

TEST_F(ClusterMapTest, Fat12EntriesStraddlingASectorBoundaryUnpack) {
    FatImageBuilder b(FatGeometry::Fat12());
    // Entries 340..342 occupy FAT bytes 510..513: entry 341 is split between
    // the first and the second FAT sector.
    b.MakeChain({339, 340, 341, 342, 683});  // 682/683 straddle sectors 1 and 2
    b.SetFat(682, 0xABC);
    auto v = LoadFat(b);
    EXPECT_EQ(FatEntry(clusterMap, 339), 340u);
    EXPECT_EQ(FatEntry(clusterMap, 340), 341u);
    EXPECT_EQ(FatEntry(clusterMap, 341), 342u);
    EXPECT_EQ(FatEntry(clusterMap, 342), 683u);
    EXPECT_EQ(FatEntry(clusterMap, 683), 0xFFFu);
    EXPECT_EQ(FatEntry(clusterMap, 682), 0xABCu);
    EXPECT_EQ(FatEntry(clusterMap, 0), 0xFF0u);  // media byte in entry 0
    std::vector<uint64_t> chain;
    EXPECT_EQ(CollectChain(clusterMap, *v, 339, &chain), 5);
    EXPECT_EQ(chain, (std::vector<uint64_t>{339, 340, 341, 342, 683}));
    // FAT12 entries are 12 bits: 2 entries per 3 bytes.
    EXPECT_EQ(clusterMap.size(), std::max<uint64_t>(b.SectorsPerFat() * 512 * 2 / 3, b.ClusterCount()));
}

TEST_F(ClusterMapTest, Fat16AndFat32EntriesAreCopiedWhole) {
    FatImageBuilder b16(FatGeometry::Fat16());
    b16.MakeChain({2, 300, 299});
    LoadFat(b16);
    EXPECT_EQ(FatEntry(clusterMap, 2), 300u);
    EXPECT_EQ(FatEntry(clusterMap, 300), 299u);
    EXPECT_EQ(FatEntry(clusterMap, 299), 0xFFFFu);

    FatImageBuilder b32(FatGeometry::Fat32());
    b32.SetFat(200, 0xF0000123);  // top four bits kept, not masked
    LoadFat(b32);
    EXPECT_EQ(FatEntry(clusterMap, 200), 0xF0000123u);
    EXPECT_EQ(FatEntry(clusterMap, 2), 0x0FFFFFFFu);  // the root cluster's end mark
}

TEST_F(ClusterMapTest, Fat16TableShorterThanTheCardGrowsToTheClusterCount) {
    FatGeometry g = FatGeometry::Fat16(16384, 2);
    g.sectorsPerFat = 4;  // 1024 entries for some 8,000 clusters
    FatImageBuilder b(g);
    b.MakeChain(1020, 3);  // the chain runs to entry 1022; 1023 is the last
    auto v = LoadFat(b);
    ASSERT_GT(v->clusterCount, 1024);
    // A cell for every data cluster the image holds, up to the last number
    // (cluster count + 1) and not past the image's end.
    const uint64_t held = (uint64_t(v->device->Size()) - v->dataStart) / v->clusterSize + 2;
    EXPECT_EQ(clusterMap.size(), std::min<uint64_t>(uint64_t(v->clusterCount) + 2, held));
    EXPECT_GT(clusterMap.size(), uint64_t(v->clusterCount));
    EXPECT_EQ(FatEntry(clusterMap, 1021), 1022u);
    EXPECT_EQ(FatEntry(clusterMap, 1024), 0u);
    EXPECT_EQ(FatEntry(clusterMap, uint64_t(v->clusterCount) - 1), 0u);
    EXPECT_EQ(ClusterState(clusterMap, uint64_t(v->clusterCount) - 1), ClusterUse::Empty);
}

TEST_F(ClusterMapTest, RawCardHasAnEmptyTableOfItsSectorCount) {
    auto v = DiskIO_OpenMemory(std::vector<uint8_t>(1000000, 0xFF));
    EXPECT_EQ(ReadFat(clusterMap, *v), 0);
    EXPECT_EQ(clusterMap.size(), 1954u + 2);  // numbers 0 and 1, and a cluster per sector (the last partial)
    for (uint64_t c = 0; c < clusterMap.size(); ++c) {
        ASSERT_EQ(ClusterState(clusterMap, c), ClusterUse::Empty);
        ASSERT_EQ(FatEntry(clusterMap, c), 0u);
    }
}

TEST_F(ClusterMapTest, QueriesWithoutAMapAreHarmless) {
    FreeFat(clusterMap);
    EXPECT_EQ(ClusterState(clusterMap, 5), ClusterUse::NoMap);
    SetClusterState(clusterMap, 5, ClusterUse::LiveFile);
    EXPECT_EQ(ClusterState(clusterMap, 5), ClusterUse::NoMap);
    EXPECT_EQ(FatEntry(clusterMap, 5), 0u);
    std::vector<uint64_t> list{7};
    uint64_t collected = 9;
    DiskVolume v;
    v.clusterSize = 512;
    EXPECT_NE(MarkContiguous(clusterMap, v, 5, ClusterUse::DeletedFile, 1000, &list, &collected), 1);  // nothing is free without a map
}

TEST_F(ClusterMapTest, CycleInTheFatEndsEveryWalk) {
    FatImageBuilder b(FatGeometry::Fat16());
    b.MakeCycle({10, 11, 12});
    b.MakeChain({20, 21});
    b.SetFat(21, 20);  // two-cluster loop
    b.SetFat(30, 30);  // a cluster pointing at itself
    auto v = LoadFat(b);
    std::vector<uint64_t> chain;
    int64_t n = CollectChain(clusterMap, *v, 10, &chain);
    EXPECT_GE(n, 3);
    EXPECT_LE(uint64_t(n), clusterMap.size());
    EXPECT_EQ(std::vector<uint64_t>(chain.begin(), chain.begin() + 3), (std::vector<uint64_t>{10, 11, 12}));
    EXPECT_LE(uint64_t(MarkChain(clusterMap, *v, 20, ClusterUse::LiveFile, true)), clusterMap.size());
    EXPECT_EQ(ClusterState(clusterMap, 20), ClusterUse::LiveFile);
    EXPECT_EQ(ClusterState(clusterMap, 21), ClusterUse::LiveFile);
    EXPECT_LE(uint64_t(CollectChain(clusterMap, *v, 30, nullptr)), clusterMap.size());
}

// On a map of at most 1,024 entries the walk has no record of visited
// clusters yet: only its step limit ends a loop, after exactly as many
// clusters as the map holds.
TEST_F(ClusterMapTest, LoopInASmallFat12MapEndsAtTheMapSize) {
    FatImageBuilder b(FatGeometry::Fat12(720, 1));
    b.MakeCycle({10, 11, 12});
    auto v = LoadFat(b);
    ASSERT_LE(clusterMap.size(), 1024u);
    std::vector<uint64_t> chain;
    const int64_t n = CollectChain(clusterMap, *v, 10, &chain);
    EXPECT_EQ(uint64_t(n), clusterMap.size());
    EXPECT_EQ(chain.size(), clusterMap.size());
    EXPECT_EQ(std::vector<uint64_t>(chain.begin(), chain.begin() + 4), (std::vector<uint64_t>{10, 11, 12, 10}));
    EXPECT_EQ(uint64_t(MarkChain(clusterMap, *v, 10, ClusterUse::LiveFile, true)), clusterMap.size());
}

TEST_F(ClusterMapTest, Fat32ChainsRunThroughClusterNumbersAbove0xFFF6) {
    FatGeometry g = FatGeometry::Fat32(1400, 1);
    g.sectorsPerFat = 600;  // room for 76,800 entries on a small image
    FatImageBuilder b(g);
    b.MakeChain({100, 0xFFF0, 0xFFF7, 0x10005, 0x12000, 101});
    auto v = LoadFat(b);
    ASSERT_GE(clusterMap.size(), 0x12001u);
    std::vector<uint64_t> chain;
    EXPECT_EQ(CollectChain(clusterMap, *v, 100, &chain), 6);
    EXPECT_EQ(chain.back(), 101u);
    EXPECT_EQ(MarkChain(clusterMap, *v, 100, ClusterUse::LiveFile, true), 6);
    EXPECT_EQ(ClusterState(clusterMap, 0x10005), ClusterUse::LiveFile);
    EXPECT_EQ(ClusterState(clusterMap, 0x12000), ClusterUse::LiveFile);
    EXPECT_EQ(ClusterState(clusterMap, 0xFFF1), ClusterUse::Empty);
}

TEST_F(ClusterMapTest, ClusterNumbersBeyondTheMapNeverIndex) {
    FatImageBuilder b(FatGeometry::Fat16());
    const uint32_t n = uint32_t(LoadFat(b) ? clusterMap.size() : 0);
    ASSERT_EQ(FatEntryCount(), n);
    // A chain leaving the table ends at the last cluster inside it.
    b.SetFat(50, n + 5);
    b.SetFat(n - 1, n);  // the first number past the end
    auto v = LoadFat(b);
    std::vector<uint64_t> chain;
    EXPECT_EQ(CollectChain(clusterMap, *v, 50, &chain), 1);
    EXPECT_EQ(CollectChain(clusterMap, *v, n - 1, &chain), 1);
    // Starts beyond the map: nothing is written, no out-of-range access.
    EXPECT_EQ(CollectChain(clusterMap, *v, n + 100, &chain), 1);
    MarkChain(clusterMap, *v, n, ClusterUse::DeletedFile, false);
    MarkChain(clusterMap, *v, 0xFFFFFFF0u, ClusterUse::LiveFile, true);
    EXPECT_EQ(ClusterState(clusterMap, n), ClusterUse::End);  // beyond the map answers "claimed"
    SetClusterState(clusterMap, n + 3, ClusterUse::LiveFile);
    EXPECT_EQ(ClusterClass(clusterMap, n + 3), ContentClass::None);
    // A contiguous run stops at the end of the map, or of the volume when
    // that comes first.
    b.SetFat(n - 1, 0);
    v = LoadFat(b);
    const uint32_t end = uint32_t(std::min<uint64_t>(n, uint64_t(v->clusterCount) + 2));
    std::vector<uint64_t> list;
    uint64_t collected = 0;
    EXPECT_EQ(MarkContiguous(clusterMap, *v, end - 2, ClusterUse::DeletedFile, 5ull * v->clusterSize, &list, &collected), 100);
    EXPECT_EQ(collected, 2u);
    EXPECT_EQ(MarkContiguous(clusterMap, *v, 0xFFFFFFFFu, ClusterUse::DeletedFile, 3ull * v->clusterSize, &list, &collected), 101);
    EXPECT_EQ(collected, 0u);
}

TEST_F(ClusterMapTest, MarkChainOfADeletedEntryClaimsOnlyItsStart) {
    FatImageBuilder b(FatGeometry::Fat16());
    auto v = LoadFat(b);
    EXPECT_EQ(MarkChain(clusterMap, *v, 40, ClusterUse::DeletedFile, false), 1);
    EXPECT_EQ(ClusterState(clusterMap, 40), ClusterUse::DeletedFile);
    EXPECT_EQ(ClusterState(clusterMap, 41), ClusterUse::Empty);
    EXPECT_EQ(MarkChain(clusterMap, *v, 1, ClusterUse::DeletedFile, false), 0);
    EXPECT_EQ(MarkChain(clusterMap, *v, 0, ClusterUse::LiveFile, true), 0);
    EXPECT_EQ(ClusterState(clusterMap, 0), ClusterUse::Empty);
    EXPECT_EQ(ClusterState(clusterMap, 1), ClusterUse::Empty);
}

TEST_F(ClusterMapTest, LiveChainKeepsCellsOfDeletedFiles) {
    FatImageBuilder b(FatGeometry::Fat16());
    b.MakeChain(60, 4);
    auto v = LoadFat(b);
    SetClusterState(clusterMap, 61, ClusterUse::DeletedFile);
    SetClusterState(clusterMap, 62, ClusterUse::LiveFolder);
    EXPECT_EQ(MarkChain(clusterMap, *v, 60, ClusterUse::LiveFile, true), 4);
    EXPECT_EQ(ClusterState(clusterMap, 60), ClusterUse::LiveFile);
    EXPECT_EQ(ClusterState(clusterMap, 61), ClusterUse::DeletedFile);  // kept
    EXPECT_EQ(ClusterState(clusterMap, 62), ClusterUse::LiveFile);  // anything else is overwritten
    EXPECT_EQ(ClusterState(clusterMap, 63), ClusterUse::LiveFile);
    // Without the keep flag every cell takes the state.
    EXPECT_EQ(MarkChain(clusterMap, *v, 60, ClusterUse::LiveFolder, false), 4);
    EXPECT_EQ(ClusterState(clusterMap, 61), ClusterUse::LiveFolder);
}

TEST_F(ClusterMapTest, DeletedEntryWhoseStartTheFatStillAllocatesClaimsNothing) {
    FatImageBuilder b(FatGeometry::Fat16());
    b.MakeChain(70, 2);  // a live file now owns cluster 70
    FatImageBuilder b32(FatGeometry::Fat32());
    b32.SetFat(80, 0xF0000000);  // only the reserved top bits set: free
    b32.SetFat(81, 0x10000000 | 90);
    {
        auto v = LoadFat(b);
        EXPECT_EQ(MarkChain(clusterMap, *v, 70, ClusterUse::DeletedFile, false), 0);
        EXPECT_EQ(ClusterState(clusterMap, 70), ClusterUse::Empty);
        EXPECT_EQ(ClusterState(clusterMap, 71), ClusterUse::Empty);
        // The live claim is not affected by the rule.
        EXPECT_EQ(MarkChain(clusterMap, *v, 70, ClusterUse::LiveFile, true), 2);
    }
    {
        auto v = LoadFat(b32);
        EXPECT_EQ(MarkChain(clusterMap, *v, 80, ClusterUse::DeletedFile, false), 1);
        EXPECT_EQ(ClusterState(clusterMap, 80), ClusterUse::DeletedFile);
        EXPECT_EQ(MarkChain(clusterMap, *v, 81, ClusterUse::DeletedFile, false), 0);
        EXPECT_EQ(ClusterState(clusterMap, 81), ClusterUse::Empty);
    }
}

TEST_F(ClusterMapTest, MarkContiguousCountsClustersBySize) {
    FatImageBuilder b(FatGeometry::Fat16());  // 1024-byte clusters
    auto v = LoadFat(b);
    std::vector<uint64_t> list;
    uint64_t collected = 99;
    EXPECT_EQ(MarkContiguous(clusterMap, *v, 100, ClusterUse::DeletedFile, 0, &list, &collected), 1);
    EXPECT_TRUE(list.empty());
    EXPECT_EQ(collected, 0u);
    EXPECT_EQ(MarkContiguous(clusterMap, *v, 1, ClusterUse::DeletedFile, 10, &list, &collected), 0);

    EXPECT_EQ(MarkContiguous(clusterMap, *v, 100, ClusterUse::DeletedFile, 1, &list, &collected), 1);
    EXPECT_EQ(list, (std::vector<uint64_t>{100}));
    EXPECT_EQ(ClusterState(clusterMap, 101), ClusterUse::Empty);

    EXPECT_EQ(MarkContiguous(clusterMap, *v, 200, ClusterUse::DeletedFile, 3 * 1024, &list, &collected), 1);
    EXPECT_EQ(list, (std::vector<uint64_t>{200, 201, 202}));
    EXPECT_EQ(collected, 3u);
    EXPECT_EQ(ClusterState(clusterMap, 203), ClusterUse::Empty);
    EXPECT_EQ(MarkContiguous(clusterMap, *v, 300, ClusterUse::DeletedFile, 3 * 1024 + 1, &list, &collected), 1);
    EXPECT_EQ(collected, 4u);

    // Cells already claimed by a deleted file can be shared.
    EXPECT_EQ(MarkContiguous(clusterMap, *v, 201, ClusterUse::DeletedFile, 2 * 1024, &list, &collected), 1);
}

TEST_F(ClusterMapTest, MarkContiguousStopsAtClaimedClusters) {
    FatImageBuilder b(FatGeometry::Fat16());
    auto v = LoadFat(b);
    std::vector<uint64_t> list;
    uint64_t collected = 0;
    SetClusterState(clusterMap, 400, ClusterUse::LiveFile);
    EXPECT_EQ(MarkContiguous(clusterMap, *v, 400, ClusterUse::DeletedFile, 3 * 1024, &list, &collected), 101);
    EXPECT_EQ(collected, 0u);
    EXPECT_EQ(ClusterState(clusterMap, 400), ClusterUse::DeletedFile);  // the blocking cell takes the state too
    EXPECT_EQ(ClusterState(clusterMap, 401), ClusterUse::Empty);

    SetClusterState(clusterMap, 502, ClusterUse::LiveFolder);
    EXPECT_EQ(MarkContiguous(clusterMap, *v, 500, ClusterUse::DeletedFile, 5 * 1024, &list, &collected), 100);
    EXPECT_EQ(collected, 2u);
    ASSERT_GE(list.size(), 2u);
    EXPECT_EQ(list[0], 500u);
    EXPECT_EQ(list[1], 501u);
    EXPECT_EQ(ClusterState(clusterMap, 502), ClusterUse::DeletedFile);
    EXPECT_EQ(ClusterState(clusterMap, 503), ClusterUse::Empty);
}

TEST_F(ClusterMapTest, MarkContiguousTreatsClustersTheFatAllocatesAsInUse) {
    FatImageBuilder b(FatGeometry::Fat16());
    b.MakeChain(600, 1);
    b.MakeChain(703, 2);
    auto v = LoadFat(b);
    std::vector<uint64_t> list;
    uint64_t collected = 0;
    EXPECT_EQ(MarkContiguous(clusterMap, *v, 600, ClusterUse::DeletedFile, 2048, &list, &collected), 101);
    EXPECT_EQ(collected, 0u);
    EXPECT_EQ(MarkContiguous(clusterMap, *v, 700, ClusterUse::DeletedFile, 8 * 1024, &list, &collected), 100);
    EXPECT_EQ(collected, 3u);
    EXPECT_EQ(ClusterState(clusterMap, 702), ClusterUse::DeletedFile);
    EXPECT_EQ(ClusterState(clusterMap, 704), ClusterUse::Empty);

    FatImageBuilder b32(FatGeometry::Fat32());
    b32.SetFat(800, 0xF0000000);  // reserved bits only: still free
    b32.SetFat(801, 0x0FFFFFFF);
    auto v32 = LoadFat(b32);
    EXPECT_EQ(MarkContiguous(clusterMap, *v32, 800, ClusterUse::DeletedFile, 3 * 512, &list, &collected), 100);
    EXPECT_EQ(collected, 1u);
}

// A deleted entry claiming 4 GiB on a small card: its list holds no more
// entries than there are clusters from its start to the card's last one,
// while the clusters it needs still follow from its size.
TEST_F(ClusterMapTest, MarkContiguousListIsBoundedByTheClustersThatExist) {
    FatImageBuilder b(FatGeometry::Fat12(2048, 1));  // 1 MiB, 512-byte clusters
    auto v = LoadFat(b);
    const uint64_t last = uint64_t(v->clusterCount) + 1;
    const uint64_t end = std::min<uint64_t>(clusterMap.size(), last + 1);  // first number past both
    const uint64_t neededForHuge = (0xFFFFFFFFull + 511) / 512;
    std::vector<uint64_t> list;
    uint64_t collected = 0;
    uint64_t needed = 0;
    for (uint32_t i = 0; i < 100; ++i) {
        const uint32_t start = 2 + i * 20;
        EXPECT_EQ(MarkContiguous(clusterMap, *v, start, ClusterUse::DeletedFile, 0xFFFFFFFFu, &list, &collected, true, &needed), 100)
            << start;
        ASSERT_LE(list.size(), end - start) << start;
        EXPECT_EQ(collected, end - start) << start;  // every cluster up to the end is free or shared
        EXPECT_EQ(needed, neededForHuge);
    }
    // Beyond the card nothing exists: blocked at the first cluster, no list.
    EXPECT_EQ(MarkContiguous(clusterMap, *v, uint32_t(end), ClusterUse::DeletedFile, 0xFFFFFFFFu, &list, &collected, true, &needed), 101);
    EXPECT_TRUE(list.empty());
    EXPECT_EQ(needed, neededForHuge);

    // A normal extent is unchanged: its list is exactly what it needs.
    FreeFat(clusterMap);
    LoadFat(b);
    EXPECT_EQ(MarkContiguous(clusterMap, *v, 300, ClusterUse::DeletedFile, 3 * 512 + 1, &list, &collected, true, &needed), 1);
    EXPECT_EQ(list, (std::vector<uint64_t>{300, 301, 302, 303}));
    EXPECT_EQ(needed, 4u);
    // An extent that runs into the card's end is fragmented at the last cluster.
    EXPECT_EQ(MarkContiguous(clusterMap, *v, uint32_t(last - 1), ClusterUse::DeletedFile, 5 * 512, &list, &collected, true, &needed),
              100);
    EXPECT_EQ(collected, 2u);
    EXPECT_EQ(needed, 5u);
}

// A boot sector with the NTFS marker claims a huge sector count; the map is
// sized by what the source can hold, as for FAT volumes, and a search over
// the claimed range ends at once.
TEST_F(ClusterMapTest, NtfsMarkerMapIsBoundedByTheSource) {
    for (size_t bytes : {size_t(512), size_t(64 * 1024)}) {
        SCOPED_TRACE(bytes);
        BootSector boot{};
        std::memcpy(&boot[bpb::OemName], "NTFS    ", 8);
        boot[bpb::BytesPerSector + 1] = 0x02;  // 512
        boot[bpb::SectorsPerCluster] = 8;
        for (int k = 0; k < 6; ++k) boot[size_t(bpb::NtfsTotalSectors + k)] = 0xFF;  // 2^48 - 1 sectors
        boot[510] = 0x55;
        boot[511] = 0xAA;
        std::vector<uint8_t> image(bytes, 0);
        std::copy(boot.begin(), boot.end(), image.begin());
        SearchSession session;
        session.volume = DiskIO_OpenMemory(image);
        DiskVolume* v = session.volume.get();
        ASSERT_EQ(v->volumeKind, VolumeNtfs);
        ASSERT_GT(v->clusterCount, int64_t(1) << 40);
        EXPECT_EQ(ReadFat(session.clusterMap, *v), 0);
        EXPECT_TRUE(session.clusterMap.present);
        EXPECT_LE(session.clusterMap.size(), bytes / v->clusterSize + 2);

        for (int32_t flags : {0, int32_t(SearchDetailed)}) {
            session.options = SearchOptions{};
            session.options.flags = flags;
            EXPECT_EQ(SearchClusters(session, 2, uint32_t(v->clusterCount)), 0);
        }
    }
}

TEST_F(ClusterMapTest, StateNames) {
    EXPECT_STREQ(ClusterStateName(ClusterUse::Empty), "FA_EMPTY");
    EXPECT_STREQ(ClusterStateName(ClusterUse::DeletedFile), "FA_DEL_FILE");
    EXPECT_STREQ(ClusterStateName(ClusterUse::LiveFolder), "FA_USE_DIR");
    EXPECT_STREQ(ClusterStateName(ClusterUse(7)), "(7)");
    EXPECT_STREQ(ClusterStateName(ClusterUse(200)), "(200)");
    EXPECT_TRUE(IsDirectoryAttribute(0x10));
    EXPECT_TRUE(IsDirectoryAttribute(0x31));
    EXPECT_FALSE(IsDirectoryAttribute(0x2F));
}

}  // namespace
}  // namespace veld
