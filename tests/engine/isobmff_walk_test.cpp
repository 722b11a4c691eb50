// The MP4/MOV atom walk over planted clips: where a clip ends, which atom
// sets make a clip, and damaged atom sizes (0, 1, tiny, huge) that must end
// the walk.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <vector>

#include "finder/cluster_classifier.h"
#include "finder/isobmff_walk.h"
#include "finder/search_session.h"
#include "finder/signature_search.h"
#include "support/fat_image_builder.h"
#include "support/search_card.h"
#include "support/test_jpeg.h"
#include "volume/cluster_map.h"

namespace veld {
namespace {

using Bytes = std::vector<uint8_t>;
constexpr uint32_t kStart = 77;

using test::UseCard;

void Be32(Bytes& out, uint32_t v) {
    for (int s = 24; s >= 0; s -= 8) out.push_back(uint8_t(v >> s));
}
void Be64(Bytes& out, uint64_t v) {
    Be32(out, uint32_t(v >> 32));
    Be32(out, uint32_t(v));
}
// An atom header with the given size field and payload bytes of pseudo-random data.
void Atom(Bytes& out, uint32_t size, const char* type, size_t payload) {
    Be32(out, size);
    out.insert(out.end(), type, type + 4);
    for (size_t i = 0; i < payload; ++i) out.push_back(uint8_t(i * 131 + 7));
}
Bytes FtypMoov() {
    return test::MakeTestMp4(0, test::TestMp4{.order = {"moov"}});
}

TEST(Mp4Walk, FtypMoovMdatThenZeroSlack) {
    SearchSession session;
    test::FatImageBuilder b(test::FatGeometry::Fat16());
    const uint32_t cs = b.ClusterSize();
    const Bytes clip = test::MakeTestMp4(5000);
    ASSERT_NE(clip.size() % cs, 0u);
    b.WriteCluster(kStart, clip);
    UseCard(session, b);

    Mp4Info info;
    EXPECT_EQ(WalkIsoBmff(session, kStart, &info), kStart + clip.size() / cs);
    EXPECT_EQ(info.length, clip.size());
    EXPECT_EQ(info.clusterCount, clip.size() / cs + 1);
    EXPECT_EQ(info.found, 1);
    EXPECT_EQ(info.ftypSize, 32u);
    EXPECT_EQ(info.atomType, "ftyp");
    EXPECT_EQ(info.majorBrand, "isom");
    EXPECT_EQ(info.minorVersion, 0x200u);
    EXPECT_EQ(info.compatibleBrand1, "isom");
    EXPECT_EQ(info.compatibleBrand2, "iso2");
}

TEST(Mp4Walk, AtomOrderDoesNotMatterButAllThreeAreNeeded) {
    SearchSession session;
    test::FatImageBuilder b(test::FatGeometry::Fat16());
    const Bytes mdatFirst = test::MakeTestMp4(9000, test::TestMp4{.order = {"mdat", "free", "moov"}});
    b.WriteCluster(100, mdatFirst);
    const Bytes cutShort = test::MakeTestMp4(9000, test::TestMp4{.order = {"mdat"}});
    b.WriteCluster(200, cutShort);
    const Bytes foreign = test::MakeTestMp4(9000, test::TestMp4{.order = {"junk", "moov", "mdat"}});
    b.WriteCluster(300, foreign);
    UseCard(session, b);

    Mp4Info info;
    EXPECT_NE(WalkIsoBmff(session, 100, &info), 0u);
    EXPECT_EQ(info.length, mdatFirst.size());

    // A recording cut short (no moov) keeps its frames, partly missing.
    MediaInfo media;
    EXPECT_EQ(WalkIsoBmff(session, 200, &info, &media), 200 + cutShort.size() / b.ClusterSize());
    EXPECT_EQ(media.length, cutShort.size());
    EXPECT_EQ(media.partlyMissing, 1u);
    EXPECT_EQ(info.found, 1);

    EXPECT_EQ(WalkIsoBmff(session, 300, &info), 0u);  // a foreign atom before moov and mdat
    EXPECT_EQ(info.length, 0u);
    EXPECT_EQ(info.clusterCount, 1u);
}

// QuickTime clips as cameras write them: brand "qt  ", a "wide" atom (room
// for a 64-bit mdat size) before "mdat", and "moov" last. The walk steps over
// "wide" and the clip is carved with its exact length.
TEST(Mp4Walk, QuickTimeClipWithWideAtomIsCarvedWhole) {
    SearchSession session;
    test::FatImageBuilder b(test::FatGeometry::Fat16());
    // Top-level padding, maker and preview atoms between the clip's parts.
    const Bytes mov = test::MakeTestMp4(
        12000, test::TestMp4{.majorBrand = "qt  ", .minorVersion = 0x20070900, .compatibleBrands = {"qt  ", "CAEP"},
                             .order = {"wide", "mdat", "skip", "uuid", "moov", "pnot"}});
    ASSERT_EQ(test::TopLevelAtoms(mov)[1].type, "wide");
    b.WriteCluster(kStart, mov);
    DiskVolume& v = UseCard(session, b);

    Mp4Info info;
    EXPECT_EQ(WalkIsoBmff(session, kStart, &info), kStart + mov.size() / b.ClusterSize());
    EXPECT_EQ(info.length, mov.size());
    EXPECT_EQ(info.majorBrand, "qt  ");

    SearchClusters(session, 2, uint32_t(v.clusterCount + 1));
    ASSERT_EQ(session.gcDelFileList.Count(), 1u);
    const DelFileInfo clip = *session.gcDelFileList.CopyAt(0);
    EXPECT_EQ(*clip.name, "#00000077.mov");  // named by its brand
    EXPECT_EQ(clip.fileSize, mov.size());
    EXPECT_EQ(clip.state, StateComplete);
}

// The clusters before the zero one are kept, partly missing: the box sizes
// say how far the clip reached.
TEST(Mp4Walk, MdatRunningIntoZeroClusterIsKeptPartlyMissing) {
    SearchSession session;
    test::FatImageBuilder b(test::FatGeometry::Fat16());
    const uint32_t cs = b.ClusterSize();
    Bytes clip = test::MakeTestMp4(20000);
    clip.resize(3 * cs + 100);  // the rest of the mdat was overwritten with zeros
    b.WriteCluster(kStart, clip);
    UseCard(session, b);

    Mp4Info info;
    MediaInfo media;
    const uint64_t last = WalkIsoBmff(session, kStart, &info, &media);
    ASSERT_NE(last, 0u);
    EXPECT_EQ(media.partlyMissing, 1u);
    EXPECT_EQ(media.length, (last - kStart + 1) * cs);
    EXPECT_GE(media.length, clip.size());
}

TEST(Mp4Walk, ClipEndingExactlyAtClusterBoundary) {
    SearchSession session;
    test::FatImageBuilder b(test::FatGeometry::Fat16());
    const uint32_t cs = b.ClusterSize();
    const size_t overhead = test::MakeTestMp4(0).size();
    const Bytes clip = test::MakeTestMp4(3 * cs - overhead);
    ASSERT_EQ(clip.size(), size_t(3 * cs));
    b.WriteCluster(kStart, clip);  // followed by a zero cluster
    b.WriteCluster(200, clip);
    Bytes text(cs);
    for (uint32_t i = 0; i < cs; ++i) text[i] = uint8_t('a' + i % 26);
    b.WriteCluster(203, text);     // followed by unrelated data
    UseCard(session, b);

    Mp4Info info;
    EXPECT_EQ(WalkIsoBmff(session, kStart, &info), kStart + 2);
    EXPECT_EQ(info.length, 3 * cs);
    EXPECT_EQ(info.clusterCount, 3u);

    EXPECT_EQ(WalkIsoBmff(session, 200, &info), 203u);
    EXPECT_EQ(info.length, 3 * cs);
}

TEST(Mp4Walk, AtomSizeZeroAndOne) {
    SearchSession session;
    test::FatImageBuilder b(test::FatGeometry::Fat16());
    const uint32_t cs = b.ClusterSize();

    // mdat of size 0 ("to the end of the file") after ftyp and moov.
    Bytes zeroMdat = FtypMoov();
    Atom(zeroMdat, 0, "mdat", 3000);
    b.WriteCluster(100, zeroMdat);

    // free of size 0 right after ftyp: the walk must not stand still.
    Bytes zeroFree = FtypMoov();
    zeroFree.resize(32);
    Atom(zeroFree, 0, "free", 100);
    b.WriteCluster(110, zeroFree);

    // mdat with a 64-bit size: a valid large-size atom.
    Bytes largeMdat = FtypMoov();
    const size_t largePayload = 5000;
    Be32(largeMdat, 1);
    largeMdat.insert(largeMdat.end(), {'m', 'd', 'a', 't'});
    Be64(largeMdat, 16 + largePayload);
    for (size_t i = 0; i < largePayload; ++i) largeMdat.push_back(uint8_t(i * 17 + 1));
    b.WriteCluster(120, largeMdat);

    // 64-bit sizes below the 16-byte header, and far beyond the card.
    Bytes tinyLarge = FtypMoov();
    Be32(tinyLarge, 1);
    tinyLarge.insert(tinyLarge.end(), {'m', 'd', 'a', 't'});
    Be64(tinyLarge, 8);
    tinyLarge.resize(tinyLarge.size() + 64, 0x5A);
    b.WriteCluster(130, tinyLarge);
    Bytes hugeLarge = FtypMoov();
    Be32(hugeLarge, 1);
    hugeLarge.insert(hugeLarge.end(), {'m', 'd', 'a', 't'});
    Be64(hugeLarge, 0xFFFFFFFFFFFFFFF0ull);
    hugeLarge.resize(hugeLarge.size() + 64, 0x5A);
    b.WriteCluster(140, hugeLarge);

    // A 32-bit size below the header length.
    Bytes tiny = FtypMoov();
    Atom(tiny, 3, "mdat", 64);
    b.WriteCluster(150, tiny);

    UseCard(session, b);
    Mp4Info info;
    MediaInfo media;
    EXPECT_EQ(WalkIsoBmff(session, 110, &info), 0u);

    EXPECT_EQ(WalkIsoBmff(session, 120, &info), 120u + largeMdat.size() / cs);
    EXPECT_EQ(info.length, largeMdat.size());

    // An mdat left open (size 0, a 64-bit size still 0, or one beyond any
    // file: a recording cut by a power loss) runs on to the zero cluster
    // after it, partly missing.
    for (const auto& [at, clip] : {std::pair<uint32_t, const Bytes*>{100, &zeroMdat}, {130, &tinyLarge}, {140, &hugeLarge}}) {
        const uint32_t clusters = uint32_t((clip->size() + cs - 1) / cs);
        EXPECT_EQ(WalkIsoBmff(session, at, &info, &media), at + clusters - 1) << at;
        EXPECT_EQ(media.length, clusters * cs) << at;
        EXPECT_EQ(media.partlyMissing, 1u) << at;
    }
    EXPECT_EQ(WalkIsoBmff(session, 150, &info), 0u);
    EXPECT_EQ(info.length, 0u);
}

TEST(Mp4Walk, StartsThatAreNotClips) {
    SearchSession session;
    test::FatImageBuilder b(test::FatGeometry::Fat16());
    const uint32_t cs = b.ClusterSize();
    // Printable text with "ftyp" at byte 4.
    Bytes text(cs, 'a');
    std::memcpy(text.data(), "abcdftypisom", 12);
    b.WriteCluster(100, text);
    b.FillCluster(110, 0x00);
    DiskVolume& v = UseCard(session, b);

    EXPECT_EQ(ReadAndClassifyCluster(v, 100), ContentClass::Text);
    Mp4Info info;
    EXPECT_EQ(WalkIsoBmff(session, 100, &info), 0u);
    EXPECT_EQ(info.found, 0);
    EXPECT_EQ(WalkIsoBmff(session, 110, &info), 0u);
    EXPECT_EQ(WalkIsoBmff(session, 1, &info), 0u);
}

TEST(Mp4Walk, ClipCutByTheEndOfTheSource) {
    SearchSession session;
    test::FatImageBuilder b(test::FatGeometry::Fat16());
    const Bytes clip = test::MakeTestMp4(30000);
    b.WriteCluster(kStart, clip);
    b.bytes().resize(b.ClusterOffset(kStart) + 7000);
    UseCard(session, b);

    // What the image holds of the clip is kept, in whole clusters.
    Mp4Info info;
    MediaInfo media;
    EXPECT_EQ(WalkIsoBmff(session, kStart, &info, &media), kStart + 7000 / b.ClusterSize() - 1);
    EXPECT_EQ(media.length, 7000 / b.ClusterSize() * b.ClusterSize());
    EXPECT_EQ(media.partlyMissing, 1u);
    EXPECT_EQ(info.majorBrand, "isom");  // the first window was read
}

TEST(Mp4Walk, RandomAtomSizesNeverHang) {
    SearchSession session;
    std::mt19937 rng(77);
    const char* types[] = {"ftyp", "moov", "mdat", "free", "prfl"};
    for (int round = 0; round < 300; ++round) {
        Bytes src(24 * 512);
        for (auto& x : src) x = uint8_t(rng() | 0x80);  // no zero bytes: never uniform by accident
        size_t at = 0;
        while (at + 16 <= src.size()) {
            uint32_t size;
            switch (rng() % 6) {
                case 0: size = 0; break;
                case 1: size = 1; break;
                case 2: size = rng() % 8; break;
                case 3: size = rng(); break;
                default: size = 8 + rng() % 1500; break;
            }
            Bytes header;
            Be32(header, size);
            const char* type = at == 0 ? "ftyp" : types[rng() % 5];
            header.insert(header.end(), type, type + 4);
            Be64(header, rng() % 3 ? uint64_t(rng() % 4000) : (uint64_t(rng()) << 32 | rng()));
            std::memcpy(&src[at], header.data(), header.size());
            at += size >= 8 && size < 4000 ? size : 16 + rng() % 300;
        }
        src[510] = 0;
        src.resize(src.size() - rng() % 700);
        session.volume = DiskIO_OpenMemory(src);
        DiskVolume* v = session.volume.get();
        ASSERT_TRUE(v);
        ASSERT_EQ(v->volumeKind, VolumeRaw);
        Mp4Info info;
        const uint32_t last = WalkIsoBmff(session, 2, &info);
        if (last != 0) {
            EXPECT_LE(uint64_t(last - 2) * 512, src.size());
            EXPECT_LE(info.length, src.size());
        }
    }
}

}  // namespace
}  // namespace veld
