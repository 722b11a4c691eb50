// Entry point of the GUI tests: an offscreen QApplication (unless a display
// platform was chosen), the Qt platform services, the dialog font
// substitutions, and a temporary settings file instead of the user's.
#include <QApplication>
#include <gtest/gtest.h>

#include <filesystem>
#include <unistd.h>

#include "app/settings.h"
#include "app/ui/dialog_units.h"
#include "platform/qt/qt_platform_services.h"

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    veld::InstallQtPlatformServices();
    veld::InstallFontSubstitutions();
    const std::string ini =
        (std::filesystem::temp_directory_path() / ("veld-gui-test-" + std::to_string(::getpid()) + ".ini")).string();
    veld::SetSettingsFilePath(ini);
    ::testing::InitGoogleTest(&argc, argv);
    const int rc = RUN_ALL_TESTS();
    std::filesystem::remove(ini);
    return rc;
}
