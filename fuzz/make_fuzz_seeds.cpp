// Writes the seed corpora of the fuzz harnesses below a folder, one folder per
// harness: small FAT12, FAT16 and FAT32 cards (live and deleted files and
// folders, long names, pictures with EXIF, clips, a lost chain, a looping
// FAT, an erased free area, a raw card), the pictures and clips alone for the
// walks, EXIF blocks, the heads of exFAT cards (contiguous and chained,
// deleted files and folders, a damaged main boot region, 4096-byte sectors),
// whole small cards behind MBR and GPT tables, and HTTP replies as the update
// check's tests serve them, all made by our own builders at run time.
//
// Beside them, files as real writers lay them out: clips of every container
// and an AVIF still made by ffmpeg, a TIFF and a HEIC made by ImageMagick,
// files rewritten by exiftool, the shared sample photos and HEIF pictures
// when that folder exists, and cards formatted by mkfs.fat and mkfs.exfat,
// alone and behind tables written by sfdisk. What a missing tool would make
// is left out with a note.
//
//   make_fuzz_seeds FOLDER
#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "support/exfat_image_builder.h"
#include "support/fat_image_builder.h"
#include "support/mkfs_tools.h"
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

// A file as a real writer laid it out, under its own name.
struct RealFile {
    std::string name;
    Bytes bytes;
};

Bytes ReadWhole(const fs::path& file) {
    return veld::test::ReadFileRange(file.string(), 0, size_t(veld::test::FileSize(file.string())));
}

std::string Lower(std::string text) {
    for (char& c : text) c = char(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

// A seed name from a file name: letters, digits, '-' and '.' only.
std::string SeedName(const std::string& name) {
    std::string out = name;
    for (char& c : out)
        if (!std::isalnum(static_cast<unsigned char>(c)) && c != '-' && c != '.') c = '-';
    return out;
}

void Note(const std::string& text) { std::printf("make_fuzz_seeds: %s\n", text.c_str()); }

// Runs a tool on files of ours; false (with a note) when it is not installed
// or fails, and its files are then left out.
bool Ran(const std::vector<std::string>& argv) {
    if (veld::test::FindTool(argv[0]).empty()) {
        Note(argv[0] + " is not installed: the files it makes are left out");
        return false;
    }
    const veld::test::CommandResult r = veld::test::RunCommand(argv);
    if (r.exitCode != 0) {
        Note(argv[0] + " failed, its file is left out: " + r.err + r.out);
        return false;
    }
    return true;
}

// Every file below folder whose extension (lower case) is one of those
// given, in name order; nothing when the folder is absent.
std::vector<fs::path> FilesBelow(const fs::path& folder, const std::vector<std::string>& extensions) {
    std::vector<fs::path> files;
    std::error_code error;
    if (!fs::is_directory(folder, error)) return files;
    for (fs::recursive_directory_iterator it(folder, error), end; !error && it != end; it.increment(error))
        if (it->is_regular_file() && std::count(extensions.begin(), extensions.end(),
                                                Lower(it->path().extension().string())))
            files.push_back(it->path());
    std::sort(files.begin(), files.end());
    return files;
}

// The TIFF block of a JPEG's EXIF segment (APP1 "Exif\0\0"), or nothing.
Bytes ExifBlockOf(const Bytes& jpeg) {
    if (jpeg.size() < 4 || jpeg[0] != 0xFF || jpeg[1] != 0xD8) return {};
    size_t at = 2;
    while (at + 4 <= jpeg.size() && jpeg[at] == 0xFF) {
        const uint8_t marker = jpeg[at + 1];
        if (marker == 0xDA || marker == 0xD9) break;
        const size_t length = size_t(jpeg[at + 2]) << 8 | jpeg[at + 3];  // counts itself, not the marker
        if (length < 2 || at + 2 + length > jpeg.size()) break;
        if (marker == 0xE1 && length >= 8 && std::memcmp(&jpeg[at + 4], "Exif\0\0", 6) == 0)
            return Bytes(jpeg.begin() + std::ptrdiff_t(at + 10), jpeg.begin() + std::ptrdiff_t(at + 2 + length));
        at += 2 + length;
    }
    return {};
}

// Pictures and clips made in folder by the system's writers: the clips of
// every container by ffmpeg (the tests' clip script), an AVIF still by
// ffmpeg, a TIFF and a HEIC by ImageMagick, the TIFF given a camera's tags by
// exiftool, and our CR3 rewritten by exiftool.
std::vector<RealFile> ToolMadeFiles(const fs::path& folder) {
    std::vector<RealFile> files;
    auto take = [&](const fs::path& file) {
        if (fs::is_regular_file(file)) files.push_back({file.filename().string(), ReadWhole(file)});
    };
    if (veld::test::FindTool("ffmpeg").empty()) {
        Note("ffmpeg is not installed: the clips and the AVIF still are left out");
    } else {
        const fs::path clips = folder / "clips";
        if (Ran({"bash", VELD_CLIP_SCRIPT, clips.string()}))
            for (const char* name : {"clip.mp4", "clip.mov", "clip.3gp", "clip.avi", "clip.mts", "clip.mpg", "clip.mod"})
                take(clips / name);
        const fs::path avif = folder / "still.avif";
        if (Ran({"ffmpeg", "-hide_banner", "-loglevel", "error", "-y", "-f", "lavfi", "-i",
                 "testsrc=size=160x120", "-frames:v", "1", "-c:v", "libaom-av1", "-still-picture", "1",
                 "-cpu-used", "8", avif.string()}))
            take(avif);
    }

    const fs::path source = folder / "source.jpg";
    const Bytes picture = Picture(160, 120, false);
    std::ofstream(source, std::ios::binary).write(reinterpret_cast<const char*>(picture.data()),
                                                  std::streamsize(picture.size()));
    const fs::path tiff = folder / "picture.tif";
    if (Ran({"convert", source.string(), tiff.string()}) &&
        Ran({"exiftool", "-q", "-overwrite_original", "-Make=Canon", "-Model=Canon EOS 5D Mark IV",
             "-DateTimeOriginal=2024:05:06 07:08:09", tiff.string()}))
        take(tiff);
    const fs::path heic = folder / "picture.heic";
    if (Ran({"convert", source.string(), heic.string()})) take(heic);

    using namespace veld::test;
    const std::pair<const char*, Bytes> rewritten[] = {
        {"rewritten.cr3", MakeTestCr3({.mdatBytes = 2000})},
    };
    for (const auto& [name, bytes] : rewritten) {
        const fs::path file = folder / name;
        std::ofstream(file, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()),
                                                    std::streamsize(bytes.size()));
        if (Ran({"exiftool", "-q", "-overwrite_original", "-Artist=Veld", "-DateTimeOriginal=2024:07:08 09:10:11",
                 file.string()}))
            take(file);
    }
    return files;
}

// Which walk of the media harness reads a file, by its extension; -1 for
// none.
int WalkOf(const std::string& name) {
    const std::string ext = Lower(fs::path(name).extension().string());
    for (const char* iso : {".mp4", ".mov", ".3gp", ".heic", ".heif", ".avif", ".cr3"})
        if (ext == iso) return 0;
    if (ext == ".tif" || ext == ".raf") return 1;
    if (ext == ".avi") return 2;
    if (ext == ".mts") return 3;
    if (ext == ".mpg" || ext == ".mod") return 4;
    return -1;
}

// A card made by mkfs.fat and filled by mtools: DCIM\100VELD with the files
// under their own (long) names, every third deleted, and a folder DCIM\101OLD
// with two more deleted with it. "" or why not.
std::string MtoolsCard(const std::string& image, const veld::test::MkfsOptions& options,
                       const std::vector<const RealFile*>& files) {
    if (std::string why = veld::test::MakeFatImage(image, options); !why.empty()) return why;
    veld::test::MtoolsImage card(image);
    for (const char* folder : {"DCIM", "DCIM/100VELD", "DCIM/101OLD"})
        if (std::string why = card.Mkdir(folder); !why.empty()) return why;
    for (size_t i = 0; i < files.size(); ++i) {
        const bool old = i + 2 >= files.size() && files.size() > 3;
        const std::string path = std::string(old ? "DCIM/101OLD/" : "DCIM/100VELD/") + files[i]->name;
        if (std::string why = card.PutBytes(path, files[i]->bytes); !why.empty()) return why;
        if (!old && i % 3 == 1)
            if (std::string why = card.Delete(path); !why.empty()) return why;
    }
    return card.DeleteTree("DCIM/101OLD");
}

// The image's head up to its last 64 KiB that holds a byte other than zero:
// a card whose file system claims more than the files written need.
Bytes HeadUpToLastData(const std::string& image) {
    constexpr size_t kStep = 64 * 1024;
    const Bytes all = ReadWhole(image);
    size_t end = 0;
    for (size_t at = 0; at < all.size(); at += kStep) {
        const auto from = all.begin() + std::ptrdiff_t(at);
        const auto to = all.begin() + std::ptrdiff_t(std::min(all.size(), at + kStep));
        if (std::any_of(from, to, [](uint8_t b) { return b != 0; })) end = std::min(all.size(), at + kStep);
    }
    return Bytes(all.begin(), all.begin() + std::ptrdiff_t(end));
}

// The files that fit in budget bytes, the smallest first.
std::vector<const RealFile*> Fitting(const std::vector<RealFile>& files, size_t budget) {
    std::vector<const RealFile*> sorted;
    for (const RealFile& f : files) sorted.push_back(&f);
    std::stable_sort(sorted.begin(), sorted.end(),
                     [](const RealFile* a, const RealFile* b) { return a->bytes.size() < b->bytes.size(); });
    std::vector<const RealFile*> chosen;
    size_t used = 0;
    for (const RealFile* f : sorted) {
        if (used + f->bytes.size() > budget) break;
        used += f->bytes.size();
        chosen.push_back(f);
    }
    return chosen;
}

// Cards of the smaller files: FAT12, FAT16 and FAT32 cards by mkfs.fat (one
// also quick-formatted after it was filled), an exFAT card by mkfs.exfat
// filled by our builder, and the FAT12 card behind an MBR and a GPT written
// by sfdisk. "" or why a card could not be made.
std::string RealCardSeeds(const fs::path& work, const std::vector<RealFile>& files) {
    if (std::string why = veld::test::MkfsToolsMissing(); !why.empty()) {
        Note("cards made by mkfs.fat are left out: " + why);
        return "";
    }
    struct Card {
        const char* name;
        veld::test::MkfsOptions options;
        size_t budget;  // bytes of files put on it
    };
    // Sizes that hold as many clusters as each FAT type needs (4,085 for
    // FAT16, 65,525 for FAT32); the FAT12 card is kept whole, the others up
    // to their data, so that no seed passes the 1 MiB a fuzzer reads.
    const Card cards[] = {
        {"mkfs-fat12.img", {.fatType = 12, .sizeKiB = 512}, 320 * 1024},
        {"mkfs-fat16.img", {.fatType = 16, .sizeKiB = 2200, .sectorsPerCluster = 1}, 700 * 1024},
        {"mkfs-fat32.img", {.fatType = 32, .sizeKiB = 34 * 1024, .sectorsPerCluster = 1}, 400 * 1024},
    };
    std::string fat12;
    for (const Card& card : cards) {
        const std::string image = (work / card.name).string();
        if (std::string why = MtoolsCard(image, card.options, Fitting(files, card.budget)); !why.empty())
            return card.name + (": " + why);
        const Bytes bytes = card.options.fatType == 12 ? ReadWhole(image) : HeadUpToLastData(image);
        for (const char* harness : {"search", "directory_scanner", "boot_fat"}) Write(harness, card.name, bytes);
        if (card.options.fatType == 12) fat12 = image;
        if (card.options.fatType == 16) {
            // A quick format over the filled card: every file is gone from
            // the new, empty file system, and its data stays.
            if (Ran({"mkfs.fat", "-F", "16", "-s", "1", image}))
                Write("search", "mkfs-fat16-formatted.img", HeadUpToLastData(image));
        }
    }

    if (!veld::test::PartitionToolsMissing().empty()) {
        Note("cards behind tables are left out: sfdisk is not installed");
    } else {
        const uint64_t fat12Sectors = veld::test::FileSize(fat12) / 512;
        const std::pair<const char*, std::string> tables[] = {{"sfdisk-mbr.img", "dos"}, {"sfdisk-gpt.img", "gpt"}};
        for (const auto& [name, label] : tables) {
            // The GPT's backup needs 33 sectors at the card's end.
            const uint64_t start = 128;
            const uint64_t total = (start + fat12Sectors + 64) * 512;
            const std::string type = label == "dos" ? "1" : "EBD0A0A2-B9E5-4433-87C0-68B6B72699C7";
            const std::string image = (work / name).string();
            if (std::string why = veld::test::MakePartitionedImage(
                    image, label, total, {{.startSector = start, .sectors = fat12Sectors, .type = type, .contents = fat12}});
                !why.empty())
                return name + (": " + why);
            const Bytes bytes = ReadWhole(image);
            Write("search", name, bytes);
            for (uint8_t reported : {0, 1}) {
                Bytes withByte{reported};
                withByte.insert(withByte.end(), bytes.begin(), bytes.end());
                Write("partition_table", std::string(name) + (reported ? "-device" : ""), withByte);
            }
        }
    }

    if (veld::test::FindTool("mkfs.exfat").empty()) {
        Note("the card made by mkfs.exfat is left out: mkfs.exfat is not installed");
        return "";
    }
    // mkfs.exfat wants 4 MiB at least; its FAT and heap are aligned to
    // clusters rather than 1 MiB, and the seed is the card's head up to its
    // data.
    const fs::path file = work / "mkfs-exfat.img";
    {
        ExfatImageBuilder card(file.string(), {.sizeBytes = 4u << 20,
                                               .clusterSize = 4096,
                                               .boundaryAlign = 4096,
                                               .formatter = veld::test::ExfatFormat::Formatter::Mkfs});
        const auto folder = card.AddDir(card.AddDir(card.Root(), "DCIM"), "100VELD");
        const auto old = card.AddDir(folder, "OLD");
        const std::vector<const RealFile*> chosen = Fitting(files, 600 * 1024);
        for (size_t i = 0; i < chosen.size(); ++i) {
            const auto node = card.AddFile(i % 4 == 3 ? old : folder, chosen[i]->name, chosen[i]->bytes,
                                           {.noFatChain = i % 2 == 0});
            if (i % 4 == 1) card.Delete(node);
        }
        card.Delete(old);
        if (const std::string why = card.Finish(); !why.empty()) return "mkfs-exfat.img: " + why;
    }
    const Bytes head = HeadUpToLastData(file.string());
    for (const char* harness : {"search", "exfat_search", "exfat_boot"}) Write(harness, "mkfs-exfat.img", head);
    return "";
}

// The seeds of real files, made in a temporary folder that goes with them.
// "" or why they could not be made.
std::string RealFileSeeds() {
    veld::test::TempDir work("veld-seeds");
    if (work.path().empty()) return "cannot make a temporary folder";
    std::vector<RealFile> files = ToolMadeFiles(work.path());
    std::vector<RealFile> cardFiles = files;  // and up to 8 small photos and the small HEIF pictures
    int photosOnCards = 0;

    // The shared samples, read where they are and never kept.
    const std::vector<fs::path> photos = FilesBelow(VELD_SHARED_PHOTOS, {".jpg", ".jpeg"});
    const std::vector<fs::path> heifs = FilesBelow(VELD_SHARED_FORMATS, {".heic", ".heif", ".avif"});
    if (photos.empty()) Note("no shared photos: their seeds are left out");
    if (heifs.empty()) Note("no shared HEIF pictures: their seeds are left out");
    for (size_t i = 0; i < photos.size(); ++i) {
        const Bytes bytes = ReadWhole(photos[i]);
        const std::string name = SeedName(fs::relative(photos[i], VELD_SHARED_PHOTOS).string());
        // Cluster sizes and the two modes of the walk in turn.
        Write("jpeg_walk", "photo-" + name, WalkInput(uint8_t(i & 7), bytes));
        if (const Bytes exif = ExifBlockOf(bytes); !exif.empty()) Write("exif", "photo-" + name, exif);
        if (photosOnCards < 8 && bytes.size() <= 16 * 1024) {
            cardFiles.push_back({photos[i].filename().string(), bytes});
            ++photosOnCards;
        }
    }
    for (const fs::path& heif : heifs) {
        files.push_back({heif.filename().string(), ReadWhole(heif)});
        if (files.back().bytes.size() <= 64 * 1024) cardFiles.push_back(files.back());
    }

    // media_walk: each file by its own walk in 512-byte clusters, and by the
    // search's path (classified, carved, registered) in 4096-byte clusters.
    for (const RealFile& f : files) {
        const int walk = WalkOf(f.name);
        if (walk < 0) continue;
        const std::string name = SeedName(f.name);
        Write("media_walk", "real-" + name + "-512", WalkInput(uint8_t(walk << 3), f.bytes));
        Write("media_walk", "real-" + name + "-search-4096", WalkInput(uint8_t(5 << 3 | 3), f.bytes));
    }
    return RealCardSeeds(work.path(), cardFiles);
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
    if (const std::string why = RealFileSeeds(); !why.empty()) {
        std::fprintf(stderr, "make_fuzz_seeds: %s\n", why.c_str());
        return 1;
    }
    std::printf("make_fuzz_seeds: %d seeds below %s\n", gWritten, gRoot.c_str());
    return 0;
}
