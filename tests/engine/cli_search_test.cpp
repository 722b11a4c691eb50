// veld-cli search through the real binary on built cards: the cluster range
// options, what --save does with names and folders the file system cannot
// take or that are in the way, how failures are told and what the exit
// status says, and card names that hold terminal control characters.
#include <gtest/gtest.h>

#include <QByteArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <poll.h>
#include <set>
#include <sstream>
#include <sys/wait.h>
#include <unistd.h>

#include "cli/streamed_records.h"
#include "support/fat_image_builder.h"
#include "support/mkfs_tools.h"
#include "support/test_jpeg.h"

namespace veld::test {
namespace {

namespace fs = std::filesystem;

std::vector<uint8_t> ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

CommandResult Search(std::vector<std::string> options, const std::string& image) {
    std::vector<std::string> argv{VELD_CLI_PATH, "search"};
    argv.insert(argv.end(), options.begin(), options.end());
    argv.push_back(image);
    return RunCommand(argv);
}

// The records of a --json run, in listing order.
std::vector<QJsonObject> Records(const CommandResult& r) {
    std::vector<QJsonObject> records;
    std::istringstream lines(r.out);
    for (std::string line; std::getline(lines, line);) {
        QJsonDocument doc = QJsonDocument::fromJson(QByteArray::fromStdString(line));
        EXPECT_TRUE(doc.isObject()) << line;
        records.push_back(doc.object());
    }
    return records;
}

std::string Str(const QJsonObject& o, const char* key) { return o[key].toString().toStdString(); }

const QJsonObject* Named(const std::vector<QJsonObject>& records, const std::string& name) {
    for (const QJsonObject& r : records)
        if (Str(r, "name") == name) return &r;
    return nullptr;
}

std::string Repeat(const std::string& piece, int count) {
    std::string out;
    for (int i = 0; i < count; ++i) out += piece;
    return out;
}

// FAT16, 2 KB clusters, about 2,000 clusters: /DCIM/100TEST holds a deleted
// "Holiday.jpg" at cluster 20 and a deleted "Far away.jpg" at cluster 600.
struct RangeCard {
    TempDir dir{"veld-cli"};
    std::vector<uint8_t> near = MakeTestJpeg(160, 120), far = MakeTestJpeg(200, 150);
    std::string image;
    RangeCard() {
        FatImageBuilder b(FatGeometry::Fat16(8192, 4));
        auto test = b.Root().AddDir("DCIM", 3).AddDir("100TEST", 4);
        test.AddDeletedFile("HOLIDAY.JPG", 20, near, "Holiday.jpg");
        test.AddDeletedFile("FARAWAY.JPG", 600, far, "Far away.jpg");
        image = b.WriteTo(dir, "card.img");
    }
};

TEST(CliSearchRange, FirstBelowTwoIsTheWholeVolumeAndAPartRangeOnlyCarvesIt) {
    RangeCard card;
    ASSERT_FALSE(card.image.empty());
    auto names = [](const CommandResult& r) {
        std::set<std::string> out;
        for (const QJsonObject& o : Records(r)) out.insert(Str(o, "name"));
        return out;
    };
    CommandResult whole = Search({"--json"}, card.image);
    ASSERT_EQ(whole.exitCode, 0) << whole.err;
    EXPECT_TRUE(names(whole).count("Holiday.jpg")) << whole.out;
    EXPECT_TRUE(names(whole).count("Far away.jpg")) << whole.out;
    for (const char* first : {"0", "1", "2"}) {
        CommandResult r = Search({"--json", "--first", first}, card.image);
        EXPECT_EQ(r.exitCode, 0) << r.err;
        EXPECT_EQ(names(r), names(whole)) << "--first " << first << " must search the whole volume";
    }

    // A part of the volume: only the signature search. Folders met in the
    // range are read as they are met, without their place in the tree.
    for (std::vector<std::string> range : {std::vector<std::string>{"--first", "2", "--last", "100"},
                                           std::vector<std::string>{"--first", "10", "--last", "100"},
                                           std::vector<std::string>{"--first", "100", "--last", "10"}}) {
        const bool foldersOutside = range[1] != "2";  // the folders lie in clusters 3 and 4
        range.insert(range.begin(), "--json");
        CommandResult r = Search(range, card.image);
        ASSERT_EQ(r.exitCode, 0) << r.err;
        std::vector<QJsonObject> records = Records(r);
        EXPECT_FALSE(records.empty());
        bool nearCarved = false;
        for (const QJsonObject& o : records) {
            EXPECT_EQ(Str(o, "folder"), "") << "the directory pass ran: " << Str(o, "name");
            if (!foldersOutside) continue;
            int64_t start = int64_t(o["start_cluster"].toDouble());
            EXPECT_GE(start, 10) << Str(o, "name");
            EXPECT_LE(start, 100) << Str(o, "name");
            nearCarved |= start == 20 && int64_t(o["size"].toDouble()) == int64_t(card.near.size());
        }
        if (foldersOutside) {
            EXPECT_TRUE(nearCarved) << r.out;
            EXPECT_FALSE(names(r).count("Holiday.jpg"));
        }
    }

    for (const char* bad : {"12abc", "", "0x10", "1e3", "99999999999999999999"}) {
        CommandResult r = Search({"--first", bad}, card.image);
        EXPECT_EQ(r.exitCode, 2) << "--first '" << bad << "'";
        EXPECT_TRUE(r.out.empty()) << "nothing is searched after a wrong command line";
    }
    EXPECT_EQ(Search({"--last"}, card.image).exitCode, 2);
}

TEST(CliSearchSave, OverlongNamesAndFolderPathsAreSavedShortened) {
    TempDir dir("veld-cli");
    // A deleted picture with a 255-character name of 3-byte characters (765
    // bytes) in the root, and one eighteen live folders deep, each folder
    // named with 255 such characters: even cut to 255 bytes each, 4,608
    // bytes of folder path.
    const std::string longName = Repeat("写", 251) + ".jpg";
    auto top = MakeTestJpeg(160, 120), deep = MakeTestJpeg(120, 90);
    FatImageBuilder b(FatGeometry::Fat16(8192, 4));
    auto root = b.Root();
    root.AddDeletedFile("LONGNA~1.JPG", 100, top, longName);
    DirWriter folder = root.AddDir("FOLDER~1", 3, Repeat("旅", 255));
    for (uint32_t level = 1; level < 18; ++level) folder = folder.AddDir("FOLDER~1", 3 + level, Repeat("旅", 255));
    folder.AddDeletedFile("DEEP~1.JPG", 200, deep, longName);
    const std::string image = b.WriteTo(dir, "card.img");
    const std::string saveDir = dir.File("saved");

    CommandResult r = Search({"--json", "--save", saveDir}, image);
    EXPECT_EQ(r.exitCode, 0) << r.err;
    std::vector<QJsonObject> records = Records(r);
    int saved = 0;
    for (const QJsonObject& o : records) {
        if (Str(o, "name") != longName) continue;
        ASSERT_TRUE(o["saved"].isString()) << r.err;
        const std::string path = Str(o, "saved");
        EXPECT_LE(path.size(), 4095u);
        EXPECT_LE(fs::path(path).filename().string().size(), 255u);
        EXPECT_EQ(fs::path(path).extension(), ".jpg");
        const bool isDeep = !Str(o, "folder").empty();
        EXPECT_EQ(ReadAll(path), isDeep ? deep : top) << path;
        ++saved;
    }
    EXPECT_EQ(saved, 2) << r.out;
    EXPECT_NE(r.err.find("深すぎる"), std::string::npos) << "the deep file's new place is told\n" << r.err;
}

TEST(CliSearchSave, UnusableSaveFolderIsToldBeforeSearching) {
    RangeCard card;
    std::ofstream(card.dir.File("plain")) << "x";
    for (const std::string& folder : {card.dir.File("plain"), card.dir.File("plain/below")}) {
        CommandResult r = Search({"--save", folder}, card.image);
        EXPECT_EQ(r.exitCode, 1) << folder << "\n" << r.err;
        EXPECT_NE(r.err.find("保存先フォルダを使用できません"), std::string::npos) << r.err;
        EXPECT_TRUE(r.out.empty()) << "nothing was to be searched";
        EXPECT_EQ(r.err.find("詳細検索"), std::string::npos) << "the search ran";
    }
}

// A card whose image ends inside the second of the three clusters of a
// deleted picture: the picture is listed, but its bytes are not all there.
TEST(CliSearchSave, FailedSavesAreToldPerFileAndExitOne) {
    TempDir dir("veld-cli");
    FatImageBuilder b(FatGeometry::Fat16(8192, 4));
    auto whole = MakeTestJpeg(64, 48);
    std::vector<uint8_t> cut(3 * b.ClusterSize() - 100, 0x5A);
    cut[0] = 0xFF;
    cut[1] = 0xD8;
    auto dcim = b.Root().AddDir("DCIM", 3);
    dcim.AddDeletedFile("WHOLE.JPG", 10, whole, "Whole.jpg");
    dcim.AddDeletedFile("CUT.JPG", 40, cut, "Cut.jpg");
    b.bytes().resize(size_t(b.ClusterOffset(41) + 100));
    const std::string image = b.WriteTo(dir, "card.img");
    const std::string saveDir = dir.File("saved");

    CommandResult r = Search({"--json", "--flat", "--save", saveDir}, image);
    EXPECT_EQ(r.exitCode, 1) << r.err;
    std::vector<QJsonObject> records = Records(r);
    const QJsonObject* cutRecord = Named(records, "Cut.jpg");
    ASSERT_NE(cutRecord, nullptr) << r.out;
    EXPECT_TRUE((*cutRecord)["saved"].isNull());
    EXPECT_FALSE(fs::exists(saveDir + "/Cut.jpg")) << "a partial copy was left";
    EXPECT_NE(r.err.find("保存できませんでした: " + saveDir + "/Cut.jpg: 読み込みエラー"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("失敗 1"), std::string::npos) << r.err;
    const QJsonObject* wholeRecord = Named(records, "Whole.jpg");
    ASSERT_NE(wholeRecord, nullptr);
    EXPECT_EQ(ReadAll(saveDir + "/Whole.jpg"), whole);

    // Every save fine: 0. A full disk (a file size limit stands in for it)
    // fails every file with the reason; a full output fails the listing.
    RangeCard card;
    EXPECT_EQ(Search({"--save", dir.File("fine")}, card.image).exitCode, 0);
    r = RunCommand({"/bin/sh", "-c", "ulimit -f 2 && exec \"$0\" search --save \"$1\" \"$2\"", VELD_CLI_PATH,
                    dir.File("full"), card.image});
    EXPECT_EQ(r.exitCode, 1) << r.err;
    EXPECT_NE(r.err.find("書き込みエラー"), std::string::npos) << r.err;
    for (const auto& entry : fs::recursive_directory_iterator(dir.File("full")))
        EXPECT_FALSE(entry.is_regular_file()) << entry.path() << " is a partial copy";
    r = RunCommand({"/bin/sh", "-c", "exec \"$0\" search \"$1\" > /dev/full", VELD_CLI_PATH, card.image});
    EXPECT_EQ(r.exitCode, 1) << r.err;
}

TEST(CliSearchSave, LinksInTheSaveFolderAndAFileNamedLikeAFolder) {
    TempDir dir("veld-cli");
    auto photo = MakeTestJpeg(160, 120);
    std::vector<uint8_t> note(1500, 'n'), dcimFile(700, 'd');
    FatImageBuilder b(FatGeometry::Fat16(8192, 4));
    auto root = b.Root();
    // The root first lists a deleted file called "DCIM", then the folder.
    root.AddDeletedFile("DCIM~1", 50, dcimFile, "DCIM");
    root.AddDeletedFile("NOTE.TXT", 60, note, "Note.txt");
    root.AddDir("DCIM", 3).AddDir("100TEST", 4).AddDeletedFile("HOLIDAY.JPG", 20, photo, "Holiday.jpg");
    const std::string image = b.WriteTo(dir, "card.img");

    const std::string saveDir = dir.File("saved"), outside = dir.File("outside");
    fs::create_directories(saveDir);
    fs::create_directories(outside);
    std::ofstream(outside + "/victim") << "keep";
    fs::create_symlink(outside + "/victim", saveDir + "/Note.txt");

    CommandResult r = Search({"--json", "--save", saveDir}, image);
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(ReadAll(outside + "/victim"), std::vector<uint8_t>({'k', 'e', 'e', 'p'})) << "written through a link";
    EXPECT_EQ(ReadAll(saveDir + "/Note (2).txt"), note);
    EXPECT_EQ(ReadAll(saveDir + "/DCIM"), dcimFile);
    EXPECT_EQ(ReadAll(saveDir + "/DCIM (2)/100TEST/Holiday.jpg"), photo) << r.err;
    const std::vector<QJsonObject> records = Records(r);
    const QJsonObject* holiday = Named(records, "Holiday.jpg");
    ASSERT_NE(holiday, nullptr);
    EXPECT_EQ(Str(*holiday, "saved"), saveDir + "/DCIM (2)/100TEST/Holiday.jpg");
}

TEST(CliSearchSave, ControlCharactersAreShownEscapedAndReplacedInSavedNames) {
    TempDir dir("veld-cli");
    auto photo = MakeTestJpeg(160, 120);
    FatImageBuilder b(FatGeometry::Fat16(8192, 4));
    b.Root().AddDir("EVIL~1", 3, "ev\x1b]0;title\ail").AddDeletedFile("RED~1.JPG", 20, photo, "\x1b[31mred\x7f.jpg");
    const std::string image = b.WriteTo(dir, "card.img");

    CommandResult text = Search({"--save", dir.File("saved")}, image);
    EXPECT_EQ(text.exitCode, 0) << text.err;
    EXPECT_EQ(text.out.find('\x1b'), std::string::npos) << "raw ESC on the terminal";
    EXPECT_EQ(text.out.find('\a'), std::string::npos);
    EXPECT_NE(text.out.find("\\x1B[31mred\\x7F.jpg"), std::string::npos) << text.out;
    EXPECT_NE(text.out.find("ev\\x1B]0;title\\x07il"), std::string::npos) << text.out;
    EXPECT_EQ(text.err.find('\x1b'), std::string::npos);
    EXPECT_EQ(ReadAll(dir.File("saved/ev_]0;title_il/_[31mred_.jpg")), photo);

    // JSON keeps the names as they are, escaped by its own rules.
    CommandResult json = Search({"--json"}, image);
    EXPECT_EQ(json.out.find('\x1b'), std::string::npos);
    EXPECT_NE(Named(Records(json), "\x1b[31mred\x7f.jpg"), nullptr) << json.out;
}

// 64 GiB of nothing (sparse) but photos at 1 MiB and 64 MiB: a raw search long
// enough to be watched and interrupted (1 GiB is searched in about a second). Standard error is a terminal (a
// pseudo-terminal), standard output a pipe: the first photo's record (its
// thumbnail, decoded beside the search, is taken back when the next file is
// found) must arrive while the search still runs, the progress line must come to show the rate
// and the time left without repainting more than about ten times a second,
// and Ctrl-C must end the search with status 130, each record written once.
TEST(CliSearchInterrupt, RecordsStreamAndTheTerminalLineIsPacedUntilCtrlC) {
    TempDir dir("veld-cli");
    const std::string image = dir.File("blank.img");
    {
        std::ofstream out(image, std::ios::binary);
        const std::vector<uint8_t> photo = MakeTestJpeg(160, 120);
        for (int mib : {1, 64}) {
            out.seekp(std::streamoff(mib) << 20);
            out.write(reinterpret_cast<const char*>(photo.data()), std::streamsize(photo.size()));
        }
    }
    fs::resize_file(image, uint64_t(64) << 30);

    const int terminal = ::posix_openpt(O_RDWR | O_NOCTTY);
    ASSERT_GE(terminal, 0);
    ASSERT_EQ(::grantpt(terminal), 0);
    ASSERT_EQ(::unlockpt(terminal), 0);
    const std::string terminalName = ::ptsname(terminal);
    int outPipe[2];
    ASSERT_EQ(::pipe(outPipe), 0);
    const auto started = std::chrono::steady_clock::now();
    pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        int err = ::open(terminalName.c_str(), O_RDWR | O_NOCTTY);
        ::dup2(err, 2);
        ::dup2(outPipe[1], 1);
        ::close(outPipe[0]);
        ::close(outPipe[1]);
        ::close(terminal);
        ::execl(VELD_CLI_PATH, VELD_CLI_PATH, "search", "--json", image.c_str(), static_cast<char*>(nullptr));
        ::_exit(127);
    }
    ::close(outPipe[1]);
    std::string out, err;
    // Reads what is there (up to 200 ms of waiting); false once both ends closed.
    auto pump = [&] {
        pollfd fds[2] = {{outPipe[0], POLLIN, 0}, {terminal, POLLIN, 0}};
        if (::poll(fds, 2, 200) <= 0) return true;
        char buffer[4096];
        bool open = false;
        for (int i = 0; i < 2; ++i) {
            if (!(fds[i].revents & (POLLIN | POLLHUP | POLLERR))) {
                open = open || fds[i].fd >= 0;
                continue;
            }
            ssize_t n = ::read(fds[i].fd, buffer, sizeof buffer);  // a closed terminal reads as an error
            if (n > 0) (i == 0 ? out : err).append(buffer, size_t(n));
            open = open || n > 0;
        }
        return open;
    };
    const auto deadline = started + std::chrono::seconds(120);
    while (out.find('\n') == std::string::npos && std::chrono::steady_clock::now() < deadline) pump();
    ASSERT_NE(out.find('\n'), std::string::npos) << err;
    int status = 0;
    EXPECT_EQ(::waitpid(pid, &status, WNOHANG), 0) << "the record came only after the search ended";
    while (err.find("残り") == std::string::npos && std::chrono::steady_clock::now() < deadline) pump();
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    const size_t paints = size_t(std::count(err.begin(), err.end(), '\r'));
    EXPECT_NE(err.find("/秒"), std::string::npos) << err;
    EXPECT_LE(paints, size_t(seconds * 10) + 8) << seconds << " s: " << err;
    ::kill(pid, SIGINT);
    while (pump()) {
    }
    ::close(outPipe[0]);
    ::close(terminal);
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFEXITED(status)) << "ended by a signal: " << err;
    EXPECT_EQ(WEXITSTATUS(status), 130) << err;
    EXPECT_NE(err.find("(キャンセル)"), std::string::npos) << err;
    CommandResult listing;
    listing.out = out;
    const std::vector<QJsonObject> records = Records(listing);
    ASSERT_EQ(records.size(), 2u) << out;
    for (const QJsonObject& record : records)
        EXPECT_EQ(record["size"].toInteger(), qint64(MakeTestJpeg(160, 120).size())) << out;
}

// --json without --save: a record written while the search ran and changed
// by its end (a state the overlap of files decides, a withdrawal) is written
// again, so that the last line of an index tells the truth; one that did not
// change, or was never written, is not.
TEST(CliSearchStream, ARecordTheSearchsEndChangesIsWrittenAgain) {
    auto parse = [](const std::string& line) { return QJsonDocument::fromJson(QByteArray::fromStdString(line)).object(); };
    DelFileInfo photo;
    photo.index = 7;
    photo.name = "IMG_0007.JPG";
    photo.state = StateComplete;
    photo.listed = 1;
    StreamedRecords written;
    EXPECT_EQ(parse(written.Line(photo))["state"].toInt(), StateComplete);
    EXPECT_FALSE(written.Revision(photo));
    DelFileInfo other = photo;
    other.index = 8;
    other.state = StateOverwritten;
    EXPECT_FALSE(written.Revision(other)) << "never written";

    photo.state = StateOverwritten;
    photo.folder = "DCIM\\100CANON";
    std::optional<std::string> revised = written.Revision(photo);
    ASSERT_TRUE(revised);
    QJsonObject o = parse(*revised);
    EXPECT_EQ(o["index"].toInt(), 7);
    EXPECT_TRUE(o["revised"].toBool());
    EXPECT_EQ(o["state"].toInt(), StateOverwritten);
    EXPECT_EQ(Str(o, "state_text"), "上書きされています");
    EXPECT_EQ(Str(o, "folder"), "DCIM\\100CANON");

    photo.listed = 0;
    revised = written.Revision(photo);
    ASSERT_TRUE(revised);
    o = parse(*revised);
    EXPECT_EQ(o["index"].toInt(), 7);
    EXPECT_TRUE(o["withdrawn"].toBool());
}

}  // namespace
}  // namespace veld::test
