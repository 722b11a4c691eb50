// veld-cli info on real images made by mkfs.fat: the geometry it reports must
// agree with what the test works out by itself from the boot sector, the FAT
// copy must cover the FAT and every cluster, and the census of cluster states
// must be what the FAT says (files written by mtools, a cluster marked bad).
// Damaged and marker-less images must come out as raw volumes; an exFAT card
// counts what its allocation bitmap holds.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <optional>

#include "support/exfat_image_builder.h"
#include "support/mkfs_tools.h"

namespace veld::test {
namespace {

// The value of a number or boolean key in veld-cli's flat JSON output.
std::optional<int64_t> JsonNumber(const std::string& json, const std::string& key) {
    size_t at = json.find("\"" + key + "\":");
    if (at == std::string::npos) return std::nullopt;
    at += key.size() + 3;
    if (json.compare(at, 4, "true") == 0) return 1;
    if (json.compare(at, 5, "false") == 0) return 0;
    size_t end = at;
    if (end < json.size() && json[end] == '-') ++end;
    while (end < json.size() && std::isdigit(static_cast<unsigned char>(json[end]))) ++end;
    if (end == at) return std::nullopt;
    return std::stoll(json.substr(at, end - at));
}

std::vector<uint8_t> ReadHead(const std::string& path, size_t n) {
    std::vector<uint8_t> bytes(n);
    std::ifstream in(path, std::ios::binary);
    in.read(reinterpret_cast<char*>(bytes.data()), std::streamsize(n));
    return bytes;
}

void Patch(const std::string& path, size_t offset, std::vector<uint8_t> bytes) {
    std::fstream f(path, std::ios::binary | std::ios::in | std::ios::out);
    f.seekp(std::streamoff(offset));
    f.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

struct Expected {
    int64_t kind, fatType, dataStart, clusterSize, sectorSize, clusterCount, fatEntries;
};

// The geometry worked out from the raw BPB bytes, following the FAT layout.
Expected FromBootSector(const std::vector<uint8_t>& s) {
    auto u16 = [&](int o) { return int64_t(s[o] | (s[o + 1] << 8)); };
    auto u32 = [&](int o) { return u16(o) | (u16(o + 2) << 16); };
    const int64_t bps = u16(11), spc = s[13], reserved = u16(14), fats = s[16], rootEntries = u16(17);
    const bool fat32 = rootEntries == 0;
    const int64_t spf = fat32 ? u32(36) : u16(22);
    const int64_t total = u16(19) ? u16(19) : u32(32);
    const int64_t firstData = reserved + fats * spf + rootEntries * 32 / bps;
    const std::string type(s.begin() + 54, s.begin() + 59);
    Expected e{};
    e.kind = fat32 ? 32 : 16;
    e.fatType = fat32 ? 32 : type == "FAT12" ? 12 : type == "FAT16" ? 16 : 32;
    e.dataStart = firstData * bps;
    e.clusterSize = bps * spc;
    e.sectorSize = bps;
    e.clusterCount = (total - firstData + spc - 1) / spc;
    const int64_t fatBytes = spf * bps;
    const int64_t entries = fat32 ? fatBytes / 4 : e.fatType == 12 ? fatBytes * 2 / 3 : fatBytes / 2;
    e.fatEntries = std::max(entries, e.clusterCount);
    return e;
}

CommandResult Info(const std::string& image) { return RunCommand({VELD_CLI_PATH, "info", "--json", image}); }

TEST(CliInfo, AgreesWithTheBootSectorOfMkfsImages) {
    if (auto why = MkfsToolsMissing(); !why.empty()) GTEST_SKIP() << why;
    const MkfsOptions cases[] = {
        {.fatType = 12, .sizeKiB = 1440, .sectorsPerCluster = 1},
        {.fatType = 12, .sizeKiB = 8192, .sectorsPerCluster = 4},
        {.fatType = 12, .sizeKiB = 4000, .sectorsPerCluster = 2, .sectorSize = 1024},
        {.fatType = 16, .sizeKiB = 16384, .sectorsPerCluster = 2},
        {.fatType = 16, .sizeKiB = 65537, .sectorsPerCluster = 8},
        {.fatType = 16, .sizeKiB = 131072, .sectorsPerCluster = 4, .sectorSize = 4096},
        {.fatType = 32, .sizeKiB = 40000, .sectorsPerCluster = 1},
        {.fatType = 32, .sizeKiB = 307200, .sectorsPerCluster = 8},
    };
    TempDir dir;
    for (const auto& c : cases) {
        SCOPED_TRACE("-F " + std::to_string(c.fatType) + " " + std::to_string(c.sizeKiB) + " KiB -s " +
                     std::to_string(c.sectorsPerCluster) + " -S " + std::to_string(c.sectorSize));
        const std::string image = dir.File("card.img");
        ASSERT_EQ(MakeFatImage(image, c), "");
        const Expected e = FromBootSector(ReadHead(image, 512));
        ASSERT_EQ(e.fatType, c.fatType);  // the test's own reading agrees with mkfs
        // A file of three clusters and a folder of one; on FAT16 and FAT32
        // the last cluster is marked bad in the first FAT.
        MtoolsImage card(image);
        ASSERT_EQ(card.PutBytes("PHOTO.JPG", std::vector<uint8_t>(size_t(2 * e.clusterSize + 1), 0x5A)), "");
        ASSERT_EQ(card.Mkdir("DCIM"), "");
        const std::vector<uint8_t> boot = ReadHead(image, 512);
        const int64_t fatStart = int64_t(boot[14] | boot[15] << 8) * e.sectorSize;
        const int64_t lastCluster = e.clusterCount + 1;
        if (c.fatType == 16) Patch(image, size_t(fatStart + lastCluster * 2), {0xF7, 0xFF});
        if (c.fatType == 32) Patch(image, size_t(fatStart + lastCluster * 4), {0xF7, 0xFF, 0xFF, 0x0F});
        CommandResult r = Info(image);
        ASSERT_EQ(r.exitCode, 0) << r.err;
        const std::string& j = r.out;
        EXPECT_EQ(JsonNumber(j, "source_kind"), 2);
        EXPECT_EQ(JsonNumber(j, "volume_kind"), e.kind);
        EXPECT_EQ(JsonNumber(j, "fat_type"), e.fatType);
        EXPECT_EQ(JsonNumber(j, "data_start"), e.dataStart);
        EXPECT_EQ(JsonNumber(j, "cluster_size"), e.clusterSize);
        EXPECT_EQ(JsonNumber(j, "sector_size"), e.sectorSize);
        EXPECT_EQ(JsonNumber(j, "cluster_count"), e.clusterCount);
        EXPECT_EQ(JsonNumber(j, "marker_ok"), 1);
        EXPECT_EQ(JsonNumber(j, "fat_entries"), e.fatEntries);
        EXPECT_NE(j.find("\"file_system\":\"FAT" + std::to_string(c.fatType) + "\""), std::string::npos) << j;
        // What the FAT says: two cells stand for no cluster; the file is two
        // clusters and an end, the folder (and FAT32's root) an end each.
        const int64_t ends = c.fatType == 32 ? 3 : 2, bad = c.fatType == 12 ? 0 : 1;
        EXPECT_EQ(JsonNumber(j, "FA_RESERVE"), 2) << j;
        EXPECT_EQ(JsonNumber(j, "FA_USE_FILE"), 2) << j;
        EXPECT_EQ(JsonNumber(j, "FA_END"), ends) << j;
        EXPECT_EQ(JsonNumber(j, "FA_BAD").value_or(0), bad) << j;
        EXPECT_EQ(JsonNumber(j, "FA_EMPTY"), e.fatEntries - 2 - 2 - ends - bad) << j;
    }
}

TEST(CliInfo, ImageWithoutMarkerIsRaw) {
    TempDir dir;
    const std::string image = dir.File("raw.img");
    std::ofstream(image, std::ios::binary) << std::string(1000000, '\x11');
    CommandResult r = Info(image);
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(JsonNumber(r.out, "volume_kind"), 200);
    EXPECT_EQ(JsonNumber(r.out, "sector_size"), 512);
    EXPECT_EQ(JsonNumber(r.out, "cluster_size"), 512);
    EXPECT_EQ(JsonNumber(r.out, "cluster_count"), 1954);  // the last sector partial
    EXPECT_EQ(JsonNumber(r.out, "data_start"), 0);
    EXPECT_EQ(JsonNumber(r.out, "marker_ok"), 0);
    // Cells for numbers 0 and 1 and for each of the 1954 sectors.
    EXPECT_EQ(JsonNumber(r.out, "fat_entries"), 1956);
    EXPECT_NE(r.out.find("\"file_system\":\"raw\""), std::string::npos) << r.out;
    // No records: every sector is free but the two cells that stand for none.
    EXPECT_EQ(JsonNumber(r.out, "FA_EMPTY"), 1954);
    EXPECT_EQ(JsonNumber(r.out, "FA_RESERVE"), 2);
}

TEST(CliInfo, ExfatCardCountsWhatItsBitmapHolds) {
    TempDir dir;
    ExfatImageBuilder card(dir.File("exfat.img"), {.sizeBytes = 64ull << 20, .clusterSize = 32 * 1024});
    ASSERT_EQ(card.error(), "");
    auto dcim = card.AddDir(card.Root(), "DCIM");
    card.AddFile(dcim, "IMG_0001.JPG", std::vector<uint8_t>(100 * 1024, 0x42));  // 4 clusters
    ASSERT_EQ(card.Finish(), "");
    const CommandResult before = Info(dir.File("exfat.img"));
    ASSERT_EQ(before.exitCode, 0) << before.err;
    EXPECT_NE(before.out.find("\"file_system\":\"exFAT\""), std::string::npos) << before.out;
    const int64_t used = JsonNumber(before.out, "FA_USE_FILE").value_or(0);
    // The bitmap, the up-case table, the root and DCIM, and the photo.
    EXPECT_GE(used, 4 + 4) << before.out;
    EXPECT_EQ(JsonNumber(before.out, "FA_EMPTY").value_or(0) + used + 2, JsonNumber(before.out, "fat_entries"));
}

TEST(CliInfo, MarkerWithZeroSizesIsRawAndDoesNotCrash) {
    if (auto why = MkfsToolsMissing(); !why.empty()) GTEST_SKIP() << why;
    TempDir dir;
    const std::string image = dir.File("card.img");
    for (int field : {11, 13}) {
        SCOPED_TRACE(field);
        ASSERT_EQ(MakeFatImage(image, {.fatType = 16, .sizeKiB = 16384}), "");
        Patch(image, size_t(field), field == 11 ? std::vector<uint8_t>{0, 0} : std::vector<uint8_t>{0});
        CommandResult r = Info(image);
        ASSERT_EQ(r.exitCode, 0) << r.err;
        EXPECT_EQ(JsonNumber(r.out, "volume_kind"), 200);
        EXPECT_EQ(JsonNumber(r.out, "cluster_count"), 16384 * 2);
        EXPECT_EQ(JsonNumber(r.out, "cluster_size"), 512);
    }
}

// Every command given a missing file, an empty name or a FIFO as a source,
// target or image file ends at once with a message and its exit status:
// nothing aborts, nothing waits for a FIFO's other end. (A hang shows as
// status 124 of the time limit.)
TEST(CliArguments, MissingEmptyAndFifoPathsAreRefusedWithAMessage) {
    TempDir dir;
    const std::string image = dir.File("card.img"), fifo = dir.File("pipe"), absent = dir.File("absent.img");
    std::ofstream(image, std::ios::binary) << std::string(1 << 20, '\0');
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const std::string fifoImg = dir.File("pipe.img");
    ASSERT_EQ(::mkfifo(fifoImg.c_str(), 0600), 0);
    struct Case {
        std::vector<std::string> args;
        int exitCode;
        const char* says;
    };
    const Case cases[] = {
        {{"info", absent}, 1, "ファイルがありません"},
        {{"info", ""}, 2, "SOURCE is missing"},
        {{"search", ""}, 2, "SOURCE is missing"},
        {{"image", image, ""}, 2, "an empty name is none"},
        {{"image", "", dir.File("out.img")}, 2, "an empty name is none"},
        {{"restore", "", image}, 2, "an empty name is none"},
        {{"restore", image, ""}, 2, "an empty name is none"},
        {{"erase", ""}, 2, "an empty name is none"},
        {{"info", fifo}, 1, "通常のファイルでもブロックデバイスでもありません"},
        {{"search", fifo}, 1, "通常のファイルでもブロックデバイスでもありません"},
        {{"image", fifo, dir.File("copy.img")}, 1, "通常のファイルでもブロックデバイスでもありません"},
        {{"image", "--force", image, fifoImg}, 1, "通常のファイルでもブロックデバイスでもありません"},
        {{"restore", fifoImg, image}, 1, "通常のファイルでもブロックデバイスでもありません"},
        {{"restore", image, fifo}, 1, "通常のファイルでもブロックデバイスでもありません"},
        {{"erase", fifo}, 1, "通常のファイルでもブロックデバイスでもありません"},
    };
    for (const Case& c : cases) {
        std::vector<std::string> argv{"timeout", "20", VELD_CLI_PATH};
        argv.insert(argv.end(), c.args.begin(), c.args.end());
        std::string shown;
        for (const auto& a : c.args) shown += "'" + a + "' ";
        SCOPED_TRACE(shown);
        const CommandResult r = RunCommand(argv);
        EXPECT_EQ(r.exitCode, c.exitCode) << r.err;
        EXPECT_NE(r.err.find(c.says), std::string::npos) << r.err;
    }
    EXPECT_FALSE(std::filesystem::exists(dir.File("copy.img")));
}

}  // namespace
}  // namespace veld::test
