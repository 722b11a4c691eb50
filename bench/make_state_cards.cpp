// Writes the cards of the states benchmark that mtools cannot lay out.
//
//   make_state_cards EXFAT IMAGE SIZE_MIB SCRIPT
//     An exFAT card (mkfs.exfat, 32 KiB clusters, filled by our builder) made
//     by the lines of SCRIPT, in order, each file written one minute after the
//     one before (as a camera shoots):
//       mkdir PATH           a folder (its parent must exist; "/" separators)
//       add PATH FILE        a file with FILE's bytes, in the first free clusters
//       del PATH             deletes the file (its clusters become free)
//   make_state_cards INTERLEAVED IMAGE A B C D
//     A FAT16 card (our builder, 2 KiB clusters) whose deleted files lie as
//     interleaved writes leave them: A and B cluster by cluster in turn
//     (written at the same time), C in two pieces around D, which was written
//     before C and lies contiguously between them. All four are deleted.
//   make_state_cards NOISE FILE SIZE SEED
//     SIZE bytes that look like no format (the same for the same seed): the
//     files a card holds beside the photographs.
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "support/exfat_image_builder.h"
#include "support/fat_image_builder.h"

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;
using namespace veld::test;

namespace {

Bytes Load(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        std::fprintf(stderr, "make_state_cards: cannot read %s\n", path.c_str());
        std::exit(1);
    }
    return Bytes(std::istreambuf_iterator<char>(in), {});
}

int Fail(const std::string& why) {
    std::fprintf(stderr, "make_state_cards: %s\n", why.c_str());
    return 1;
}

int ExfatCard(const std::string& image, uint64_t mib, const std::string& script) {
    ExfatImageBuilder card(image, {.sizeBytes = mib << 20, .clusterSize = 32 * 1024});
    if (!card.error().empty()) return Fail(card.error());
    std::map<std::string, ExfatImageBuilder::Node> nodes{{"", card.Root()}};
    std::ifstream lines(script);
    std::string line;
    int minute = 0;
    while (std::getline(lines, line)) {
        std::istringstream words(line);
        std::string verb, path, file;
        words >> verb >> path >> file;
        if (verb.empty()) continue;
        const fs::path p(path);
        const std::string parent = p.parent_path().string(), name = p.filename().string();
        ExfatTime time;
        time.day = 3 + minute / (24 * 60);
        time.hour = minute / 60 % 24;
        time.minute = minute % 60;
        ++minute;
        if (verb == "mkdir") {
            nodes[path] = card.AddDir(nodes.at(parent), name, time);
        } else if (verb == "add") {
            const Bytes bytes = Load(file);
            nodes[path] = card.AddFile(nodes.at(parent), name, bytes, {.time = time});
        } else if (verb == "del") {
            card.Delete(nodes.at(path));
        } else {
            return Fail("unknown line: " + line);
        }
        if (!card.error().empty()) return Fail(card.error() + " at: " + line);
    }
    const std::string problem = card.Finish();
    return problem.empty() ? 0 : Fail(problem);
}

int InterleavedCard(const std::string& image, const std::vector<std::string>& files) {
    FatImageBuilder b(FatGeometry::Fat16(65536, 4));
    const uint32_t cs = b.ClusterSize();
    const Bytes a = Load(files[0]), bb = Load(files[1]), c = Load(files[2]), d = Load(files[3]);
    auto clustersOf = [&](const Bytes& x) { return uint32_t((x.size() + cs - 1) / cs); };
    const uint32_t na = clustersOf(a), nb = clustersOf(bb), nc = clustersOf(c), nd = clustersOf(d);

    // A and B from cluster 100: A, B, A, B, ... and the longer one's rest after them.
    std::vector<uint32_t> ca, cb;
    uint32_t next = 100;
    for (uint32_t i = 0; i < std::max(na, nb); ++i) {
        if (i < na) ca.push_back(next++);
        if (i < nb) cb.push_back(next++);
    }
    // C's first half, then D whole, then C's second half.
    next += 20;
    std::vector<uint32_t> cc, cd;
    const uint32_t half = nc / 2;
    for (uint32_t i = 0; i < half; ++i) cc.push_back(next++);
    for (uint32_t i = 0; i < nd; ++i) cd.push_back(next++);
    for (uint32_t i = half; i < nc; ++i) cc.push_back(next++);
    if (next + 10 >= b.ClusterCount()) return Fail("the files do not fit");

    b.WriteChainData(ca, a);
    b.WriteChainData(cb, bb);
    b.WriteChainData(cc, c);
    b.WriteChainData(cd, d);
    auto dcim = b.Root().AddDir("DCIM", 3);
    auto folder = dcim.AddDir("100VELD", 4);
    auto add = [&](const std::string& path, const std::vector<uint32_t>& clusters, uint32_t size, int minute) {
        Entry e;
        e.name = fs::path(path).filename().string();
        e.startCluster = clusters.front();
        e.size = size;
        e.date = DosDate(2024, 5, 3);
        e.time = DosTime(10, minute, 0);
        e.deleted = true;
        folder.Add(e);
    };
    add(files[3], cd, uint32_t(d.size()), 0);
    add(files[2], cc, uint32_t(c.size()), 5);
    add(files[0], ca, uint32_t(a.size()), 10);
    add(files[1], cb, uint32_t(bb.size()), 10);
    folder.AddEnd();
    return b.WriteToFile(image) ? 0 : Fail("cannot write " + image);
}

int Noise(const std::string& path, uint64_t size, uint64_t seed) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    uint64_t x = seed * 0x9E3779B97F4A7C15ull + 1;
    for (uint64_t i = 0; i < size; ++i) {
        x ^= x << 13;
        x ^= x >> 7;
        x ^= x << 17;
        out.put(char(x >> 24));
    }
    return out ? 0 : Fail("cannot write " + path);
}

}  // namespace

int main(int argc, char** argv) {
    const std::string mode = argc > 1 ? argv[1] : "";
    if (mode == "EXFAT" && argc == 5) return ExfatCard(argv[2], std::strtoull(argv[3], nullptr, 10), argv[4]);
    if (mode == "INTERLEAVED" && argc == 7)
        return InterleavedCard(argv[2], std::vector<std::string>(argv + 3, argv + 7));
    if (mode == "NOISE" && argc == 5)
        return Noise(argv[2], std::strtoull(argv[3], nullptr, 10), std::strtoull(argv[4], nullptr, 10));
    std::fprintf(stderr, "usage: make_state_cards EXFAT IMAGE SIZE_MIB SCRIPT | INTERLEAVED IMAGE A B C D | "
                         "NOISE FILE SIZE SEED\n");
    return 2;
}
