// Cluster runs of exFAT files: a fragmented FAT chain written by the test
// builder, contiguous runs cut at the end of the heap, and chains that loop,
// leave the heap or end early.
#include <gtest/gtest.h>

#include <map>

#include "support/exfat_image_builder.h"
#include "support/mkfs_tools.h"
#include "support/partitioned_image.h"
#include "volume/exfat_boot.h"
#include "volume/exfat_chain.h"

namespace veld {
namespace {

using test::ExfatImageBuilder;

TEST(ExfatChain, FragmentedChainOnTheImageGivesItsClustersInOrder) {
    test::TempDir dir;
    ExfatImageBuilder card(dir.File("card.img"), {.sizeBytes = 8ull << 20, .clusterSize = 4096});
    ASSERT_EQ(card.error(), "");
    auto gap = card.AddFile(card.Root(), "GAP.JPG", std::vector<uint8_t>(4096, 1));
    card.AddFile(card.Root(), "KEEP.JPG", std::vector<uint8_t>(4096, 2));
    card.Delete(gap);
    // Three clusters: the freed one, then two after KEEP.JPG.
    auto chained = card.AddFile(card.Root(), "IMG.JPG", std::vector<uint8_t>(3 * 4096 - 10, 3), {.noFatChain = false});
    ASSERT_EQ(card.Finish(), "");

    const auto region = ReadExfatBootRegion(test::ReadFileRange(card.path(), 0, kExfatBootHeadBytes), 0);
    ASSERT_TRUE(region.boot);
    const ExfatBoot& boot = *region.boot;
    const std::vector<uint8_t> fat = test::ReadFileRange(card.path(), boot.ActiveFatOffset(), (boot.clusterCount + 2) * 4);
    auto entry = [&](uint32_t c) {
        return uint32_t(fat.at(4 * c)) | uint32_t(fat.at(4 * c + 1)) << 8 | uint32_t(fat.at(4 * c + 2)) << 16 |
               uint32_t(fat.at(4 * c + 3)) << 24;
    };
    const std::vector<uint64_t> clusters = card.Clusters(chained);
    ASSERT_EQ(clusters.size(), 3u);
    ASSERT_NE(clusters[0] + 1, clusters[1]);  // fragmented
    const ExfatChain chain = FollowExfatChain(boot, clusters[0], ExfatClustersFor(boot, 3 * 4096 - 10), entry);
    EXPECT_TRUE(chain.complete) << chain.why;
    ASSERT_EQ(chain.runs.size(), 2u);
    EXPECT_EQ(chain.runs[0].first, clusters[0]);
    EXPECT_EQ(chain.runs[0].count, 1u);
    EXPECT_EQ(chain.runs[1].first, clusters[1]);
    EXPECT_EQ(chain.runs[1].count, 2u);
}

TEST(ExfatChain, WalksStopAtLoopsHeapEdgesAndEarlyEnds) {
    ExfatBoot boot;
    boot.bytesPerSectorShift = 9;
    boot.sectorsPerClusterShift = 3;  // 4 KiB clusters
    boot.clusterCount = 100;          // heap clusters 2..101
    std::map<uint32_t, uint32_t> fat = {{10, 11}, {11, 12}, {12, 10},           // loop
                                        {20, 21}, {21, 500},                    // out of the heap
                                        {30, 31}, {31, 0xFFFFFFFF},             // ends after two
                                        {40, 0xFFFFFFF7},                       // bad cluster
                                        {50, 60}, {60, 51}, {51, 0xFFFFFFFF}};  // runs back into a taken run
    auto entry = [&](uint32_t c) { return fat.count(c) ? fat[c] : 0u; };
    struct Case {
        uint64_t first, wanted, clusters;
        const char* why;
    };
    const Case cases[] = {{10, 100, 3, "loops"},     {20, 5, 2, "outside the cluster heap"}, {30, 5, 2, "ends early"},
                          {40, 2, 1, "bad cluster"}, {50, 4, 3, "ends early"},               {1, 1, 0, "outside"}};
    for (const Case& c : cases) {
        const ExfatChain chain = FollowExfatChain(boot, c.first, c.wanted, entry);
        EXPECT_FALSE(chain.complete) << c.first;
        EXPECT_EQ(chain.clusters, c.clusters) << c.first;
        EXPECT_NE(chain.why.find(c.why), std::string::npos) << c.first << ": " << chain.why;
    }
    fat[51] = 60;  // 50 -> 60 -> 51 -> 60: back into a run already taken
    EXPECT_NE(FollowExfatChain(boot, 50, 10, entry).why.find("loops"), std::string::npos);
    EXPECT_TRUE(FollowExfatChain(boot, 30, 2, entry).complete);
    EXPECT_TRUE(FollowExfatChain(boot, 30, 0, entry).complete);

    const ExfatChain tail = ExfatContiguousRun(boot, 98, 10);
    EXPECT_FALSE(tail.complete);
    EXPECT_EQ(tail.clusters, 4u);  // 98..101
    EXPECT_TRUE(ExfatContiguousRun(boot, 98, 4).complete);
    EXPECT_EQ(ExfatClustersFor(boot, 4096), 1u);
    EXPECT_EQ(ExfatClustersFor(boot, 4097), 2u);
    EXPECT_EQ(ExfatClustersFor(boot, 0), 0u);
}

}  // namespace
}  // namespace veld
