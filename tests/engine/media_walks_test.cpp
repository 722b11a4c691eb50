// The formats beyond JPEG and MP4 on cards: RAW files of every maker's layout
// (built by our own builder, which exiftool reads as the format it claims),
// RAF, HEIF and CR3 boxes, AVI with OpenDML pieces, clips made by ffmpeg in
// every container, and real HEIF pictures from phones on a quick-formatted
// card. Each is carved whole, named and described; damaged ones are kept.
#include <gtest/gtest.h>

#include <QByteArray>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <ctime>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>

#include "finder/found_file_thumbnail.h"
#include "finder/isobmff_boxes.h"
#include "finder/isobmff_walk.h"
#include "finder/media_format.h"
#include "finder/search_session.h"
#include "finder/signature_search.h"
#include "search/extraction.h"
#include "search/found_file_columns.h"
#include "search/search_driver.h"
#include "support/fat_image_builder.h"
#include "support/mkfs_tools.h"
#include "support/search_card.h"
#include "support/test_media.h"
#include "volume/cluster_map.h"

namespace veld {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;
using test::UseCard;

Bytes ReadAll(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), {});
}

std::vector<DelFileInfo> Found(SearchSession& session) {
    std::vector<DelFileInfo> all;
    for (size_t i = 0; i < session.gcDelFileList.Count(); ++i) all.push_back(*session.gcDelFileList.CopyAt(i));
    return all;
}

const DelFileInfo* Named(const std::vector<DelFileInfo>& found, const std::string& name) {
    for (const DelFileInfo& f : found)
        if (f.name && *f.name == name) return &f;
    return nullptr;
}

std::string CarvedName(uint32_t cluster, const std::string& ext) {
    char name[32];
    std::snprintf(name, sizeof name, "#%08u.%s", cluster, ext.c_str());
    return name;
}

Bytes Extracted(DiskVolume& volume, const DelFileInfo& record) {
    ExtractRequest request;
    request.toMemory = true;
    return ExtractFoundFile(volume, record, request).memory;
}

bool White(const Dib24& dib, int x, int y) {
    const uint8_t* p = dib.row(y) + 3 * x;
    return p[0] > 240 && p[1] > 240 && p[2] > 240;
}

struct Planted {
    std::string label;
    Bytes bytes;
    std::string ext;  // the carved file's extension
    std::string make, model;
    test::PlacedRun preview;
};

std::vector<Planted> RawFiles() {
    using test::RawPreview;
    using test::TestRaw;
    std::vector<Planted> files;
    auto add = [&](const std::string& ext, TestRaw raw) {
        Bytes bytes = test::MakeTestRaw(raw);
        files.push_back(Planted{ext, bytes, ext, raw.make, raw.model, test::LastRawPreview()});
    };
    add("cr2", TestRaw{.cr2Marker = true, .preview = RawPreview::Ifd0Strip});
    add("nef", TestRaw{.bigEndian = true, .make = "NIKON CORPORATION", .model = "NIKON D850", .orientation = 6,
                       .preview = RawPreview::NikonMakerNote, .previewWidth = 192, .previewHeight = 128});
    add("nrw", TestRaw{.make = "NIKON", .model = "COOLPIX P7800"});
    add("arw", TestRaw{.make = "SONY", .model = "ILCE-7M3"});
    add("sr2", TestRaw{.make = "SONY", .model = "DSC-R1"});
    add("dng", TestRaw{.dng = true, .make = "Apple", .model = "iPhone 12 Pro", .hasGps = false});
    add("orf", TestRaw{.magic = 0x4F52, .make = "OLYMPUS CORPORATION", .model = "E-M1MarkII",
                       .preview = RawPreview::MakerNote});
    add("rw2", TestRaw{.magic = 0x55, .make = "Panasonic", .model = "DC-GH5", .preview = RawPreview::Rw2JpgFromRaw});
    add("pef", TestRaw{.bigEndian = true, .make = "PENTAX", .model = "PENTAX K-1", .preview = RawPreview::MakerNote});
    add("srw", TestRaw{.make = "SAMSUNG", .model = "NX1", .rawInTiles = true});
    add("erf", TestRaw{.make = "SEIKO EPSON CORP.", .model = "R-D1"});
    add("3fr", TestRaw{.make = "Hasselblad", .model = "CFV-50"});
    Bytes raf = test::MakeTestRaf("X-T3", "2024:05:06 07:08:09");
    // The RAF's JPEG sits at byte 160 (the builder's layout).
    files.push_back(Planted{"raf", raf, "raf", "FUJIFILM", "X-T3", test::PlacedRun{160, 0}});
    return files;
}

TEST(MediaWalks, RawFilesAreCarvedWholeWithTheirMakeDateAndPreview) {
    SearchSession session;
    test::FatImageBuilder b(test::FatGeometry::Fat16());
    const uint32_t cs = b.ClusterSize();
    const std::vector<Planted> files = RawFiles();
    std::vector<uint32_t> starts;
    uint32_t at = 100;
    for (const Planted& f : files) {
        starts.push_back(at);
        b.WriteCluster(at, f.bytes);
        at += b.ClustersFor(f.bytes.size()) + 3;  // zero slack between them
    }
    ASSERT_LT(at, b.ClusterCount());
    DiskVolume& v = UseCard(session, b);
    SearchClusters(session, 2, v.clusterCount + 1);
    const auto found = Found(session);
    EXPECT_EQ(found.size(), files.size());

    for (size_t k = 0; k < files.size(); ++k) {
        const Planted& f = files[k];
        SCOPED_TRACE(f.label);
        const DelFileInfo* r = Named(found, CarvedName(starts[k], f.ext));
        ASSERT_NE(r, nullptr);
        EXPECT_EQ(r->fileSize, f.bytes.size());
        EXPECT_EQ(Extracted(v, *r), f.bytes);
        EXPECT_EQ(FoundFileStateText(*r), "良");
        EXPECT_EQ(r->isImage, 1);
        // Listed with the pictures in the tree, with a type name, also where
        // the MIME database has no entry for the extension.
        EXPECT_TRUE(ExtensionIsPicture(r->extension));
        EXPECT_EQ(FoundFileColumnText(*r, ColType).find("ﾌｧｲﾙ"), std::string::npos);
        EXPECT_EQ(r->jpeg.make, f.make);
        EXPECT_EQ(r->jpeg.model, f.model);
        EXPECT_EQ(FoundFileShootingDate(*r), "2024/05/06 07:08:09");
        EXPECT_EQ(FoundFileColumnText(*r, ColModel), f.model);
        if (f.ext != "raf") {
            EXPECT_EQ(r->media.previewOffset, f.preview.offset);
            EXPECT_EQ(r->media.previewLength, f.preview.length);
        }
        if (f.ext != "dng" && f.ext != "raf") {
            EXPECT_EQ(r->jpeg.latRef, 'N');
        }
        ASSERT_TRUE(r->thumbnail) << "the embedded JPEG makes the thumbnail";
        // The walked clusters are data of the file, the next start is not.
        EXPECT_EQ(ClusterClass(session.clusterMap, starts[k] + 1), f.bytes.size() > cs ? ContentClass::RawData : ContentClass::Fill);
    }
    // The NEF is stored turned a quarter (orientation 6): its landscape
    // preview stands upright, white beside it, not above it.
    const DelFileInfo* nef = Named(found, CarvedName(starts[1], "nef"));
    ASSERT_TRUE(nef && nef->thumbnail);
    EXPECT_TRUE(White(*nef->thumbnail, 2, 32));
    EXPECT_FALSE(White(*nef->thumbnail, 32, 2));
}

TEST(MediaWalks, ExiftoolReadsTheBuiltRawFilesAsTheirFormats) {
    if (test::FindTool("exiftool").empty()) GTEST_SKIP() << "exiftool is not installed";
    test::TempDir dir;
    std::vector<std::string> argv{"exiftool", "-j", "-FileType", "-Make", "-Model", "-DateTimeOriginal",
                                  "-PreviewImageLength", "-JpgFromRawLength", "-Error"};
    const std::vector<Planted> files = RawFiles();
    for (const Planted& f : files) {
        const std::string path = dir.File("file." + f.ext);
        std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(f.bytes.data()), f.bytes.size());
        argv.push_back(path);
    }
    const test::CommandResult r = test::RunCommand(argv);
    const QJsonArray all = QJsonDocument::fromJson(QByteArray::fromStdString(r.out)).array();
    ASSERT_EQ(size_t(all.size()), files.size()) << r.err;
    for (size_t k = 0; k < files.size(); ++k) {
        const QJsonObject o = all[qsizetype(k)].toObject();
        const Planted& f = files[k];
        SCOPED_TRACE(f.label);
        std::string type = o["FileType"].toString().toStdString();
        for (char& c : type) c = char(std::tolower(static_cast<unsigned char>(c)));
        EXPECT_EQ(type, f.ext);
        EXPECT_EQ(o["Make"].toString().toStdString(), f.make);
        EXPECT_EQ(o["DateTimeOriginal"].toString().toStdString(), "2024:05:06 07:08:09");
        EXPECT_FALSE(o.contains("Error")) << o["Error"].toString().toStdString();
    }
}

// A RAW's structures reach past its clusters when the card ends inside it or
// a live file took some of them: it is kept up to there, partly missing.
TEST(MediaWalks, RawCutByTheCardOrALiveFileIsKeptPartlyMissing) {
    SearchSession session;
    test::FatImageBuilder b(test::FatGeometry::Fat16());
    const uint32_t cs = b.ClusterSize();
    const Bytes raw = test::MakeTestRaw(test::TestRaw{.rawWidth = 256, .rawHeight = 64});
    const uint32_t clusters = b.ClustersFor(raw.size());
    ASSERT_GT(clusters, 6u);
    b.WriteCluster(100, raw);
    DiskVolume& v = UseCard(session, b);
    SetClusterState(session.clusterMap, 100 + clusters - 2, ClusterUse::LiveFile);  // as the live tree's scan leaves it
    SearchClusters(session, 2, v.clusterCount + 1);
    const auto found = Found(session);
    const DelFileInfo* r = Named(found, CarvedName(100, "cr2"));
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(r->fileSize, uint64_t(clusters - 2) * cs);
    EXPECT_EQ(FoundFileStateText(*r), "一部欠損");

    SearchSession cut;
    test::FatImageBuilder c(test::FatGeometry::Fat16());
    c.WriteCluster(100, raw);
    c.bytes().resize(c.ClusterOffset(100) + raw.size() / 2);
    UseCard(cut, c);
    SearchClusters(cut, 2, 100 + clusters);
    const auto part = Found(cut);
    ASSERT_EQ(part.size(), 1u);
    EXPECT_EQ(part[0].media.partlyMissing, 1u);
    EXPECT_LE(part[0].fileSize, raw.size() / 2);
}

TEST(MediaWalks, BrandsNameTheFormat) {
    const struct {
        const char* major;
        std::vector<std::string> compatible;
        MediaFormat format;
    } cases[] = {
        {"heic", {"mif1", "heic"}, FormatHeic}, {"mif1", {"mif1", "heic"}, FormatHeic},
        {"mif1", {"avif", "mif1"}, FormatAvif}, {"avif", {}, FormatAvif},
        {"mif1", {"miaf"}, FormatHeif},         {"msf1", {"iso8"}, FormatHeif},
        {"crx ", {"crx ", "isom"}, FormatCr3},  {"qt  ", {"qt  "}, FormatMov},
        {"3gp5", {"3gp5", "isom"}, Format3gp},  {"3g2a", {"3g2a"}, Format3g2},
        {"isom", {"3gp4"}, Format3gp},          {"isom", {"isom", "avc1"}, FormatMp4},
        {"mp42", {"mp42", "mp41"}, FormatMp4},
    };
    for (const auto& c : cases)
        EXPECT_EQ(IsoBmffFormatOfBrands(c.major, c.compatible.data(), c.compatible.size()), c.format) << c.major;
}

// HEIF ends at its last box, checked against where its items lie: items
// beyond the boxes mean a damaged picture; a last mdat of size 0 ends where
// the items end. The EXIF item found through iloc gives make, model and date.
TEST(MediaWalks, HeifEndsAtItsLastBoxCheckedAgainstItsItems) {
    test::TestHeif heif;
    heif.exif.make = "Apple";
    heif.exif.model = "iPhone 13 Pro Max";
    heif.exif.dateTimeOriginal = "2022:02:16 12:55:41";
    heif.exif.orientation = 6;
    heif.exif.hasGps = true;
    test::TestHeif zero = heif;
    zero.mdatSizeZero = true;
    test::TestHeif beyond = heif;
    beyond.itemsPastEnd = true;
    test::TestHeif avif = heif;
    avif.majorBrand = "avif";
    avif.compatibleBrands = {"avif", "mif1", "miaf"};
    const Bytes files[] = {test::MakeTestHeif(heif), test::MakeTestHeif(zero), test::MakeTestHeif(beyond),
                           test::MakeTestHeif(avif), test::MakeTestCr3({})};

    SearchSession session;
    test::FatImageBuilder b(test::FatGeometry::Fat16());
    const uint32_t starts[] = {100, 200, 300, 400, 500};
    for (size_t k = 0; k < 5; ++k) b.WriteCluster(starts[k], files[k]);
    DiskVolume& v = UseCard(session, b);
    SearchClusters(session, 2, v.clusterCount + 1);
    const auto found = Found(session);
    ASSERT_EQ(found.size(), 5u);

    const char* names[] = {"heic", "heic", "heic", "avif", "cr3"};
    for (size_t k = 0; k < 5; ++k) {
        SCOPED_TRACE(k);
        const DelFileInfo* r = Named(found, CarvedName(starts[k], names[k]));
        ASSERT_NE(r, nullptr);
        EXPECT_EQ(r->fileSize, files[k].size());
        EXPECT_EQ(r->isImage, 1);
        EXPECT_EQ(FoundFileStateText(*r), k == 2 ? "一部欠損" : "良");
        if (k < 4) {
            EXPECT_EQ(r->jpeg.model, "iPhone 13 Pro Max");
            EXPECT_EQ(FoundFileShootingDate(*r), "2022/02/16 12:55:41");
            EXPECT_EQ(r->jpeg.orientation, 6);
            EXPECT_EQ(FoundFileColumnText(*r, ColPictureSize), " 4032x 3024");
            EXPECT_EQ(r->jpeg.latRef, 'N');
        }
    }
    const DelFileInfo* cr3 = Named(found, CarvedName(500, "cr3"));
    ASSERT_NE(cr3, nullptr);
    EXPECT_EQ(cr3->jpeg.make, "Canon");
    EXPECT_EQ(cr3->jpeg.model, "Canon EOS R5");
    EXPECT_EQ(FoundFileShootingDate(*cr3), "2023/11/12 13:14:15");
    EXPECT_EQ(cr3->jpeg.latRef, 'S');  // from the GPS box
    EXPECT_EQ(cr3->media.previewOffset, test::LastCr3Preview().offset);
    EXPECT_EQ(cr3->media.previewLength, test::LastCr3Preview().length);
    EXPECT_TRUE(cr3->thumbnail);
}

// What decoding a HEIF costs is read from its structure, not from the
// primary's "ispe" alone: a grid counts its canvas and every tile reference
// (one small tile referenced a thousand times makes a huge picture).
TEST(MediaWalks, HeifDecodeCostCountsTheGridCanvasAndEveryTileReference) {
    auto grid = [](uint32_t ispe, uint32_t output, uint16_t references, bool inIdat) {
        test::TestHeif heif;
        heif.width = heif.height = ispe;
        heif.grid.outputWidth = heif.grid.outputHeight = output;
        heif.grid.tileReferences = references;
        heif.grid.inIdat = inIdat;
        return heif;
    };
    const struct {
        const char* label;
        test::TestHeif heif;
        uint64_t pixels;
    } cases[] = {
        {"plain", test::TestHeif{}, 4032ull * 3024},
        {"phone grid", grid(4096, 4096, 64, true), 64ull * 512 * 512},
        {"one tile 1024 times", grid(64, 16384, 1024, true), 16384ull * 16384},
        {"huge canvas of one tile, header in mdat", grid(64, 60000, 1, false), 60000ull * 60000},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        const Bytes file = test::MakeTestHeif(c.heif);
        EXPECT_EQ(HeifDecodePixels(ByteReader(file.data(), file.size())), c.pixels);
    }
    // A grid whose header lies past the bytes in hand cannot be costed.
    const Bytes cut = test::MakeTestHeif(grid(64, 64, 1, false));
    const auto mdat = std::search(cut.begin(), cut.end(), std::begin("mdat"), std::end("mdat") - 1);
    ASSERT_NE(mdat, cut.end());
    EXPECT_EQ(HeifDecodePixels(ByteReader(cut.data(), size_t(mdat - cut.begin()) + 4)), UINT64_MAX);
}

TEST(MediaWalks, AviEndsAfterItsLastOpenDmlPiece) {
    const Bytes big = test::MakeTestAvi({.extraPieces = 2});
    const Bytes small = test::MakeTestAvi({.width = 640, .height = 480, .framesPerPiece = 5, .recorded = "2019:01:02 03:04:05"});
    SearchSession session;
    test::FatImageBuilder b(test::FatGeometry::Fat16());
    b.WriteCluster(100, big);
    // The next clip right after the first one's last cluster: not a piece of it.
    const uint32_t next = 100 + b.ClustersFor(big.size());
    b.WriteCluster(next, small);
    DiskVolume& v = UseCard(session, b);
    SearchClusters(session, 2, v.clusterCount + 1);
    const auto found = Found(session);
    ASSERT_EQ(found.size(), 2u);
    const DelFileInfo* a = Named(found, CarvedName(100, "avi"));
    ASSERT_NE(a, nullptr);
    EXPECT_EQ(a->fileSize, big.size());
    EXPECT_EQ(a->media.durationMs, 30u * 40u);  // the frames of all three pieces
    EXPECT_EQ(FoundFileShootingDate(*a), "2023/10/05 12:34:56");
    EXPECT_EQ(FoundFileColumnText(*a, ColPictureSize), "  320x  240");
    EXPECT_EQ(FoundFileColumnText(*a, ColRemarks), "再生時間 0:01");
    EXPECT_EQ(a->isImage, 0);
    const DelFileInfo* c = Named(found, CarvedName(next, "avi"));
    ASSERT_NE(c, nullptr);
    EXPECT_EQ(c->fileSize, small.size());
    EXPECT_EQ(FoundFileShootingDate(*c), "2019/01/02 03:04:05");
}

std::string LocalText(std::time_t utc) {
    std::tm local{};
    localtime_r(&utc, &local);
    char text[32];
    std::strftime(text, sizeof text, "%Y/%m/%d %H:%M:%S", &local);
    return text;
}

// Clips of every container, made by ffmpeg: carved byte for byte, with their
// recording time, frame size, running time and a first-frame thumbnail.
TEST(MediaWalks, ClipsMadeByFfmpegAreCarvedWithTheirTimesAndFirstFrame) {
    if (test::FindTool("ffmpeg").empty()) GTEST_SKIP() << "ffmpeg is not installed";
    test::TempDir dir;
    const test::CommandResult made = test::RunCommand({"bash", VELD_CLIP_SCRIPT, dir.File("clips")});
    ASSERT_EQ(made.exitCode, 0) << made.err;
    const struct {
        const char* file;
        const char* ext;
        int width, height;
        bool dated;
    } clips[] = {
        {"clip.avi", "avi", 160, 120, false}, {"clip.mts", "mts", 0, 0, false},  {"clip.mpg", "mpg", 160, 120, false},
        {"clip.mod", "mpg", 160, 120, false}, {"clip.3gp", "3gp", 176, 144, true}, {"clip.mov", "mov", 160, 120, true},
        {"clip.mp4", "mp4", 160, 120, true},
    };
    SearchSession session;
    test::FatImageBuilder b(test::FatGeometry::Fat32());
    std::vector<Bytes> bytes;
    std::vector<uint32_t> starts;
    uint32_t at = 50;
    for (const auto& c : clips) {
        bytes.push_back(ReadAll(dir.File(std::string("clips/") + c.file)));
        ASSERT_FALSE(bytes.back().empty()) << c.file;
        starts.push_back(at);
        b.WriteCluster(at, bytes.back());
        at += b.ClustersFor(bytes.back().size()) + 2;
    }
    ASSERT_LT(at, b.ClusterCount());
    DiskVolume& v = UseCard(session, b);
    SearchClusters(session, 2, v.clusterCount + 1);
    const auto found = Found(session);
    EXPECT_EQ(found.size(), std::size(clips));
    for (size_t k = 0; k < std::size(clips); ++k) {
        const auto& c = clips[k];
        SCOPED_TRACE(c.file);
        const DelFileInfo* r = Named(found, CarvedName(starts[k], c.ext));
        ASSERT_NE(r, nullptr);
        DelFileInfo record = *r;
        EXPECT_EQ(Extracted(v, record), bytes[k]);
        EXPECT_EQ(FoundFileStateText(record), "良");
        EXPECT_EQ(record.media.width, c.width);
        EXPECT_EQ(record.media.height, c.height);
        // Program streams give it from their packs' clock, which stops at the last pack.
        EXPECT_NEAR(double(record.media.durationMs), 1000.0, 250.0);
        EXPECT_EQ(FoundFileShootingDate(record), c.dated ? LocalText(1696509296) : "");
        const DibPtr thumbnail = MakeFoundFileThumbnail(v, record);
        ASSERT_TRUE(thumbnail) << "the first frame decodes";
        EXPECT_FALSE(White(*thumbnail, 32, 32));
    }

    // The same clips copied one right after the other by mtools and deleted:
    // each comes back under its entry with its running time and first frame,
    // none is taken into the one before it, and none is listed twice.
    if (auto why = test::MkfsToolsMissing(); !why.empty()) GTEST_SKIP() << why;
    const std::string image = dir.File("card.img");
    ASSERT_EQ(test::MakeFatImage(image, {.fatType = 16, .sizeKiB = 16 * 1024, .sectorsPerCluster = 4}), "");
    test::MtoolsImage card(image);
    for (const auto& c : clips) ASSERT_EQ(card.Put(dir.File(std::string("clips/") + c.file), c.file), "");
    for (const auto& c : clips) ASSERT_EQ(card.Delete(c.file), "");
    SearchSession named;
    SearchOptions options;
    options.thumbnailThreads = 0;
    ASSERT_EQ(RunSearch(named, 0, image, options), SearchOk);
    const auto listed = Found(named);
    EXPECT_EQ(listed.size(), std::size(clips));
    for (const DelFileInfo& r : listed) {
        SCOPED_TRACE(*r.name);
        EXPECT_FALSE(r.carved);
        EXPECT_EQ(FoundFileStateText(r), "良");
        EXPECT_NEAR(double(r.media.durationMs), 1000.0, 250.0);
        DelFileInfo record = r;
        EXPECT_TRUE(MakeFoundFileThumbnail(*named.volume, record));
    }
}

// A TIFF whose only strip lies `far` bytes on: IFD0 with the make, the
// picture size and one strip of 1,000 bytes.
Bytes TiffWithFarStrip(uint32_t far) {
    Bytes t{'I', 'I', 42, 0, 8, 0, 0, 0};
    auto u16 = [&](uint16_t v) { t.push_back(uint8_t(v)), t.push_back(uint8_t(v >> 8)); };
    auto u32 = [&](uint32_t v) { u16(uint16_t(v)), u16(uint16_t(v >> 16)); };
    const struct { uint16_t tag, type; uint32_t count, value; } entries[] = {
        {256, 4, 1, 640}, {257, 4, 1, 480}, {259, 3, 1, 1}, {271, 2, 4, 0x006E6F43 /* "Con" */},
        {273, 4, 1, far}, {279, 4, 1, 1000},
    };
    u16(uint16_t(std::size(entries)));
    for (const auto& e : entries) u16(e.tag), u16(e.type), u32(e.count), u32(e.value);
    u32(0);
    return t;
}

// Sizes that promise more than the card holds (a clip whose "mdat" claims
// more than was written, an AVI whose RIFF size is near 4 GiB, a HEIF whose
// last "mdat" runs to the end with an item 3 GiB on, a TIFF whose strip lies
// far beyond) are taken only as far as the card proves them: the file two
// clusters on, of any format, is found whole, and the first keeps what it
// has, partly missing.
TEST(MediaWalks, SizesPromisingMoreThanTheCardHoldsStopAtFillOrTheNextFile) {
    Bytes clip = test::MakeTestMp4(400);
    const test::AtomPlace mdat = test::TopLevelAtoms(clip).back();
    ASSERT_EQ(mdat.type, "mdat");
    const uint32_t claimed = uint32_t(mdat.size + 9000);
    for (int k = 0; k < 4; ++k) clip[mdat.offset + size_t(k)] = uint8_t(claimed >> (24 - 8 * k));
    Bytes avi = test::MakeTestAvi({.framesPerPiece = 2, .frameBytes = 300});
    for (int k = 0; k < 4; ++k) avi[4 + size_t(k)] = uint8_t(0xFFFFFFF0u >> (8 * k));
    test::TestHeif heif;
    heif.pictureBytes = 500;
    heif.mdatSizeZero = true;
    heif.itemsPastEnd = true;
    heif.pastEndBytes = 3u << 30;
    const std::vector<Planted> openers = {
        {"open clip", clip, "mp4", "", "", {}},
        {"avi", avi, "avi", "", "", {}},
        {"heif", test::MakeTestHeif(heif), "heic", "", "", {}},
        {"tiff", TiffWithFarStrip(300 * 1024), "tif", "", "", {}},
    };
    test::TestExif exif;
    exif.make = "Canon";
    const std::vector<Planted> followers = {
        {"clip", test::MakeTestMp4(600), "mp4", "", "", {}},
        {"photo", test::MakeTestJpeg(64, 48, &exif), "jpg", "", "", {}},
        {"cr2", test::MakeTestRaw({.cr2Marker = true, .preview = test::RawPreview::Ifd0Strip}), "cr2", "", "", {}},
        {"avi", test::MakeTestAvi({}), "avi", "", "", {}},
        {"mts", test::MakeTestTs(40), "mts", "", "", {}},
        {"mpg", test::MakeTestPs(6, true), "mpg", "", "", {}},
    };
    for (const Planted& opener : openers) {
        for (const Planted& follower : followers) {
            SCOPED_TRACE(opener.label + " then " + follower.label);
            SearchSession session;
            test::FatImageBuilder b(test::FatGeometry::Fat16());
            const uint32_t cs = b.ClusterSize();
            const uint32_t clusters = b.ClustersFor(opener.bytes.size());
            b.WriteCluster(100, opener.bytes);
            const uint32_t next = 100 + clusters + 1;
            b.WriteCluster(next, follower.bytes);
            DiskVolume& v = UseCard(session, b);
            SearchClusters(session, 2, v.clusterCount + 1);
            const auto found = Found(session);
            EXPECT_EQ(found.size(), 2u);
            const DelFileInfo* first = Named(found, CarvedName(100, opener.ext));
            ASSERT_NE(first, nullptr);
            EXPECT_GE(first->fileSize, opener.bytes.size());  // all it has, none of what follows
            EXPECT_LE(first->fileSize, uint64_t(clusters) * cs);
            EXPECT_EQ(FoundFileStateText(*first), "一部欠損");
            const DelFileInfo* second = Named(found, CarvedName(next, follower.ext));
            ASSERT_NE(second, nullptr);
            EXPECT_EQ(second->fileSize, follower.bytes.size());
            EXPECT_EQ(FoundFileStateText(*second), "良");
        }
    }
}

// First frames of clips whose picture is not a whole number of the scaler's
// blocks wide (a phone's 568 x 320, odd sizes) come out at their own size;
// a clip whose key frames were cut out gives none. Run once more under
// valgrind (see tests/CMakeLists.txt): the scaler writes from assembly,
// which AddressSanitizer does not see.
TEST(ClipFrames, OddSizesDecodeWithinTheirBitmapAndLostKeyFramesGiveNone) {
    if (test::FindTool("ffmpeg").empty()) GTEST_SKIP() << "ffmpeg is not installed";
    test::TempDir dir;
    const struct {
        const char* size;
        const char* codec;
        const char* pixels;
        const char* container;
        bool keyFrames;
    } clips[] = {
        {"568x320", "libx264", "yuv420p", "mov", true},   {"570x322", "libx264", "yuv420p", "mp4", true},
        {"1000x562", "libx264", "yuv420p", "mov", true},  {"567x319", "libx264", "yuv444p", "mov", true},
        {"161x121", "mjpeg", "yuvj444p", "avi", true},    {"330x250", "mpeg2video", "yuv420p", "vob", true},
        {"320x240", "libx264", "yuv420p", "mp4", false},
    };
    for (const auto& c : clips) {
        SCOPED_TRACE(std::string(c.size) + " " + c.codec + (c.keyFrames ? "" : " without key frames"));
        const std::string file = dir.File(std::string(c.size) + c.codec + "." + c.container);
        std::vector<std::string> argv{"ffmpeg", "-hide_banner", "-loglevel", "error", "-y", "-f", "lavfi", "-i",
                                      std::string("testsrc=duration=0.4:rate=25:size=") + c.size, "-c:v", c.codec,
                                      "-pix_fmt", c.pixels};
        if (!c.keyFrames) argv.insert(argv.end(), {"-x264-params", "keyint=1000:scenecut=0", "-bsf:v",
                                                   "filter_units=remove_types=5"});
        argv.push_back(file);
        const test::CommandResult made = test::RunCommand(argv);
        ASSERT_EQ(made.exitCode, 0) << made.err;
        Bytes bytes = ReadAll(file);
        FoundFileBytes clip;
        clip.source = ThumbnailSource::Clip;
        clip.fileSize = bytes.size();
        clip.size = bytes.size();
        clip.held = bytes;
        DelFileInfo record;
        record.media.format = FormatMp4;
        const DibPtr frame = DecodeFoundFilePicture(record, bytes.data(), bytes.size());
        const DibPtr thumbnail = DecodeFoundFileThumbnail(clip, 96);
        if (!c.keyFrames) {
            EXPECT_FALSE(frame);
            EXPECT_FALSE(thumbnail);
            continue;
        }
        ASSERT_TRUE(frame);
        int width = 0, height = 0;
        ASSERT_EQ(std::sscanf(c.size, "%dx%d", &width, &height), 2);
        EXPECT_EQ(frame->width, width);
        EXPECT_EQ(frame->height, height);
        EXPECT_FALSE(White(*frame, width / 2, height / 2));
        ASSERT_TRUE(thumbnail);
        EXPECT_EQ(thumbnail->width, 96);
    }
}

// Real HEIF pictures from phones, copied by mtools onto a card made by
// mkfs.fat that is then quick-formatted: all come back byte for byte, under
// their own names (their folder's cluster outlived the format), dated and
// with a thumbnail.
TEST(MediaWalks, RealHeifPicturesComeBackFromAQuickFormattedCard) {
    const fs::path folder = VELD_SHARED_FORMATS;
    if (!fs::is_directory(folder)) GTEST_SKIP() << "no sample HEIF pictures here";
    if (auto why = test::MkfsToolsMissing(); !why.empty()) GTEST_SKIP() << why;
    std::vector<fs::path> files;
    for (const auto& e : fs::directory_iterator(folder)) {
        std::string ext = e.path().extension().string();
        for (char& ch : ext) ch = char(std::tolower(static_cast<unsigned char>(ch)));
        if (ext == ".heic" || ext == ".heif") files.push_back(e.path());
    }
    ASSERT_FALSE(files.empty());
    std::sort(files.begin(), files.end());

    test::TempDir dir;
    const std::string image = dir.File("card.img");
    const test::MkfsOptions options{.fatType = 16, .sizeKiB = 32 * 1024, .sectorsPerCluster = 8};
    ASSERT_EQ(test::MakeFatImage(image, options), "");
    test::MtoolsImage card(image);
    ASSERT_EQ(card.Mkdir("DCIM"), "");
    for (const auto& f : files) ASSERT_EQ(card.Put(f.string(), "DCIM/" + f.filename().string()), "");
    // Quick format: a new file system over the old one, the data left in place.
    const test::CommandResult format = test::RunCommand({test::FindTool("mkfs.fat"), "-F", "16", "-s", "8", image});
    ASSERT_EQ(format.exitCode, 0) << format.err;

    const test::CommandResult r =
        test::RunCommand({VELD_CLI_PATH, "search", "--json", "--save", dir.File("out"), "--flat", image});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    std::map<std::string, QJsonObject> saved;  // by the saved file's bytes' size
    std::istringstream lines(r.out);
    std::vector<QJsonObject> records;
    for (std::string line; std::getline(lines, line);)
        records.push_back(QJsonDocument::fromJson(QByteArray::fromStdString(line)).object());
    ASSERT_EQ(records.size(), files.size());
    for (const auto& f : files) {
        SCOPED_TRACE(f.filename().string());
        const Bytes original = ReadAll(f);
        const QJsonObject* match = nullptr;
        for (const QJsonObject& o : records)
            if (ReadAll(o["saved"].toString().toStdString()) == original) match = &o;
        ASSERT_NE(match, nullptr) << "no saved file equals the original";
        std::string ext = f.extension().string().substr(1);
        for (char& ch : ext) ch = char(std::toupper(static_cast<unsigned char>(ch)));
        EXPECT_EQ((*match)["ext"].toString().toStdString(), ext);
        EXPECT_EQ((*match)["state_text"].toString().toStdString(), "良");
        EXPECT_TRUE((*match)["is_image"].toBool());
        EXPECT_TRUE((*match)["has_thumbnail"].toBool());
        EXPECT_GT((*match)["media"].toObject()["width"].toInt(), 0);
    }
}

}  // namespace
}  // namespace veld
