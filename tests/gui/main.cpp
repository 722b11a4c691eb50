// Entry point of the GUI tests: an offscreen QApplication (unless a display
// platform was chosen), the Qt platform services, the dialog font
// substitutions, and a temporary settings file instead of the user's.
#include <QApplication>
#include <gtest/gtest.h>

#include <filesystem>
#include <unistd.h>

#include "base/settings.h"
#include "platform/platform_services.h"
#include "platform/qt/qt_platform_services.h"
#include "ui/dialog_units.h"

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    veld::InstallQtPlatformServices();
    veld::InstallFontSubstitutions();
    // Each test process has its own temporary folder (work folders, settings),
    // so tests running side by side never empty each other's work folder.
    const std::filesystem::path temp =
        std::filesystem::temp_directory_path() / ("veld-gui-test-" + std::to_string(::getpid()));
    std::filesystem::create_directories(temp);
    veld::PlatformServices services = veld::Platform();
    services.tempFolder = [folder = temp.string() + "/"] { return folder; };
    veld::InstallPlatformServices(services);
    veld::SetSettingsFilePath((temp / "Veld.ini").string());
    ::testing::InitGoogleTest(&argc, argv);
    const int rc = RUN_ALL_TESTS();
    std::error_code ignored;
    std::filesystem::remove_all(temp, ignored);
    return rc;
}
