// Sources of any size: every cluster of a volume is examined up to its last
// one (cluster count + 1), cluster numbers beyond 32 bits reach names,
// positions and saved files intact, and clusters the search cannot reach are
// reported by range. The huge raw sources are sparse files: they cost no
// disk blocks and are removed with their temporary folder.
#include <gtest/gtest.h>

#include <QByteArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include "base/trace.h"
#include "finder/signature_search.h"
#include "search/search_driver.h"
#include "support/fat_image_builder.h"
#include "support/mkfs_tools.h"
#include "support/search_card.h"
#include "support/test_jpeg.h"

namespace veld::test {
namespace {

constexpr uint64_t kGiB = uint64_t(1) << 30;

// A picture small enough for one 512-byte sector: SOI, an APP0 segment, a
// scan of non-marker bytes and EOI. The walk follows the markers only.
std::vector<uint8_t> SectorSizedJpeg() {
    std::vector<uint8_t> j = {0xFF, 0xD8, 0xFF, 0xE0, 0x00, 0x10, 'J', 'F', 'I', 'F', 0, 1, 1, 0, 0, 1, 0, 1, 0, 0,
                              0xFF, 0xDA};
    for (int i = 0; i < 200; ++i) j.push_back(uint8_t(0x10 + i % 200));
    j.push_back(0xFF);
    j.push_back(0xD9);
    return j;
}

// The sparse file of the given size, or an empty string with why it cannot
// be made here (too little room, or a file system without holes).
std::string MakeSparse(const std::string& path, uint64_t size) {
    struct statvfs fs{};
    if (statvfs(std::filesystem::path(path).parent_path().c_str(), &fs) != 0 ||
        uint64_t(fs.f_bavail) * fs.f_frsize < 64ull << 20)
        return "less than 64 MiB free for the sparse images";
    const int fd = ::open(path.c_str(), O_CREAT | O_TRUNC | O_WRONLY, 0600);
    if (fd < 0) return "cannot create " + path;
    const bool sized = ::ftruncate(fd, off_t(size)) == 0;
    struct stat st{};
    const bool sparse = sized && ::fstat(fd, &st) == 0 && uint64_t(st.st_blocks) * 512 < (1u << 20);
    ::close(fd);
    if (!sized || !sparse) {
        std::filesystem::remove(path);
        return "the temporary folder's file system cannot hold a sparse file of that size";
    }
    return {};
}

void WriteAt(const std::string& path, uint64_t offset, const std::vector<uint8_t>& bytes) {
    const int fd = ::open(path.c_str(), O_WRONLY);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::pwrite(fd, bytes.data(), bytes.size(), off_t(offset)), ssize_t(bytes.size()));
    ::close(fd);
}

std::vector<uint8_t> ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

std::vector<QJsonObject> JsonRecords(const std::string& out) {
    std::vector<QJsonObject> records;
    std::istringstream lines(out);
    for (std::string line; std::getline(lines, line);)
        records.push_back(QJsonDocument::fromJson(QByteArray::fromStdString(line)).object());
    return records;
}

// Searches clusters first..last (last omitted: to the end) of a raw image
// with veld-cli, saving into saveDir; expects exactly one found file, a
// carved picture starting at `start`, saved byte for byte.
void ExpectCarvedPicture(const std::string& image, uint64_t first, std::optional<uint64_t> last, uint64_t start,
                         const std::vector<uint8_t>& picture, const std::string& saveDir) {
    std::vector<std::string> argv{VELD_CLI_PATH, "search", "--json", "--save", saveDir, "--first",
                                  std::to_string(first)};
    if (last) argv.insert(argv.end(), {"--last", std::to_string(*last)});
    argv.push_back(image);
    CommandResult r = RunCommand(argv);
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const std::vector<QJsonObject> records = JsonRecords(r.out);
    ASSERT_EQ(records.size(), 1u) << r.out;
    char name[48];
    std::snprintf(name, sizeof name, "#%08llu.jpg", (unsigned long long)start);
    EXPECT_EQ(records[0]["name"].toString().toStdString(), name);
    // JSON numbers are doubles: exact for cluster numbers far beyond 2^32.
    EXPECT_EQ(uint64_t(records[0]["start_cluster"].toDouble()), start);
    EXPECT_EQ(ReadAll(saveDir + "/" + name), picture);
    EXPECT_EQ(r.err.find("検査されていません"), std::string::npos) << r.err;
}

TEST(LargeSource, SparseRawImagesOf150GiBAnd3TiBFindPhotosByRange) {
    TempDir dir("veld-large");
    const std::vector<uint8_t> picture = MakeTestJpeg(320, 240);

    // 150 GiB: photos at 1 GiB and at 140 GiB (past the 2^28 clusters of
    // earlier maps). Cluster c of a raw image is its sector c - 2.
    const std::string image = dir.File("150g.img");
    if (auto why = MakeSparse(image, 150 * kGiB); !why.empty()) GTEST_SKIP() << why;
    WriteAt(image, 1 * kGiB, picture);
    WriteAt(image, 140 * kGiB, picture);
    const uint64_t near = 1 * kGiB / 512 + 2, far = 140 * kGiB / 512 + 2;
    ASSERT_GT(far, uint64_t(1) << 28);
    std::filesystem::create_directory(dir.File("near"));
    std::filesystem::create_directory(dir.File("far"));
    ExpectCarvedPicture(image, near - 1000, near + 1000, near, picture, dir.File("near"));
    ExpectCarvedPicture(image, far - 1000, far + 1000, far, picture, dir.File("far"));
    std::filesystem::remove(image);

    // 3 TiB: more than 2^32 sectors. A photo ends at the image's last byte,
    // and a range from near the end to the end finds it.
    const uint64_t size = 3 * 1024 * kGiB;
    const std::string huge = dir.File("3t.img");
    if (auto why = MakeSparse(huge, size); !why.empty()) GTEST_SKIP() << why;
    const uint64_t sectors = size / 512;
    const uint64_t pictureSectors = (picture.size() + 511) / 512;
    WriteAt(huge, (sectors - pictureSectors) * 512, picture);
    const uint64_t start = sectors - pictureSectors + 2;
    ASSERT_GT(start, uint64_t(0xFFFFFFFFu));

    CommandResult info = RunCommand({VELD_CLI_PATH, "info", "--json", huge});
    ASSERT_EQ(info.exitCode, 0) << info.err;
    const QJsonObject geometry = QJsonDocument::fromJson(QByteArray::fromStdString(info.out)).object();
    EXPECT_EQ(uint64_t(geometry["cluster_count"].toDouble()), sectors);
    EXPECT_EQ(uint64_t(geometry["fat_entries"].toDouble()), sectors + 2);  // every cluster number has a cell

    std::filesystem::create_directory(dir.File("end"));
    ExpectCarvedPicture(huge, sectors - 3000, std::nullopt, start, picture, dir.File("end"));
}

// The whole search of a small raw source and of a FAT card each find a
// picture that lies in the volume's last cluster, number cluster count + 1.
TEST(LargeSource, ThePictureInTheLastClusterIsFound) {
    const std::vector<uint8_t> tiny = SectorSizedJpeg();
    ASSERT_LE(tiny.size(), 512u);
    for (int32_t flags : {int32_t(SearchDetailed), 0}) {
        std::vector<uint8_t> raw(2048 * 512, 0);
        std::copy(tiny.begin(), tiny.end(), raw.end() - 512);
        SearchSession session;
        session.volume = DiskIO_OpenMemory(raw);
        ASSERT_EQ(session.volume->volumeKind, VolumeRaw);
        SearchOptions options;
        options.flags = flags;
        ASSERT_EQ(SearchOpenVolume(session, options), SearchOk);
        ASSERT_EQ(session.gcDelFileList.Count(), 1u) << "flags " << flags;
        EXPECT_EQ(session.gcDelFileList.CopyAt(0)->startCluster, 2048u + 1);
        EXPECT_TRUE(session.notExamined.empty());
    }

    FatImageBuilder b(FatGeometry::Fat16(16385, 4));  // a data area of whole clusters
    const uint32_t last = b.ClusterCount() + 1;
    ASSERT_LE(b.ClusterOffset(last) + b.ClusterSize(), b.bytes().size());
    b.WriteCluster(last, tiny);
    for (int32_t flags : {int32_t(SearchDetailed), 0}) {
        SearchSession session;
        UseCard(session, b, flags);
        ASSERT_EQ(uint64_t(session.volume->clusterCount) + 1, last);
        ASSERT_EQ(SearchOpenVolume(session, session.options), SearchOk);
        ASSERT_EQ(session.gcDelFileList.Count(), 1u) << "flags " << flags;
        EXPECT_EQ(session.gcDelFileList.CopyAt(0)->startCluster, last);
        EXPECT_TRUE(session.notExamined.empty());
    }
}

// An image whose size is no whole number of sectors is read to its last
// byte: a picture that ends in the partial last sector, carved from a raw
// image or named by a deleted FAT entry, comes back whole and good, once.
TEST(LargeSource, AnImageEndingInsideASectorIsReadToItsLastByte) {
    TestExif exif;
    exif.make = "Canon";
    const std::vector<uint8_t> photo = MakeTestJpeg(160, 120, &exif);
    ASSERT_NE(photo.size() % 512, 0u);
    std::vector<uint8_t> raw(1 << 20, 0);
    raw.insert(raw.end(), photo.begin(), photo.end());

    FatImageBuilder b(FatGeometry::Fat16(16384, 4));
    const uint32_t start = b.ClusterCount() - 1;  // its last bytes in the second-to-last cluster
    b.Root().AddDeletedFile("PHOTO.JPG", start, photo);
    std::vector<uint8_t> fat = b.bytes();
    fat.resize(size_t(b.ClusterOffset(start) + photo.size() + 7));
    ASSERT_NE(fat.size() % 512, 0u);

    TempDir dir;
    for (const auto& [what, image] : {std::pair{"raw", raw}, std::pair{"fat", fat}}) {
        SCOPED_TRACE(what);
        const std::string path = dir.File(std::string(what) + ".img");
        std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(image.data()), std::streamsize(image.size()));
        const std::string out = dir.File(std::string(what) + "-out");
        const CommandResult r = RunCommand({VELD_CLI_PATH, "search", "--json", "--save", out, "--flat", path});
        ASSERT_EQ(r.exitCode, 0) << r.err;
        std::istringstream lines(r.out);
        std::vector<QJsonObject> records;
        for (std::string line; std::getline(lines, line);)
            if (!line.empty() && line[0] == '{') records.push_back(QJsonDocument::fromJson(QByteArray::fromStdString(line)).object());
        ASSERT_EQ(records.size(), 1u) << r.out;
        EXPECT_EQ(records[0]["size"].toInteger(), qint64(photo.size()));
        EXPECT_EQ(records[0]["state_text"].toString().toStdString(), "良");
        std::vector<std::filesystem::path> saved(std::filesystem::directory_iterator(out), {});
        ASSERT_EQ(saved.size(), 1u);
        std::ifstream in(saved[0], std::ios::binary);
        EXPECT_EQ(std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {}), photo);
    }
}

// A card image cut short: the search reads up to its end and then tells,
// in its result and in the trace, exactly which clusters it did not
// examine, as lying past the source's end (never as a read error). The
// card's data sectors are no whole number of clusters: its partial last
// cluster holds no file, so a source that ends in it or where it starts is
// no loss. A range beyond a raw source's map is reported the same way.
TEST(LargeSource, ClustersTheSearchCannotReachAreReportedByRange) {
    const FatImageBuilder whole(FatGeometry::Fat16(16384, 4));
    const uint64_t lastCluster = whole.ClusterCount() + 1;
    const uint64_t volumeBytes = uint64_t(whole.geometry().totalSectors) * 512;
    ASSERT_LT(volumeBytes, whole.ClusterOffset(lastCluster) + whole.ClusterSize()) << "the last cluster is partial";
    struct Cut {
        const char* what;
        uint64_t bytes;
        uint64_t firstUnexamined;  // 0: none
    };
    const Cut cuts[] = {
        {"at cluster 700", whole.ClusterOffset(700), 700},
        {"inside the last whole cluster", whole.ClusterOffset(lastCluster) - 512, lastCluster - 1},
        {"where the partial last cluster starts", whole.ClusterOffset(lastCluster), 0},
        {"at the volume's end", volumeBytes, 0},
    };
    TempDir dir;
    for (const Cut& cut : cuts) {
        SCOPED_TRACE(cut.what);
        FatImageBuilder b = whole;
        b.bytes().resize(size_t(cut.bytes));
        for (int32_t flags : {int32_t(SearchDetailed), 0}) {
            SearchSession session;
            UseCard(session, b, flags);
            std::vector<std::string> lines;
            SetTraceSink([&](const std::string& line) { lines.push_back(line); });
            const int result = SearchOpenVolume(session, session.options);
            SetTraceSink({});
            ASSERT_EQ(result, SearchOk);
            if (cut.firstUnexamined == 0) {
                EXPECT_TRUE(session.notExamined.empty()) << "flags " << flags;
                continue;
            }
            ASSERT_EQ(session.notExamined.size(), 1u) << "flags " << flags;
            EXPECT_EQ(session.notExamined[0].first, cut.firstUnexamined);
            EXPECT_EQ(session.notExamined[0].last, lastCluster);
            EXPECT_EQ(session.notExamined[0].reason, NotExaminedUnreadable);
            const std::string expected = "Clusters " + std::to_string(cut.firstUnexamined) + "-" +
                                         std::to_string(lastCluster) + " not examined";
            EXPECT_TRUE(std::any_of(lines.begin(), lines.end(),
                                    [&](const std::string& l) { return l.find(expected) != std::string::npos; }));
        }

        const std::string path = dir.File("cut.img");
        std::ofstream(path, std::ios::binary | std::ios::trunc)
            .write(reinterpret_cast<const char*>(b.bytes().data()), std::streamsize(b.bytes().size()));
        CommandResult r = RunCommand({VELD_CLI_PATH, "search", "--json", path});
        EXPECT_EQ(r.exitCode, 0) << r.err;
        if (cut.firstUnexamined == 0) {
            EXPECT_EQ(r.err.find("検査されていません"), std::string::npos) << r.err;
        } else {
            const std::string said = "クラスタ " + std::to_string(cut.firstUnexamined) + "～" +
                                     std::to_string(lastCluster) + " は検査されていません (ソースの終わりより後)";
            EXPECT_NE(r.err.find(said), std::string::npos) << r.err;
        }
        EXPECT_EQ(r.err.find("読み込みエラー"), std::string::npos) << r.err;
    }

    // Past the map of a raw source (which ends where the source does).
    SearchSession session;
    session.volume = DiskIO_OpenMemory(std::vector<uint8_t>(100 * 512, 0));
    ReadFat(session.clusterMap, *session.volume);
    session.options.flags = 0;
    SearchClusters(session, 2, 150);
    ASSERT_EQ(session.notExamined.size(), 1u);
    EXPECT_EQ(session.notExamined[0].first, 102u);
    EXPECT_EQ(session.notExamined[0].last, 150u);
    EXPECT_EQ(session.notExamined[0].reason, NotExaminedPastMap);
}

}  // namespace
}  // namespace veld::test
