#include "platform/platform_services.h"

#include <cstdlib>
#include <filesystem>
#include <mutex>

namespace veld {
namespace {

std::string HomeFolder() {
    const char* home = std::getenv("HOME");
    return home && *home ? home : "/tmp";
}

PlatformServices Fallbacks() {
    PlatformServices s;
    s.typeName = [](const std::string&) { return std::optional<std::string>(); };
    s.contentType = [](const std::string&) { return std::optional<std::string>(); };
    s.documentsFolder = [] { return HomeFolder() + "/Documents"; };
    s.homeFolder = [] { return HomeFolder(); };
    s.configFolder = [] { return HomeFolder() + "/.config"; };
    s.tempFolder = [] {
        std::error_code ec;
        std::string t = std::filesystem::temp_directory_path(ec).string();
        if (ec || t.empty()) return std::string("/tmp/");
        return t.back() == '/' ? t : t + "/";
    };
    return s;
}

PlatformServices& Current() {
    static PlatformServices services = Fallbacks();
    return services;
}

}  // namespace

void InstallPlatformServices(PlatformServices services) {
    PlatformServices fallbacks = Fallbacks();
    if (!services.typeName) services.typeName = fallbacks.typeName;
    if (!services.contentType) services.contentType = fallbacks.contentType;
    if (!services.documentsFolder) services.documentsFolder = fallbacks.documentsFolder;
    if (!services.homeFolder) services.homeFolder = fallbacks.homeFolder;
    if (!services.configFolder) services.configFolder = fallbacks.configFolder;
    if (!services.tempFolder) services.tempFolder = fallbacks.tempFolder;
    Current() = std::move(services);
}

const PlatformServices& Platform() { return Current(); }

}  // namespace veld
