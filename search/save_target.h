// The file a found file is saved into. It is created below a folder by
// descending one folder at a time from an open handle of that folder, so no
// symbolic link inside it is ever followed and nothing there is written over:
// every folder level is opened without following links, every file is created
// new (O_CREAT | O_EXCL | O_NOFOLLOW), and a name held by something else is
// numbered ("IMG_0001 (2).JPG", "DCIM (2)"). Names are shortened to the file
// system's limit; folders too deep for a path are left out from the bottom.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace veld {

// A file system error (an errno value) in words for the user.
std::string FileErrorText(int error);

// Makes the folder that files are saved into, with every missing level, and
// checks that files can be created in it. "" when it is usable, otherwise
// why not, in words.
std::string SaveFolderProblem(const std::string& folder);

// What happens when the file's name is taken already.
enum class TakenName {
    Number,   // the user's save folder: take the next free "name (n).ext"
    Replace,  // our own work folder: the old file goes (never a folder)
};

class SaveTarget {
public:
    // Creates root/folders.../name, root and folders as needed. The names
    // must be single components (SafeFileName, SafeFolderName). With
    // TakenName::Replace the root itself must be a folder of this user, not a
    // link. Check ok() and failure().
    static SaveTarget Create(const std::string& root, const std::vector<std::string>& folders,
                             const std::string& name, TakenName taken);

    SaveTarget(SaveTarget&& other) noexcept;
    SaveTarget& operator=(SaveTarget&& other) noexcept;
    SaveTarget(const SaveTarget&) = delete;
    SaveTarget& operator=(const SaveTarget&) = delete;
    // A target neither finished nor discarded is discarded.
    ~SaveTarget();

    bool ok() const { return fd_ >= 0; }
    // The created file's full path.
    const std::string& path() const { return path_; }
    // Why the file is not where its names would put it (a name shortened,
    // folders left out); "" otherwise. Numbering is not noted.
    const std::string& note() const { return note_; }
    // Why the file could not be created, or why a write failed.
    const std::string& failure() const { return failure_; }

    // Appends bytes; false (and failure()) when the write fails.
    bool Write(const void* data, size_t size);
    // Sets the file's modification time (seconds since 1970 UTC); false when
    // the file system refuses it, which leaves the file as it is.
    bool SetModifiedTime(int64_t unixSeconds);
    // Closes the file; false (and failure()) when closing reports an error,
    // and then the file is removed too.
    bool Finish();
    // Closes the file and removes it: nothing is left under its name.
    void Discard();

private:
    SaveTarget() = default;
    void Close();

    int dir_ = -1;       // the folder holding the file
    int fd_ = -1;        // the file
    std::string name_;   // its name in dir_
    std::string path_;
    std::string note_;
    std::string failure_;
};

}  // namespace veld
