// The disk images searched last, newest first, for the File menu: kept in
// the settings file as [Recent] Image1 .. Image8.
#pragma once

#include <string>
#include <vector>

namespace veld {

constexpr int kRecentImageCount = 8;

// The remembered images, newest first (absolute paths).
std::vector<std::string> RecentImages();
// Puts an image first (once; the oldest beyond the count goes).
void RememberRecentImage(const std::string& path);
// Takes an image off the list (one that no longer exists).
void ForgetRecentImage(const std::string& path);

}  // namespace veld
