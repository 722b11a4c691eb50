// The JPEG marker walk over planted pictures: where the end of image lies
// relative to cluster boundaries, pictures cut short, long header segments,
// EXIF, and damaged marker streams that must end the walk safely.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <vector>

#include "finder/jpeg_walk.h"
#include "finder/search_session.h"
#include "support/fat_image_builder.h"
#include "support/search_card.h"
#include "support/test_jpeg.h"
#include "volume/boot_sector.h"
#include "volume/cluster_map.h"

namespace veld {
namespace {

using Bytes = std::vector<uint8_t>;
constexpr uint32_t kStart = 100;  // free cluster the pictures are planted at

using test::UseCard;

void Put(Bytes& j, std::initializer_list<int> bytes) {
    for (int x : bytes) j.push_back(uint8_t(x));
}

// FF marker, big-endian length (body + 2), body.
void Segment(Bytes& j, uint8_t marker, const Bytes& body) {
    const size_t length = body.size() + 2;
    Put(j, {0xFF, marker, int(length >> 8), int(length & 0xFF)});
    j.insert(j.end(), body.begin(), body.end());
}

void Jfif(Bytes& j, size_t bodyBytes = 14) {
    Bytes body(bodyBytes, 0);
    std::memcpy(body.data(), "JFIF", 5);
    Segment(j, 0xE0, body);
}

void Sof0(Bytes& j, uint16_t width, uint16_t height) {
    Segment(j, 0xC0, {8, uint8_t(height >> 8), uint8_t(height), uint8_t(width >> 8), uint8_t(width), 3, 1, 0x22, 0,
                      2, 0x11, 1, 3, 0x11, 1});
}

void Sos(Bytes& j) { Segment(j, 0xDA, {3, 1, 0x00, 2, 0x11, 3, 0x11, 0, 63, 0}); }

// Entropy-coded look-alike up to the given size: never a bare 0xFF, with a
// stuffed 0xFF 0x00 pair now and then.
void Scan(Bytes& j, size_t until) {
    while (j.size() < until) {
        const size_t i = j.size();
        if (i % 500 == 250 && i + 2 <= until) {
            Put(j, {0xFF, 0x00});
        } else {
            j.push_back(uint8_t((i * 37 + 11) % 255));
        }
    }
}

// SOI, JFIF, frame 640 x 480, scan; the end of image's 0xFF at eoiAt.
Bytes HandJpeg(size_t eoiAt) {
    Bytes j;
    Put(j, {0xFF, 0xD8});
    Jfif(j);
    Sof0(j, 640, 480);
    Sos(j);
    Scan(j, eoiAt);
    Put(j, {0xFF, 0xD9});
    return j;
}

// SOI, JFIF, frame, scan up to size, no end of image.
Bytes CutJpeg(size_t size) {
    Bytes j = HandJpeg(size);
    j.resize(size);
    return j;
}

// A TIFF block with Make and Model whose IFD0 lies ifdAt bytes in, so the
// strings sit at the far end of a long segment.
Bytes FarTiff(uint32_t ifdAt, const std::string& make, const std::string& model) {
    Bytes t(ifdAt, 0);
    std::memcpy(t.data(), "II*\0", 4);
    t[4] = uint8_t(ifdAt); t[5] = uint8_t(ifdAt >> 8); t[6] = 0; t[7] = 0;
    const uint32_t strings = ifdAt + 2 + 2 * 12 + 4;
    auto le16 = [&](uint32_t v) { Put(t, {int(v & 0xFF), int(v >> 8)}); };
    auto le32 = [&](uint32_t v) { le16(v & 0xFFFF); le16(v >> 16); };
    le16(2);
    le16(271); le16(2); le32(uint32_t(make.size() + 1)); le32(strings);
    le16(272); le16(2); le32(uint32_t(model.size() + 1)); le32(uint32_t(strings + make.size() + 1));
    le32(0);
    t.insert(t.end(), make.begin(), make.end()); t.push_back(0);
    t.insert(t.end(), model.begin(), model.end()); t.push_back(0);
    return t;
}

TEST(JpegWalk, EndOfImageStraddlingClusterBoundary) {
    SearchSession session;
    test::FatImageBuilder b(test::FatGeometry::Fat16());
    const uint32_t cs = b.ClusterSize();
    // 0xFF as the last byte of the second cluster, 0xD9 as the first of the third.
    Bytes j = HandJpeg(2 * cs - 1);
    ASSERT_EQ(j[2 * cs - 1], 0xFF);
    ASSERT_EQ(j[2 * cs], 0xD9);
    b.WriteCluster(kStart, j);
    // The same across the first boundary, elsewhere on the card.
    Bytes k = HandJpeg(cs - 1);
    b.WriteCluster(kStart + 10, k);
    UseCard(session, b);

    JpegInfo info;
    EXPECT_EQ(WalkJpeg(session, kStart, &info, JpegWalkFull), kStart + 1);
    EXPECT_EQ(info.length, 2 * cs + 1);
    EXPECT_EQ(info.length, j.size());
    EXPECT_EQ(info.clusterCount, 2u);
    EXPECT_EQ(info.found, 1);
    EXPECT_EQ(info.partlyMissing, 0u);
    EXPECT_EQ(info.frameWidth, 640);
    EXPECT_EQ(info.frameHeight, 480);

    EXPECT_EQ(WalkJpeg(session, kStart + 10, &info, JpegWalkFull), kStart + 10);
    EXPECT_EQ(info.length, cs + 1);
    EXPECT_EQ(info.clusterCount, 1u);
}

TEST(JpegWalk, EndOfImageAtByteOneOfThirdCluster) {
    SearchSession session;
    // A fresh window starts at an offset whose byte is not 0xFF: the search
    // for the next marker must start there, not two bytes on.
    test::FatImageBuilder b(test::FatGeometry::Fat16());
    const uint32_t cs = b.ClusterSize();
    Bytes j = HandJpeg(2 * cs + 1);
    ASSERT_NE(j[2 * cs], 0xFF);
    b.WriteCluster(kStart, j);
    Bytes k = HandJpeg(2 * cs);  // and at byte 0
    b.WriteCluster(kStart + 10, k);
    UseCard(session, b);

    JpegInfo info;
    EXPECT_EQ(WalkJpeg(session, kStart, &info, JpegWalkFull), kStart + 2);
    EXPECT_EQ(info.length, 2 * cs + 3);
    EXPECT_EQ(info.partlyMissing, 0u);
    EXPECT_EQ(info.clusterCount, 3u);

    EXPECT_EQ(WalkJpeg(session, kStart + 10, &info, JpegWalkFull), kStart + 12);
    EXPECT_EQ(info.length, 2 * cs + 2);
}

TEST(JpegWalk, FillBytesBeforeTheEndOfImageAreStepped) {
    SearchSession session;
    test::FatImageBuilder b(test::FatGeometry::Fat16());
    const uint32_t cs = b.ClusterSize();
    Bytes j = HandJpeg(cs + 100);
    j.insert(j.end() - 2, uint8_t(0xFF));  // FF FF D9: a legal fill byte before the marker
    b.WriteCluster(kStart, j);
    UseCard(session, b);
    JpegInfo info;
    EXPECT_EQ(WalkJpeg(session, kStart, &info, JpegWalkFull), kStart + 1);
    EXPECT_EQ(info.length, j.size());
}

TEST(JpegWalk, ThreeClustersThenZeroClusterIsPartlyMissing) {
    SearchSession session;
    test::FatImageBuilder b(test::FatGeometry::Fat16());
    const uint32_t cs = b.ClusterSize();
    b.WriteCluster(kStart, CutJpeg(3 * cs));  // kStart + 3 stays zero
    UseCard(session, b);

    JpegInfo info;
    EXPECT_EQ(WalkJpeg(session, kStart, &info, JpegWalkFull), kStart + 2);
    EXPECT_EQ(info.length, 3 * cs);
    EXPECT_EQ(info.partlyMissing, 1u);
    EXPECT_EQ(info.clusterCount, 3u);
}

TEST(JpegWalk, StartFollowedByZeroClusterKeepsTheStart) {
    SearchSession session;
    test::FatImageBuilder b(test::FatGeometry::Fat16());
    const uint32_t cs = b.ClusterSize();
    b.WriteCluster(kStart, CutJpeg(cs));
    b.FillCluster(kStart + 20, 0xFF);  // a picture start of one byte value: no start at all
    UseCard(session, b);

    JpegInfo info;
    EXPECT_EQ(WalkJpeg(session, kStart, &info, JpegWalkFull), kStart);
    EXPECT_EQ(info.length, cs);
    EXPECT_EQ(info.found, 1);
    EXPECT_EQ(info.partlyMissing, 1u);
    EXPECT_EQ(info.clusterCount, 1u);

    EXPECT_EQ(WalkJpeg(session, kStart + 20, &info, JpegWalkFull), 0u);
    EXPECT_EQ(info.found, 0);
    EXPECT_EQ(info.clusterCount, 0u);
    // Not a picture at all, and cluster numbers without a data area.
    EXPECT_EQ(WalkJpeg(session, kStart + 40, &info, JpegWalkFull), 0u);
    EXPECT_EQ(WalkJpeg(session, 1, &info, JpegWalkFull), 0u);
    EXPECT_EQ(WalkJpeg(session, 0, &info, JpegWalkFull), 0u);
}

TEST(JpegWalk, LargeExifSegmentReadAcrossClusters) {
    SearchSession session;
    // APP1 starts 100 bytes before the end of the first cluster and runs over
    // more than a cluster; its Make and Model lie in the third cluster.
    test::FatImageBuilder b(test::FatGeometry::Fat16());
    const uint32_t cs = b.ClusterSize();
    Bytes j;
    Put(j, {0xFF, 0xD8});
    Jfif(j, cs - 104 - 2);  // SOI 2 + APP0 (cs - 102) = APP1 at cs - 100
    ASSERT_EQ(j.size(), size_t(cs - 100));
    Bytes app1{'E', 'x', 'i', 'f', 0, 0};
    Bytes tiff = FarTiff(cs + 400, "FarMaker", "LongSegment 9");
    app1.insert(app1.end(), tiff.begin(), tiff.end());
    Segment(j, 0xE1, app1);
    const size_t afterApp1 = j.size();
    ASSERT_GT(afterApp1, size_t(2 * cs));  // the segment's end lies in the third cluster
    Sof0(j, 1024, 768);
    Sos(j);
    Scan(j, 3 * cs + 700);
    Put(j, {0xFF, 0xD9});
    b.WriteCluster(kStart, j);
    UseCard(session, b);

    JpegInfo info;
    EXPECT_EQ(WalkJpeg(session, kStart, &info, JpegWalkFull), kStart + 3);
    EXPECT_EQ(info.length, j.size());
    EXPECT_EQ(info.make, "FarMaker");
    EXPECT_EQ(info.model, "LongSegment 9");
    // The frame header after the segment was found in the right cluster.
    EXPECT_EQ(info.frameWidth, 1024);
    EXPECT_EQ(info.frameHeight, 768);

    // EXIF-only mode stops after the segment: no length, no frame.
    JpegInfo exifOnly;
    EXPECT_EQ(WalkJpeg(session, kStart, &exifOnly, JpegWalkExifOnly), kStart);
    EXPECT_EQ(exifOnly.make, "FarMaker");
    EXPECT_EQ(exifOnly.length, 0u);
    EXPECT_EQ(exifOnly.frameWidth, 0);
}

TEST(JpegWalk, RealPictureWithExif) {
    SearchSession session;
    test::TestExif exif;
    exif.make = "Veld Optical";
    exif.model = "VX-100";
    exif.dateTime = "2009:01:02 03:04:05";
    exif.pixelX = 320;
    exif.pixelY = 240;
    exif.hasGps = true;
    const Bytes jpeg = test::MakeTestJpeg(320, 240, &exif);
    test::FatImageBuilder b(test::FatGeometry::Fat16());
    ASSERT_GT(jpeg.size(), size_t(b.ClusterSize()));
    b.WriteCluster(kStart, jpeg);
    UseCard(session, b);

    JpegInfo info;
    const uint32_t last = WalkJpeg(session, kStart, &info, JpegWalkFull);
    EXPECT_EQ(last, kStart + (jpeg.size() - 2) / b.ClusterSize());
    EXPECT_EQ(info.length, jpeg.size());
    EXPECT_EQ(info.frameWidth, 320);
    EXPECT_EQ(info.frameHeight, 240);
    EXPECT_EQ(info.make, "Veld Optical");
    EXPECT_EQ(info.model, "VX-100");
    EXPECT_EQ(info.exifWidth, 320);
    EXPECT_EQ(info.latRef, 'N');

    JpegInfo exifOnly;
    EXPECT_EQ(WalkJpeg(session, kStart, &exifOnly, JpegWalkExifOnly), kStart);
    EXPECT_EQ(exifOnly.model, "VX-100");
    EXPECT_EQ(exifOnly.length, 0u);
}

TEST(JpegWalk, ClustersPastTheVolumeEndStopTheWalk) {
    SearchSession session;
    // The source holds bytes beyond the volume's last cluster; a picture that
    // runs on into them is not followed there.
    test::FatImageBuilder b(test::FatGeometry::Fat16());
    const uint32_t cs = b.ClusterSize();
    const uint32_t lastCluster = b.ClusterCount() + 1;
    b.bytes().resize(b.ClusterOffset(lastCluster) + 8 * cs, 0);
    b.WriteCluster(lastCluster, HandJpeg(3 * cs + 10));
    b.WriteCluster(lastCluster - 10, HandJpeg(cs + 10));  // inside: found
    UseCard(session, b);

    JpegInfo info;
    EXPECT_EQ(WalkJpeg(session, lastCluster, &info, JpegWalkFull), lastCluster);
    EXPECT_EQ(info.length, cs);  // what lies inside, partly missing
    EXPECT_EQ(info.partlyMissing, 1u);
    EXPECT_EQ(WalkJpeg(session, lastCluster - 10, &info, JpegWalkFull), lastCluster - 9);
    EXPECT_EQ(info.length, cs + 12);
}

TEST(JpegWalk, DamagedMarkerStreamsEndSafely) {
    SearchSession session;
    test::FatImageBuilder b(test::FatGeometry::Fat16());
    const uint32_t cs = b.ClusterSize();

    // A marker without its 0xFF after the header.
    Bytes noMarker;
    Put(noMarker, {0xFF, 0xD8});
    Jfif(noMarker);
    Put(noMarker, {0x12, 0x34, 0x56});
    noMarker.resize(cs, 0x11);
    b.WriteCluster(200, noMarker);

    // 0xFF followed by a byte below 0xC0 before the scan.
    Bytes lowMarker;
    Put(lowMarker, {0xFF, 0xD8});
    Jfif(lowMarker);
    Put(lowMarker, {0xFF, 0x42, 0, 4});
    lowMarker.resize(cs, 0x11);
    b.WriteCluster(210, lowMarker);

    // An EXIF segment too short to hold even its identifier.
    Bytes shortApp1;
    Put(shortApp1, {0xFF, 0xD8, 0xFF, 0xE1, 0x00, 0x06, 'E', 'x', 'i', 'f', 0, 0});
    shortApp1.resize(cs, 0x22);
    b.WriteCluster(220, shortApp1);

    // Zero-length segments do not stall the walk.
    Bytes zeroLength;
    Put(zeroLength, {0xFF, 0xD8, 0xFF, 0xE0, 0x00, 0x00, 0xFF, 0xFE, 0x00, 0x00});
    zeroLength.resize(cs, 0x33);
    b.WriteCluster(230, zeroLength);

    UseCard(session, b);
    JpegInfo info;
    // A full walk keeps the start cluster as a partly missing picture.
    for (uint32_t c : {200u, 210u, 220u, 230u}) {
        EXPECT_EQ(WalkJpeg(session, c, &info, JpegWalkFull), c) << "cluster " << c;
        EXPECT_EQ(info.length, cs);
        EXPECT_EQ(info.partlyMissing, 1u);
    }
    for (uint32_t c : {200u, 210u, 230u})
        EXPECT_EQ(WalkJpeg(session, c, &info, JpegWalkExifOnly), 0u) << "cluster " << c;
    // EXIF-only mode ends after the EXIF segment, however short: nothing read.
    EXPECT_EQ(WalkJpeg(session, 220, &info, JpegWalkExifOnly), 220u);
    EXPECT_TRUE(info.make.empty());
}

TEST(JpegWalk, WildExifLengthAtTheEndOfTheSource) {
    SearchSession session;
    // An APP1 claiming 65535 bytes near the end of a truncated image: the EXIF
    // reader gets only what was read, and the walk ends at the missing data.
    test::FatImageBuilder b(test::FatGeometry::Fat16());
    const uint32_t cs = b.ClusterSize();
    Bytes j;
    Put(j, {0xFF, 0xD8, 0xFF, 0xE1, 0xFF, 0xFF, 'E', 'x', 'i', 'f', 0, 0, 'M', 'M', 0, 42, 0xFF, 0xFF, 0xFF, 0xF0});
    while (j.size() < 2 * cs + 100) j.push_back(uint8_t(j.size() * 7));
    b.WriteCluster(kStart, j);
    b.bytes().resize(b.ClusterOffset(kStart) + j.size());
    UseCard(session, b);

    // The full walk keeps the start cluster it read, partly missing.
    JpegInfo info;
    EXPECT_EQ(WalkJpeg(session, kStart, &info, JpegWalkFull), kStart);
    EXPECT_EQ(info.length, cs);
    EXPECT_EQ(WalkJpeg(session, kStart, &info, JpegWalkExifOnly), kStart);

    // A picture cut by the end of the source, without end of image: what the
    // source holds of it is kept.
    test::FatImageBuilder c(test::FatGeometry::Fat16());
    const Bytes jpeg = test::MakeTestJpeg(320, 240);
    c.WriteCluster(kStart, jpeg);
    c.bytes().resize(c.ClusterOffset(kStart) + jpeg.size() / 2);
    UseCard(session, c);
    const uint32_t whole = uint32_t(jpeg.size() / 2 / cs);  // clusters wholly on the source
    ASSERT_GE(whole, 1u);
    EXPECT_EQ(WalkJpeg(session, kStart, &info, JpegWalkFull), kStart + whole - 1);
    EXPECT_EQ(info.length, whole * cs);
    EXPECT_EQ(info.partlyMissing, 1u);
}

TEST(JpegWalk, RandomMarkerStreamsNeverHang) {
    SearchSession session;
    // Raw in-memory sources of random bytes behind a JPEG start, some with
    // planted markers: every walk must end, and a success must stay inside.
    std::mt19937 rng(1234);
    for (int round = 0; round < 300; ++round) {
        Bytes src(16 * 512);
        for (auto& x : src) x = uint8_t(rng());
        // Sprinkle markers with random lengths.
        for (int k = 0; k < 40; ++k) {
            size_t at = rng() % (src.size() - 12);
            src[at] = 0xFF;
            src[at + 1] = uint8_t(0xC0 + rng() % 0x40);
        }
        if (round % 3 == 0) {
            // An EXIF segment with a random length.
            const uint8_t app1[] = {0xFF, 0xE1, uint8_t(rng()), uint8_t(rng()), 'E', 'x', 'i', 'f', 0, 0,
                                    'I', 'I', 42, 0};
            std::memcpy(&src[2], app1, sizeof app1);
        } else {
            src[2] = 0xFF;
            src[3] = uint8_t(0xE0 + rng() % 16);
        }
        src[0] = 0xFF;
        src[1] = 0xD8;
        src[510] = 0;  // never a boot sector: the source is searched raw
        src.resize(src.size() - rng() % 700);  // often a partial last sector
        session.volume = DiskIO_OpenMemory(src);
        DiskVolume* v = session.volume.get();
        ASSERT_TRUE(v);
        ASSERT_EQ(v->volumeKind, VolumeRaw);
        for (int mode : {JpegWalkFull, JpegWalkExifOnly}) {
            JpegInfo info;
            const uint32_t last = WalkJpeg(session, 2, &info, mode);
            if (last != 0) {
                EXPECT_GE(last, 2u);
                EXPECT_LE(uint64_t(last - 2) * 512, src.size());
                EXPECT_LE(info.length, src.size());
            }
        }
    }
}

}  // namespace
}  // namespace veld
