// Drag-and-drop export into another process on a real X display: the test
// starts its own Xvfb, the grid side (the main window searching the test
// card) and a drop target, and moves the mouse and presses keys with xdotool.
// Skipped when Xvfb or xdotool is not installed.
#include "found_files_fixture.h"  // first: see there

#include <QDir>
#include <QElapsedTimer>
#include <QProcess>
#include <QStandardPaths>
#include <QTest>

#include <filesystem>
#include <map>
#include <set>

namespace veld::guitest {
namespace {

namespace fs = std::filesystem;

// A child process whose standard output is read line by line.
class Child {
public:
    ~Child() { stop(); }
    void start(const QString& program, const QStringList& arguments, const QProcessEnvironment& environment) {
        process_.setProcessEnvironment(environment);
        process_.start(program, arguments);
    }
    QProcess& process() { return process_; }
    // Waits (polling) until a line starting with the prefix is printed after
    // the line the last wait returned; returns it, or an empty string when
    // the time is over or the process ended without it.
    QString waitForLine(const QString& prefix, int milliseconds) {
        QElapsedTimer clock;
        clock.start();
        for (;;) {
            const bool last = clock.elapsed() > milliseconds || process_.state() == QProcess::NotRunning;
            readLines();
            for (qsizetype i = next_; i < lines_.size(); ++i) {
                if (!lines_[i].startsWith(prefix)) continue;
                next_ = i + 1;
                return lines_[i];
            }
            if (last) return {};
            process_.waitForReadyRead(50);
        }
    }
    QStringList lines() {
        readLines();
        return lines_;
    }
    QString errors() { return QString::fromLocal8Bit(process_.readAllStandardError()); }
    void stop() {
        if (process_.state() == QProcess::NotRunning) return;
        process_.terminate();
        if (!process_.waitForFinished(5000)) {
            process_.kill();
            process_.waitForFinished(5000);
        }
    }

private:
    void readLines() {
        pending_ += process_.readAllStandardOutput();
        for (qsizetype end; (end = pending_.indexOf('\n')) >= 0; pending_.remove(0, end + 1))
            lines_ << QString::fromUtf8(pending_.left(end));
    }
    QProcess process_;
    QByteArray pending_;
    QStringList lines_;
    qsizetype next_ = 0;
};

class DragToAnotherProcessTest : public MainFrameTest {
protected:
    void SetUp() override {
        xvfb_ = QStandardPaths::findExecutable(QStringLiteral("Xvfb"));
        xdotool_ = QStandardPaths::findExecutable(QStringLiteral("xdotool"));
        if (xvfb_.isEmpty() || xdotool_.isEmpty())
            GTEST_SKIP() << "Xvfb or xdotool is not installed (Debian packages xvfb and xdotool)";
        MainFrameTest::SetUp();
        // Xvfb chooses a free display number and writes it to its output.
        xserver_.start(xvfb_, {"-displayfd", "1", "-screen", "0", "1280x800x24", "-nolisten", "tcp"},
                       QProcessEnvironment::systemEnvironment());
        const QString display = xserver_.waitForLine(QString(), 20000).trimmed();
        ASSERT_FALSE(display.isEmpty()) << "Xvfb did not start: " << xserver_.errors().toStdString();
        environment_ = QProcessEnvironment::systemEnvironment();
        environment_.insert("DISPLAY", ":" + display);
        environment_.insert("QT_QPA_PLATFORM", "xcb");
        environment_.remove("WAYLAND_DISPLAY");
        // Settings, work folders and the instance lock of the children stay
        // in the test's folder.
        for (const char* name : {"home", "config", "tmp", "runtime"})
            ASSERT_TRUE(QDir().mkpath(QString::fromStdString(TempPath(name))));
        QFile::setPermissions(QString::fromStdString(TempPath("runtime")), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        environment_.insert("HOME", QString::fromStdString(TempPath("home")));
        environment_.insert("XDG_CONFIG_HOME", QString::fromStdString(TempPath("config")));
        environment_.insert("TMPDIR", QString::fromStdString(TempPath("tmp")));
        environment_.insert("XDG_RUNTIME_DIR", QString::fromStdString(TempPath("runtime")));
    }
    void TearDown() override {
        source_.stop();
        target_.stop();
        xserver_.stop();
        if (!xvfb_.isEmpty() && !xdotool_.isEmpty()) MainFrameTest::TearDown();
    }

    // Runs xdotool with the arguments on the test's display.
    void Xdotool(const QStringList& arguments) {
        QProcess tool;
        tool.setProcessEnvironment(environment_);
        tool.start(xdotool_, arguments);
        ASSERT_TRUE(tool.waitForFinished(20000));
        ASSERT_EQ(tool.exitCode(), 0) << arguments.join(' ').toStdString() << ": "
                                      << tool.readAllStandardError().toStdString();
    }
    static QStringList At(const QPoint& point) { return {"mousemove", QString::number(point.x()), QString::number(point.y())}; }
    // The mouse from one point to another in small steps, as a hand moves it.
    static QStringList Path(const QPoint& from, const QPoint& to) {
        QStringList arguments;
        for (int step = 1; step <= 12; ++step) {
            const QPoint at = from + (to - from) * step / 12;
            arguments << At(at) << "sleep" << "0.03";
        }
        return arguments;
    }
    std::string WorkFolder() const { return TempPath("tmp") + "/~VELDTMP"; }
    bool Empty(const std::string& folder) const {
        std::error_code error;
        return !fs::exists(folder, error) || fs::is_empty(folder, error);
    }

    QString xvfb_, xdotool_;
    Child xserver_, source_, target_;
    QProcessEnvironment environment_;
};

TEST_F(DragToAnotherProcessTest, TwoSameNamedPicturesReachTheTargetAndEscapeWritesNothing) {
    const std::string card = BuildCard();
    const std::string dropped = TempPath("dropped");
    ASSERT_TRUE(QDir().mkpath(QString::fromStdString(dropped)));

    source_.start(QStringLiteral(VELD_DRAG_SOURCE_PATH), {QString::fromStdString(card)}, environment_);
    const QString ready = source_.waitForLine("ready", 90000);
    ASSERT_FALSE(ready.isEmpty()) << source_.errors().toStdString();
    ASSERT_EQ(ready.section(' ', 1, 1), "0");
    const QString sourceWindow = ready.section(' ', 2, 2);
    // The two deleted B.JPG records: the same name, on the screen.
    std::map<QString, std::vector<QPoint>> cellsByName;
    for (const QString& line : source_.lines()) {
        if (!line.startsWith("cell ")) continue;
        const QStringList parts = line.split(' ');
        ASSERT_GE(parts.size(), 5);
        cellsByName[parts.mid(4).join(' ')].push_back(QPoint(parts[2].toInt(), parts[3].toInt()));
    }
    std::vector<QPoint> same;
    for (const auto& [name, cells] : cellsByName)
        if (cells.size() == 2) same = cells;
    ASSERT_EQ(same.size(), 2u) << source_.lines().join('\n').toStdString();

    target_.start(QStringLiteral(VELD_DROP_TARGET_PATH), {QString::fromStdString(dropped), "950", "100"}, environment_);
    const QStringList window = target_.waitForLine("window", 30000).split(' ');
    ASSERT_EQ(window.size(), 5) << target_.errors().toStdString();
    const QPoint over(window[1].toInt() + window[3].toInt() / 2, window[2].toInt() + window[4].toInt() / 2);

    // Select the two: a click, then a Ctrl-click. The main window has the
    // keyboard (there is no window manager to give it).
    Xdotool({"windowfocus", "--sync", sourceWindow});
    Xdotool(At(same[0]) + QStringList{"click", "1", "sleep", "0.2", "keydown", "ctrl"} + At(same[1]) +
            QStringList{"click", "1", "sleep", "0.2", "keyup", "ctrl", "sleep", "0.2"});

    // A drag over the target, cancelled with Escape: the target sees it come
    // and go, and nothing is written anywhere.
    Xdotool(QStringList{"mousedown", "1", "sleep", "0.1"} + Path(same[1], over));
    ASSERT_FALSE(target_.waitForLine("enter", 20000).isEmpty()) << "the drag did not reach the target";
    Xdotool({"key", "Escape"});
    ASSERT_FALSE(target_.waitForLine("leave", 20000).isEmpty()) << "Escape did not end the drag";
    Xdotool({"mouseup", "1"});
    EXPECT_TRUE(target_.waitForLine("dropped", 1000).isEmpty());
    EXPECT_TRUE(Empty(WorkFolder()));
    EXPECT_TRUE(Empty(dropped));

    // The same drag, dropped: the target copies two files.
    Xdotool(At(same[1]) + QStringList{"sleep", "0.2", "mousedown", "1", "sleep", "0.1"} + Path(same[1], over));
    ASSERT_FALSE(target_.waitForLine("enter", 20000).isEmpty());
    Xdotool({"mouseup", "1"});
    const QString done = target_.waitForLine("dropped", 30000);
    ASSERT_EQ(done.toStdString(), "dropped 2") << target_.errors().toStdString() << "\n"
                                                << source_.lines().join('\n').toStdString() << "\n"
                                                << source_.errors().toStdString();
    std::vector<std::vector<uint8_t>> received;
    for (const auto& entry : fs::directory_iterator(dropped)) received.push_back(ReadWholeFile(entry.path().string()));
    ASSERT_EQ(received.size(), 2u);

    // Byte for byte what veld-cli saves of the same card.
    const std::string saved = TempPath("saved");
    QProcess cli;
    cli.start(QStringLiteral(VELD_CLI_PATH),
              {"search", "--save", QString::fromStdString(saved), "--flat", QString::fromStdString(card)});
    ASSERT_TRUE(cli.waitForFinished(60000));
    ASSERT_EQ(cli.exitCode(), 0) << cli.readAllStandardError().toStdString();
    std::set<std::vector<uint8_t>> savedBytes;
    for (const auto& entry : fs::recursive_directory_iterator(saved))
        if (entry.is_regular_file()) savedBytes.insert(ReadWholeFile(entry.path().string()));
    EXPECT_NE(received[0], received[1]);
    EXPECT_TRUE(savedBytes.count(received[0]));
    EXPECT_TRUE(savedBytes.count(received[1]));
    EXPECT_EQ(std::set<std::vector<uint8_t>>(received.begin(), received.end()),
              std::set<std::vector<uint8_t>>({photoB_, photoOld_}));
}

}  // namespace
}  // namespace veld::guitest
