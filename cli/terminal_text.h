// Card texts (names, folders, camera models) shown on a terminal: control
// characters in them would be taken as terminal commands, so they are shown
// escaped instead.
#pragma once

#include <string>

namespace veld {

// The text with every control character shown as "\xHH" (C0 and DEL) or
// "\u0080".."\u009F" (C1), and every byte that is not UTF-8 as "\xHH".
std::string TerminalText(const std::string& text);

}  // namespace veld
