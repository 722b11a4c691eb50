#include "platform/ini_file.h"

#include <cstdio>
#include <fstream>
#include <sstream>
#include <unistd.h>
#include <vector>

namespace veld {
namespace {

std::string Trim(const std::string& s) {
    size_t b = s.find_first_not_of(" \t\r");
    if (b == std::string::npos) return {};
    size_t e = s.find_last_not_of(" \t\r");
    return s.substr(b, e - b + 1);
}

bool EqualNoCase(const std::string& a, const std::string& b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        char x = a[i], y = b[i];
        if (x >= 'a' && x <= 'z') x = char(x - 32);
        if (y >= 'a' && y <= 'z') y = char(y - 32);
        if (x != y) return false;
    }
    return true;
}

std::vector<std::string> ReadLines(const std::string& path) {
    std::vector<std::string> lines;
    std::ifstream in(path, std::ios::binary);
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        lines.push_back(line);
    }
    return lines;
}

bool IsSectionLine(const std::string& line, std::string* name) {
    std::string t = Trim(line);
    if (t.size() < 2 || t.front() != '[') return false;
    size_t close = t.find(']');
    if (close == std::string::npos) return false;
    *name = Trim(t.substr(1, close - 1));
    return true;
}

// Splits "key=value"; false for lines without an equals sign.
bool SplitKey(const std::string& line, std::string* key, std::string* value) {
    size_t eq = line.find('=');
    if (eq == std::string::npos) return false;
    *key = Trim(line.substr(0, eq));
    *value = Trim(line.substr(eq + 1));
    return true;
}

}  // namespace

std::optional<std::string> IniRead(const std::string& path, const std::string& section, const std::string& key) {
    bool inSection = false;
    for (const auto& line : ReadLines(path)) {
        std::string name, k, v;
        if (IsSectionLine(line, &name)) {
            inSection = EqualNoCase(name, section);
            continue;
        }
        if (inSection && SplitKey(line, &k, &v) && EqualNoCase(k, key)) {
            if (v.size() >= 2 && v.front() == '"' && v.back() == '"') v = v.substr(1, v.size() - 2);
            return v;
        }
    }
    return std::nullopt;
}

bool IniWrite(const std::string& path, const std::string& section, const std::string& key,
              const std::optional<std::string>& value) {
    std::vector<std::string> lines = ReadLines(path);
    std::vector<std::string> out;
    bool inSection = false, sectionSeen = false, done = false;
    size_t sectionEnd = std::string::npos;  // index in out after the section's last key line
    for (const auto& line : lines) {
        std::string name, k, v;
        if (IsSectionLine(line, &name)) {
            if (inSection && !done) sectionEnd = out.size();
            inSection = EqualNoCase(name, section);
            if (inSection) sectionSeen = true;
            out.push_back(line);
            if (inSection) sectionEnd = out.size();
            continue;
        }
        if (inSection && !done && SplitKey(line, &k, &v) && EqualNoCase(k, key)) {
            if (value) out.push_back(k + "=" + *value);
            done = true;
            continue;
        }
        out.push_back(line);
        if (inSection && !Trim(line).empty()) sectionEnd = out.size();
    }
    if (!done && value) {
        if (sectionSeen) {
            out.insert(out.begin() + std::ptrdiff_t(sectionEnd), key + "=" + *value);
        } else {
            out.push_back("[" + section + "]");
            out.push_back(key + "=" + *value);
        }
    }
    // Write beside the file and rename, so a crash never leaves half a file.
    std::string temp = path + ".tmp" + std::to_string(::getpid());
    {
        std::ofstream o(temp, std::ios::binary | std::ios::trunc);
        if (!o) return false;
        for (const auto& line : out) o << line << "\n";
        if (!o.good()) return false;
    }
    if (std::rename(temp.c_str(), path.c_str()) != 0) {
        std::remove(temp.c_str());
        return false;
    }
    return true;
}

}  // namespace veld
