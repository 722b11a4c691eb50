#include "cli/terminal_text.h"

#include <cstdint>
#include <cstdio>

#include "search/saved_file_names.h"

namespace veld {

std::string TerminalText(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    char escaped[8];
    for (size_t at = 0; at < text.size();) {
        uint32_t cp = 0;
        size_t n = Utf8SequenceAt(text, at, &cp);
        if (n == 0) {
            std::snprintf(escaped, sizeof escaped, "\\x%02X", unsigned(uint8_t(text[at])));
            out += escaped;
            ++at;
            continue;
        }
        if (IsControlCharacter(cp)) {
            std::snprintf(escaped, sizeof escaped, cp < 0x80 ? "\\x%02X" : "\\u%04X", unsigned(cp));
            out += escaped;
        } else {
            out.append(text, at, n);
        }
        at += n;
    }
    return out;
}

}  // namespace veld
