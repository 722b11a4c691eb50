// A small writer of one-line JSON objects for the command line's output.
#pragma once

#include <cstdint>
#include <string>

namespace veld {

class JsonObject {
public:
    JsonObject& Add(const std::string& key, const std::string& value);
    JsonObject& Add(const std::string& key, const char* value);
    JsonObject& Add(const std::string& key, int64_t value);
    JsonObject& Add(const std::string& key, uint64_t value);
    JsonObject& Add(const std::string& key, int value) { return Add(key, int64_t(value)); }
    JsonObject& Add(const std::string& key, uint32_t value) { return Add(key, uint64_t(value)); }
    JsonObject& Add(const std::string& key, bool value);
    JsonObject& AddNull(const std::string& key);
    JsonObject& AddRaw(const std::string& key, const std::string& json);
    std::string str() const { return "{" + body_ + "}"; }

private:
    void Key(const std::string& key);
    std::string body_;
};

// The text as a JSON string literal; bytes that are not valid UTF-8 become U+FFFD.
std::string JsonQuote(const std::string& text);

}  // namespace veld
