// Whole searches of camera-like cards made by mkfs.fat and mtools, run through
// veld-cli exactly as a user would: what is listed, how it is named and where
// it lies, what --save writes, and that the card is never written to.
#include <gtest/gtest.h>

#include <QByteArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <filesystem>
#include <fstream>
#include <algorithm>
#include <cctype>
#include <map>
#include <sstream>

#include "finder/orphan_folder_group.h"
#include "support/mkfs_tools.h"
#include "support/test_jpeg.h"

namespace veld::test {
namespace {

namespace fs = std::filesystem;

std::vector<uint8_t> ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

// veld-cli search --json: one object per listed record, keyed by name.
std::map<std::string, QJsonObject> SearchJson(const std::vector<std::string>& extra, const std::string& image,
                                              CommandResult* result = nullptr) {
    std::vector<std::string> argv{VELD_CLI_PATH, "search", "--json"};
    argv.insert(argv.end(), extra.begin(), extra.end());
    argv.push_back(image);
    CommandResult r = RunCommand(argv);
    EXPECT_EQ(r.exitCode, 0) << r.err;
    std::map<std::string, QJsonObject> records;
    std::istringstream lines(r.out);
    for (std::string line; std::getline(lines, line);) {
        QJsonDocument doc = QJsonDocument::fromJson(QByteArray::fromStdString(line));
        EXPECT_TRUE(doc.isObject()) << line;
        QJsonObject o = doc.object();
        records[o["name"].toString().toStdString()] = o;
    }
    if (result) *result = r;
    return records;
}

std::string Str(const QJsonObject& o, const char* key) { return o[key].toString().toStdString(); }
int64_t Num(const QJsonObject& o, const char* key) { return int64_t(o[key].toDouble()); }

TestExif CameraExif(int i) {
    TestExif e;
    e.bigEndian = (i % 2) == 1;
    e.make = "Veld Optics";
    e.model = "VX-" + std::to_string(100 + i);
    e.dateTime = "2026:05:1" + std::to_string(i % 10) + " 09:30:0" + std::to_string(i % 10);
    e.pixelX = 320 + 16 * i;
    e.pixelY = 240;
    e.hasGps = (i % 3) == 0;
    return e;
}

// The card of a trip: live and deleted photos with long (also Japanese)
// names, a deleted folder of photos, a deleted empty file, a deleted text
// file and clips, one of them deleted.
struct TripCard {
    TempDir dir;
    std::string image = dir.File("card.img");
    std::map<std::string, std::vector<uint8_t>> deletedPictures;  // long name -> bytes
    std::map<std::string, std::string> folderOf;                   // long name -> folder text
    std::vector<uint8_t> deletedClip;
    std::map<std::string, TestExif> exifOf;

    // A deleted 8.3 name without a long name is listed with its first byte
    // replaced by "#", as the directory entry now holds it.
    static std::string ListedName(const std::string& name) {
        return name == "IMG_0001.JPG" ? "#MG_0001.JPG" : name;
    }

    std::vector<uint8_t> movedPicture;  // TOP/LOW/moved picture.jpg, with movedFolder

    // movedFolder: first a folder LOW with a picture is moved into TOP, made
    // after it, so that a folder lies before its parent on the card.
    std::string Build(int fatType, bool movedFolder = false) {
        MkfsOptions options;
        options.fatType = fatType;
        options.sizeKiB = fatType == 32 ? 40 * 1024 : 16 * 1024;
        options.sectorsPerCluster = fatType == 32 ? 1 : 4;
        if (auto why = MakeFatImage(image, options); !why.empty()) return why;
        MtoolsImage card(image);
        if (movedFolder) {
            movedPicture = MakeTestJpeg(200, 150);
            for (auto why : {card.Mkdir("LOW"), card.PutBytes("LOW/moved picture.jpg", movedPicture), card.Mkdir("TOP")})
                if (!why.empty()) return why;
            CommandResult move = RunCommand({"mmove", "-i", image, "::/LOW", "::/TOP/"}, {"MTOOLS_SKIP_CHECK=1"});
            if (move.exitCode != 0) return "mmove: " + move.err;
        }
        for (const char* d : {"DCIM", "DCIM/100VELD", "DCIM/101TRIP", "MISC"})
            if (auto why = card.Mkdir(d); !why.empty()) return why;

        const char* names100[] = {"IMG_0001.JPG", "結婚式の写真.jpg", "A long holiday picture name.jpg", "IMG_0004.JPG"};
        for (int i = 0; i < 4; ++i) {
            TestExif exif = CameraExif(i);
            auto jpeg = MakeTestJpeg(320 + 16 * i, 240, &exif);
            std::string path = std::string("DCIM/100VELD/") + names100[i];
            if (auto why = card.PutBytes(path, jpeg); !why.empty()) return why;
            if (i != 3) {  // IMG_0004 stays live
                deletedPictures[names100[i]] = jpeg;
                folderOf[names100[i]] = "DCIM.\\100VELD.";
                exifOf[names100[i]] = exif;
            }
        }
        for (int i = 0; i < 2; ++i) {
            TestExif exif = CameraExif(10 + i);
            auto jpeg = MakeTestJpeg(400, 300, &exif);
            std::string name = "旅行_" + std::to_string(i + 1) + ".jpg";
            if (auto why = card.PutBytes("DCIM/101TRIP/" + name, jpeg); !why.empty()) return why;
            deletedPictures[name] = jpeg;
            folderOf[name] = "DCIM.\\#01TRIP.";
            exifOf[name] = exif;
        }
        std::vector<uint8_t> text(3000, 'a');
        if (auto why = card.PutBytes("MISC/notes.txt", text); !why.empty()) return why;
        if (auto why = card.PutBytes("MISC/EMPTY.DAT", {}); !why.empty()) return why;
        TestMp4 clipOptions;
        clipOptions.seed = 5;
        deletedClip = MakeTestMp4(150000, clipOptions);
        if (auto why = card.PutBytes("DCIM/100VELD/MVI_0005.MP4", deletedClip); !why.empty()) return why;
        if (auto why = card.PutBytes("DCIM/100VELD/MVI_0006.MP4", MakeTestMp4(20000)); !why.empty()) return why;

        for (const char* n : {"IMG_0001.JPG", "結婚式の写真.jpg", "A long holiday picture name.jpg", "MVI_0005.MP4"})
            if (auto why = card.Delete(std::string("DCIM/100VELD/") + n); !why.empty()) return why;
        for (const char* n : {"MISC/notes.txt", "MISC/EMPTY.DAT"})
            if (auto why = card.Delete(n); !why.empty()) return why;
        if (auto why = card.DeleteTree("DCIM/101TRIP"); !why.empty()) return why;
        return "";
    }
};

class SearchEndToEnd : public ::testing::TestWithParam<int> {};

TEST_P(SearchEndToEnd, DeletedPicturesListedByLongNameAndSavedByteIdentical) {
    if (auto why = MkfsToolsMissing(); !why.empty()) GTEST_SKIP() << why;
    TripCard card;
    ASSERT_EQ(card.Build(GetParam()), "");
    const std::vector<uint8_t> before = ReadAll(card.image);
    const std::string saveDir = card.dir.File("saved");

    CommandResult run;
    auto records = SearchJson({"--save", saveDir}, card.image, &run);
    EXPECT_NE(run.err.find("保存"), std::string::npos) << "a summary ends the run";

    for (const auto& [longName, bytes] : card.deletedPictures) {
        const std::string name = TripCard::ListedName(longName);
        ASSERT_TRUE(records.count(name)) << name << " not listed\n" << run.out;
        const QJsonObject& r = records[name];
        EXPECT_EQ(Str(r, "state_text"), "良") << name;
        EXPECT_EQ(Str(r, "folder"), card.folderOf[longName]) << name;
        EXPECT_EQ(Num(r, "size"), int64_t(bytes.size()));
        const TestExif& exif = card.exifOf[longName];
        QJsonObject jpeg = r["jpeg"].toObject();
        EXPECT_EQ(Str(jpeg, "make"), exif.make);
        EXPECT_EQ(Str(jpeg, "model"), exif.model);
        std::string date = exif.dateTime;
        date[4] = date[7] = '/';
        EXPECT_EQ(Str(jpeg, "datetime"), date);
        EXPECT_EQ(Num(jpeg, "exif_width"), int64_t(exif.pixelX));
        if (exif.hasGps) {
            EXPECT_EQ(Str(jpeg, "lat_ref"), "N");
            EXPECT_EQ(Num(jpeg, "lat_deg"), 35);
            EXPECT_EQ(Num(jpeg, "lat_sec"), 29);
        }
        ASSERT_TRUE(r["saved"].isString()) << name;
        EXPECT_EQ(ReadAll(Str(r, "saved")), bytes) << name << " is not byte-identical";
    }
    // Folders are recreated with Windows' rule: trailing dots dropped.
    EXPECT_TRUE(fs::exists(fs::path(saveDir) / "DCIM" / "100VELD" / "結婚式の写真.jpg"));
    EXPECT_TRUE(fs::exists(fs::path(saveDir) / "DCIM" / "#01TRIP" / "旅行_1.jpg"));

    // The deleted clip is found through its entry and by its signature, and
    // listed once, under its entry's name.
    int clips = 0;
    for (const auto& [name, r] : records) {
        QJsonObject mp4 = r["mp4"].toObject();
        if (Num(mp4, "length") != int64_t(card.deletedClip.size())) continue;
        ++clips;
        EXPECT_EQ(name, "#VI_0005.MP4");
        EXPECT_EQ(Str(mp4, "major_brand"), "isom");
        EXPECT_EQ(ReadAll(Str(r, "saved")), card.deletedClip);
    }
    EXPECT_EQ(clips, 1) << run.out;
    // The deleted text file and the deleted empty file are listed too.
    EXPECT_TRUE(records.count("#OTES   .TXT"));
    ASSERT_TRUE(records.count("#MPTY   .DAT"));
    EXPECT_EQ(Num(records["#MPTY   .DAT"], "size"), 0);
    // The live picture is not a deleted file.
    EXPECT_FALSE(records.count("IMG_0004.JPG"));

    EXPECT_EQ(ReadAll(card.image), before) << "the search wrote to the card";
}

INSTANTIATE_TEST_SUITE_P(FatTypes, SearchEndToEnd, ::testing::Values(16, 32));

// fls -r -p on an image: (folder, name) of every regular file it lists.
std::vector<std::pair<std::string, std::string>> SleuthKitFiles(const std::string& image,
                                                                 std::vector<std::string>* inodes) {
    std::vector<std::pair<std::string, std::string>> files;
    std::istringstream lines(RunCommand({"fls", "-r", "-p", image}).out);
    for (std::string line; std::getline(lines, line);) {
        // "r/r * 37:\t$OrphanFiles/100VELD/IMG_0001.JPG"
        const size_t colon = line.find(":\t");
        if (line.size() < 3 || line[2] != 'r' || colon == std::string::npos) continue;
        std::string path = line.substr(colon + 2);
        const size_t slash = path.rfind('/');
        files.emplace_back(slash == std::string::npos ? "" : path.substr(0, slash), path.substr(slash + 1));
        inodes->push_back(line.substr(line.rfind(' ', colon) + 1, colon - line.rfind(' ', colon) - 1));
    }
    return files;
}

// A name or folder path compared across tools: "/" for "\\", no blanks, no
// trailing dots, upper case, and the first character of each part dropped
// (a deleted name's first byte is "#" here, "_" there).
std::string Comparable(const std::string& text) {
    std::string out, part;
    auto flush = [&] {
        while (!part.empty() && part.back() == '.') part.pop_back();
        if (!out.empty()) out += '/';
        out += part.empty() ? part : part.substr(1);
        part.clear();
    };
    for (char c : text) {
        if (c == '\\' || c == '/') flush();
        else if (c != ' ') part += char(std::toupper(static_cast<unsigned char>(c)));
    }
    flush();
    return out;
}

TEST_P(SearchEndToEnd, QuickFormattedCardKeepsNamesAndFoldersTheSleuthKitFinds) {
    if (auto why = MkfsToolsMissing(); !why.empty()) GTEST_SKIP() << why;
    TripCard card;
    ASSERT_EQ(card.Build(GetParam(), true), "");
    // A quick format writes a new boot sector, FAT and root; the data stays.
    ASSERT_EQ(RunCommand({FindTool("mkfs.fat"), "-F", std::to_string(GetParam()), "-s", GetParam() == 32 ? "1" : "4",
                          card.image}).exitCode, 0);
    CommandResult run;
    auto records = SearchJson({"--save", card.dir.File("saved")}, card.image, &run);
    for (const auto& [name, bytes] : card.deletedPictures) {
        int copies = 0;
        for (const auto& [foundName, r] : records) copies += ReadAll(Str(r, "saved")) == bytes;
        EXPECT_EQ(copies, 1) << name << " is not recovered once after the quick format\n" << run.out;
    }
    // The top folder (DCIM) was named in the rewritten root: its folders are
    // listed and saved under the group, the folders below by their own names.
    const std::string group = kOrphanFolderGroup;
    ASSERT_TRUE(records.count("結婚式の写真.jpg")) << run.out;
    const QJsonObject& wedding = records["結婚式の写真.jpg"];
    const std::string unnamed = group + "\\クラスタ ";
    EXPECT_EQ(Str(wedding, "folder").rfind(unnamed, 0), 0u) << Str(wedding, "folder");
    EXPECT_TRUE(Str(wedding, "folder").ends_with(" のフォルダ\\100VELD.")) << Str(wedding, "folder");
    EXPECT_NE(Str(wedding, "saved").find("/" + group + "/"), std::string::npos) << Str(wedding, "saved");
    ASSERT_TRUE(records.count("moved picture.jpg")) << run.out;
    const std::string movedFolder = Str(records["moved picture.jpg"], "folder");
    EXPECT_TRUE(movedFolder.rfind(unnamed, 0) == 0 && movedFolder.ends_with(" のフォルダ\\LOW.")) << movedFolder;
    EXPECT_EQ(ReadAll(Str(records["moved picture.jpg"], "saved")), card.movedPicture);

    // Every file The Sleuth Kit finds after the format is listed here with
    // its bytes, its name and the folders it names.
    if (FindTool("fls").empty() || FindTool("icat").empty()) GTEST_SKIP() << "fls/icat (sleuthkit) are missing";
    std::vector<std::string> inodes;
    const auto sleuthKit = SleuthKitFiles(card.image, &inodes);
    int cross = 0;
    for (size_t k = 0; k < sleuthKit.size(); ++k) {
        const auto& [folder, name] = sleuthKit[k];
        if (folder.rfind("$OrphanFiles", 0) != 0) continue;
        const std::string bytes = RunCommand({"icat", card.image, inodes[k]}).out;
        if (bytes.empty()) continue;
        const QJsonObject* same = nullptr;
        for (const auto& [foundName, r] : records) {
            const auto saved = ReadAll(Str(r, "saved"));
            if (std::string(saved.begin(), saved.end()) == bytes) same = &r;
        }
        ASSERT_TRUE(same) << folder << "/" << name << " (The Sleuth Kit) is not listed\n" << run.out;
        ++cross;
        EXPECT_EQ(Comparable(Str(*same, "name")), Comparable(name)) << folder << "/" << name;
        // Its folders below the lost top one end ours.
        const std::string theirs = Comparable(folder.substr(std::string("$OrphanFiles").size()));
        const std::string ours = Comparable(Str(*same, "folder"));
        EXPECT_EQ(ours.substr(ours.size() - std::min(ours.size(), theirs.size())), theirs)
            << Str(*same, "folder") << " against " << folder << "/" << name;
    }
    EXPECT_GE(cross, 3) << "fls found too few files to compare";
}

TEST(SearchEndToEndRecovery, CardWithZeroedFirstSectorIsSearchedAsRawSectors) {
    if (auto why = MkfsToolsMissing(); !why.empty()) GTEST_SKIP() << why;
    TripCard card;
    ASSERT_EQ(card.Build(16), "");
    {
        std::fstream f(card.image, std::ios::in | std::ios::out | std::ios::binary);
        std::vector<char> zeros(512, 0);
        f.write(zeros.data(), std::streamsize(zeros.size()));
    }
    CommandResult info = RunCommand({VELD_CLI_PATH, "info", "--json", card.image});
    ASSERT_EQ(info.exitCode, 0);
    EXPECT_NE(info.out.find("\"volume_kind\":200"), std::string::npos) << info.out;

    auto records = SearchJson({"--save", card.dir.File("saved")}, card.image);
    for (const auto& [name, bytes] : card.deletedPictures) {
        bool carved = false;
        for (const auto& [carvedName, r] : records)
            carved |= carvedName[0] == '#' && Str(r, "folder").empty() && ReadAll(Str(r, "saved")) == bytes;
        EXPECT_TRUE(carved) << name << " was not carved from the raw sectors";
    }
}

TEST(SearchEndToEndRecovery, PicturesPartlyOverwrittenByLaterOnesAreNeverGood) {
    if (auto why = MkfsToolsMissing(); !why.empty()) GTEST_SKIP() << why;
    TempDir dir;
    const std::string image = dir.File("card.img");
    ASSERT_EQ(MakeFatImage(image, {.fatType = 16, .sizeKiB = 16384, .sectorsPerCluster = 4}), "");
    MtoolsImage card(image);
    ASSERT_EQ(card.Mkdir("DCIM"), "");
    std::map<std::string, std::vector<uint8_t>> originals;
    for (int i = 0; i < 6; ++i) {
        std::string name = "first picture " + std::to_string(i) + ".jpg";
        originals[name] = MakeTestJpeg(240 + 40 * i, 180);
        ASSERT_EQ(card.PutBytes("DCIM/" + name, originals[name]), "");
    }
    for (int i = 0; i < 6; i += 2) ASSERT_EQ(card.Delete("DCIM/first picture " + std::to_string(i) + ".jpg"), "");
    // Later, larger pictures take the freed clusters and run on past them.
    for (int i = 0; i < 3; ++i)
        ASSERT_EQ(card.PutBytes("DCIM/later picture " + std::to_string(i) + ".jpg", MakeTestJpeg(640, 480)), "");
    for (int i = 1; i < 6; i += 2) ASSERT_EQ(card.Delete("DCIM/first picture " + std::to_string(i) + ".jpg"), "");

    auto records = SearchJson({"--save", dir.File("saved")}, image);
    int good = 0;
    for (const auto& [name, r] : records) {
        if (!originals.count(name) || Str(r, "state_text") != "良") continue;
        ++good;
        EXPECT_EQ(ReadAll(Str(r, "saved")), originals[name]) << name << " is listed as good with other bytes";
    }
    EXPECT_GT(good, 0) << "the pictures deleted last are intact and must be good";
}

TEST(SearchEndToEndRecovery, UnopenableSourceFailsWithTheSearchErrorText) {
    TempDir dir;
    CommandResult r = RunCommand({VELD_CLI_PATH, "search", dir.File("missing.img")});
    EXPECT_NE(r.exitCode, 0);
    EXPECT_NE(r.err.find("ドライブが開けません"), std::string::npos) << r.err;
}

}  // namespace
}  // namespace veld::test
