// The cluster map's cells for a whole volume: per cluster number (64 bits)
// a state byte (which kind of object claimed the cluster) and a content-class
// byte (what the signature search saw in it), all empty at the start.
//
// The cells are kept in pages of 65,536. A page no one has written is not
// allocated at all (its cells are empty); a written page first keeps only its
// runs of equal cells, which is all a card of photographs and free space has;
// a page whose neighbouring cells differ too often to be worth runs holds two
// bytes per cell. A raw source of billions of sectors therefore costs its page
// table (eight bytes per page) until it is searched, and then what its
// contents really vary by.
//
// Not thread-safe: one search writes and reads it.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

namespace veld {

class ClusterCells {
public:
    // The empty cell (state FA_EMPTY, class CC_NONE), and the state answered
    // for numbers at or beyond size() (FA_END); writes there are ignored.
    static constexpr uint8_t kEmpty = 0;
    static constexpr uint8_t kOutsideState = 4;
    static constexpr unsigned kPageBits = 16;
    static constexpr uint64_t kPageCells = uint64_t(1) << kPageBits;

    explicit ClusterCells(uint64_t count = 0);
    ~ClusterCells();
    ClusterCells(ClusterCells&&) noexcept;
    ClusterCells& operator=(ClusterCells&&) noexcept;

    uint64_t size() const { return size_; }
    // count cells, all empty; the memory of the previous cells is released.
    void Reset(uint64_t count);
    // Every cell empty again, the size kept.
    void Clear() { Reset(size_); }

    uint8_t State(uint64_t cluster) const;
    uint8_t Class(uint64_t cluster) const;
    void SetState(uint64_t cluster, uint8_t state);
    void SetClass(uint64_t cluster, uint8_t contentClass);

    // The first number in [from, end) whose state is empty, or end when there
    // is none; numbers at or beyond size() are not empty. Claimed runs are
    // stepped over a run or a page at a time.
    uint64_t NextEmpty(uint64_t from, uint64_t end) const;

    // How many cells hold each state (counts[state]), over all size() cells.
    void CountStates(uint64_t (&counts)[256]) const;

    struct MemoryUse {
        uint64_t runPages = 0;    // pages kept as runs of equal cells
        uint64_t densePages = 0;  // pages holding two bytes per cell
        uint64_t bytes = 0;       // the page table, the pages and their runs
    };
    MemoryUse Memory() const;

private:
    struct Page;
    struct Cell {
        uint8_t state = kEmpty;
        uint8_t contentClass = kEmpty;
    };
    Cell Get(uint64_t cluster) const;
    void Put(uint64_t cluster, bool state, uint8_t value);

    uint64_t size_ = 0;
    std::vector<std::unique_ptr<Page>> pages_;  // null: every cell of the page empty
};

// One flag per cluster number (64 bits), all clear at the start, kept in
// pages of 65,536 flags (8 KiB) that are allocated when a flag of theirs is
// first set; the page table itself is made on the first Set. A search that
// sets a few flags on a raw source of billions of sectors pays for those
// pages only. Not thread-safe.
class ClusterMarks {
public:
    explicit ClusterMarks(uint64_t count = 0) : size_(count) {}
    uint64_t size() const { return size_; }
    // count flags, all clear; the memory of the previous ones is released.
    void Reset(uint64_t count);
    // False for numbers at or beyond size().
    bool Test(uint64_t cluster) const;
    // Ignored for numbers at or beyond size().
    void Set(uint64_t cluster);
    uint64_t MemoryBytes() const;

private:
    static constexpr unsigned kPageBits = 16;
    static constexpr uint64_t kPageFlags = uint64_t(1) << kPageBits;
    uint64_t size_ = 0;
    std::vector<std::unique_ptr<uint64_t[]>> pages_;  // null: every flag of the page clear
};

}  // namespace veld
