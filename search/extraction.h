#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "finder/del_file_info.h"
#include "volume/disk_volume.h"

namespace veld {

// A copy that ends early is never a success: a read that fails or gives
// fewer bytes than the cluster holds is a read error, a write that fails (a
// full disk) a write error, and neither leaves a partial file behind.
enum ExtractResult {
    ExtractOk = 0,
    ExtractCancelled = -1,
    ExtractReadFailed = -2,
    ExtractCreateFailed = -3,
    ExtractWriteFailed = -4,
};
// "キャンセル", "読み込みエラー", "作成エラー", "書き込みエラー"; "" for 0.
std::string ExtractResultText(int result);

// Progress of a long extraction: called at every 5 % step with the
// percentage; returns false to cancel. Only used for files of at least
// 1,024,000 bytes when the caller asks for progress.
using ExtractProgress = std::function<bool(int percent)>;

// With a target folder the file is always created new below it: a name that
// is taken (also by a link or a folder) gets a number, "name (2).ext", and so
// does a folder name taken by something that is not a folder. In the work
// folder an older file of the same name is replaced.
struct ExtractRequest {
    std::string targetFolder;  // "" : the work folder
    bool keepFolders = false;  // recreate the record's folder path below the target
    bool toMemory = false;
    std::string fileName;      // overrides the record's name
    ExtractProgress progress;  // may be empty
};

struct ExtractOutcome {
    int result = ExtractOk;
    std::string path;             // the written file (file mode), "" on failure
    std::vector<uint8_t> memory;  // the bytes (memory mode); what was read, also after a failure
    uint64_t byteCount = 0;
    std::string reason;           // why it failed, in words; "" on success
    std::string note;             // why a saved file is not where its names put it, or ""
};

// The modification time a saved file gets, in seconds since 1970: the write
// time of its directory entry, else (a carved file) when the picture was
// taken or the clip recorded (local time, as the camera keeps it); 0 when
// neither is known.
int64_t SavedFileTime(const DelFileInfo& record);

ExtractOutcome ExtractFoundFile(DiskVolume& volume, const DelFileInfo& record, const ExtractRequest& request);
// The bytes saving the record writes at most: its size, bounded by the
// clusters its list names inside the volume.
uint64_t SaveByteCount(const DiskVolume& volume, const DelFileInfo& record);
// Saving more than this many times the card's bytes writes the same data
// over and over (files that claim the same clusters): the user is told
// before it starts.
constexpr uint64_t kSaveCardFactor = 2;
// The card's bytes: its clusters.
uint64_t CardByteCount(const DiskVolume& volume);
// The path a record would be written to when nothing is in the way and no
// name is too long (folders are not created).
std::string ExtractTargetPath(const DelFileInfo& record, const ExtractRequest& request);

}  // namespace veld
