// The veld executable's own switches: --help and --version answer on the
// terminal and exit, without a window and without a display.
#include <QProcess>
#include <QProcessEnvironment>
#include <gtest/gtest.h>

namespace {

struct VeldRun {
    int exitCode = -1;
    bool finished = false;
    QString out;
    QString err;
};

// Runs the built veld with no display at all.
VeldRun RunVeld(const QStringList& arguments) {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}) env.remove(QString::fromLatin1(name));
    QProcess process;
    process.setProcessEnvironment(env);
    process.start(QStringLiteral(VELD_GUI_PATH), arguments);
    VeldRun run;
    run.finished = process.waitForFinished(30000);
    if (!run.finished) {
        process.kill();
        process.waitForFinished();
    }
    run.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    run.out = QString::fromUtf8(process.readAllStandardOutput());
    run.err = QString::fromUtf8(process.readAllStandardError());
    return run;
}

TEST(VeldCommandLine, HelpPrintsUsageAndExitsWithoutADisplay) {
    for (const char* option : {"--help", "-h"}) {
        SCOPED_TRACE(option);
        VeldRun run = RunVeld({QString::fromLatin1(option)});
        ASSERT_TRUE(run.finished);
        EXPECT_EQ(run.exitCode, 0) << run.err.toStdString();
        EXPECT_TRUE(run.out.startsWith(QStringLiteral("使い方: veld"))) << run.out.toStdString();
        for (const char* named : {"--nosplash", "--help", "--version", "veld-cli"})
            EXPECT_TRUE(run.out.contains(QString::fromLatin1(named))) << named;
    }
}

TEST(VeldCommandLine, VersionPrintsTheVersionAndExitsWithoutADisplay) {
    VeldRun run = RunVeld({QStringLiteral("--version")});
    ASSERT_TRUE(run.finished);
    EXPECT_EQ(run.exitCode, 0) << run.err.toStdString();
    EXPECT_EQ(run.out, QStringLiteral("Veld V2.100\n"));
}

}  // namespace
