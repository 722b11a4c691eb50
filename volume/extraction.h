#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "finder/del_file_info.h"
#include "volume/disk_volume.h"

namespace veld {

// A write that fails (a full disk) is a failure too, never a short success.
enum ExtractResult { ExtractOk = 0, ExtractCancelled = -1, ExtractCreateFailed = -3, ExtractWriteFailed = -4 };

// Progress of a long extraction: called at every 5 % step with the
// percentage; returns false to cancel. Only used for files of at least
// 1,024,000 bytes when the caller asks for progress.
using ExtractProgress = std::function<bool(int percent)>;

struct ExtractRequest {
    std::string targetFolder;  // "" : the work folder
    bool keepFolders = false;  // recreate the record's folder path below the target
    bool toMemory = false;
    std::string fileName;      // overrides the record's name (the caller avoids clashes)
    ExtractProgress progress;  // may be empty
};

struct ExtractOutcome {
    int result = ExtractOk;
    std::string path;             // the written file (file mode), "" on failure
    std::vector<uint8_t> memory;  // the bytes (memory mode)
    uint64_t byteCount = 0;
};

ExtractOutcome ExtractFoundFile(DiskVolume& volume, const DelFileInfo& record, const ExtractRequest& request);
// The path of the most recent successful extraction to a file.
const std::string& LastExtractedPath();
// The path a record would be written to (folders are not created).
std::string ExtractTargetPath(const DelFileInfo& record, const ExtractRequest& request);

}  // namespace veld
