// The system's reasons in the window's language. The engine words a failed
// open as "PATH: " and the C library's reason, which is English; the window
// shows the common reasons in Japanese.
#pragma once

#include <string>

#include <QString>

namespace veld {

// The text with the C library's wording of each common errno value replaced
// by its Japanese reason (the paths and everything else stay as they are).
QString WithJapaneseReasons(const std::string& text);

}  // namespace veld
