// The veld executable: one instance per user (a second one hands its disk
// image to the first), the main window, the splash.
#include <QApplication>
#include <QDir>
#include <QIcon>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <initializer_list>
#include <string>

#include "base/version.h"
#include "platform/qt/qt_platform_services.h"
#include "platform/qt/udisks2_client.h"
#include "ui/data_files.h"
#include "ui/dialog_units.h"
#include "ui/main/instance_guard.h"
#include "ui/main/main_frame.h"
#include "ui/message_boxes.h"
#include "ui/search_controller.h"

namespace {

bool HasDisplay() {
    auto set = [](const char* name) {
        const char* value = std::getenv(name);
        return value && *value;
    };
    return set("DISPLAY") || set("WAYLAND_DISPLAY") || set("QT_QPA_PLATFORM");
}

std::string ExecutableFolder(const char* argv0) {
    std::error_code error;
    std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", error);
    if (error) self = std::filesystem::absolute(argv0, error);
    return self.parent_path().string();
}

void ExplainMissingDisplay(const char* argv0) {
    const std::string folder = ExecutableFolder(argv0);
    const std::string card = veld::DataFilePath(folder, veld::kDemoCardName);
    std::fprintf(stderr,
                 "veld: there is no display to open the window on (neither DISPLAY nor WAYLAND_DISPLAY is set).\n"
                 "Search the demo card image without a window:\n"
                 "    %s/veld-cli search %s\n"
                 "and restore what it finds into a folder:\n"
                 "    %s/veld-cli search --save restored %s\n"
                 "Or start the window on a virtual display:\n"
                 "    xvfb-run -a %s/veld\n",
                 folder.c_str(), card.c_str(), folder.c_str(), card.c_str(), folder.c_str());
}

bool Given(int argc, char** argv, std::initializer_list<const char*> names) {
    for (int i = 1; i < argc; ++i)
        for (const char* name : names)
            if (std::strcmp(argv[i], name) == 0) return true;
    return false;
}

void PrintUsage() {
    std::printf("使い方: veld [--nosplash] [Qt の標準オプション] [ディスクイメージ]\n"
                "       veld --help | --version\n"
                "\n"
                "デジタルカメラのメモリカードやそのディスクイメージから、削除された写真と動画を\n"
                "探して復元する Veld のウィンドウを開きます。\n"
                "\n"
                "ディスクイメージを指定すると、起動後すぐにそのイメージを検索します。\n"
                "\n"
                "  --nosplash     起動画面を表示しない\n"
                "  -h, --help     この説明を表示して終了する\n"
                "  -v, --version  バージョンを表示して終了する\n"
                "\n"
                "ウィンドウを使わずに検索と保存をするには veld-cli を使います (veld-cli --help)。\n");
}

bool SplashSwitchGiven(int argc, char** argv) { return Given(argc, argv, {"--nosplash", "-nosplash"}); }

// The disk image named on the command line before Qt has read it: the first
// argument that is neither an option nor the value of a Qt option.
const char* ImageArgument(int argc, char** argv) {
    static const char* const kWithValue[] = {"platform", "platformpluginpath", "platformtheme", "plugin", "style",
                                             "stylesheet", "session", "display", "geometry", "qwindowgeometry",
                                             "title", "qwindowtitle", "qwindowicon", "name"};
    for (int i = 1; i < argc; ++i) {
        const char* arg = argv[i];
        if (arg[0] != '-') return arg;
        const char* name = arg + (arg[1] == '-' ? 2 : 1);
        for (const char* option : kWithValue)
            if (std::strcmp(name, option) == 0) {
                ++i;
                break;
            }
    }
    return nullptr;
}

}  // namespace

int main(int argc, char** argv) {
    // Answered without a window, a display or the single-instance lock.
    if (Given(argc, argv, {"--help", "-h", "-help"})) {
        PrintUsage();
        return 0;
    }
    if (Given(argc, argv, {"--version", "-v", "-version"})) {
        std::printf("Veld %s\n", veld::kVersionText);
        return 0;
    }

    veld::InstanceGuard instance(QDir::tempPath());
    if (!instance.acquire()) {
        // A running instance: without an image, end at once without a window
        // or a message; with one, hand it to the running window.
        const char* image = ImageArgument(argc, argv);
        if (!image) return 0;
        QCoreApplication handOver(argc, argv);
        QString reason;
        if (veld::InstanceGuard::HandOver(QDir::tempPath(), QString::fromLocal8Bit(image), 10000, &reason)) return 0;
        std::fprintf(stderr, "veld: Veld is running, but the image could not be handed to it: %s\n",
                     reason.toLocal8Bit().constData());
        return 1;
    }

    if (!HasDisplay()) {
        ExplainMissingDisplay(argv[0]);
        return 2;
    }
    const bool splash = !SplashSwitchGiven(argc, argv);

    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Veld"));
    QApplication::setDesktopFileName(QStringLiteral("veld"));
    QApplication::setWindowIcon(QIcon::fromTheme(QStringLiteral("veld"), QIcon(QStringLiteral(":/ICON/veld.svg"))));
    QLocale::setDefault(QLocale(QLocale::Japanese, QLocale::Japan));
    QTranslator qtTexts;
    if (qtTexts.load(QStringLiteral("qtbase_ja"), QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        app.installTranslator(&qtTexts);
    veld::InstallQtPlatformServices();
    // A card reader this user may not open is asked of UDisks2 (polkit asks for the password).
    veld::InstallUDisks2DeviceService();
    veld::InstallFontSubstitutions();

    // The window's search outlives the window, which shows it.
    veld::SearchController controller;
    veld::MainFrame frame(controller);
    veld::InstallGuiMessageBoxSink(&frame);
    // "veld IMAGE" started while this window runs: the image comes here.
    instance.listen([&frame](const QString& image) { frame.OpenHandedImage(image); });
    frame.show();
    // Over the main window, which it repaints when it closes.
    if (splash) frame.ShowSplash();
    // A disk image to open (a file manager's "Open with"): the first argument
    // that is not an option; Qt has taken its own options out already.
    const QStringList arguments = QCoreApplication::arguments();
    for (qsizetype i = 1; i < arguments.size(); ++i) {
        if (arguments[i].startsWith(QLatin1Char('-'))) continue;
        frame.SearchImageAtStart(arguments[i], splash);
        break;
    }
    int rc = app.exec();
    return rc;
}
