// Installs the Qt answers to the platform services: type names and content
// types from the shared MIME database (in Japanese), the standard folders.
#pragma once

namespace veld {
// Needs a QCoreApplication (or QApplication) to exist.
void InstallQtPlatformServices();
}
