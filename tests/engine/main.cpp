// Entry point of the engine tests: the Qt platform services (MIME database)
// need a core application; settings go to a temporary file, never the user's.
#include <QCoreApplication>
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <unistd.h>

#include "app/settings.h"
#include "platform/qt/qt_platform_services.h"

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    veld::InstallQtPlatformServices();
    std::string ini = (std::filesystem::temp_directory_path() / ("veld-test-" + std::to_string(::getpid()) + ".ini")).string();
    veld::SetSettingsFilePath(ini);
    ::testing::InitGoogleTest(&argc, argv);
    int rc = RUN_ALL_TESTS();
    std::filesystem::remove(ini);
    return rc;
}
