// Extraction of a found file from the search volume on the interface thread,
// with the common progress dialog ("ファイル展開") for large files.
#pragma once

#include "finder/del_file_info.h"
#include "search/extraction.h"

class QWidget;

namespace veld {

// Files of at least this many bytes show the progress dialog.
constexpr uint32_t kExtractProgressBytes = 1024000;

// Runs ExtractFoundFile on the current search volume. With showProgress and a
// file of kExtractProgressBytes or more, the common progress dialog is open
// while the clusters are copied and its Cancel stops the copy. Without an
// open search volume the result is ExtractCreateFailed.
ExtractOutcome ExtractFoundFileWithProgress(QWidget* owner, const DelFileInfo& record, ExtractRequest request,
                                            bool showProgress);

}  // namespace veld
