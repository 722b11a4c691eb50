#include "ui/recent_images.h"

#include <algorithm>
#include <filesystem>

#include "base/settings.h"

namespace veld {
namespace {

constexpr char kSection[] = "Recent";

std::string KeyOf(int number) { return "Image" + std::to_string(number); }

void Store(const std::vector<std::string>& images) {
    for (int i = 0; i < kRecentImageCount; ++i)
        WriteIniString(kSection, KeyOf(i + 1), size_t(i) < images.size() ? images[size_t(i)].c_str() : nullptr);
}

}  // namespace

std::vector<std::string> RecentImages() {
    std::vector<std::string> images;
    for (int i = 1; i <= kRecentImageCount; ++i) {
        std::string path = ReadIniString(kSection, KeyOf(i), "");
        if (!path.empty() && std::find(images.begin(), images.end(), path) == images.end())
            images.push_back(std::move(path));
    }
    return images;
}

void RememberRecentImage(const std::string& path) {
    if (path.empty()) return;
    std::error_code ec;
    std::string absolute = std::filesystem::absolute(path, ec).lexically_normal().string();
    if (ec) absolute = path;
    std::vector<std::string> images = RecentImages();
    images.erase(std::remove(images.begin(), images.end(), absolute), images.end());
    images.insert(images.begin(), absolute);
    if (images.size() > size_t(kRecentImageCount)) images.resize(size_t(kRecentImageCount));
    Store(images);
}

void ForgetRecentImage(const std::string& path) {
    std::vector<std::string> images = RecentImages();
    images.erase(std::remove(images.begin(), images.end(), path), images.end());
    Store(images);
}

}  // namespace veld
