#include "base/settings.h"

#include <cstdlib>
#include <filesystem>
#include <mutex>

#include "platform/ini_file.h"
#include "platform/platform_services.h"

namespace veld {
namespace {

constexpr size_t kMaxText = 255;  // names and values fit 256-byte buffers
const char kSentinel[] = "GET_ERROR";

std::mutex gPathLock;
std::string gOverridePath;

std::string Resolve(const std::string& file) {
    if (file.empty() || file == "Veld.ini") return SettingsFilePath();
    if (file.find('/') == std::string::npos) {
        std::string folder = Platform().configFolder();
        return folder + "/" + file;
    }
    return file;
}

std::string Cut(const std::string& s) { return s.size() > kMaxText ? s.substr(0, kMaxText) : s; }

}  // namespace

std::string SettingsFilePath() {
    {
        std::lock_guard<std::mutex> guard(gPathLock);
        if (!gOverridePath.empty()) return gOverridePath;
    }
    return Platform().configFolder() + "/Veld.ini";
}

void SetSettingsFilePath(const std::string& path) {
    std::lock_guard<std::mutex> guard(gPathLock);
    gOverridePath = path;
}

int ReadIniInt(const std::string& section, const std::string& key, int defaultValue, const std::string& file) {
    auto value = IniRead(Resolve(file), Cut(section), Cut(key));
    if (!value || value->empty()) return defaultValue;
    return std::atoi(Cut(*value).c_str());
}

std::string ReadIniString(const std::string& section, const std::string& key, const std::string& defaultValue,
                          const std::string& file) {
    auto value = IniRead(Resolve(file), Cut(section), Cut(key));
    std::string text = value ? Cut(*value) : std::string(kSentinel);
    if (text == kSentinel) return defaultValue;
    return text;
}

bool WriteIniInt(const std::string& section, const std::string& key, int value, const std::string& file) {
    return WriteIniString(section, key, std::to_string(value).c_str(), file);
}

bool WriteIniString(const std::string& section, const std::string& key, const char* value, const std::string& file) {
    std::string path = Resolve(file);
    std::error_code ec;
    std::filesystem::create_directories(std::filesystem::path(path).parent_path(), ec);
    std::optional<std::string> text;
    if (value) text = Cut(value);
    return IniWrite(path, Cut(section), Cut(key), text);
}

std::string TempFolderPath() {
    std::string t = Platform().tempFolder();
    if (t.empty()) return "/tmp/";
    return t.back() == '/' ? t : t + "/";
}

std::string UserDocumentsFolder() {
    std::error_code ec;
    const std::string documents = Platform().documentsFolder();
    // A home without its documents folder gets one (inside an existing home
    // only: a missing home is no place to make folders in).
    if (!documents.empty() && !std::filesystem::is_directory(documents, ec) &&
        std::filesystem::is_directory(std::filesystem::path(documents).parent_path(), ec))
        std::filesystem::create_directory(documents, ec);
    for (const std::string& folder : {documents, Platform().homeFolder()})
        if (!folder.empty() && std::filesystem::is_directory(folder, ec)) return folder;
    return "";
}

int SaveWindowRect(const std::string& name, const ScreenRect& w, int screenWidth, int screenHeight) {
    if (w.left < 0 || w.top < 0 || w.right < 0 || w.bottom < 0) return 0;
    if (w.left > screenWidth - 50 || w.top > screenHeight - 50) return 0;
    WriteIniInt("WindowPos", name + "-L", w.left);
    WriteIniInt("WindowPos", name + "-T", w.top);
    WriteIniInt("WindowPos", name + "-B", w.bottom);
    WriteIniInt("WindowPos", name + "-R", w.right);
    return 1;
}

}  // namespace veld
