#include "base/format_text.h"

#include <cstdio>
#include <fstream>

#include "platform/platform_services.h"

namespace veld {

std::string FormatSizeText(uint64_t v) {
    char text[64];
    if (v > 1073741824ull)
        std::snprintf(text, sizeof text, "%.1lfGﾊﾞｲﾄ", double(v) / 1073741824.0);
    else if (v > 1048576ull)
        std::snprintf(text, sizeof text, "%.1lfMﾊﾞｲﾄ", double(v) / 1048576.0);
    else if (v > 1024)
        std::snprintf(text, sizeof text, "%.1lfKﾊﾞｲﾄ", double(v) / 1024.0);
    else
        std::snprintf(text, sizeof text, "%dﾊﾞｲﾄ", int(v));
    return text;
}

std::string TypeNameOfExtension(const std::string& ext) {
    if (auto name = Platform().typeName(ext); name && !name->empty()) return CutUtf8(*name, 100);
    // RAW types some desktops' databases lack.
    static const struct {
        const char* ext;
        const char* name;
    } kRawNames[] = {{"3FR", "Hasselblad RAW 画像"}, {"ERF", "Epson RAW 画像"}, {"SRW", "Samsung RAW 画像"},
                     {"NRW", "Nikon RAW 画像"},      {"SR2", "Sony RAW 画像"},  {"CR3", "Canon RAW 画像"}};
    std::string key = ext;
    TrimBlanks(key);
    UpperAscii(key);
    for (const auto& row : kRawNames)
        if (key == row.ext) return row.name;
    return ext + "ﾌｧｲﾙ";
}

std::string ContentTypeOfExtension(const std::string& ext) {
    // The whole extension first ("HEIC", "M2TS"), then its first three
    // characters as the desktop's older table keys them ("JPEG" as "JPE").
    std::string whole = ext;
    TrimBlanks(whole);
    std::string key = ext.substr(0, 3);
    TrimBlanks(key);
    for (const std::string* k : {&whole, &key}) {
        if (k->empty()) continue;
        if (auto type = Platform().contentType(*k); type && !type->empty()) return CutUtf8(*type, 100);
    }
    return "Unknown";
}

void TrimBlanks(std::string& text) {
    auto blankAt = [&](size_t i) -> size_t {  // length of the blank at i, 0 if none
        if (text[i] == ' ' || text[i] == '\t') return 1;
        if (text.compare(i, 3, "\xE3\x80\x80") == 0) return 3;
        return 0;
    };
    size_t start = 0;
    while (start < text.size()) {
        size_t n = blankAt(start);
        if (!n) break;
        start += n;
    }
    text.erase(0, start);
    for (;;) {
        if (!text.empty() && (text.back() == ' ' || text.back() == '\t')) {
            text.pop_back();
        } else if (text.size() >= 3 && text.compare(text.size() - 3, 3, "\xE3\x80\x80") == 0) {
            text.resize(text.size() - 3);
        } else {
            break;
        }
    }
}

void UpperAscii(std::string& text) {
    // In UTF-8 every byte of a multi-byte character is 0x80 or above, so
    // only plain ASCII letters can change.
    for (char& c : text)
        if (c >= 'a' && c <= 'z') c = char(c - 32);
}

int CompareNoCase(const std::string& a, const std::string& b) {
    std::string x = a, y = b;
    if (!a.empty() && !b.empty()) {
        UpperAscii(x);
        UpperAscii(y);
    }
    int r = x.compare(y);  // std::string compares as unsigned characters
    return r < 0 ? -1 : (r > 0 ? 1 : 0);
}

std::optional<size_t> FindNoCase(const std::string& text, const std::string& pattern) {
    if (text.empty() || pattern.empty()) return std::nullopt;
    std::string t = text, p = pattern;
    UpperAscii(t);
    UpperAscii(p);
    size_t at = t.find(p);
    if (at == std::string::npos) return std::nullopt;
    return at;
}

void SplitPath(const std::string& path, std::string* folder, std::string* file) {
    size_t at = path.find_last_of("/\\");
    std::string f, n;
    if (at != std::string::npos) {
        f = path.substr(0, at);
        n = path.substr(at + 1);
    }
    if (folder) *folder = f;
    if (file) *file = n;
}

int FileExists(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return in.good() ? 1 : 0;
}

std::string CutUtf8(const std::string& text, size_t maxBytes) {
    if (text.size() <= maxBytes) return text;
    size_t n = maxBytes;
    // Step back over continuation bytes so a character is never split.
    while (n > 0 && (static_cast<unsigned char>(text[n]) & 0xC0) == 0x80) --n;
    return text.substr(0, n);
}

}  // namespace veld
