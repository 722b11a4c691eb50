// Writes the hostile cards of bench/hostile_benchmark.sh into a folder: for
// each case a card at three scales (CASE-x1.img, CASE-x10.img, ...; the
// label is the count against the first scale's) and a plain card beside them
// (CASE-plain.img: the same kind and size without the hostile trait, or the
// honest form of the same files). For every card it prints one line:
//   FILE <tab> CASE <tab> SCALE <tab> COUNT <tab> UNIT <tab> BYTES
//
//   make_hostile_cards FOLDER [--only CASE] [--tile HEVC] [--clip MP4] [--key-clip MP4]
//
// --tile is a 512 x 512 HEVC picture as an Annex B stream (heif-grid), --clip
// an MP4 of P-frames without a key frame and --key-clip the same clip with
// it (pframe-clip); without them those cases are left out. The cases:
//   ftyp-free        raw: every sector an "ftyp" box and a "free" box filling it
//   box-jump         raw: every sector "ftyp", then a "free" box of 32 MiB
//                    that ends in the zeros after the run
//   tiff-subifd      raw: a TIFF whose IFDs hold 1,000 SubIFD entries naming
//                    one array of 131,072 offsets, then 10 JPEG photos
//   tiff-strips      raw: every sector a TIFF header whose IFD holds 41
//                    StripOffsets entries of 131,072 values and no byte counts
//   heif-grid        FAT32: a HEIF whose primary item is a 32 x 32 grid of
//                    16384 x 16384 naming one 512 x 512 tile 1,024 times,
//                    its ispe 64 x 64; copies alternately deleted and carved
//   pframe-clip      FAT32: the clip without key frame, alternately deleted
//                    and carved
//   fat-4gib         FAT32 (1 KiB clusters): deleted entries of 0xFFFFFFFF bytes
//   fat-lost-chain   FAT32 after a quick format: lost folders, each one's ".."
//                    naming the folder before it
//   exfat-lost       exFAT after a quick format: pairs of lost folders, the
//                    inner one first on the card (its set in the outer one
//                    deleted), the outer ones' holder last
//   fat-interleaved  FAT32: deleted photos of two clusters each, written in
//                    turn (photo i at b + i and b + N + i)
//   foreign-scan     FAT32: 600 deleted photos, each a real photo's header,
//                    another picture's scan data and the end marker at the
//                    entry's size
//   same-mib         FAT32: deleted entries of 1 MiB, all starting at the
//                    same cluster (one photo there); plain: the photo's own
//                    entry alone
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "heif_grid_picture.h"
#include "support/exfat_image_builder.h"
#include "support/fat_image_builder.h"
#include "support/mkfs_tools.h"
#include "support/test_jpeg.h"

using Bytes = std::vector<uint8_t>;
using namespace veld::test;

namespace {

constexpr uint64_t kMiB = 1ull << 20;
constexpr uint32_t kSector = 512;
constexpr uint32_t kPerFolder = 1000;  // entries in one camera folder

// ---- output ---------------------------------------------------------------

struct Inputs {
    Bytes tile, clip, keyClip;
};

class Out {
public:
    explicit Out(std::string folder) : folder_(std::move(folder)) {}

    std::string Path(const std::string& file) const { return folder_ + "/" + file; }

    // Writes the bytes, leaving runs of 64 KiB of zeros as holes, to the
    // given size (zeros past the bytes), and prints the card's line.
    bool Card(const std::string& kase, const std::string& scale, uint64_t count, const char* unit, const Bytes& bytes,
              uint64_t size = 0) {
        const std::string file = kase + "-" + scale + ".img";
        size = std::max<uint64_t>(size, bytes.size());
        if (!WriteSparse(Path(file), bytes, size)) return false;
        return Line(file, kase, scale, count, unit, size);
    }

    bool Line(const std::string& file, const std::string& kase, const std::string& scale, uint64_t count,
              const char* unit, uint64_t size) const {
        std::printf("%s\t%s\t%s\t%llu\t%s\t%llu\n", file.c_str(), kase.c_str(), scale.c_str(),
                    (unsigned long long)count, unit, (unsigned long long)size);
        return true;
    }

    static bool WriteSparse(const std::string& path, const Bytes& bytes, uint64_t size) {
        const int fd = ::open(path.c_str(), O_CREAT | O_WRONLY | O_TRUNC, 0644);
        if (fd < 0) return Fail("cannot write " + path);
        constexpr size_t kBlock = 64 * 1024;
        bool ok = true;
        for (size_t at = 0; ok && at < bytes.size(); at += kBlock) {
            const size_t n = std::min(kBlock, bytes.size() - at);
            const bool zero = bytes[at] == 0 && std::memcmp(&bytes[at], &bytes[at + 1], n - 1) == 0;
            if (!zero) ok = ::pwrite(fd, &bytes[at], n, off_t(at)) == ssize_t(n);
        }
        ok = ok && ::ftruncate(fd, off_t(size)) == 0;
        ::close(fd);
        return ok || Fail("cannot write " + path);
    }

    static bool Fail(const std::string& why) {
        std::fprintf(stderr, "make_hostile_cards: %s\n", why.c_str());
        return false;
    }

private:
    std::string folder_;
};

// "x1", "x10", ... against the first scale's count.
std::string Label(uint64_t count, uint64_t first) { return "x" + std::to_string(count / first); }

void Be32(uint8_t* p, uint32_t v) {
    for (int k = 0; k < 4; ++k) p[k] = uint8_t(v >> (24 - 8 * k));
}
void Le16(uint8_t* p, uint16_t v) { p[0] = uint8_t(v), p[1] = uint8_t(v >> 8); }
void Le32(uint8_t* p, uint32_t v) {
    for (int k = 0; k < 4; ++k) p[k] = uint8_t(v >> (8 * k));
}

std::string Name(const char* format, uint64_t n) {
    char text[32];
    std::snprintf(text, sizeof text, format, (unsigned long long)n);
    return text;
}

// ---- FAT layout -------------------------------------------------------------

// A FAT32 card of mib MiB in clusters of clusterKiB.
FatGeometry Fat32Card(uint32_t mib, uint8_t clusterKiB) {
    return FatGeometry::Fat32(uint32_t(mib * kMiB / kSector), uint8_t(clusterKiB * 1024 / kSector));
}

// A live folder in `count` chained clusters from `first`, entered in parent:
// "." and ".." first, then what goes through the returned writer.
DirWriter AddFolder(FatImageBuilder& b, DirWriter& parent, const std::string& name, uint32_t first, uint32_t count) {
    Entry e;
    e.name = name;
    e.attributes = kAttrDirectory;
    e.startCluster = first;
    e.date = DosDate(2024, 5, 3);
    parent.Add(e);
    std::vector<uint32_t> clusters;
    for (uint32_t k = 0; k < count; ++k) clusters.push_back(first + k);
    b.MakeChain(clusters);
    DirWriter folder = b.Dir(clusters);
    folder.AddDotEntries(parent.IsRoot() ? 0 : parent.Cluster());
    return folder;
}

// DCIM with camera folders 100VELD, 101VELD, ... of kPerFolder entries each,
// in clusters from 3 on (after the FAT32 root in cluster 2); `end` is the
// first cluster after them. An entry takes slotsEach slots (long-name pieces
// and its short entry).
class CameraFolders {
public:
    CameraFolders(FatImageBuilder& b, uint64_t entries, uint32_t slotsEach = 1) {
        const uint32_t slotsPerCluster = b.ClusterSize() / 32;
        auto clustersFor = [&](uint64_t slots) { return uint32_t((slots + slotsPerCluster - 1) / slotsPerCluster); };
        const uint64_t folders = std::max<uint64_t>(1, (entries + kPerFolder - 1) / kPerFolder);
        DirWriter root = b.Root();
        uint32_t next = 3;
        const uint32_t dcimClusters = clustersFor(folders + 3);
        DirWriter dcim = AddFolder(b, root, "DCIM", next, dcimClusters);
        next += dcimClusters;
        for (uint64_t f = 0; f < folders; ++f) {
            const uint64_t here = std::min<uint64_t>(kPerFolder, entries - std::min(entries, f * kPerFolder));
            const uint32_t n = clustersFor(here * slotsEach + 3);
            folders_.push_back(AddFolder(b, dcim, Name("%lluVELD", 100 + f), next, n));
            next += n;
        }
        end = next;
    }

    // The next entry into the folder whose turn it is.
    void Add(const Entry& e) {
        folders_[size_t(added_ / kPerFolder)].Add(e);
        ++added_;
    }
    // The number the next entry's name gets: counted on across folders, as
    // a camera does (the same name and start cluster in two folders would
    // be listed once).
    uint64_t NextNumber() const { return added_ % 9999 + 1; }

    uint32_t end = 0;

private:
    std::vector<DirWriter> folders_;
    uint64_t added_ = 0;
};

Entry DeletedEntry(const std::string& name, uint32_t start, uint32_t size, uint64_t n) {
    Entry e;
    e.name = name;
    e.startCluster = start;
    e.size = size;
    e.deleted = true;
    e.date = DosDate(2024, 5, 3);
    e.time = DosTime(10 + int(n / 3600 % 12), int(n / 60 % 60), int(n % 60));
    return e;
}

// ---- JPEG pieces ------------------------------------------------------------

// Where a JPEG's entropy-coded data begins: after the start-of-scan
// segment's header (markers from byte 2: FF xx, then a big-endian length
// that counts itself).
size_t ScanStart(const Bytes& jpeg) {
    size_t at = 2;
    while (at + 4 <= jpeg.size() && jpeg[at] == 0xFF) {
        const size_t length = size_t(jpeg[at + 2]) << 8 | jpeg[at + 3];
        if (jpeg[at + 1] == 0xDA) return at + 2 + length;
        at += 2 + length;
    }
    return 0;
}

TestExif CameraExif(const std::string& model, uint64_t n) {
    TestExif exif;
    exif.make = "VELD";
    exif.model = model;
    exif.dateTime = Name("2024:05:03 10:%02llu:00", n % 60);
    exif.dateTimeOriginal = exif.dateTime;
    return exif;
}

// ---- the cases --------------------------------------------------------------

// A 24-byte "ftyp" box: size, type, major brand, minor version, two brands.
void PutFtyp(uint8_t* p) {
    Be32(p, 24);
    std::memcpy(p + 4, "ftypisom", 8);
    Be32(p + 12, 0x200);
    std::memcpy(p + 16, "isommp41", 8);
}

bool FtypFree(Out& out, const Inputs&) {
    const uint64_t scales[] = {1000, 10000, 100000};
    const uint64_t tail = 64 * 1024;  // zeros after the run
    for (uint64_t n : scales) {
        Bytes card(n * kSector + tail, 0);
        for (uint64_t s = 0; s < n; ++s) {
            uint8_t* p = &card[s * kSector];
            PutFtyp(p);
            Be32(p + 24, kSector - 24);  // "free" to the sector's end
            std::memcpy(p + 28, "free", 4);
        }
        if (!out.Card("ftyp-free", Label(n, scales[0]), n, "sectors", card)) return false;
    }
    return out.Card("ftyp-free", "plain", 0, "sectors", {}, scales[2] * kSector + tail);
}

bool BoxJump(Out& out, const Inputs&) {
    const uint64_t scales[] = {655, 6553, 65536};
    const uint32_t jump = 32 * kMiB;
    auto size = [&](uint64_t n) { return n * kSector + jump + kMiB; };  // every jump lands in zeros
    for (uint64_t n : scales) {
        Bytes card(n * kSector, 0);
        for (uint64_t s = 0; s < n; ++s) {
            uint8_t* p = &card[s * kSector];
            PutFtyp(p);
            Be32(p + 24, jump);
            std::memcpy(p + 28, "free", 4);
        }
        if (!out.Card("box-jump", Label(n, scales[0]), n, "sectors", card, size(n))) return false;
    }
    return out.Card("box-jump", "plain", 0, "sectors", {}, size(scales[2]));
}

// TIFF (little-endian): header "II" 42, IFD0 at 8. Each IFD: u16 count,
// 12-byte entries (u16 tag, u16 type, u32 count, u32 value or offset), u32
// next IFD.
constexpr uint16_t kTiffLong = 4;
constexpr uint16_t kTagStripOffsets = 273;
constexpr uint16_t kTagSubIfds = 330;
constexpr uint32_t kTiffArrayValues = 131072;

void PutTiffHeader(uint8_t* p) {
    p[0] = 'I', p[1] = 'I';
    Le16(p + 2, 42);
    Le32(p + 4, 8);
}

void PutTiffEntry(uint8_t* p, uint16_t tag, uint16_t type, uint32_t count, uint32_t value) {
    Le16(p, tag);
    Le16(p + 2, type);
    Le32(p + 4, count);
    Le32(p + 8, value);
}

bool TiffSubIfd(Out& out, const Inputs&) {
    const uint64_t scales[] = {1, 10, 64};
    constexpr uint16_t kEntries = 1000;
    constexpr uint32_t kIfdBytes = 2 + 12 * kEntries + 4;
    const uint64_t maxArray = 8 + scales[2] * kIfdBytes;
    // The photos after the TIFF, each at a 4 KiB boundary with 4 KiB of
    // zeros before the next; the same places at every scale.
    std::vector<Bytes> photos;
    for (int i = 0; i < 10; ++i) {
        const TestExif exif = CameraExif("HOSTILE TIFF", uint64_t(i));
        photos.push_back(MakeTestJpeg(1024 + 32 * i, 768, &exif));
    }
    const uint64_t photosAt = (maxArray + 4ull * kTiffArrayValues + 8191) / 4096 * 4096;
    auto card = [&](uint64_t ifds) {
        uint64_t at = photosAt;
        Bytes bytes;
        for (const Bytes& p : photos) {
            bytes.resize(at + p.size(), 0);
            std::copy(p.begin(), p.end(), bytes.begin() + std::ptrdiff_t(at));
            at = (at + p.size() + 4096 + 4095) / 4096 * 4096;
        }
        bytes.resize(at + 64 * 1024, 0);
        if (ifds == 0) return bytes;
        PutTiffHeader(bytes.data());
        const uint32_t array = uint32_t((8 + ifds * kIfdBytes + 3) / 4 * 4);
        for (uint64_t k = 0; k < ifds; ++k) {
            uint8_t* ifd = &bytes[8 + k * kIfdBytes];
            Le16(ifd, kEntries);
            for (uint16_t e = 0; e < kEntries; ++e) PutTiffEntry(ifd + 2 + 12 * e, kTagSubIfds, kTiffLong, kTiffArrayValues, array);
            Le32(ifd + 2 + 12 * kEntries, k + 1 < ifds ? uint32_t(8 + (k + 1) * kIfdBytes) : 0);
        }
        // Every offset in the array names IFD0, which the walk has read.
        for (uint32_t v = 0; v < kTiffArrayValues; ++v) Le32(&bytes[array + 4ull * v], 8);
        return bytes;
    };
    for (uint64_t n : scales)
        if (!out.Card("tiff-subifd", Label(n, scales[0]), n, "IFDs", card(n))) return false;
    return out.Card("tiff-subifd", "plain", 0, "IFDs", card(0));
}

bool TiffStrips(Out& out, const Inputs&) {
    const uint64_t scales[] = {100, 1000, 10000};
    // As many StripOffsets entries as a sector holds after the header, each
    // naming its own run of values in the sectors that follow.
    constexpr uint16_t kEntries = (kSector - 8 - 2 - 4) / 12;
    // The last header's values are read from the card too.
    auto size = [&](uint64_t n) { return n * kSector + 4ull * kTiffArrayValues + 64 * 1024; };
    for (uint64_t n : scales) {
        Bytes card(n * kSector, 0);
        for (uint64_t s = 0; s < n; ++s) {
            uint8_t* p = &card[s * kSector];
            PutTiffHeader(p);
            Le16(p + 8, kEntries);
            for (uint16_t e = 0; e < kEntries; ++e)
                PutTiffEntry(p + 10 + 12 * e, kTagStripOffsets, kTiffLong, kTiffArrayValues, kSector + 8u * e);
            Le32(p + 10 + 12 * kEntries, 0);
        }
        if (!out.Card("tiff-strips", Label(n, scales[0]), n, "sectors", card, size(n))) return false;
    }
    return out.Card("tiff-strips", "plain", 0, "sectors", {}, size(scales[2]));
}

// Copies of a file on a 64 MiB FAT32 card, `spacing` clusters apart after
// the folders: even ones with a deleted entry in DCIM, odd ones carved.
Bytes CopiesCard(const Bytes& file, uint64_t copies, uint32_t spacing, const char* shortName, const char* longName) {
    FatImageBuilder b(Fat32Card(64, 1));
    CameraFolders folders(b, (copies + 1) / 2, longName ? 2 : 1);
    const uint32_t base = folders.end + 16;
    for (uint64_t i = 0; i < copies; ++i) {
        const uint32_t start = base + uint32_t(i) * spacing;
        b.WriteCluster(start, file);
        if (i % 2) continue;
        const uint64_t n = folders.NextNumber();
        Entry e = DeletedEntry(Name(shortName, n), start, uint32_t(file.size()), i);
        if (longName) e.longName = Name(longName, n);
        folders.Add(e);
    }
    return b.bytes();
}

bool HeifGrid(Out& out, const Inputs& in) {
    if (in.tile.empty()) return true;
    std::string why;
    const veld::bench::HeifGrid grid;
    const Bytes hostile = veld::bench::MakeHeifPicture(in.tile, 512, 512, &grid, &why);
    const Bytes plain = veld::bench::MakeHeifPicture(in.tile, 512, 512, nullptr, &why);
    if (hostile.empty() || plain.empty()) return Out::Fail(why);
    if (!Out::WriteSparse(out.Path("heif-grid.heic"), hostile, hostile.size()) ||
        !Out::WriteSparse(out.Path("heif-tile.heic"), plain, plain.size()))
        return false;
    const uint64_t scales[] = {2, 20, 200};
    for (uint64_t n : scales)
        if (!out.Card("heif-grid", Label(n, scales[0]), n, "copies",
                      CopiesCard(hostile, n, 8, "IMG_%04llu.HEI", "IMG_%04llu.HEIC")))
            return false;
    return out.Card("heif-grid", "plain", scales[2], "copies",
                    CopiesCard(plain, scales[2], 8, "IMG_%04llu.HEI", "IMG_%04llu.HEIC"));
}

bool PframeClip(Out& out, const Inputs& in) {
    if (in.clip.empty() || in.keyClip.empty()) return true;
    const uint32_t spacing = uint32_t(std::max(in.clip.size(), in.keyClip.size()) / 1024 + 8);
    const uint64_t scales[] = {1, 10, 100};
    for (uint64_t n : scales)
        if (!out.Card("pframe-clip", Label(n, scales[0]), n, "copies",
                      CopiesCard(in.clip, n, spacing, "MVI_%04llu.MP4", nullptr)))
            return false;
    return out.Card("pframe-clip", "plain", scales[2], "copies",
                    CopiesCard(in.keyClip, scales[2], spacing, "MVI_%04llu.MP4", nullptr));
}

bool Fat4Gib(Out& out, const Inputs&) {
    const uint64_t scales[] = {1000, 10000, 50000};
    auto card = [&](uint64_t n) {
        FatImageBuilder b(Fat32Card(64, 1));
        if (n == 0) return b.bytes();
        CameraFolders folders(b, n);
        const uint32_t base = folders.end + 16;
        const uint32_t stride = std::max<uint32_t>(1, uint32_t((b.ClusterCount() + 2 - base) / n));
        for (uint64_t i = 0; i < n; ++i)
            folders.Add(DeletedEntry(Name("MVI_%04llu.MOV", folders.NextNumber()), base + uint32_t(i) * stride,
                                     0xFFFFFFFFu, i));
        return b.bytes();
    };
    for (uint64_t n : scales)
        if (!out.Card("fat-4gib", Label(n, scales[0]), n, "entries", card(n))) return false;
    return out.Card("fat-4gib", "plain", 0, "entries", card(0));
}

bool FatLostChain(Out& out, const Inputs&) {
    const uint64_t scales[] = {100, 1000, 10000};
    // A folder's cluster: "." naming itself, ".." its parent (0: the root),
    // nothing else. The root and the FAT are fresh, as a quick format leaves them.
    auto card = [&](uint64_t n, bool chained) {
        FatImageBuilder b(Fat32Card(64, 1));
        uint32_t parent = 0;
        for (uint64_t i = 0; i < n; ++i) {
            const uint32_t cluster = 100 + uint32_t(i);
            b.Dir({cluster}).AddDotEntries(chained ? parent : 0);
            parent = cluster;
        }
        return b.bytes();
    };
    for (uint64_t n : scales)
        if (!out.Card("fat-lost-chain", Label(n, scales[0]), n, "folders", card(n, true))) return false;
    // The same folders, each under the root.
    return out.Card("fat-lost-chain", "plain", scales[2], "folders", card(scales[2], false));
}

bool ExfatLost(Out& out, const Inputs&) {
    if (FindTool("mkfs.exfat").empty()) return Out::Fail("exfat-lost needs mkfs.exfat");
    const uint64_t scales[] = {500, 5000, 50000};
    constexpr uint64_t kCard = 512 * kMiB;
    constexpr uint32_t kCluster = 4096;
    auto quickFormat = [&](const std::string& path) {
        const CommandResult r = RunCommand({"mkfs.exfat", "-c", std::to_string(kCluster), "-L", "CARD", path});
        return r.exitCode == 0 || Out::Fail("mkfs.exfat: " + r.err + r.out);
    };
    auto card = [&](uint64_t n, const std::string& scale) {
        const std::string file = "exfat-lost-" + scale + ".img";
        const std::string path = out.Path(file);
        ExfatImageBuilder card(path, {.sizeBytes = kCard, .clusterSize = kCluster, .formatter = ExfatFormat::Formatter::Mkfs});
        if (!card.error().empty()) return Out::Fail(card.error());
        if (n > 0) {
            // Inner folder i at base + 2i, outer folder i at base + 2i + 1,
            // the inner folders' notes after them, the outer ones' holder last.
            const uint64_t pairs = n / 2;
            const uint64_t base = card.RootCluster() + 16;
            const uint64_t notes = base + 2 * pairs;
            const int holderClusters = int(pairs * 3 * 32 / kCluster + 2);
            auto holder = card.AddDir(card.Root(), "DCIM", {}, holderClusters, notes + pairs + 16);
            for (uint64_t i = 0; i < pairs; ++i) {
                ExfatTime time;
                time.minute = int(i % 60);
                auto outer = card.AddDir(holder, Name("EVENT%05llu", i), time, 1, base + 2 * i + 1);
                auto inner = card.AddDir(outer, Name("DAY%05llu", i), time, 1, base + 2 * i);
                const std::string text = Name("note %05llu\n", i);
                card.AddFile(inner, Name("NOTE%05llu.TXT", i), Bytes(text.begin(), text.end()),
                             {.firstCluster = notes + i, .time = time});
                card.Delete(inner);
                if (!card.error().empty()) return Out::Fail(card.error());
            }
        }
        if (const std::string problem = card.Finish(); !problem.empty()) return Out::Fail(problem);
        return quickFormat(path) && out.Line(file, "exfat-lost", scale, n, "folders", kCard);
    };
    for (uint64_t n : scales)
        if (!card(n, Label(n, scales[0]))) return false;
    return card(0, "plain");
}

// Small photos of more than one cluster and at most two (1 KiB clusters).
std::vector<Bytes> TwoClusterPhotos() {
    std::vector<Bytes> photos;
    for (int w = 16; w <= 160 && photos.size() < 8; w += 8) {
        Bytes p = MakeTestJpeg(w, w * 3 / 4);
        if (p.size() > 1024 && p.size() <= 2048) photos.push_back(std::move(p));
    }
    return photos;
}

bool FatInterleaved(Out& out, const Inputs&) {
    const std::vector<Bytes> photos = TwoClusterPhotos();
    if (photos.empty()) return Out::Fail("no photo of two clusters");
    const uint64_t scales[] = {500, 5000, 50000};
    auto card = [&](uint64_t n, bool interleaved) {
        FatImageBuilder b(Fat32Card(128, 1));
        CameraFolders folders(b, n);
        const uint32_t base = folders.end + 16;
        for (uint64_t i = 0; i < n; ++i) {
            const Bytes& p = photos[i % photos.size()];
            const uint32_t first = base + uint32_t(interleaved ? i : 2 * i);
            const uint32_t second = interleaved ? base + uint32_t(n + i) : first + 1;
            b.WriteChainData({first, second}, p);
            folders.Add(DeletedEntry(Name("IMG_%04llu.JPG", folders.NextNumber()), first, uint32_t(p.size()), i));
        }
        return b.bytes();
    };
    for (uint64_t n : scales)
        if (!out.Card("fat-interleaved", Label(n, scales[0]), n, "entries", card(n, true))) return false;
    // The same photos written one after another.
    return out.Card("fat-interleaved", "plain", scales[2], "entries", card(scales[2], false));
}

bool ForeignScan(Out& out, const Inputs&) {
    constexpr uint64_t kPhotos = 600;
    // The scan data of a picture of another size: decoded under the
    // headers' frame it runs out early, so the decoder reports corrupt data.
    const Bytes foreign = MakeTestJpeg(480, 360);
    const size_t foreignScan = ScanStart(foreign);
    if (foreignScan == 0) return Out::Fail("no scan in the foreign picture");
    auto card = [&](bool honest) {
        FatImageBuilder b(Fat32Card(64, 1));
        CameraFolders folders(b, kPhotos);
        uint32_t next = folders.end + 16;
        for (uint64_t i = 0; i < kPhotos; ++i) {
            const TestExif exif = CameraExif("HOSTILE SCAN", i);
            Bytes photo = MakeTestJpeg(640 + 16 * int(i % 8), 480, &exif);
            if (!honest) {
                photo.resize(ScanStart(photo));
                photo.insert(photo.end(), foreign.begin() + std::ptrdiff_t(foreignScan), foreign.end() - 2);
                photo.push_back(0xFF);
                photo.push_back(0xD9);
            }
            b.WriteCluster(next, photo);
            folders.Add(DeletedEntry(Name("IMG_%04llu.JPG", folders.NextNumber()), next, uint32_t(photo.size()), i));
            next += b.ClustersFor(photo.size());
        }
        return b.bytes();
    };
    return out.Card("foreign-scan", "x1", kPhotos, "photos", card(false)) &&
           out.Card("foreign-scan", "plain", kPhotos, "photos", card(true));
}

bool SameMib(Out& out, const Inputs&) {
    const uint64_t scales[] = {50, 500, 5000};
    const TestExif exif = CameraExif("HOSTILE MIB", 0);
    const Bytes photo = MakeTestJpeg(1600, 1200, &exif);
    auto card = [&](uint64_t n, uint32_t size) {
        FatImageBuilder b(Fat32Card(64, 1));
        CameraFolders folders(b, n);
        const uint32_t start = folders.end + 16;
        b.WriteCluster(start, photo);
        for (uint64_t i = 0; i < n; ++i)
            folders.Add(DeletedEntry(Name("IMG_%04llu.JPG", folders.NextNumber()), start, size, i));
        return b.bytes();
    };
    for (uint64_t n : scales)
        if (!out.Card("same-mib", Label(n, scales[0]), n, "entries", card(n, uint32_t(kMiB)))) return false;
    // The photo's own entry alone.
    return out.Card("same-mib", "plain", 1, "entries", card(1, uint32_t(photo.size())));
}

Bytes Load(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        Out::Fail("cannot read " + path);
        std::exit(1);
    }
    return Bytes(std::istreambuf_iterator<char>(in), {});
}

int Usage() {
    std::fprintf(stderr, "usage: make_hostile_cards FOLDER [--only CASE] [--tile HEVC] [--clip MP4] [--key-clip MP4]\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    const std::vector<std::pair<std::string, std::function<bool(Out&, const Inputs&)>>> cases = {
        {"ftyp-free", FtypFree},     {"box-jump", BoxJump},         {"tiff-subifd", TiffSubIfd},
        {"tiff-strips", TiffStrips}, {"heif-grid", HeifGrid},       {"pframe-clip", PframeClip},
        {"fat-4gib", Fat4Gib},       {"fat-lost-chain", FatLostChain}, {"exfat-lost", ExfatLost},
        {"fat-interleaved", FatInterleaved}, {"foreign-scan", ForeignScan}, {"same-mib", SameMib},
    };
    std::string folder, only;
    Inputs in;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        const bool more = i + 1 < argc;
        if (a == "--only" && more) only = argv[++i];
        else if (a == "--tile" && more) in.tile = Load(argv[++i]);
        else if (a == "--clip" && more) in.clip = Load(argv[++i]);
        else if (a == "--key-clip" && more) in.keyClip = Load(argv[++i]);
        else if (folder.empty() && a[0] != '-') folder = a;
        else return Usage();
    }
    if (folder.empty()) return Usage();
    Out out(folder);
    bool known = only.empty();
    for (const auto& [name, make] : cases) {
        if (!only.empty() && name != only) continue;
        known = true;
        if (!make(out, in)) return 1;
    }
    if (known) return 0;
    Out::Fail("no case " + only);
    return 2;
}
