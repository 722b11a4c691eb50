// Entry point of the engine tests: the Qt platform services (MIME database)
// need a core application; settings go to a temporary file, never the user's.
#include <QCoreApplication>
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <unistd.h>

#include "base/settings.h"
#include "platform/platform_services.h"
#include "platform/qt/qt_platform_services.h"

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    veld::InstallQtPlatformServices();
    // Each test process has its own temporary folder (work folders, settings),
    // so tests running side by side never empty each other's work folder.
    const std::filesystem::path temp =
        std::filesystem::temp_directory_path() / ("veld-test-" + std::to_string(::getpid()));
    std::filesystem::create_directories(temp);
    veld::PlatformServices services = veld::Platform();
    services.tempFolder = [folder = temp.string() + "/"] { return folder; };
    veld::InstallPlatformServices(services);
    veld::SetSettingsFilePath((temp / "Veld.ini").string());
    ::testing::InitGoogleTest(&argc, argv);
    int rc = RUN_ALL_TESTS();
    std::error_code ignored;
    std::filesystem::remove_all(temp, ignored);
    return rc;
}
