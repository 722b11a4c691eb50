// Services the engine and the shell ask of the desktop platform: file type
// names and content types, the user's folders. The Qt adapter installs real
// answers (shared MIME database, standard paths); without it the fallbacks
// below apply.
#pragma once

#include <functional>
#include <optional>
#include <string>

namespace veld {

struct PlatformServices {
    // Type name of a file named "temp.<ext>" as the desktop shows it.
    std::function<std::optional<std::string>(const std::string& ext)> typeName;
    // Registered content type ("image/jpeg") of the extension.
    std::function<std::optional<std::string>(const std::string& ext)> contentType;
    std::function<std::string()> documentsFolder;  // "" when unknown; need not exist
    std::function<std::string()> homeFolder;       // the user's home folder
    std::function<std::string()> configFolder;     // where Veld.ini lives
    std::function<std::string()> tempFolder;       // with a trailing "/"
};

void InstallPlatformServices(PlatformServices services);
const PlatformServices& Platform();

}  // namespace veld
