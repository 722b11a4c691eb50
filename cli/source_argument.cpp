#include <charconv>
#include <sys/stat.h>

#include "cli/commands.h"
#include "platform/removable_drives.h"

namespace veld {

SourceArgument ParseSource(const std::string& text) {
    SourceArgument source;
    bool letterForm = (text.size() == 2 || (text.size() == 3 && (text[2] == '\\' || text[2] == '/'))) &&
                      text[1] == ':' && DriveNumberOfLetter(text[0]) >= 0;
    if (letterForm)
        source.driveLetter = text[0];
    else
        source.path = text;
    return source;
}

bool ParsePartitionNumber(const std::string& text, int* partition) {
    int value = 0;
    const char* end = text.data() + text.size();
    auto [at, error] = std::from_chars(text.data(), end, value, 10);
    if (text.empty() || error != std::errc() || at != end || value < 1) return false;
    *partition = value;
    return true;
}

std::string OpenFailureText(const SourceArgument& source, const std::string& error, bool denied) {
    std::string what = source.path.empty() ? std::string(1, source.driveLetter) + ":" : source.path;
    if (source.path.empty() && DevicePathOfDriveLetter(source.driveLetter).empty())
        return what + " にリムーバブルドライブがありません (no removable drive has this letter)";
    struct stat st {};
    if (!source.path.empty() && ::stat(source.path.c_str(), &st) != 0) return what + ": ファイルがありません (no such file)";
    // The error names what the disk service (UDisks2) answered, when it was asked.
    if (denied)
        return what + ": アクセスが拒否されました。UDisks2 の認証でパスワードを入力するか、root で実行してください "
                      "(permission denied: authenticate through UDisks2, or run as root)" +
               (error.empty() ? std::string() : "\n" + error);
    return error.empty() ? what + ": 開けません" : error;
}

std::string OpenFailureText(const SourceArgument& source) {
    return OpenFailureText(source, DiskIO_LastOpenError(), DiskIO_LastOpenDenied());
}

}  // namespace veld
