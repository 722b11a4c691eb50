// JPEG decoding from memory, the bitmap utilities, file-name kinds and the
// thumbnails of found files read from a volume.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <random>
#include <vector>

#include "base/bitmap_utils.h"
#include "base/file_name_kind.h"
#include "base/jpeg_memory_decode.h"
#include "finder/found_file_thumbnail.h"
#include "support/test_jpeg.h"
#include "volume/disk_volume.h"

namespace veld {
namespace {

namespace fs = std::filesystem;

// Decodes from an exact-size heap copy so that AddressSanitizer sees any read
// past the end of the data.
DibPtr Decode(const std::vector<uint8_t>& bytes, size_t count = SIZE_MAX) {
    count = std::min(count, bytes.size());
    std::unique_ptr<uint8_t[]> copy(new uint8_t[count ? count : 1]);
    if (count) std::memcpy(copy.get(), bytes.data(), count);
    return JpegMemoryDecode(copy.get(), count);
}

// Blue, green, red of the bitmap at (x, y), y counted from the top; a point
// outside the bitmap (or a bitmap shorter than its size says) fails the test
// and gives -1s instead of reading past the pixels.
std::array<int, 3> Bgr(const Dib24& d, int x, int y) {
    if (x < 0 || y < 0 || x >= d.width || y >= d.height ||
        d.bits.size() < size_t(d.stride()) * size_t(d.height)) {
        ADD_FAILURE() << "pixel (" << x << ", " << y << ") outside a " << d.width << " x " << d.height << " bitmap";
        return {-1, -1, -1};
    }
    const uint8_t* p = d.row(y) + size_t(x) * 3;
    return {p[0], p[1], p[2]};
}

// Mean absolute difference between the decoded rows [y0, y1) and the colours
// the test picture was painted with.
double RowsError(const Dib24& d, int y0, int y1) {
    double sum = 0;
    long n = 0;
    for (int y = y0; y < y1; ++y)
        for (int x = 0; x < d.width; ++x) {
            auto want = test::TestJpegPixel(x, y, d.width, d.height);
            auto got = Bgr(d, x, y);
            sum += std::abs(got[0] - want[2]) + std::abs(got[1] - want[1]) + std::abs(got[2] - want[0]);
            n += 3;
        }
    return n ? sum / double(n) : 0;
}

TEST(FitRectangle, LandscapeAndPortraitIntoSquare) {
    FittedRect wide = FitRectangle(640, 480, 64, 64);
    EXPECT_EQ(wide.x, 0);
    EXPECT_EQ(wide.y, 8);
    EXPECT_EQ(wide.width, 64);
    EXPECT_EQ(wide.height, 48);
    EXPECT_DOUBLE_EQ(wide.zoomPercent, 10.0);

    FittedRect tall = FitRectangle(480, 640, 64, 64);
    EXPECT_EQ(tall.x, 8);
    EXPECT_EQ(tall.y, 0);
    EXPECT_EQ(tall.width, 48);
    EXPECT_EQ(tall.height, 64);

    FittedRect same = FitRectangle(100, 100, 64, 64);  // equal ratios fit to the width
    EXPECT_EQ(same.x, 0);
    EXPECT_EQ(same.y, 0);
    EXPECT_EQ(same.width, 64);
    EXPECT_EQ(same.height, 64);

    FittedRect up = FitRectangle(32, 16, 64, 64);  // enlarging: zoom above 100
    EXPECT_EQ(up.height, 32);
    EXPECT_EQ(up.y, 16);
    EXPECT_DOUBLE_EQ(up.zoomPercent, 200.0);

    FittedRect odd = FitRectangle(3, 7, 10, 10);  // 10/7*3 = 4.28 truncated to 4; x = 6/2
    EXPECT_EQ(odd.width, 4);
    EXPECT_EQ(odd.x, 3);
}

TEST(FitRectangle, ZeroSizesStayDefined) {
    for (auto [sw, sh, tw, th] : {std::array<int, 4>{0, 0, 64, 64}, {640, 0, 64, 64}, {0, 480, 64, 64},
                                  {640, 480, 0, 0}, {640, 480, 64, 0}, {0, 0, 0, 0}}) {
        FittedRect r = FitRectangle(sw, sh, tw, th);
        EXPECT_TRUE(std::isfinite(r.zoomPercent));
        EXPECT_GE(r.width, 0);
        EXPECT_GE(r.height, 0);
    }
}

TEST(CreateDib24, StrideFillAndByteOrder) {
    DibPtr d = CreateDib24(5, 3, 0x123456);  // 15 bytes a row, padded to 16
    ASSERT_TRUE(d);
    EXPECT_EQ(d->stride(), 16);
    ASSERT_EQ(d->bits.size(), 48u);
    for (int y = 0; y < 3; ++y) {
        EXPECT_EQ(Bgr(*d, 0, y), (std::array<int, 3>{0x56, 0x34, 0x12}));
        EXPECT_EQ(Bgr(*d, 4, y), (std::array<int, 3>{0x56, 0x34, 0x12}));
        EXPECT_EQ(d->row(y)[15], 0);  // padding untouched
    }
    DibPtr zero = CreateDib24(4, -2);  // a negative height names the same size
    ASSERT_TRUE(zero);
    EXPECT_EQ(zero->height, 2);
    EXPECT_EQ(std::count(zero->bits.begin(), zero->bits.end(), 0), long(zero->bits.size()));
    EXPECT_FALSE(CreateDib24(0, 10));
    EXPECT_FALSE(CreateDib24(10, 0));
    EXPECT_FALSE(CreateDib24(100000, 100000));  // 30 GB: refused, not attempted
}

TEST(ScaleBitmap, KeepAspectCentresOnWhite) {
    DibPtr red = CreateDib24(640, 480, 0xFF0000);
    ASSERT_TRUE(red);
    DibPtr t = ScaleBitmap(*red, 64, 64, true);
    ASSERT_TRUE(t);
    EXPECT_EQ(t->width, 64);
    EXPECT_EQ(t->height, 64);
    const std::array<int, 3> white{255, 255, 255}, redBgr{0, 0, 255};
    for (int x : {0, 31, 63}) {
        EXPECT_EQ(Bgr(*t, x, 0), white);
        EXPECT_EQ(Bgr(*t, x, 7), white);
        EXPECT_EQ(Bgr(*t, x, 8), redBgr);
        EXPECT_EQ(Bgr(*t, x, 55), redBgr);
        EXPECT_EQ(Bgr(*t, x, 56), white);
        EXPECT_EQ(Bgr(*t, x, 63), white);
    }
    DibPtr tall = ScaleBitmap(*CreateDib24(480, 640, 0x00FF00), 64, 64, true);
    ASSERT_TRUE(tall);
    EXPECT_EQ(Bgr(*tall, 7, 30), white);
    EXPECT_EQ(Bgr(*tall, 8, 30), (std::array<int, 3>{0, 255, 0}));
    EXPECT_EQ(Bgr(*tall, 55, 30), (std::array<int, 3>{0, 255, 0}));
    EXPECT_EQ(Bgr(*tall, 56, 30), white);

    DibPtr full = ScaleBitmap(*red, 64, 64, false);  // without aspect: all of the target
    ASSERT_TRUE(full);
    EXPECT_EQ(Bgr(*full, 0, 0), redBgr);
    EXPECT_EQ(Bgr(*full, 63, 63), redBgr);
}

TEST(ScaleBitmap, NearestNeighbourKeepsOrientation) {
    // 2 x 2 source: top-left blue, top-right green, bottom-left red, bottom-right grey.
    DibPtr s = CreateDib24(2, 2);
    auto set = [&](int x, int y, std::array<uint8_t, 3> bgr) { std::memcpy(s->row(y) + x * 3, bgr.data(), 3); };
    set(0, 0, {255, 0, 0});
    set(1, 0, {0, 255, 0});
    set(0, 1, {0, 0, 255});
    set(1, 1, {90, 90, 90});
    DibPtr t = ScaleBitmap(*s, 4, 6, false);
    ASSERT_TRUE(t);
    EXPECT_EQ(Bgr(*t, 0, 0), (std::array<int, 3>{255, 0, 0}));
    EXPECT_EQ(Bgr(*t, 1, 2), (std::array<int, 3>{255, 0, 0}));
    EXPECT_EQ(Bgr(*t, 3, 0), (std::array<int, 3>{0, 255, 0}));
    EXPECT_EQ(Bgr(*t, 0, 5), (std::array<int, 3>{0, 0, 255}));
    EXPECT_EQ(Bgr(*t, 3, 3), (std::array<int, 3>{90, 90, 90}));

    EXPECT_FALSE(ScaleBitmap(*s, 0, 64, true));
    Dib24 broken;  // claims a size its bytes do not have
    broken.width = 100;
    broken.height = 100;
    DibPtr b = ScaleBitmap(broken, 8, 8, true);
    ASSERT_TRUE(b);
    EXPECT_EQ(Bgr(*b, 4, 4), (std::array<int, 3>{255, 255, 255}));
}

TEST(ClassifyFileName, SubstringsAfterUpperCasing) {
    EXPECT_EQ(ClassifyFileName("photo.jpg.txt"), KindPicture);
    EXPECT_EQ(ClassifyFileName("DSC00001.JPG"), KindPicture);
    EXPECT_EQ(ClassifyFileName("scan.tiff"), KindPicture);
    EXPECT_EQ(ClassifyFileName("a.Jpeg"), KindPicture);
    EXPECT_EQ(ClassifyFileName("clip.mov"), KindMovie);
    EXPECT_EQ(ClassifyFileName("clip.mpeg"), KindMovie);
    EXPECT_EQ(ClassifyFileName("voice.WAV"), KindSound);
    EXPECT_EQ(ClassifyFileName("song.mp3"), KindSound);
    EXPECT_EQ(ClassifyFileName("old.lzh"), KindArchive);
    EXPECT_EQ(ClassifyFileName("pics.zip"), KindArchive);
    EXPECT_EQ(ClassifyFileName("clip.mp4"), KindMovie);
    EXPECT_EQ(ClassifyFileName("IMG_0001.HEIC"), KindPicture);
    EXPECT_EQ(ClassifyFileName("DSC_0002.nef"), KindPicture);
    EXPECT_EQ(ClassifyFileName("00003.MTS"), KindMovie);
    EXPECT_EQ(ClassifyFileName("readme.txt"), KindOther);
    EXPECT_EQ(ClassifyFileName("JPG"), KindOther);  // no dot
    EXPECT_EQ(ClassifyFileName(""), KindOther);
    // Groups are tested in order: picture before movie before sound before archive.
    EXPECT_EQ(ClassifyFileName("a.zip.avi.wav.gif"), KindPicture);
    EXPECT_EQ(ClassifyFileName("a.wav.avi"), KindMovie);
    EXPECT_EQ(ClassifyFileName("a.zip.mp3"), KindSound);
}

TEST(JpegMemoryDecode, ColourPictureIsUprightInBlueGreenRed) {
    auto jpeg = test::MakeTestJpeg(96, 64);
    DibPtr d = Decode(jpeg);
    ASSERT_TRUE(d);
    EXPECT_EQ(d->width, 96);
    EXPECT_EQ(d->height, 64);
    EXPECT_EQ(d->bits.size(), size_t(d->stride()) * 64);
    // Top-left is blue (B 160, G 0, R 0); green grows downwards and red to the right.
    auto tl = Bgr(*d, 2, 2);
    EXPECT_GT(tl[0], 130);
    EXPECT_LT(tl[1], 30);
    EXPECT_LT(tl[2], 30);
    auto bl = Bgr(*d, 2, 61);
    EXPECT_GT(bl[1], 150);
    auto tr = Bgr(*d, 93, 2);
    EXPECT_GT(tr[2], 150);
    EXPECT_LT(RowsError(*d, 0, 64), 10.0);
}

TEST(JpegMemoryDecode, GrayscaleGivesEqualBlueGreenRed) {
    auto jpeg = test::MakeTestJpeg(50, 30, nullptr, true);
    DibPtr d = Decode(jpeg);
    ASSERT_TRUE(d);
    EXPECT_EQ(d->width, 50);
    EXPECT_EQ(d->height, 30);
    int distinct = 0;
    for (int y = 0; y < 30; ++y)
        for (int x = 0; x < 50; ++x) {
            auto p = Bgr(*d, x, y);
            ASSERT_EQ(p[0], p[1]);
            ASSERT_EQ(p[1], p[2]);
            distinct += p[0] != Bgr(*d, 0, 0)[0];
        }
    EXPECT_GT(distinct, 100);  // a picture, not a flat fill
}

TEST(JpegMemoryDecode, CutHalfWayGivesFullSizeWithUpperPart) {
    auto jpeg = test::MakeTestJpeg(256, 256);
    DibPtr whole = Decode(jpeg);
    ASSERT_TRUE(whole);
    DibPtr half = Decode(jpeg, jpeg.size() / 2);
    ASSERT_TRUE(half);
    EXPECT_EQ(half->width, 256);
    EXPECT_EQ(half->height, 256);
    // The upper rows are the picture; the lower ones are whatever the decoder
    // made of the missing data.
    EXPECT_LT(RowsError(*half, 0, 64), 10.0);
    EXPECT_GT(RowsError(*half, 192, 256), 20.0);
    EXPECT_EQ(std::memcmp(half->row(20), whole->row(20), size_t(half->stride())), 0);
}

TEST(JpegMemoryDecode, GarbageAndTruncatedHeadersGiveNone) {
    EXPECT_FALSE(JpegMemoryDecode(nullptr, 100));
    const uint8_t soi[] = {0xFF, 0xD8};
    EXPECT_FALSE(JpegMemoryDecode(soi, 0));
    EXPECT_FALSE(JpegMemoryDecode(soi, 2));
    std::vector<uint8_t> text(4000, 'A');
    EXPECT_FALSE(Decode(text));

    std::mt19937 rng(7);
    std::vector<uint8_t> noise(5000);
    for (auto& b : noise) b = uint8_t(rng());
    EXPECT_FALSE(Decode(noise));
    noise[0] = 0xFF;
    noise[1] = 0xD8;
    EXPECT_FALSE(Decode(noise));

    // Every cut of a small picture either gives the full-size bitmap or none;
    // cuts inside the header give none.
    auto jpeg = test::MakeTestJpeg(40, 24);
    size_t firstScan = 0;
    for (size_t i = 2; i + 1 < jpeg.size(); ++i)
        if (jpeg[i] == 0xFF && jpeg[i + 1] == 0xDA) { firstScan = i; break; }
    ASSERT_GT(firstScan, 0u);
    for (size_t n = 0; n < jpeg.size(); n += 7) {
        DibPtr d = Decode(jpeg, n);
        if (n <= firstScan) {
            EXPECT_FALSE(d) << n;
        }
        if (d) {
            EXPECT_EQ(d->width, 40);
            EXPECT_EQ(d->height, 24);
        }
    }
}

TEST(JpegMemoryDecode, DamagedBytesNeverAbort) {
    auto jpeg = test::MakeTestJpeg(64, 64);
    std::mt19937 rng(11);
    int decoded = 0;
    for (int round = 0; round < 300; ++round) {
        auto bad = jpeg;
        for (int k = 0; k < 1 + round % 8; ++k) bad[2 + rng() % (bad.size() - 2)] = uint8_t(rng());
        DibPtr d = Decode(bad);
        if (d) {
            ++decoded;
            EXPECT_EQ(d->bits.size(), size_t(d->stride()) * size_t(d->height));
        }
    }
    EXPECT_GT(decoded, 0);
}

TEST(JpegMemoryDecode, HugeClaimedSizeIsRefused) {
    auto jpeg = test::MakeTestJpeg(16, 16);
    // Baseline start of frame: FF C0, length, precision, height (2 bytes), width (2 bytes).
    size_t sof = 0;
    for (size_t i = 2; i + 1 < jpeg.size(); ++i)
        if (jpeg[i] == 0xFF && jpeg[i + 1] == 0xC0) { sof = i; break; }
    ASSERT_GT(sof, 0u);
    jpeg[sof + 5] = 0xEA;  // 60000 rows
    jpeg[sof + 6] = 0x60;
    jpeg[sof + 7] = 0xEA;  // 60000 columns
    jpeg[sof + 8] = 0x60;
    EXPECT_FALSE(Decode(jpeg));
}

TEST(JpegMemoryDecode, RealPhotos) {
    fs::path root(VELD_SHARED_PHOTOS);
    if (!fs::is_directory(root)) GTEST_SKIP() << "shared photos not present";
    auto read = [&](const char* name) {
        std::ifstream in(root / name, std::ios::binary);
        return std::vector<uint8_t>((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    };
    // Sizes as an independent image tool reports them.
    DibPtr canon = Decode(read("Canon_40D.jpg"));
    ASSERT_TRUE(canon);
    EXPECT_EQ(canon->width, 100);
    EXPECT_EQ(canon->height, 68);
    DibPtr gps = Decode(read("gps/DSCN0010.jpg"));
    ASSERT_TRUE(gps);
    EXPECT_EQ(gps->width, 640);
    EXPECT_EQ(gps->height, 480);
    // The damaged file must not bring the decoder down; when it decodes, it
    // has its frame's size.
    DibPtr damaged = Decode(read("corrupted.jpg"));
    if (damaged) {
        EXPECT_EQ(damaged->width, 3648);
        EXPECT_EQ(damaged->height, 2736);
    }
}

// ---- Thumbnails of found files ----------------------------------------------

constexpr uint32_t kClusterSize = 2048;
constexpr uint32_t kDataStart = 8192;

struct PlantedCard {
    std::unique_ptr<DiskVolume> volume;
    DelFileInfo record;
};

// An in-memory card with the picture spread over the given clusters in list
// order (0 entries are holes that hold nothing of it).
PlantedCard Plant(const std::vector<uint8_t>& jpeg, const std::vector<uint32_t>& clusters, size_t clusterTotal = 64) {
    std::vector<uint8_t> image(kDataStart + clusterTotal * kClusterSize, 0xE5);
    size_t at = 0;
    for (uint32_t c : clusters) {
        if (c == 0) continue;
        size_t n = std::min<size_t>(kClusterSize, jpeg.size() > at ? jpeg.size() - at : 0);
        size_t pos = kDataStart + size_t(c - 2) * kClusterSize;
        if (pos + kClusterSize <= image.size()) std::memcpy(&image[pos], jpeg.data() + at, n);
        at += kClusterSize;
    }
    PlantedCard card;
    card.volume = DiskIO_OpenMemory(std::move(image));
    card.volume->clusterSize = kClusterSize;
    card.volume->dataStart = kDataStart;
    card.volume->sectorSize = 512;
    card.record.fileSize = jpeg.size();
    card.record.clustersNeeded = int32_t((jpeg.size() + kClusterSize - 1) / kClusterSize);
    card.record.clusterList.assign(clusters.begin(), clusters.end());
    return card;
}

TEST(FoundFileThumbnail, ScatteredClustersGiveTheFittedPicture) {
    auto jpeg = test::MakeTestJpeg(640, 480);
    size_t needed = (jpeg.size() + kClusterSize - 1) / kClusterSize;
    ASSERT_LT(needed, 40u);
    // Clusters out of order and far apart: 40, 3, 39, 4, 38, 5, ...
    std::vector<uint32_t> clusters;
    for (size_t i = 0; i < needed; ++i) clusters.push_back(i % 2 ? uint32_t(3 + i / 2) : uint32_t(40 - i / 2));
    PlantedCard card = Plant(jpeg, clusters);
    ASSERT_TRUE(card.volume);

    DibPtr thumb = MakeFoundFileThumbnail(*card.volume, card.record);
    ASSERT_TRUE(thumb);
    EXPECT_EQ(card.record.firstClass, ContentClass::JpegStart);
    EXPECT_EQ(thumb->width, 64);
    EXPECT_EQ(thumb->height, 64);
    DibPtr expected = JpegScaledDecode(jpeg.data(), jpeg.size(), 64, 64, true);
    ASSERT_TRUE(expected);
    EXPECT_EQ(thumb->bits, expected->bits);  // the same bytes, in the same order
    EXPECT_EQ(Bgr(*thumb, 10, 4), (std::array<int, 3>{255, 255, 255}));  // 64 x 48 at y = 8
    EXPECT_NE(Bgr(*thumb, 10, 12), (std::array<int, 3>{255, 255, 255}));
}

TEST(FoundFileThumbnail, LastClusterCountsOnlyTheFileSizeRemainder) {
    // The entry claims less than the planted picture: 5 clusters and 100
    // bytes. Exactly those bytes are decoded, not the whole sixth cluster.
    auto jpeg = test::MakeTestJpeg(640, 480);
    ASSERT_GT(jpeg.size(), 7u * kClusterSize);
    PlantedCard card = Plant(jpeg, {20, 21, 22, 23, 24, 25, 26, 27});
    const size_t claimed = 5 * kClusterSize + 100;
    card.record.fileSize = claimed;
    card.record.clustersNeeded = 6;
    card.record.clusterList.resize(6);
    DibPtr thumb = MakeFoundFileThumbnail(*card.volume, card.record);
    ASSERT_TRUE(thumb);
    DibPtr cut = JpegScaledDecode(jpeg.data(), claimed, 64, 64, true);
    ASSERT_TRUE(cut);
    EXPECT_EQ(thumb->bits, cut->bits);
    DibPtr fullCluster = JpegScaledDecode(jpeg.data(), 6 * kClusterSize, 64, 64, true);
    ASSERT_TRUE(fullCluster);
    EXPECT_NE(thumb->bits, fullCluster->bits);
}

TEST(FoundFileThumbnail, PartlyMissingGivesNoneAndLeavesClass) {
    auto jpeg = test::MakeTestJpeg(64, 64);
    PlantedCard card = Plant(jpeg, {2, 3, 4, 5});
    card.record.clustersNeeded = int32_t((jpeg.size() + kClusterSize - 1) / kClusterSize);
    card.record.clusterList.resize(size_t(card.record.clustersNeeded));
    card.record.jpeg.partlyMissing = 1;
    card.record.firstClass = ContentClass(11);
    EXPECT_FALSE(MakeFoundFileThumbnail(*card.volume, card.record));
    EXPECT_EQ(card.record.firstClass, ContentClass(11));
}

TEST(FoundFileThumbnail, ShortListsHolesAndFailedReads) {
    auto jpeg = test::MakeTestJpeg(640, 480);
    const uint32_t needed = uint32_t((jpeg.size() + kClusterSize - 1) / kClusterSize);
    ASSERT_GE(needed, 4u);
    std::vector<uint32_t> clusters;
    for (uint32_t i = 0; i < needed; ++i) clusters.push_back(10 + i);

    // A list shorter than the claim: only the listed clusters are read (the
    // upper part of the picture).
    PlantedCard shortList = Plant(jpeg, clusters);
    shortList.record.clusterList.resize(needed / 2);
    DibPtr a = MakeFoundFileThumbnail(*shortList.volume, shortList.record);
    ASSERT_TRUE(a);
    EXPECT_EQ(a->width, 64);

    // A hole in the list: the cluster is skipped, nothing is read for it.
    PlantedCard hole = Plant(jpeg, clusters);
    hole.record.clusterList[needed - 2] = 0;
    DibPtr b = MakeFoundFileThumbnail(*hole.volume, hole.record);
    if (b) {
        EXPECT_EQ(b->height, 64);
    }

    // A cluster past the end of the card stops the reading there.
    PlantedCard past = Plant(jpeg, clusters);
    past.record.clusterList[needed / 2] = 100000;
    DibPtr c = MakeFoundFileThumbnail(*past.volume, past.record);
    ASSERT_TRUE(c);
    EXPECT_EQ(c->width, 64);

    // The first cluster unreadable, or a cluster number below 2: nothing to decode.
    PlantedCard first = Plant(jpeg, clusters);
    first.record.clusterList[0] = 0xFFFFFFF0u;
    EXPECT_FALSE(MakeFoundFileThumbnail(*first.volume, first.record));
    EXPECT_EQ(first.record.firstClass, ContentClass::JpegStart);
    PlantedCard low = Plant(jpeg, clusters);
    low.record.clusterList[0] = 1;
    EXPECT_FALSE(MakeFoundFileThumbnail(*low.volume, low.record));

    // No cluster list, or no cluster size: none.
    PlantedCard empty = Plant(jpeg, {});
    EXPECT_FALSE(MakeFoundFileThumbnail(*empty.volume, empty.record));
    PlantedCard noSize = Plant(jpeg, clusters);
    noSize.volume->clusterSize = 0;
    EXPECT_FALSE(MakeFoundFileThumbnail(*noSize.volume, noSize.record));
}

}  // namespace
}  // namespace veld
