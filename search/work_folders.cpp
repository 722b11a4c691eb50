// The two work folders below the system's temporary folder: ~VELDTMP for
// found files extracted for opening or dragging, ~VELDTMPETC for side files
// such as the help page. Both are emptied when the main window closes.
#include "search/work_folders.h"

#include <cerrno>
#include <filesystem>
#include <sys/stat.h>
#include <sys/types.h>

#include "base/settings.h"

namespace veld {
namespace {

// Cleanup never touches paths this short (a bare "/tmp" or "/" and the like).
constexpr size_t kMinCleanupPathLength = 9;

}  // namespace

std::string WorkFolderPath() { return TempFolderPath() + "~VELDTMP"; }

std::string EtcFolderPath() { return TempFolderPath() + "~VELDTMPETC"; }

int MakeFolderPath(const std::string& path, int* error) {
    int lastError = 0;
    auto fail = [&](int why) {
        if (error) *error = why;
        return -1;
    };
    if (path.empty() || path[0] != '/') return fail(EINVAL);
    // Walk the levels from the root down, creating each that is missing.
    size_t at = 1;
    while (at <= path.size()) {
        size_t slash = path.find('/', at);
        if (slash == std::string::npos) slash = path.size();
        if (slash > at) {
            std::string level = path.substr(0, slash);
            if (::mkdir(level.c_str(), 0777) != 0) {
                // An existing level, or one refused for access, is passed over;
                // but a file where a folder should be ends the walk.
                int err = errno;
                if (err != EEXIST && err != EACCES) return fail(err);
                if (err == EACCES) lastError = err;
                struct stat st {};
                if (::stat(level.c_str(), &st) == 0 && !S_ISDIR(st.st_mode)) return fail(ENOTDIR);
            }
        }
        at = slash + 1;
    }
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return fail(lastError ? lastError : errno);
    return S_ISDIR(st.st_mode) ? 0 : fail(ENOTDIR);
}

void DeleteFilesInFolder(const std::string& folder, bool enable) {
    if (!enable || folder.size() <= kMinCleanupPathLength) return;
    std::error_code ec;
    std::filesystem::directory_iterator it(folder, ec), end;
    for (; !ec && it != end; it.increment(ec)) {
        std::error_code typeError;
        // Plain files only: folders, links and devices stay.
        if (!it->is_regular_file(typeError) || it->is_symlink(typeError)) continue;
        std::error_code removeError;
        std::filesystem::remove(it->path(), removeError);  // a file in use elsewhere stays
    }
}

void ClearWorkFolders() {
    DeleteFilesInFolder(WorkFolderPath(), true);
    DeleteFilesInFolder(EtcFolderPath(), true);
}

}  // namespace veld
