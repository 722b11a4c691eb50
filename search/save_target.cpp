// Creating the file a found file is saved into. Everything below the chosen
// folder is reached through *at calls relative to an open folder handle, one
// name at a time: a link placed in the folder (dangling, or to a folder
// elsewhere) is never followed, a name that holds something else is numbered,
// and no single call sees a path longer than one name.
#include "search/save_target.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <utility>

#include "search/saved_file_names.h"
#include "search/work_folders.h"

namespace veld {
namespace {

// Names are never shortened below this many bytes when a file system refuses
// a name as too long.
constexpr size_t kMinNameMax = 16;

std::string JoinPath(const std::string& folder, const std::string& name) {
    return folder == "/" ? "/" + name : folder + "/" + name;
}

// The name limit of the file system holding the folder.
size_t NameMaxOf(int dir) {
    long limit = ::fpathconf(dir, _PC_NAME_MAX);
    return limit > 0 ? std::min<size_t>(size_t(limit), kDefaultNameMax) : kDefaultNameMax;
}

// A smaller name limit after the file system refused `tried` as too long;
// false when names cannot get shorter.
bool ShrinkNameMax(size_t* nameMax, size_t tried) {
    size_t smaller = std::min(*nameMax, tried) * 3 / 4;
    if (*nameMax <= kMinNameMax) return false;
    *nameMax = std::max(smaller, kMinNameMax);
    return true;
}

class Fd {
public:
    explicit Fd(int fd = -1) : fd_(fd) {}
    ~Fd() { reset(); }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    int get() const { return fd_; }
    int release() { return std::exchange(fd_, -1); }
    void reset(int fd = -1) {
        if (fd_ >= 0) ::close(fd_);
        fd_ = fd;
    }

private:
    int fd_;
};

int OpenFolderHandle(int dir, const char* name, bool followLink) {
    int flags = O_PATH | O_DIRECTORY | O_CLOEXEC | (followLink ? 0 : O_NOFOLLOW);
    int fd;
    do fd = ::openat(dir, name, flags);
    while (fd < 0 && errno == EINTR);
    return fd;
}

// Opens the folder `name` inside dir, creating it when missing. While the name
// (or its numbered form) holds a file, a link or anything else that is not a
// real folder, the next number is tried. -1 with *error on failure.
int OpenSubFolder(int dir, const std::string& name, size_t* nameMax, std::string* chosen, int* error) {
    for (int n = 1; n <= kMaxNameNumber; ++n) {
        const std::string candidate = NumberedName(name, n, *nameMax, false);
        int err = 0;
        for (int attempt = 0; attempt < 2; ++attempt) {
            int fd = OpenFolderHandle(dir, candidate.c_str(), false);
            if (fd >= 0) {
                *chosen = candidate;
                return fd;
            }
            err = errno;
            if (err != ENOENT || attempt > 0) break;
            if (::mkdirat(dir, candidate.c_str(), 0777) != 0 && errno != EEXIST) {
                err = errno;
                break;
            }
        }
        if (err == ENOTDIR || err == ELOOP) continue;  // something else holds the name
        if (err == ENAMETOOLONG && ShrinkNameMax(nameMax, candidate.size())) {
            n = 0;  // start the numbering again with the shorter limit
            continue;
        }
        *error = err;
        return -1;
    }
    *error = EEXIST;
    return -1;
}

}  // namespace

std::string FileErrorText(int error) {
    switch (error) {
    case ENOSPC: return "ディスクの空き容量が足りません";
    case EDQUOT: return "ディスクの使用量の制限を超えました";
    case EACCES:
    case EPERM: return "アクセスが拒否されました";
    case EROFS: return "読み取り専用のディスクです";
    case ENAMETOOLONG: return "名前が長すぎます";
    case ENOTDIR: return "同じ名前のファイルがあり、フォルダを作れません";
    case ELOOP: return "シンボリックリンクです";
    case EEXIST: return "同じ名前のファイルが多すぎます";
    case ENOENT: return "フォルダがありません";
    case EIO: return "入出力エラー";
    case EMFILE:
    case ENFILE: return "開いているファイルが多すぎます";
    case EINVAL: return "フォルダのパスが正しくありません";
    default: return std::string("エラー ") + std::to_string(error) + " (" + std::strerror(error) + ")";
    }
}

std::string SaveFolderProblem(const std::string& folder) {
    if (folder.empty()) return "保存先フォルダが指定されていません";
    int error = 0;
    if (MakeFolderPath(folder, &error) != 0) return FileErrorText(error);
    // Creating a file needs the right to write into the folder and to enter it.
    if (::faccessat(AT_FDCWD, folder.c_str(), W_OK | X_OK, AT_EACCESS) != 0) return FileErrorText(errno);
    return {};
}

SaveTarget SaveTarget::Create(const std::string& rootPath, const std::vector<std::string>& folders,
                              const std::string& name, TakenName taken) {
    SaveTarget target;
    std::string root = rootPath;
    while (root.size() > 1 && root.back() == '/') root.pop_back();

    int error = 0;
    if (MakeFolderPath(root, &error) != 0) {
        target.failure_ = "フォルダ " + root + " を作成できません (" + FileErrorText(error) + ")";
        return target;
    }
    // The chosen folder may itself be a link (the user picked it); our own
    // work folder must be a real folder of this user.
    const bool ownFolder = taken == TakenName::Replace;
    Fd dir(OpenFolderHandle(AT_FDCWD, root.c_str(), !ownFolder));
    struct stat st {};
    if (dir.get() < 0 || ::fstat(dir.get(), &st) != 0 || (ownFolder && st.st_uid != ::geteuid())) {
        target.failure_ = "フォルダ " + root + " を使えません (" +
                          FileErrorText(dir.get() < 0 ? errno : EACCES) + ")";
        return target;
    }

    size_t nameMax = NameMaxOf(dir.get());
    if (root.size() + 1 + kMinNameMax + kNumberRoom > kSavePathMax) {
        target.failure_ = "保存先フォルダのパスが長すぎます";
        return target;
    }
    std::string fileName = ShortenName(name, nameMax, true);
    // The name must fit below the chosen folder at least, with room for a number.
    const size_t rootRoom = kSavePathMax - root.size() - 1 - kNumberRoom;
    if (fileName.size() > rootRoom) fileName = ShortenName(fileName, rootRoom, true);
    bool shortened = fileName != name;

    // Down the folders, as deep as the path stays within the limit.
    std::string folderPath = root;
    bool flattened = false;
    for (const std::string& part : folders) {
        std::string folder = ShortenName(part, nameMax, false);
        if (folderPath.size() + 1 + folder.size() + kNumberRoom + 1 + fileName.size() + kNumberRoom > kSavePathMax) {
            flattened = true;
            break;
        }
        shortened |= folder != part;
        std::string chosen;
        int fd = OpenSubFolder(dir.get(), folder, &nameMax, &chosen, &error);
        if (fd < 0) {
            target.failure_ = "フォルダ " + JoinPath(folderPath, folder) + " を作成できません (" + FileErrorText(error) + ")";
            return target;
        }
        dir.reset(fd);
        folderPath = JoinPath(folderPath, chosen);
    }

    // The file itself: always new, never through a link.
    for (int n = 1; n <= kMaxNameNumber; ++n) {
        const std::string candidate = NumberedName(fileName, n, nameMax, true);
        if (taken == TakenName::Replace) ::unlinkat(dir.get(), candidate.c_str(), 0);
        int fd;
        do fd = ::openat(dir.get(), candidate.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
        while (fd < 0 && errno == EINTR);
        if (fd >= 0) {
            target.dir_ = dir.release();
            target.fd_ = fd;
            target.name_ = candidate;
            target.path_ = JoinPath(folderPath, candidate);
            if (flattened)
                target.note_ = "フォルダの階層が深すぎるため " + folderPath + " に保存しました";
            else if (shortened)
                target.note_ = "名前が長すぎるため短くしました";
            return target;
        }
        error = errno;
        if (error == EEXIST && taken == TakenName::Number) continue;
        // Our work folder's file has a name the caller relies on: something
        // that is not a file in its place (a folder) is never removed, and
        // the file is not made under another name either.
        if (error == EEXIST && taken == TakenName::Replace) {
            target.failure_ = "同じ名前のフォルダ " + JoinPath(folderPath, candidate) + " があるため、ファイルを作成できません";
            return target;
        }
        if (error == ENAMETOOLONG && ShrinkNameMax(&nameMax, candidate.size())) {
            shortened = true;
            n = 0;
            continue;
        }
        break;
    }
    target.failure_ = "ファイルを作成できません (" + FileErrorText(error) + ")";
    return target;
}

SaveTarget::SaveTarget(SaveTarget&& other) noexcept { *this = std::move(other); }

SaveTarget& SaveTarget::operator=(SaveTarget&& other) noexcept {
    if (this != &other) {
        Discard();
        dir_ = std::exchange(other.dir_, -1);
        fd_ = std::exchange(other.fd_, -1);
        name_ = std::move(other.name_);
        path_ = std::move(other.path_);
        note_ = std::move(other.note_);
        failure_ = std::move(other.failure_);
    }
    return *this;
}

SaveTarget::~SaveTarget() { Discard(); }

bool SaveTarget::Write(const void* data, size_t size) {
    if (fd_ < 0) return false;
    const char* at = static_cast<const char*>(data);
    while (size > 0) {
        ssize_t done = ::write(fd_, at, size);
        if (done < 0 && errno == EINTR) continue;
        if (done <= 0) {
            failure_ = "書き込みエラー (" + FileErrorText(done < 0 ? errno : ENOSPC) + ")";
            return false;
        }
        at += done;
        size -= size_t(done);
    }
    return true;
}

bool SaveTarget::SetModifiedTime(int64_t unixSeconds) {
    if (fd_ < 0) return false;
    const struct timespec times[2] = {{0, UTIME_OMIT}, {time_t(unixSeconds), 0}};
    return ::futimens(fd_, times) == 0;
}

bool SaveTarget::Finish() {
    if (fd_ < 0) return false;
    int result = ::close(std::exchange(fd_, -1));
    int error = errno;
    // A network or quota file system may report a failed write only here.
    const bool failed = result != 0 && error != EINTR;
    if (failed) {
        failure_ = "書き込みエラー (" + FileErrorText(error) + ")";
        if (dir_ >= 0) ::unlinkat(dir_, name_.c_str(), 0);
    }
    Close();
    return !failed;
}

void SaveTarget::Discard() {
    if (fd_ >= 0) {
        ::close(std::exchange(fd_, -1));
        // Only the file this target created goes: it is named in its own folder.
        if (dir_ >= 0 && !name_.empty()) ::unlinkat(dir_, name_.c_str(), 0);
    }
    Close();
}

void SaveTarget::Close() {
    if (dir_ >= 0) ::close(std::exchange(dir_, -1));
}

}  // namespace veld
