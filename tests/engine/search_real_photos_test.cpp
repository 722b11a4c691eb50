// Real camera pictures (both byte orders, some with GPS) deleted from a card
// made by mkfs.fat and mtools: every one comes back byte-identical with the
// same EXIF fields that its own file yields.
#include <gtest/gtest.h>

#include <QByteArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "base/byte_reader.h"
#include "finder/exif_reader.h"
#include "support/mkfs_tools.h"

namespace veld::test {
namespace {

namespace fs = std::filesystem;

std::vector<uint8_t> ReadAll(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

// EXIF of a whole file: the first APP1 "Exif" segment's TIFF block.
JpegInfo ExifOfFile(const std::vector<uint8_t>& file) {
    JpegInfo info;
    ByteReader r(file.data(), file.size());
    for (uint64_t o = 2; r.has(o, 4) && r.u8(o) == 0xFF;) {
        uint16_t marker = r.be16(o), length = r.be16(o + 2);
        if (marker == 0xFFE1 && r.equals(o + 4, "Exif\0\0", 6)) {
            ParseExif(file.data() + o + 10, std::min<size_t>(length - 8, file.size() - (o + 10)), &info);
            break;
        }
        if (marker == 0xFFDA || length < 2) break;
        o += 2 + length;
    }
    return info;
}

TEST(SearchRealPhotos, DeletedCameraPicturesComeBackWithTheirExif) {
    const fs::path photos = VELD_SHARED_PHOTOS;
    if (!fs::is_directory(photos)) GTEST_SKIP() << "no sample photographs here";
    if (auto why = MkfsToolsMissing(); !why.empty()) GTEST_SKIP() << why;

    std::vector<fs::path> files;
    for (const auto& sub : {photos, photos / "gps"})
        for (const auto& e : fs::directory_iterator(sub))
            if (e.path().extension() == ".jpg" && e.path().filename() != "corrupted.jpg") files.push_back(e.path());
    ASSERT_FALSE(files.empty());

    TempDir dir;
    const std::string image = dir.File("card.img");
    uint64_t bytes = 0;
    for (const auto& f : files) bytes += fs::file_size(f);
    ASSERT_EQ(MakeFatImage(image, {.fatType = 32, .sizeKiB = std::max<uint64_t>(40 * 1024, bytes / 1024 * 2)}), "");
    MtoolsImage card(image);
    ASSERT_EQ(card.Mkdir("DCIM"), "");
    // corrupted.jpg goes first so its damage sits among the others.
    ASSERT_EQ(card.Put((photos / "corrupted.jpg").string(), "DCIM/corrupted.jpg"), "");
    for (const auto& f : files) ASSERT_EQ(card.Put(f.string(), "DCIM/" + f.filename().string()), "");
    for (const auto& f : files) ASSERT_EQ(card.Delete("DCIM/" + f.filename().string()), "");
    ASSERT_EQ(card.Delete("DCIM/corrupted.jpg"), "");

    CommandResult r = RunCommand({VELD_CLI_PATH, "search", "--json", "--save", dir.File("out"), image});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    std::map<std::string, QJsonObject> records;
    std::istringstream lines(r.out);
    for (std::string line; std::getline(lines, line);) {
        QJsonObject o = QJsonDocument::fromJson(QByteArray::fromStdString(line)).object();
        records[o["name"].toString().toStdString()] = o;
    }

    for (const auto& f : files) {
        // An 8.3 name is stored without a long name and listed as the deleted
        // short entry holds it: first byte "#", upper case, padded.
        std::string name = f.filename().string();
        if (!records.count(name)) {
            std::string stem = f.stem().string(), ext = f.extension().string().substr(1);
            for (auto* part : {&stem, &ext})
                for (char& c : *part) c = char(std::toupper(static_cast<unsigned char>(c)));
            char shortName[16];
            std::snprintf(shortName, sizeof shortName, "#%-7.7s.%3.3s", stem.substr(1).c_str(), ext.c_str());
            name = shortName;
        }
        ASSERT_TRUE(records.count(name)) << f.filename().string();
        const QJsonObject& rec = records[name];
        EXPECT_EQ(rec["state_text"].toString().toStdString(), "良") << name;
        const std::vector<uint8_t> original = ReadAll(f);
        EXPECT_EQ(ReadAll(rec["saved"].toString().toStdString()), original) << name;
        JpegInfo expected = ExifOfFile(original);
        QJsonObject jpeg = rec["jpeg"].toObject();
        EXPECT_EQ(jpeg["make"].toString().toStdString(), expected.make) << name;
        EXPECT_EQ(jpeg["model"].toString().toStdString(), expected.model) << name;
        EXPECT_EQ(jpeg["datetime"].toString().toStdString(), expected.dateTime) << name;
        EXPECT_EQ(jpeg["lat_deg"].toInt(), expected.latDeg) << name;
        EXPECT_EQ(jpeg["lon_min"].toInt(), expected.lonMin) << name;
    }
}

}  // namespace
}  // namespace veld::test
