// Extraction of a found file from a search's volume on the interface thread,
// with the common progress dialog ("ファイル展開") for large files.
#pragma once

#include "finder/del_file_info.h"
#include "search/extraction.h"

class QWidget;

namespace veld {

// Files of at least this many bytes show the progress dialog.
constexpr uint32_t kExtractProgressBytes = 1024000;

// Runs ExtractFoundFile on the volume the record was found on. With
// showProgress and a file of kExtractProgressBytes or more, the common
// progress dialog is open while the clusters are copied and its Cancel stops
// the copy. Without a volume (null) the result is ExtractCreateFailed.
ExtractOutcome ExtractFoundFileWithProgress(QWidget* owner, DiskVolume* volume, const DelFileInfo& record,
                                            ExtractRequest request, bool showProgress);

}  // namespace veld
