// A private-profile (INI) service with the semantics the settings rely on:
// sections and keys compared without regard to ASCII case, values as text,
// a missing key answered by the caller's default, the file read and written
// whole on every call (nothing cached), written atomically.
#pragma once

#include <optional>
#include <string>

namespace veld {

// The value of section/key in the file, or nullopt when the file, section or
// key is missing.
std::optional<std::string> IniRead(const std::string& path, const std::string& section, const std::string& key);
// Writes the value (creating file and section as needed); a null value
// removes the key. False when the file cannot be written.
bool IniWrite(const std::string& path, const std::string& section, const std::string& key,
              const std::optional<std::string>& value);

}  // namespace veld
