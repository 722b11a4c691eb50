// Extraction of found files from a built FAT image into files and memory.
#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <sys/resource.h>
#include <iterator>
#include <string>
#include <vector>

#include "base/byte_reader.h"
#include "finder/del_file_info.h"
#include "search/extraction.h"
#include "search/work_folders.h"
#include "support/fat_image_builder.h"
#include "support/mkfs_tools.h"

namespace veld {
namespace {

using test::FatGeometry;
using test::FatImageBuilder;

// FAT16 with 2 KB clusters (512-byte sectors, 4 per cluster).
FatGeometry Fat16Card() { return FatGeometry::Fat16(8192, 4); }
using test::TempDir;

std::vector<uint8_t> Pattern(size_t size, uint32_t seed) {
    std::vector<uint8_t> out(size);
    uint32_t x = seed * 2654435761u + 1;
    for (auto& b : out) {
        x = x * 1103515245u + 12345u;
        b = uint8_t(x >> 16);
    }
    return out;
}

std::vector<uint8_t> ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// A record as registration leaves it: the entry, its name, and the
// contiguous clusters from start (0 past those collected).
DelFileInfo Record(const std::string& name83, uint32_t start, uint32_t size, uint32_t clusterSize,
                   uint32_t collected = UINT32_MAX) {
    DirEntry entry{};
    auto n = test::ShortName11(name83);
    for (size_t i = 0; i < 11; ++i) entry[i] = n[i];
    entry[0] = '#';
    StoreLe16(entry.data() + dirent::ClusterLow, uint16_t(start));
    StoreLe32(entry.data() + dirent::FileSize, size);
    DelFileInfo r = RecordOfFatEntry(entry);
    uint32_t needed = (size + clusterSize - 1) / clusterSize;
    r.clusterList.assign(needed, 0);
    for (uint32_t i = 0; i < needed && i < collected; ++i) r.clusterList[i] = start + i;
    r.clustersNeeded = int32_t(needed);
    r.clustersCollected = int32_t(std::min(needed, collected));
    r.name = PaddedShortName(entry);
    return r;
}

class ExtractionTest : public ::testing::Test {
protected:
    FatImageBuilder b{Fat16Card()};
    TempDir dir{"veld-extract"};
};

TEST_F(ExtractionTest, WholeClustersAndPartialLastClusterAreByteIdentical) {
    const uint32_t cs = b.ClusterSize();
    auto exact = Pattern(3 * cs, 1);
    auto partial = Pattern(2 * cs + 17, 2);
    b.WriteCluster(10, exact);
    b.WriteCluster(20, partial);
    b.WriteCluster(23, Pattern(cs, 3));  // what follows the partial file on the card
    auto volume = b.Open();

    ExtractRequest request;
    request.targetFolder = dir.path();
    ExtractOutcome out = ExtractFoundFile(*volume, Record("EXACT.BIN", 10, uint32_t(exact.size()), cs), request);
    EXPECT_EQ(out.result, ExtractOk);
    EXPECT_EQ(out.path, dir.File("#XACT   .BIN"));
    EXPECT_EQ(out.byteCount, exact.size());
    EXPECT_EQ(ReadAll(out.path), exact);

    out = ExtractFoundFile(*volume, Record("PARTIAL.BIN", 20, uint32_t(partial.size()), cs), request);
    EXPECT_EQ(out.result, ExtractOk);
    EXPECT_EQ(ReadAll(out.path), partial);

    request.toMemory = true;
    out = ExtractFoundFile(*volume, Record("PARTIAL.BIN", 20, uint32_t(partial.size()), cs), request);
    EXPECT_EQ(out.result, ExtractOk);
    EXPECT_EQ(out.memory, partial);
    EXPECT_EQ(out.byteCount, partial.size());
    EXPECT_TRUE(out.path.empty());
}

// Cluster 2 is the first data cluster: a file starting there is copied from
// its first byte, into a file and into memory.
TEST_F(ExtractionTest, FileStartingAtTheFirstDataClusterIsWhole) {
    const uint32_t cs = b.ClusterSize();
    auto data = Pattern(3 * cs + 100, 5);
    b.WriteCluster(2, data);
    auto volume = b.Open();
    const DelFileInfo record = Record("FIRST.BIN", 2, uint32_t(data.size()), cs);
    ASSERT_EQ(record.clusterList.front(), 2u);

    ExtractRequest request;
    request.targetFolder = dir.path();
    ExtractOutcome out = ExtractFoundFile(*volume, record, request);
    EXPECT_EQ(out.result, ExtractOk);
    EXPECT_EQ(out.byteCount, data.size());
    EXPECT_EQ(ReadAll(out.path), data);

    request.toMemory = true;
    out = ExtractFoundFile(*volume, record, request);
    EXPECT_EQ(out.result, ExtractOk);
    EXPECT_EQ(out.memory, data);
}

TEST_F(ExtractionTest, SizeZeroGivesEmptyFile) {
    auto volume = b.Open();
    DelFileInfo r = Record("EMPTY.TXT", 0, 0, b.ClusterSize());
    ExtractRequest request;
    request.targetFolder = dir.path();
    ExtractOutcome out = ExtractFoundFile(*volume, r, request);
    EXPECT_EQ(out.result, ExtractOk);
    ASSERT_TRUE(std::filesystem::exists(out.path));
    EXPECT_EQ(std::filesystem::file_size(out.path), 0u);
}

TEST_F(ExtractionTest, ShortRunsAndShortListsGiveShorterOutput) {
    const uint32_t cs = b.ClusterSize();
    auto data = Pattern(4 * cs, 4);
    b.WriteCluster(30, data);
    auto volume = b.Open();
    ExtractRequest request;
    request.targetFolder = dir.path();

    // The claim stopped after two clusters: the other entries are 0.
    ExtractOutcome out = ExtractFoundFile(*volume, Record("CUT.BIN", 30, 4 * cs, cs, 2), request);
    EXPECT_EQ(out.result, ExtractOk);
    EXPECT_EQ(out.byteCount, 2u * cs);
    EXPECT_EQ(ReadAll(out.path), std::vector<uint8_t>(data.begin(), data.begin() + 2 * cs));

    // A list with fewer entries than the size needs is not read past its end.
    DelFileInfo shortList = Record("LIST.BIN", 30, 4 * cs, cs);
    shortList.clusterList.resize(1);
    shortList.clusterList.shrink_to_fit();
    out = ExtractFoundFile(*volume, shortList, request);
    EXPECT_EQ(out.result, ExtractOk);
    EXPECT_EQ(out.byteCount, cs);

    // A damaged size far beyond the list: memory mode holds what the list gave.
    DelFileInfo huge = Record("HUGE.BIN", 30, 2 * cs, cs);
    huge.fileSize = 0xFFFFFFF0u;
    request.toMemory = true;
    out = ExtractFoundFile(*volume, huge, request);
    EXPECT_EQ(out.result, ExtractOk);
    EXPECT_EQ(out.byteCount, 2u * cs);
    EXPECT_EQ(out.memory, std::vector<uint8_t>(data.begin(), data.begin() + 2 * cs));
}

TEST_F(ExtractionTest, DamagedSizeReservesOnlyWhatTheClustersCanDeliver) {
    const uint32_t cs = b.ClusterSize();
    auto data = Pattern(2 * cs, 7);
    b.WriteCluster(30, data);
    auto volume = b.Open();
    ExtractRequest request;
    request.toMemory = true;

    // Size 0xFFFFFFFF with a list as long as that size claims: two real
    // clusters, then entries the claim never filled.
    DelFileInfo huge = Record("HUGE.BIN", 30, 2 * cs, cs);
    huge.fileSize = 0xFFFFFFFFu;
    huge.clusterList.resize(size_t((0xFFFFFFFFull + cs - 1) / cs), 0);
    ExtractOutcome out = ExtractFoundFile(*volume, huge, request);
    EXPECT_EQ(out.result, ExtractOk);
    EXPECT_EQ(out.memory, data);
    EXPECT_LE(out.memory.capacity(), size_t(2 * cs)) << "reserved for the claimed size, not for the clusters";

    // Every entry a cluster number past the volume: nothing can be delivered.
    for (uint64_t& c : huge.clusterList) c = 0x0FFFFFF0u;
    out = ExtractFoundFile(*volume, huge, request);
    EXPECT_EQ(out.result, ExtractReadFailed);
    EXPECT_LE(out.memory.capacity(), size_t(cs));
}

TEST_F(ExtractionTest, ReadErrorIsAFailureAndLeavesNoPartialFile) {
    const uint32_t cs = b.ClusterSize();
    auto data = Pattern(3 * cs, 8);
    b.WriteCluster(30, data);
    ExtractRequest request;
    request.targetFolder = dir.path();

    // A cluster number beyond the end of the source.
    auto volume = b.Open();
    DelFileInfo beyond = Record("FAR.BIN", 30, 3 * cs, cs);
    beyond.clusterList[1] = 0x00FFFFF0;
    ExtractOutcome out = ExtractFoundFile(*volume, beyond, request);
    EXPECT_EQ(out.result, ExtractReadFailed);
    EXPECT_EQ(ExtractResultText(out.result), "読み込みエラー");
    EXPECT_NE(out.reason.find("読み込みエラー"), std::string::npos);
    EXPECT_TRUE(out.path.empty());
    EXPECT_FALSE(std::filesystem::exists(dir.File("#AR     .BIN")));

    // A truncated card: the image ends inside the file's second cluster.
    b.bytes().resize(size_t(b.ClusterOffset(31) + cs / 2));
    volume = b.Open();
    out = ExtractFoundFile(*volume, Record("CUT.BIN", 30, 3 * cs, cs), request);
    EXPECT_EQ(out.result, ExtractReadFailed);
    EXPECT_TRUE(std::filesystem::is_empty(dir.path())) << "a partial file was left";
    request.toMemory = true;
    out = ExtractFoundFile(*volume, Record("CUT.BIN", 30, 3 * cs, cs), request);
    EXPECT_EQ(out.result, ExtractReadFailed);
    EXPECT_EQ(out.memory, std::vector<uint8_t>(data.begin(), data.begin() + cs + cs / 2)) << "what was read is handed back";
    // What the truncated card still holds whole is extracted as before.
    request.toMemory = false;
    out = ExtractFoundFile(*volume, Record("HEAD.BIN", 30, cs + cs / 2, cs), request);
    EXPECT_EQ(out.result, ExtractOk);
    EXPECT_EQ(ReadAll(out.path), std::vector<uint8_t>(data.begin(), data.begin() + cs + cs / 2));
}

TEST_F(ExtractionTest, ProgressOnlyForLargeFilesAndCancelRemovesFile) {
    const uint32_t cs = b.ClusterSize();
    auto data = Pattern(1024000, 5);
    b.WriteCluster(100, data);
    auto volume = b.Open();
    std::vector<int> seen;
    ExtractRequest request;
    request.targetFolder = dir.path();
    request.progress = [&](int percent) {
        seen.push_back(percent);
        return true;
    };

    ExtractOutcome out = ExtractFoundFile(*volume, Record("SMALL.BIN", 100, 1023999, cs), request);
    EXPECT_EQ(out.result, ExtractOk);
    EXPECT_TRUE(seen.empty());

    out = ExtractFoundFile(*volume, Record("LARGE.BIN", 100, 1024000, cs), request);
    EXPECT_EQ(out.result, ExtractOk);
    EXPECT_EQ(ReadAll(out.path), data);
    ASSERT_EQ(seen.size(), 20u);
    for (size_t i = 0; i < seen.size(); ++i) EXPECT_EQ(seen[i], int(i) * 5);

    seen.clear();
    request.progress = [&](int percent) {
        seen.push_back(percent);
        return percent < 40;
    };
    out = ExtractFoundFile(*volume, Record("CANCEL.BIN", 100, 1024000, cs), request);
    EXPECT_EQ(out.result, ExtractCancelled);
    EXPECT_EQ(seen.back(), 40);
    EXPECT_FALSE(std::filesystem::exists(dir.File("#ANCEL  .BIN")));
    EXPECT_TRUE(out.path.empty());
}

TEST_F(ExtractionTest, TargetPaths) {
    const uint32_t cs = b.ClusterSize();
    auto data = Pattern(100, 6);
    b.WriteCluster(40, data);
    auto volume = b.Open();

    DelFileInfo r = Record("DSC00001.JPG", 40, 100, cs);
    r.folder = std::string("DCIM.\\100CANON. ");
    ExtractRequest request;
    request.targetFolder = dir.path();
    request.keepFolders = true;
    ExtractOutcome out = ExtractFoundFile(*volume, r, request);
    EXPECT_EQ(out.result, ExtractOk);
    EXPECT_EQ(out.path, dir.File("DCIM/100CANON/#SC00001.JPG"));
    EXPECT_EQ(ReadAll(out.path), data);

    // Components that would leave the target are skipped; "/" is no separator.
    r.folder = std::string("..\\.\\\\a/b\\..");
    r.name = std::string("x/y.jpg");
    EXPECT_EQ(ExtractTargetPath(r, request), dir.File("a_b/x_y.jpg"));
    request.fileName = "..";
    EXPECT_EQ(ExtractTargetPath(r, request), dir.File("a_b/_.."));
    request.fileName = "chosen.jpg";
    request.keepFolders = false;
    EXPECT_EQ(ExtractTargetPath(r, request), dir.File("chosen.jpg"));

    // Without a target folder: the work folder, with the trimmed short name
    // when the record has no cluster list.
    ExtractRequest work;
    DelFileInfo named = Record("DSC00001.JPG", 40, 100, cs);
    named.name = std::string("Holiday.jpg");
    EXPECT_EQ(ExtractTargetPath(named, work), WorkFolderPath() + "/Holiday.jpg");
    named.clusterList.clear();
    EXPECT_EQ(ExtractTargetPath(named, work), WorkFolderPath() + "/#SC00001.JPG");
    DelFileInfo blank = Record("A.TXT", 0, 0, cs);
    EXPECT_EQ(ExtractTargetPath(blank, work), WorkFolderPath() + "/#.TXT");
}

// A saved file is dated by its directory entry's write time; a carved one
// (no entry) by when the picture was taken (EXIF 36867 before 306) or the
// clip recorded; with neither, by the moment it was saved.
TEST_F(ExtractionTest, SavedFilesAreDatedByTheirEntryElseByTheirShootingTime) {
    const uint32_t cs = b.ClusterSize();
    b.WriteCluster(40, Pattern(100, 7));
    auto volume = b.Open();
    struct Row {
        const char* what;
        uint16_t entryDate, entryTime;
        const char* exifOriginal;
        const char* exifAny;
        const char* clipCreated;
        int year, month, day, hour, minute, second;  // year 0: the time of saving
    } rows[] = {
        {"named photo", uint16_t((2019 - 1980) << 9 | 3 << 5 | 14), uint16_t(15 << 11 | 26 << 5 | 53 / 2), "2024/05/06 07:08:09",
         "2024/05/06 07:08:09", "", 2019, 3, 14, 15, 26, 52},
        {"carved photo", 0, 0, "2024/05/06 07:08:09", "2023/01/02 03:04:05", "", 2024, 5, 6, 7, 8, 9},
        {"carved photo, 306 only", 0, 0, "", "2023/01/02 03:04:05", "", 2023, 1, 2, 3, 4, 5},
        {"carved clip", 0, 0, "", "", "2022/12/31 23:59:58", 2022, 12, 31, 23, 59, 58},
        {"nothing known", 0, 0, "", "", "", 0, 0, 0, 0, 0, 0},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        DelFileInfo r = Record("DATED.JPG", 40, 100, cs);
        r.modified = FatTime{row.entryDate, row.entryTime};
        r.jpeg.dateTimeOriginal = row.exifOriginal;
        r.jpeg.dateTime = row.exifAny;
        r.media.created = row.clipCreated;
        ExtractRequest request;
        request.targetFolder = dir.path();
        const std::time_t before = std::time(nullptr);
        ExtractOutcome out = ExtractFoundFile(*volume, r, request);
        ASSERT_EQ(out.result, ExtractOk);
        const std::time_t stamped = std::filesystem::file_time_type::clock::to_sys(std::filesystem::last_write_time(out.path))
                                        .time_since_epoch() / std::chrono::seconds(1);
        if (row.year == 0) {
            EXPECT_GE(stamped, before);
        } else {
            std::tm t{};
            ASSERT_NE(::localtime_r(&stamped, &t), nullptr);
            EXPECT_EQ(std::vector<int>({t.tm_year + 1900, t.tm_mon + 1, t.tm_mday, t.tm_hour, t.tm_min, t.tm_sec}),
                      std::vector<int>({row.year, row.month, row.day, row.hour, row.minute, row.second}));
        }
        std::filesystem::remove(out.path);
    }
}

TEST_F(ExtractionTest, FailedWriteIsAFailureNotAShortSuccess) {
    auto data = Pattern(3 * b.ClusterSize(), 9);
    b.WriteCluster(40, data);
    auto volume = b.Open();
    ExtractRequest request;
    request.targetFolder = dir.path();
    // The disk fills up after the first cluster: a file size limit makes the
    // second write fail as a full disk would.
    struct sigaction ignore {}, before {};
    ignore.sa_handler = SIG_IGN;
    ASSERT_EQ(::sigaction(SIGXFSZ, &ignore, &before), 0);
    rlimit limit {}, saved {};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
    limit.rlim_cur = b.ClusterSize() + 100;
    limit.rlim_max = saved.rlim_max;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &limit), 0);
    ExtractOutcome out = ExtractFoundFile(*volume, Record("A.JPG", 40, uint32_t(data.size()), b.ClusterSize()), request);
    ::setrlimit(RLIMIT_FSIZE, &saved);
    ::sigaction(SIGXFSZ, &before, nullptr);

    EXPECT_EQ(out.result, ExtractWriteFailed);
    EXPECT_NE(out.reason.find("書き込みエラー"), std::string::npos) << out.reason;
    EXPECT_TRUE(out.path.empty());
    EXPECT_TRUE(std::filesystem::is_empty(dir.path())) << "the partial file must go";
}

TEST_F(ExtractionTest, UncreatableTargetFails) {
    auto volume = b.Open();
    std::ofstream(dir.File("plain")) << "x";
    ExtractRequest request;
    request.targetFolder = dir.File("plain");  // a file, not a folder
    ExtractOutcome out = ExtractFoundFile(*volume, Record("A.TXT", 40, 10, b.ClusterSize()), request);
    EXPECT_EQ(out.result, ExtractCreateFailed);
    EXPECT_TRUE(out.path.empty());
}

}  // namespace
}  // namespace veld
