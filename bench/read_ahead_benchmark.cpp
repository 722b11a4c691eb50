// Reading an image cluster by cluster the way the search examines it: one
// seek and read per cluster, beside the read-ahead reader with a reader
// thread and without one (the system told of the next block instead), for a
// few block sizes. Each cluster is examined (compared with zeros and summed)
// so reading and examining can overlap. With --cold the page cache is dropped
// before every run (needs root).
//
//   read_ahead_benchmark IMAGE [CLUSTER_SIZE] [--cold]
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <unistd.h>
#include <vector>

#include "platform/raw_device.h"
#include "volume/read_ahead.h"

namespace {

using Clock = std::chrono::steady_clock;

bool gCold = false;

void DropCache() {
    if (!gCold) return;
    ::sync();
    FILE* f = std::fopen("/proc/sys/vm/drop_caches", "w");
    if (!f) {
        std::fprintf(stderr, "cannot drop the page cache (not root?)\n");
        std::exit(1);
    }
    std::fputs("3\n", f);
    std::fclose(f);
}

// A stand-in for the search's look at a cluster: is it all zeros, and a pass
// over every byte.
uint64_t Examine(const uint8_t* data, uint32_t size, const std::vector<uint8_t>& zeros) {
    uint64_t sum = std::memcmp(data, zeros.data(), size) == 0 ? 1 : 0;
    for (uint32_t i = 0; i < size; i += 8) {
        uint64_t v;
        std::memcpy(&v, data + i, 8);
        sum += v ^ (v >> 7);
    }
    return sum;
}

void Report(const char* what, double seconds, uint64_t bytes, uint64_t calls, uint64_t check) {
    std::printf("%-32s %7.2f s  %7.0f MB/s  %8llu reads  (%llx)\n", what, seconds, bytes / 1e6 / seconds,
                (unsigned long long)calls, (unsigned long long)(check & 0xffff));
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: read_ahead_benchmark IMAGE [CLUSTER_SIZE] [--cold]\n");
        return 2;
    }
    const std::string image = argv[1];
    uint32_t cs = 32768;
    for (int i = 2; i < argc; ++i) {
        if (std::strcmp(argv[i], "--cold") == 0)
            gCold = true;
        else
            cs = uint32_t(std::atoi(argv[i]));
    }
    auto device = veld::OpenRawPath(image, false);
    if (!device || cs == 0) {
        std::fprintf(stderr, "cannot open %s\n", image.c_str());
        return 1;
    }
    const uint64_t clusters = uint64_t(device->Size()) / cs;
    const uint64_t bytes = clusters * cs;
    const std::vector<uint8_t> zeros(cs, 0);
    std::printf("%s: %llu clusters of %u bytes, page cache %s\n", image.c_str(), (unsigned long long)clusters, cs,
                gCold ? "dropped before each run" : "warm");

    {  // the way the search reads today
        DropCache();
        std::vector<uint8_t> buffer(cs);
        uint64_t check = 0, calls = 0;
        const auto t0 = Clock::now();
        for (uint64_t c = 0; c < clusters; ++c) {
            uint32_t done = 0;
            device->Seek(int64_t(c * cs));
            device->Read(buffer.data(), cs, &done);
            calls += 1;
            check += Examine(buffer.data(), cs, zeros);
        }
        Report("seek + read per cluster", std::chrono::duration<double>(Clock::now() - t0).count(), bytes, calls, check);
    }
    for (bool thread : {true, false})
        for (uint32_t block : {1u << 20, 4u << 20, 16u << 20}) {
            DropCache();
            veld::ReadAheadOptions options;
            options.blockBytes = block;
            options.readerThread = thread;
            uint64_t check = 0;
            const auto t0 = Clock::now();
            veld::ReadAhead reader(*device, 0, 0, clusters - 1, cs, {}, options);
            for (uint64_t c = 0; c < clusters; ++c) {
                veld::ClusterSpan span = reader.Get(c);
                if (span.status != veld::ReadStatus::Ok) break;
                check += Examine(span.data, cs, zeros);
            }
            const double seconds = std::chrono::duration<double>(Clock::now() - t0).count();
            char what[64];
            std::snprintf(what, sizeof what, "%s, %u MiB blocks", thread ? "reader thread" : "advice only", block >> 20);
            Report(what, seconds, bytes, reader.readCalls(), check);
        }
    return 0;
}
