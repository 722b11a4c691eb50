// The cell store under the search's pattern on a large raw source: every
// cell's state looked at and its class written in order (zero sectors, photo
// data and unclassified runs), then the claimed runs stepped over with
// NextEmpty. Prints the time per cell and the memory the store takes.
//
//   cluster_cells_benchmark [CELLS]   (default 2^27, a 64 GiB raw source)
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <random>

#include "volume/cluster_cells.h"
#include "volume/cluster_map.h"

int main(int argc, char** argv) {
    using Clock = std::chrono::steady_clock;
    const uint64_t walked = argc > 1 ? std::strtoull(argv[1], nullptr, 10) : (uint64_t(1) << 27);
    // The store covers a 3 TiB raw source; the walk runs over its first cells.
    const uint64_t size = 6'000'000'000ull;
    veld::ClusterCells cells(size);
    std::printf("store of %llu cells: %.1f MiB before any write\n", (unsigned long long)size,
                cells.Memory().bytes / 1048576.0);

    std::mt19937_64 rng(5);
    auto t0 = Clock::now();
    uint64_t examined = 0;
    for (uint64_t c = 0; c < walked && c < size;) {
        const uint64_t run = 1 + rng() % 8000;
        const uint8_t cls = rng() % 3 == 0 ? uint8_t(veld::ContentClass::Fill) : rng() % 2 ? uint8_t(veld::ContentClass::JpegData) : uint8_t(veld::ContentClass::None);
        for (uint64_t k = 0; k < run && c < walked; ++k, ++c) {
            examined += cells.State(c) == uint8_t(veld::ClusterUse::Empty);
            cells.SetClass(c, cls);
        }
    }
    double s = std::chrono::duration<double>(Clock::now() - t0).count();
    auto use = cells.Memory();
    std::printf("class walk over %llu cells: %.1f ns a cell; %.1f MiB (%llu run pages, %llu dense)\n",
                (unsigned long long)walked, s * 1e9 / double(walked), use.bytes / 1048576.0,
                (unsigned long long)use.runPages, (unsigned long long)use.densePages);

    // Files claimed by the directory passes: runs of 4,000 cells with gaps.
    for (uint64_t c = 0; c + 4000 < walked; c += 4000 + rng() % 400)
        for (uint64_t k = 0; k < 4000; ++k) cells.SetState(c + k, uint8_t(veld::ClusterUse::DeletedFile));
    t0 = Clock::now();
    uint64_t empties = 0;
    for (uint64_t c = cells.NextEmpty(0, walked); c < walked; c = cells.NextEmpty(c + 1, walked)) ++empties;
    s = std::chrono::duration<double>(Clock::now() - t0).count();
    use = cells.Memory();
    std::printf("stepping over claimed runs: %llu empty cells found in %.3f s; %.1f MiB (%llu run pages, %llu dense)\n",
                (unsigned long long)empties, s, use.bytes / 1048576.0, (unsigned long long)use.runPages,
                (unsigned long long)use.densePages);
    return examined == 0;
}
