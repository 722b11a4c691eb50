#include "cli/json_writer.h"

#include <cstdio>

namespace veld {

namespace {

// Length of the valid UTF-8 sequence at i, or 0.
size_t Utf8Length(const std::string& s, size_t i) {
    unsigned char c = static_cast<unsigned char>(s[i]);
    size_t n = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 0;
    if (n == 0 || i + n > s.size()) return 0;
    for (size_t k = 1; k < n; ++k)
        if ((static_cast<unsigned char>(s[i + k]) & 0xC0) != 0x80) return 0;
    return n;
}

}  // namespace

std::string JsonQuote(const std::string& text) {
    std::string out = "\"";
    for (size_t i = 0; i < text.size();) {
        unsigned char c = static_cast<unsigned char>(text[i]);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += char(c);
            ++i;
        } else if (c < 0x20) {
            char esc[8];
            std::snprintf(esc, sizeof esc, "\\u%04x", c);
            out += esc;
            ++i;
        } else if (size_t n = Utf8Length(text, i)) {
            out.append(text, i, n);
            i += n;
        } else {
            out += "\xEF\xBF\xBD";
            ++i;
        }
    }
    return out + "\"";
}

void JsonObject::Key(const std::string& key) {
    if (!body_.empty()) body_ += ",";
    body_ += JsonQuote(key) + ":";
}
JsonObject& JsonObject::Add(const std::string& key, const std::string& value) {
    Key(key);
    body_ += JsonQuote(value);
    return *this;
}
JsonObject& JsonObject::Add(const std::string& key, const char* value) { return Add(key, std::string(value)); }
JsonObject& JsonObject::Add(const std::string& key, int64_t value) {
    Key(key);
    body_ += std::to_string(value);
    return *this;
}
JsonObject& JsonObject::Add(const std::string& key, uint64_t value) {
    Key(key);
    body_ += std::to_string(value);
    return *this;
}
JsonObject& JsonObject::Add(const std::string& key, bool value) {
    Key(key);
    body_ += value ? "true" : "false";
    return *this;
}
JsonObject& JsonObject::AddNull(const std::string& key) {
    Key(key);
    body_ += "null";
    return *this;
}
JsonObject& JsonObject::AddRaw(const std::string& key, const std::string& json) {
    Key(key);
    body_ += json;
    return *this;
}

}  // namespace veld
