// Opening a file or folder with the desktop's default application (the
// shell's "open" action).
#pragma once

#include <QString>
#include <functional>

namespace veld {

// Opens a local file or folder; blanks (also the ideographic space) around
// the path are removed first. False when the desktop refused.
bool ShellOpen(const QString& path);

// Opens a web address (or a local path) with the desktop's browser.
bool ShellOpenUrl(const QString& url);

// Tests see the paths and addresses instead of starting applications; an empty function
// restores the desktop.
using ShellOpener = std::function<bool(const QString& path)>;
void SetShellOpenerForTest(ShellOpener opener);

}  // namespace veld
