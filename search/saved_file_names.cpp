// Names of saved files and folders. Names on a card are whatever its directory
// entries hold: long names are UTF-8 by the time they get here, short names
// are raw bytes. A saved name must be one Linux name component without
// terminal control characters, and it must fit the target's name limit.
#include "search/saved_file_names.h"

namespace veld {
namespace {

// An extension longer than this is treated as part of the name.
constexpr size_t kMaxExtensionBytes = 32;

}  // namespace

size_t Utf8SequenceAt(const std::string& s, size_t at, uint32_t* codePoint) {
    auto byte = [&](size_t i) { return i < s.size() ? uint8_t(s[i]) : uint8_t(0); };
    auto cont = [&](size_t i, uint8_t lo = 0x80, uint8_t hi = 0xBF) { return byte(i) >= lo && byte(i) <= hi; };
    const uint8_t b0 = byte(at);
    if (b0 < 0x80) {
        *codePoint = b0;
        return 1;
    }
    size_t n = 0;
    if (b0 >= 0xC2 && b0 <= 0xDF) n = cont(at + 1) ? 2 : 0;
    else if (b0 == 0xE0) n = cont(at + 1, 0xA0) && cont(at + 2) ? 3 : 0;
    else if (b0 == 0xED) n = cont(at + 1, 0x80, 0x9F) && cont(at + 2) ? 3 : 0;
    else if (b0 >= 0xE1 && b0 <= 0xEF) n = cont(at + 1) && cont(at + 2) ? 3 : 0;
    else if (b0 == 0xF0) n = cont(at + 1, 0x90) && cont(at + 2) && cont(at + 3) ? 4 : 0;
    else if (b0 >= 0xF1 && b0 <= 0xF3) n = cont(at + 1) && cont(at + 2) && cont(at + 3) ? 4 : 0;
    else if (b0 == 0xF4) n = cont(at + 1, 0x80, 0x8F) && cont(at + 2) && cont(at + 3) ? 4 : 0;
    if (n == 0) return 0;
    uint32_t cp = b0 & (n == 2 ? 0x1F : n == 3 ? 0x0F : 0x07);
    for (size_t i = 1; i < n; ++i) cp = (cp << 6) | (byte(at + i) & 0x3F);
    *codePoint = cp;
    return n;
}

bool IsControlCharacter(uint32_t cp) {
    if (cp < 0x20 || cp == 0x7F || (cp >= 0x80 && cp <= 0x9F)) return true;
    // Bidirectional formatting (a right-to-left override shows "gpj.exe" as
    // "exe.jpg") and the line and paragraph separators.
    return cp == 0x061C || cp == 0x200E || cp == 0x200F || (cp >= 0x202A && cp <= 0x202E) ||
           (cp >= 0x2066 && cp <= 0x2069) || cp == 0x2028 || cp == 0x2029;
}

namespace {

// Cuts s to at most maxBytes without splitting a UTF-8 sequence.
std::string CutOnBoundary(const std::string& s, size_t maxBytes) {
    if (s.size() <= maxBytes) return s;
    size_t cut = maxBytes;
    while (cut > 0 && (uint8_t(s[cut]) & 0xC0) == 0x80) --cut;
    return s.substr(0, cut);
}

// Where the kept extension starts, or name.size() when none is kept.
size_t ExtensionStart(const std::string& name, size_t maxBytes, bool keepExtension) {
    if (!keepExtension) return name.size();
    size_t dot = name.find_last_of('.');
    if (dot == std::string::npos || dot == 0) return name.size();
    size_t length = name.size() - dot;
    if (length > kMaxExtensionBytes || length + kNumberRoom + 1 > maxBytes) return name.size();
    return dot;
}

}  // namespace

std::string SafeFileName(std::string name) {
    std::string out;
    out.reserve(name.size());
    for (size_t at = 0; at < name.size();) {
        uint32_t cp = 0;
        size_t n = Utf8SequenceAt(name, at, &cp);
        if (n == 0) {  // a stray byte: not part of any character
            out += '_';
            ++at;
            continue;
        }
        if (cp == '/' || IsControlCharacter(cp))
            out += '_';
        else
            out.append(name, at, n);
        at += n;
    }
    if (out.empty() || out == "." || out == "..") out = "_" + out;
    return out;
}

std::string SafeFolderName(std::string part) {
    while (!part.empty() && (part.back() == '.' || part.back() == ' ')) part.pop_back();
    if (part.empty()) return {};  // also "." and "..", which end in dots
    return SafeFileName(part);
}

std::string ShortenName(const std::string& name, size_t maxBytes, bool keepExtension) {
    if (name.size() <= maxBytes) return name;
    size_t extAt = ExtensionStart(name, maxBytes, keepExtension);
    std::string ext = name.substr(extAt);
    return CutOnBoundary(name.substr(0, extAt), maxBytes - ext.size()) + ext;
}

std::string NumberedName(const std::string& name, int n, size_t maxBytes, bool keepExtension) {
    if (n <= 1) return ShortenName(name, maxBytes, keepExtension);
    const std::string number = " (" + std::to_string(n) + ")";
    size_t extAt = ExtensionStart(name, maxBytes, keepExtension);
    std::string ext = name.substr(extAt);
    size_t room = maxBytes > number.size() + ext.size() ? maxBytes - number.size() - ext.size() : 0;
    return CutOnBoundary(name.substr(0, extAt), room) + number + ext;
}

}  // namespace veld
