#include "volume/cluster_cells.h"

#include <algorithm>
#include <cstring>

#include "volume/cluster_map.h"

namespace veld {

static_assert(ClusterCells::kEmpty == uint8_t(ClusterUse::Empty) && ClusterCells::kEmpty == uint8_t(ContentClass::None));
static_assert(ClusterCells::kOutsideState == uint8_t(ClusterUse::End));

namespace {

// Past this many runs a page holds its cells directly: 2,048 runs take 8 KiB
// where the cells take 128 KiB, and keeping the runs in order costs a move of
// up to 8 KiB per write that splits one.
constexpr size_t kMaxRuns = 2048;

}  // namespace

struct ClusterCells::Page {
    // Run form: sorted by start, the first starting at 0, neighbours always
    // different; run i covers [start of i, start of i + 1 or the page's end).
    struct Run {
        uint16_t start;
        uint8_t state;
        uint8_t contentClass;
    };
    std::vector<Run> runs;
    // Dense form (runs empty): kPageCells states, then kPageCells classes.
    std::unique_ptr<uint8_t[]> dense;
    // The run found last: walks through the map move forward a cell or a run
    // at a time, so the next lookup is usually there or one run further.
    mutable size_t hint = 0;

    static bool Same(const Run& a, const Run& b) { return a.state == b.state && a.contentClass == b.contentClass; }

    bool Holds(size_t i, uint32_t offset) const {
        return i < runs.size() && runs[i].start <= offset && (i + 1 == runs.size() || runs[i + 1].start > offset);
    }

    size_t FindRun(uint32_t offset) const {
        if (Holds(hint, offset)) return hint;
        if (Holds(hint + 1, offset)) return ++hint;
        auto after = std::upper_bound(runs.begin(), runs.end(), offset,
                                      [](uint32_t o, const Run& r) { return o < r.start; });
        hint = size_t(after - runs.begin()) - 1;  // runs[0] starts at 0, so after > begin
        return hint;
    }

    // Gives cell offset the value want; i is the run that holds it and does
    // not have that value yet. Neighbouring runs of equal value are merged.
    void SetInRun(size_t i, uint32_t offset, Run want) {
        const Run old = runs[i];
        const uint32_t end = i + 1 < runs.size() ? runs[i + 1].start : uint32_t(kPageCells);
        const bool previousSame = i > 0 && Same(runs[i - 1], want);
        const bool nextSame = i + 1 < runs.size() && Same(runs[i + 1], want);
        want.start = uint16_t(offset);
        if (offset == old.start && offset + 1 == end) {  // the run is this one cell
            runs[i] = want;
            if (nextSame) runs.erase(runs.begin() + ptrdiff_t(i) + 1);
            if (previousSame) runs.erase(runs.begin() + ptrdiff_t(i));
            hint = previousSame ? i - 1 : i;
        } else if (offset == old.start) {  // the first cell of a longer run
            runs[i].start = uint16_t(offset + 1);
            if (previousSame) {
                hint = i - 1;
            } else {
                runs.insert(runs.begin() + ptrdiff_t(i), want);
                hint = i;
            }
        } else if (offset + 1 == end) {  // the last cell of a longer run
            if (nextSame) {
                runs[i + 1].start = uint16_t(offset);
            } else {
                runs.insert(runs.begin() + ptrdiff_t(i) + 1, want);
            }
            hint = i + 1;
        } else {  // inside a run: it splits in three
            Run rest = old;
            rest.start = uint16_t(offset + 1);
            const Run pair[2] = {want, rest};
            runs.insert(runs.begin() + ptrdiff_t(i) + 1, pair, pair + 2);
            hint = i + 1;
        }
    }

    void MakeDense() {
        dense.reset(new uint8_t[2 * kPageCells]);  // every cell is written below
        for (size_t i = 0; i < runs.size(); ++i) {
            const uint32_t begin = runs[i].start;
            const uint32_t end = i + 1 < runs.size() ? runs[i + 1].start : uint32_t(kPageCells);
            std::memset(dense.get() + begin, runs[i].state, end - begin);
            std::memset(dense.get() + kPageCells + begin, runs[i].contentClass, end - begin);
        }
        std::vector<Run>().swap(runs);
        hint = 0;
    }
};

ClusterCells::ClusterCells(uint64_t count) { Reset(count); }
ClusterCells::~ClusterCells() = default;
ClusterCells::ClusterCells(ClusterCells&&) noexcept = default;
ClusterCells& ClusterCells::operator=(ClusterCells&&) noexcept = default;

void ClusterCells::Reset(uint64_t count) {
    std::vector<std::unique_ptr<Page>>().swap(pages_);
    size_ = 0;
    pages_.resize(size_t((count + kPageCells - 1) >> kPageBits));
    size_ = count;
}

ClusterCells::Cell ClusterCells::Get(uint64_t cluster) const {
    if (cluster >= size_) return Cell{kOutsideState, kEmpty};
    const Page* page = pages_[size_t(cluster >> kPageBits)].get();
    if (!page) return Cell{};
    const uint32_t offset = uint32_t(cluster & (kPageCells - 1));
    if (page->dense) return Cell{page->dense[offset], page->dense[kPageCells + offset]};
    const Page::Run& run = page->runs[page->FindRun(offset)];
    return Cell{run.state, run.contentClass};
}

uint8_t ClusterCells::State(uint64_t cluster) const { return Get(cluster).state; }
uint8_t ClusterCells::Class(uint64_t cluster) const { return Get(cluster).contentClass; }
void ClusterCells::SetState(uint64_t cluster, uint8_t state) { Put(cluster, true, state); }
void ClusterCells::SetClass(uint64_t cluster, uint8_t contentClass) { Put(cluster, false, contentClass); }

void ClusterCells::Put(uint64_t cluster, bool state, uint8_t value) {
    if (cluster >= size_) return;
    std::unique_ptr<Page>& slot = pages_[size_t(cluster >> kPageBits)];
    if (!slot) {
        if (value == kEmpty) return;  // already so
        slot = std::make_unique<Page>();
        slot->runs.push_back(Page::Run{0, kEmpty, kEmpty});
    }
    Page& page = *slot;
    const uint32_t offset = uint32_t(cluster & (kPageCells - 1));
    if (page.dense) {
        page.dense[(state ? 0 : kPageCells) + offset] = value;
        return;
    }
    const size_t i = page.FindRun(offset);
    Page::Run want = page.runs[i];
    (state ? want.state : want.contentClass) = value;
    if (Page::Same(want, page.runs[i])) return;
    page.SetInRun(i, offset, want);
    if (page.runs.size() > kMaxRuns) {
        page.MakeDense();
    } else if (page.runs.size() == 1 && page.runs[0].state == kEmpty && page.runs[0].contentClass == kEmpty) {
        slot.reset();  // empty again
    }
}

uint64_t ClusterCells::NextEmpty(uint64_t from, uint64_t end) const {
    const uint64_t limit = std::min(end, size_);
    for (uint64_t c = from; c < limit;) {
        const uint64_t base = c & ~(kPageCells - 1);
        const Page* page = pages_[size_t(c >> kPageBits)].get();
        if (!page) return c;
        const uint32_t offset = uint32_t(c - base);
        if (page->dense) {
            const uint64_t count = std::min(base + kPageCells, limit) - c;
            const void* hit = std::memchr(page->dense.get() + offset, kEmpty, size_t(count));
            if (hit) return base + uint64_t(static_cast<const uint8_t*>(hit) - page->dense.get());
        } else {
            for (size_t i = page->FindRun(offset); i < page->runs.size(); ++i) {
                if (page->runs[i].state != kEmpty) continue;
                const uint64_t at = std::max(c, base + page->runs[i].start);
                return at < limit ? at : end;
            }
        }
        c = base + kPageCells;
    }
    return end;
}

void ClusterCells::CountStates(uint64_t (&counts)[256]) const {
    std::fill(std::begin(counts), std::end(counts), 0);
    for (size_t p = 0; p < pages_.size(); ++p) {
        const uint64_t cellsHere = std::min<uint64_t>(kPageCells, size_ - (uint64_t(p) << kPageBits));
        const Page* page = pages_[p].get();
        if (!page) {
            counts[kEmpty] += cellsHere;
        } else if (page->dense) {
            for (uint64_t k = 0; k < cellsHere; ++k) ++counts[page->dense[k]];
        } else {
            for (size_t i = 0; i < page->runs.size(); ++i) {
                const uint64_t begin = page->runs[i].start;
                const uint64_t end = i + 1 < page->runs.size() ? page->runs[i + 1].start : kPageCells;
                if (begin < cellsHere) counts[page->runs[i].state] += std::min(end, cellsHere) - begin;
            }
        }
    }
}

ClusterCells::MemoryUse ClusterCells::Memory() const {
    MemoryUse use;
    use.bytes = pages_.capacity() * sizeof(pages_[0]);
    for (const auto& page : pages_) {
        if (!page) continue;
        use.bytes += sizeof(Page);
        if (page->dense) {
            ++use.densePages;
            use.bytes += 2 * kPageCells;
        } else {
            ++use.runPages;
            use.bytes += page->runs.capacity() * sizeof(Page::Run);
        }
    }
    return use;
}

void ClusterMarks::Reset(uint64_t count) {
    std::vector<std::unique_ptr<uint64_t[]>>().swap(pages_);
    size_ = count;
}

bool ClusterMarks::Test(uint64_t cluster) const {
    const size_t page = size_t(cluster >> kPageBits);
    if (cluster >= size_ || page >= pages_.size() || !pages_[page]) return false;
    const uint64_t bit = cluster & (kPageFlags - 1);
    return (pages_[page][bit / 64] >> (bit % 64)) & 1;
}

void ClusterMarks::Set(uint64_t cluster) {
    if (cluster >= size_) return;
    if (pages_.empty()) pages_.resize(size_t((size_ + kPageFlags - 1) >> kPageBits));
    std::unique_ptr<uint64_t[]>& page = pages_[size_t(cluster >> kPageBits)];
    if (!page) page.reset(new uint64_t[kPageFlags / 64]());
    const uint64_t bit = cluster & (kPageFlags - 1);
    page[bit / 64] |= uint64_t(1) << (bit % 64);
}

uint64_t ClusterMarks::MemoryBytes() const {
    uint64_t bytes = pages_.capacity() * sizeof(pages_[0]);
    for (const auto& page : pages_)
        if (page) bytes += kPageFlags / 8;
    return bytes;
}

}  // namespace veld
