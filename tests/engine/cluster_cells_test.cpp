// The page-wise cell store of the cluster map: every cell empty until
// written, 64-bit numbers up to the last cell of a very large source, runs
// across page edges, the memory it takes, and the same answers as a plain
// array of cells under any mix of writes.
#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "volume/cluster_cells.h"
#include "volume/cluster_map.h"

namespace veld {
namespace {

constexpr uint64_t kPage = ClusterCells::kPageCells;

TEST(ClusterCells, HugeStoreCostsItsPageTableUntilWrittenAndKeepsTheLastCell) {
    const uint64_t count = uint64_t(1) << 33;  // 4 TiB of 512-byte sectors
    ClusterCells cells(count);
    EXPECT_EQ(cells.size(), count);
    EXPECT_LE(cells.Memory().bytes, (count / kPage) * 8 + 64);
    EXPECT_EQ(cells.Memory().runPages + cells.Memory().densePages, 0u);

    const uint64_t last = count - 1;
    EXPECT_EQ(cells.State(last), uint8_t(ClusterUse::Empty));
    EXPECT_EQ(cells.State(count), uint8_t(ClusterUse::End));  // beyond the store
    EXPECT_EQ(cells.Class(count), uint8_t(ContentClass::None));
    cells.SetState(count, uint8_t(ClusterUse::LiveFile));     // ignored
    cells.SetClass(uint64_t(-1), uint8_t(ContentClass::Fill));  // ignored
    EXPECT_EQ(cells.Memory().runPages, 0u);

    cells.SetState(last, uint8_t(ClusterUse::LiveFile));
    cells.SetClass(last, uint8_t(ContentClass::JpegEnd));
    cells.SetClass(uint64_t(1) << 32, uint8_t(ContentClass::Text));  // a number past 32 bits
    EXPECT_EQ(cells.State(last), uint8_t(ClusterUse::LiveFile));
    EXPECT_EQ(cells.Class(last), uint8_t(ContentClass::JpegEnd));
    EXPECT_EQ(cells.State(last - 1), uint8_t(ClusterUse::Empty));
    EXPECT_EQ(cells.Class(uint64_t(1) << 32), uint8_t(ContentClass::Text));
    EXPECT_EQ(cells.Class((uint64_t(1) << 32) - 1), uint8_t(ContentClass::None));
    EXPECT_EQ(cells.Memory().runPages, 2u);

    EXPECT_EQ(cells.NextEmpty(last - 3, count), last - 3);
    EXPECT_EQ(cells.NextEmpty(last, count), count);
    EXPECT_EQ(cells.NextEmpty(last, count + 100), count + 100);  // none: the given end

    // Writing a cell back to empty releases its page.
    cells.SetState(last, uint8_t(ClusterUse::Empty));
    cells.SetClass(last, uint8_t(ContentClass::None));
    EXPECT_EQ(cells.Memory().runPages, 1u);
    cells.Clear();
    EXPECT_EQ(cells.Memory().runPages, 0u);
    EXPECT_EQ(cells.Class(uint64_t(1) << 32), uint8_t(ContentClass::None));
    EXPECT_EQ(cells.size(), count);
}

TEST(ClusterCells, ClaimedRunsAcrossPageEdgesAreSteppedOver) {
    ClusterCells cells(5 * kPage + 123);
    // A claimed run from the end of page 0 over all of page 1 into page 2.
    const uint64_t from = kPage - 6, to = 2 * kPage + 10;
    for (uint64_t c = from; c < to; ++c) cells.SetState(c, uint8_t(ClusterUse::DeletedFile));
    EXPECT_EQ(cells.State(kPage - 7), uint8_t(ClusterUse::Empty));
    EXPECT_EQ(cells.State(kPage - 1), uint8_t(ClusterUse::DeletedFile));
    EXPECT_EQ(cells.State(kPage), uint8_t(ClusterUse::DeletedFile));
    EXPECT_EQ(cells.State(to - 1), uint8_t(ClusterUse::DeletedFile));
    EXPECT_EQ(cells.State(to), uint8_t(ClusterUse::Empty));
    EXPECT_EQ(cells.NextEmpty(0, cells.size()), 0u);
    EXPECT_EQ(cells.NextEmpty(from, cells.size()), to);
    EXPECT_EQ(cells.NextEmpty(kPage, cells.size()), to);
    EXPECT_EQ(cells.NextEmpty(kPage, to), to);          // none before the end asked for
    EXPECT_EQ(cells.NextEmpty(kPage, kPage + 5), kPage + 5);
    EXPECT_EQ(cells.NextEmpty(to + 7, to), to);          // an empty range
    // Three pages, each kept as a few runs.
    EXPECT_EQ(cells.Memory().runPages, 3u);
    EXPECT_EQ(cells.Memory().densePages, 0u);
    EXPECT_LT(cells.Memory().bytes, 1024u);

    // The last, partial page ends the store.
    const uint64_t last = cells.size() - 1;
    cells.SetState(last, uint8_t(ClusterUse::Bad));
    EXPECT_EQ(cells.NextEmpty(last - 1, cells.size()), last - 1);
    EXPECT_EQ(cells.NextEmpty(last, cells.size()), cells.size());
}

TEST(ClusterCells, ASearchOfFillAndPicturesStaysSmall) {
    // A raw source searched sector by sector: zero sectors, pictures of a few
    // thousand sectors, the rest unclassified, every cell written in order.
    ClusterCells cells(64 * kPage);
    std::mt19937 rng(3);
    for (uint64_t c = 0; c < cells.size();) {
        const uint8_t cls = (rng() % 3 == 0) ? uint8_t(ContentClass::Fill) : (rng() % 2 ? uint8_t(ContentClass::JpegData) : uint8_t(ContentClass::None));
        const uint64_t run = 1 + rng() % 6000;
        for (uint64_t k = 0; k < run && c < cells.size(); ++k, ++c) cells.SetClass(c, cls);
    }
    const auto use = cells.Memory();
    EXPECT_EQ(use.densePages, 0u);
    EXPECT_LT(use.bytes, 64 * kPage / 100);  // far below two bytes a cell
}

TEST(ClusterCells, AnyMixOfWritesAnswersLikeAPlainArray) {
    const uint64_t count = 3 * kPage + 999;
    ClusterCells cells(count);
    std::vector<uint8_t> states(count, uint8_t(ClusterUse::Empty)), classes(count, uint8_t(ContentClass::None));
    std::mt19937_64 rng(11);
    const uint8_t stateValues[] = {uint8_t(ClusterUse::Empty), uint8_t(ClusterUse::Empty), uint8_t(ClusterUse::DeletedFile), uint8_t(ClusterUse::LiveFile), uint8_t(ClusterUse::LiveFolder)};
    const uint8_t classValues[] = {uint8_t(ContentClass::None), uint8_t(ContentClass::Fill), uint8_t(ContentClass::JpegData), uint8_t(ContentClass::Text)};
    // Every third cell of page 1 different: too many runs, so it turns dense.
    for (uint64_t c = kPage; c < kPage + 9000; c += 3) {
        classes[c] = uint8_t(ContentClass::Text);
        cells.SetClass(c, uint8_t(ContentClass::Text));
    }
    EXPECT_EQ(cells.Memory().densePages, 1u);
    for (int round = 0; round < 4000; ++round) {
        // Runs of equal writes of varying length, and single cells scattered
        // over pages 1 and 2.
        const bool scatter = round % 2 == 0;
        const uint64_t start = scatter ? kPage + rng() % (2 * kPage) : rng() % count;
        const uint64_t length = scatter ? 1 : 1 + rng() % 3000;
        const bool state = rng() % 2;
        const uint8_t value = state ? stateValues[rng() % 5] : classValues[rng() % 4];
        for (uint64_t c = start; c < start + length && c < count; ++c) {
            (state ? states[c] : classes[c]) = value;
            state ? cells.SetState(c, value) : cells.SetClass(c, value);
        }
    }
    for (uint64_t c = 0; c < count; ++c) {
        ASSERT_EQ(cells.State(c), states[c]) << c;
        ASSERT_EQ(cells.Class(c), classes[c]) << c;
    }
    for (int probe = 0; probe < 2000; ++probe) {
        const uint64_t from = rng() % count, end = from + rng() % (2 * kPage);
        uint64_t want = from;
        while (want < std::min(end, count) && states[want] != uint8_t(ClusterUse::Empty)) ++want;
        if (want >= std::min(end, count)) want = end;
        ASSERT_EQ(cells.NextEmpty(from, end), want) << from << " " << end;
    }
}

}  // namespace
}  // namespace veld
