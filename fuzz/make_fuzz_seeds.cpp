// Writes the seed corpora of the fuzz harnesses below a folder, one folder per
// harness: small FAT12, FAT16 and FAT32 cards (live and deleted files and
// folders, long names, pictures with EXIF, clips, a lost chain, a looping
// FAT, an erased free area, a raw card), the pictures and clips alone for the
// walks, EXIF blocks, the heads of exFAT cards (contiguous and chained,
// deleted files and folders, a damaged main boot region, 4096-byte sectors),
// whole small cards behind MBR and GPT tables, and HTTP replies as the update
// check's tests serve them. Everything is made by our own builders at run time.
//
//   make_fuzz_seeds FOLDER
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "support/exfat_image_builder.h"
#include "support/fat_image_builder.h"
#include "support/partitioned_image.h"
#include "support/test_jpeg.h"
#include "support/test_media.h"

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;
using veld::test::ExfatImageBuilder;
using veld::test::FatGeometry;
using veld::test::FatImageBuilder;

namespace {

fs::path gRoot;
int gWritten = 0;

void Write(const std::string& harness, const std::string& name, const Bytes& bytes) {
    const fs::path folder = gRoot / harness;
    fs::create_directories(folder);
    std::ofstream out(folder / name, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
    if (!out) {
        std::fprintf(stderr, "make_fuzz_seeds: cannot write %s\n", (folder / name).c_str());
        std::exit(1);
    }
    ++gWritten;
}

veld::test::TestExif CameraExif(bool bigEndian) {
    veld::test::TestExif exif;
    exif.bigEndian = bigEndian;
    exif.make = "Veld Optical";
    exif.model = "VX-200";
    exif.dateTime = "2024:07:05 11:16:10";
    exif.dateTimeOriginal = "2024:07:05 11:16:09";
    exif.pixelX = 64;
    exif.pixelY = 48;
    exif.pixelAsShort = bigEndian;
    exif.hasGps = true;
    return exif;
}

Bytes Picture(int width, int height, bool bigEndian) {
    const veld::test::TestExif exif = CameraExif(bigEndian);
    return veld::test::MakeTestJpeg(width, height, &exif);
}

Bytes Clip(size_t mdatBytes) { return veld::test::MakeTestMp4(mdatBytes); }

Bytes QuickTimeClip(size_t mdatBytes) {
    return veld::test::MakeTestMp4(mdatBytes, veld::test::TestMp4{.majorBrand = "qt  ",
                                                                  .minorVersion = 0x20070900,
                                                                  .compatibleBrands = {"qt  ", "CAEP"},
                                                                  .order = {"wide", "mdat", "moov"}});
}

// A camera card: DCIM\100VELD with a live and a deleted picture (long name),
// a deleted folder holding a deleted picture, a fragmented live file, a
// picture and two clips in free space that no entry names, and a FAT loop.
FatImageBuilder CameraCard(const FatGeometry& geometry) {
    FatImageBuilder b(geometry);
    const uint32_t cs = b.ClusterSize();
    const uint32_t last = b.ClusterCount() + 1;
    auto clusterAfter = [&](uint32_t start, size_t bytes) { return start + uint32_t((bytes + cs - 1) / cs); };

    const Bytes live = Picture(48, 32, false);
    const Bytes deleted = Picture(64, 48, true);
    const Bytes inFolder = Picture(40, 30, false);
    const Bytes loose = Picture(32, 24, true);
    const Bytes clip = Clip(1500);
    const Bytes mov = QuickTimeClip(1200);

    uint32_t next = geometry.fatType == 32 ? 3 : 2;
    auto root = b.Root();
    root.AddVolumeLabel("VELDCARD");
    auto dcim = root.AddDir("DCIM", next++);
    auto folder = dcim.AddDir("100VELD", next++);
    folder.AddFile("IMG_0001.JPG", next, live);
    next = clusterAfter(next, live.size());
    folder.AddDeletedFile("IMG_0002.JPG", next, deleted, "Evening walk.jpg");
    next = clusterAfter(next, deleted.size());
    auto gone = dcim.AddDeletedDir("101TRIP", next++, "Trip");
    gone.AddDeletedFile("IMG_0101.JPG", next, inFolder);
    next = clusterAfter(next, inFolder.size());
    folder.AddFragmentedFile("NOTES.TXT", {next + 1, next}, Bytes(cs + 10, 'n'));
    next += 2;
    b.WriteCluster(next, loose);
    next = clusterAfter(next, loose.size()) + 1;
    b.WriteCluster(next, clip);
    next = clusterAfter(next, clip.size()) + 1;
    b.WriteCluster(next, mov);
    next = clusterAfter(next, mov.size()) + 1;
    if (next + 3 < last) b.MakeCycle({next, next + 1, next + 2});
    return b;
}

void CardSeeds() {
    // Small cards (64 to 128 KiB) keep the harnesses fast.
    FatGeometry fat12 = FatGeometry::Fat12(128, 1);
    fat12.rootEntries = 32;
    FatGeometry fat16 = FatGeometry::Fat16(256, 1);
    fat16.rootEntries = 32;
    const FatGeometry fat32 = FatGeometry::Fat32(256, 1);

    std::vector<std::pair<std::string, Bytes>> cards;
    cards.emplace_back("fat12.img", CameraCard(fat12).bytes());
    cards.emplace_back("fat16.img", CameraCard(fat16).bytes());
    cards.emplace_back("fat32.img", CameraCard(fat32).bytes());
    {
        // The free area erased with 0xE5 before the pictures were written.
        FatImageBuilder b(fat12);
        for (uint32_t c = 2; c <= b.ClusterCount() + 1; ++c) b.FillCluster(c, 0xE5);
        b.Root().AddDeletedFile("ERASED.JPG", 40, Picture(48, 32, false));
        cards.emplace_back("erased.img", b.bytes());
    }
    {
        // No boot sector: searched as raw sectors.
        FatImageBuilder b = CameraCard(fat12);
        b.ZeroFirstSector();
        cards.emplace_back("raw.img", b.bytes());
    }
    for (const auto& [name, bytes] : cards) {
        Write("search", name, bytes);
        Write("directory_scanner", name, bytes);
        Write("boot_fat", name, bytes);
    }
}

// The walk harnesses take a first byte: cluster size 512 << (byte & 3), and
// bit 2 for the walk's other mode.
Bytes WalkInput(uint8_t config, const Bytes& data) {
    Bytes out{config};
    out.insert(out.end(), data.begin(), data.end());
    return out;
}

void WalkSeeds() {
    const Bytes picture = Picture(64, 48, false);
    const Bytes motorola = Picture(80, 60, true);
    const Bytes plain = veld::test::MakeTestJpeg(40, 30);
    Write("jpeg_walk", "exif-512", WalkInput(0, picture));
    Write("jpeg_walk", "exif-only-1024", WalkInput(1 | 4, motorola));
    Write("jpeg_walk", "plain-2048", WalkInput(2, plain));
    Bytes cut(picture.begin(), picture.begin() + picture.size() / 2);
    cut.resize(cut.size() + 1024, 0);  // the rest overwritten with zeros
    Write("jpeg_walk", "cut-512", WalkInput(0, cut));

    // media_walk: bits 3 to 5 choose the walk (0 ISO media, 1 TIFF/RAF, 2
    // AVI, 3 transport stream, 4 program stream, 5 the search's own path).
    using namespace veld::test;
    auto media = [](int walk, uint8_t size) { return uint8_t(walk << 3 | size); };
    Write("media_walk", "mp4-512", WalkInput(media(0, 0), Clip(3000)));
    Write("media_walk", "mov-1024", WalkInput(media(0, 1), QuickTimeClip(2500)));
    Write("media_walk", "mdat-first-512",
          WalkInput(media(0, 0), MakeTestMp4(2000, TestMp4{.order = {"mdat", "free", "moov"}})));
    Write("media_walk", "cut-short-512", WalkInput(media(0, 0), MakeTestMp4(900, TestMp4{.order = {"mdat"}})));
    TestHeif heif;
    heif.exif = CameraExif(false);
    heif.pictureBytes = 3000;
    Write("media_walk", "heic-512", WalkInput(media(0, 0), MakeTestHeif(heif)));
    heif.mdatSizeZero = true;
    Write("media_walk", "heic-mdat-zero-1024", WalkInput(media(5, 1), MakeTestHeif(heif)));
    Write("media_walk", "cr3-512", WalkInput(media(0, 0), MakeTestCr3({.mdatBytes = 2000})));
    Write("media_walk", "cr2-512", WalkInput(media(1, 0), MakeTestRaw({.cr2Marker = true, .preview = RawPreview::Ifd0Strip})));
    Write("media_walk", "nef-1024", WalkInput(media(1, 1), MakeTestRaw({.bigEndian = true, .make = "NIKON CORPORATION",
                                                                       .preview = RawPreview::NikonMakerNote})));
    Write("media_walk", "orf-512", WalkInput(media(5, 0), MakeTestRaw({.magic = 0x4F52, .make = "OLYMPUS",
                                                                      .preview = RawPreview::MakerNote})));
    Write("media_walk", "rw2-512", WalkInput(media(1, 0), MakeTestRaw({.magic = 0x55, .make = "Panasonic",
                                                                      .preview = RawPreview::Rw2JpgFromRaw})));
    Write("media_walk", "raf-512", WalkInput(media(1, 0), MakeTestRaf("X-T3", "2024:05:06 07:08:09", 3000)));
    Write("media_walk", "avi-512", WalkInput(media(2, 0), MakeTestAvi({.framesPerPiece = 3, .frameBytes = 600,
                                                                      .extraPieces = 2})));
    Write("media_walk", "ts-512", WalkInput(media(3, 0), MakeTestTs(40)));
    Write("media_walk", "ps-2048", WalkInput(media(4, 2), MakeTestPs(4, true)));
    Write("media_walk", "ps-search-512", WalkInput(media(5, 0), MakeTestPs(3, false)));
}

// An exFAT card of 1 MiB in 512-byte clusters (or 4 MiB in 4096-byte sectors
// and clusters) made by the builder's own formatter, with DCIM\100VELD as a
// camera leaves it: a live picture, deleted ones laid out contiguously and
// through the FAT, a clip, a deleted folder with a picture, a picture partly
// overwritten by a later one. Its first 128 KiB (256 KiB) are the seed: the
// volume claims more, and the files lie at its front.
Bytes ExfatCard(uint32_t sectorSize, bool damageMainRegion) {
    const uint64_t volumeBytes = sectorSize == 512 ? 1u << 20 : 4u << 20;
    const size_t headBytes = sectorSize == 512 ? 128 * 1024 : 256 * 1024;
    const fs::path file = gRoot / "exfat.tmp";
    Bytes head;
    {
        ExfatImageBuilder card(file.string(), {.sizeBytes = volumeBytes,
                                               .clusterSize = sectorSize,
                                               .sectorSize = sectorSize,
                                               .formatter = veld::test::ExfatFormat::Formatter::Own});
        // The folder's entries fill more than one 512-byte cluster.
        auto folder = card.AddDir(card.AddDir(card.Root(), "DCIM"), "100VELD", {}, 4);
        card.AddFile(folder, "IMG_0001.JPG", Picture(48, 32, false));
        auto gone = card.AddFile(folder, "IMG_0002.JPG", Picture(64, 48, true));
        auto chained = card.AddFile(folder, "写真_0003.JPG", Picture(40, 30, false), {.noFatChain = false});
        auto clip = card.AddFile(folder, "MVI_0004.MP4", Clip(1500), {.noFatChain = false});
        auto old = card.AddDir(folder, "OLD");
        card.AddFile(old, "IMG_0005.JPG", Picture(32, 24, true));
        auto overwritten = card.AddFile(folder, "IMG_0006.JPG", Picture(56, 40, false));
        for (auto node : {gone, chained, clip, old, overwritten}) card.Delete(node);
        if (card.error().empty())
            card.AddFile(folder, "IMG_0007.JPG", Picture(24, 16, true), {.firstCluster = card.FirstCluster(overwritten) + 1});
        const std::string why = card.Finish();
        if (!why.empty()) {
            std::fprintf(stderr, "make_fuzz_seeds: exFAT card: %s\n", why.c_str());
            std::exit(1);
        }
        head = veld::test::ReadFileRange(file.string(), 0, headBytes);
        if (damageMainRegion) head[512 + 100] ^= 0x5A;  // the main checksum fails: the backup at sector 12
        Write("exfat_boot", "dcim-" + std::to_string(sectorSize) + ".dir", card.DirectoryBytes(folder));
    }
    fs::remove(file);
    return head;
}

void ExfatSeeds() {
    const std::pair<const char*, Bytes> cards[] = {
        {"exfat-512.img", ExfatCard(512, false)},
        {"exfat-4096.img", ExfatCard(4096, false)},
        {"exfat-backup.img", ExfatCard(512, true)},
    };
    for (const auto& [name, bytes] : cards) {
        Write("exfat_search", name, bytes);
        Write("exfat_boot", name, bytes);
    }
}

// Whole cards of 128 to 256 KiB behind a table: a GPT of 512-byte and one of
// 4096-byte sectors around a FAT12 partition, and an MBR with a FAT12 and an
// exFAT partition. The harness's first byte says which sector size the source
// reports: 0 (an image file), 1 (512) or 2 (4096).
void PartitionSeeds() {
    const Bytes fat12 = CameraCard(FatGeometry::Fat12(128, 1)).bytes();  // 64 KiB
    const fs::path file = gRoot / "table.tmp";
    auto withContents = [&](uint64_t offset, const Bytes& contents) {
        std::fstream f(file, std::ios::binary | std::ios::in | std::ios::out);
        f.seekp(std::streamoff(offset));
        f.write(reinterpret_cast<const char*>(contents.data()), std::streamsize(contents.size()));
    };
    auto seed = [&](const std::string& name, uint8_t reported) {
        Bytes bytes = veld::test::ReadFileRange(file.string(), 0, size_t(veld::test::FileSize(file.string())));
        bytes.insert(bytes.begin(), reported);
        Write("partition_table", name, bytes);
    };
    // A GPT of sectorSize sectors around the FAT12 card, which starts at sector start.
    auto gpt = [&](uint64_t totalBytes, uint32_t sectorSize, uint64_t start) {
        const std::string why = veld::test::WriteGpt(
            file.string(), totalBytes, sectorSize,
            {{.startSector = start, .sectors = fat12.size() / sectorSize, .type = "EBD0A0A2-B9E5-4433-87C0-68B6B72699C7"}});
        if (!why.empty()) {
            std::fprintf(stderr, "make_fuzz_seeds: GPT: %s\n", why.c_str());
            std::exit(1);
        }
        withContents(start * sectorSize, fat12);
    };
    gpt(128 * 1024, 512, 40);
    seed("gpt-512", 0);
    seed("gpt-512-device", 1);
    gpt(256 * 1024, 4096, 10);
    seed("gpt-4096", 0);
    seed("gpt-4096-device", 2);

    // MBR: FAT12 at sector 64 (128 sectors), the head of an exFAT card at 192 (64 sectors).
    Bytes mbr(128 * 1024, 0);
    auto entry = [&](int i, uint8_t type, uint32_t first, uint32_t count) {
        uint8_t* e = &mbr[size_t(446 + 16 * i)];
        e[4] = type;
        for (int k = 0; k < 4; ++k) e[8 + k] = uint8_t(first >> (8 * k)), e[12 + k] = uint8_t(count >> (8 * k));
    };
    entry(0, 0x01, 64, 128);
    entry(1, 0x07, 192, 64);
    mbr[510] = 0x55, mbr[511] = 0xAA;
    std::copy(fat12.begin(), fat12.end(), mbr.begin() + 64 * 512);
    const Bytes exfat = ExfatCard(512, false);
    std::copy(exfat.begin(), exfat.begin() + 64 * 512, mbr.begin() + 192 * 512);
    Bytes withByte{0};
    withByte.insert(withByte.end(), mbr.begin(), mbr.end());
    Write("partition_table", "mbr", withByte);
    fs::remove(file);
}

// Replies as the update check's tests serve them over loopback.
void HttpSeeds() {
    auto page = [](const std::string& body) { return "HTTP/1.0 200 OK\r\nContent-Type: text/html\r\n\r\n" + body; };
    const std::pair<const char*, std::string> replies[] = {
        {"newer", page("<p>CurVer=V2.101</p>")},
        {"current", "HTTP/1.0 200 OK\r\nContent-Length: 14\r\n\r\nCurVer=V2.100\n"},
        {"no-marker", page("<html>maintenance</html>")},
        {"not-found", "HTTP/1.0 404 Not Found\r\n\r\nCurVer=V9.999"},
        {"server-error", "HTTP/1.1 500 Internal Server Error\r\n\r\n"},
        {"no-status-line", "CurVer=V3.000"},
        {"header-and-body", "HTTP/1.0 200 OK\r\nX: y\r\n\r\nbody\r\n\r\nmore"},
        {"bare-lines", "HTTP/1.0 200 OK\n\nCurVer=Vinf.."},
    };
    for (const auto& [name, reply] : replies) Write("http_reply", name, Bytes(reply.begin(), reply.end()));
}

void ExifSeeds() {
    Write("exif", "intel", veld::test::MakeExifTiff(CameraExif(false)));
    Write("exif", "motorola", veld::test::MakeExifTiff(CameraExif(true)));
    veld::test::TestExif bare;
    bare.model = "X";
    Write("exif", "bare", veld::test::MakeExifTiff(bare));
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: make_fuzz_seeds FOLDER\n");
        return 2;
    }
    gRoot = argv[1];
    CardSeeds();
    WalkSeeds();
    ExifSeeds();
    ExfatSeeds();
    PartitionSeeds();
    HttpSeeds();
    std::printf("make_fuzz_seeds: %d seeds below %s\n", gWritten, gRoot.c_str());
    return 0;
}
