// Extraction of a found file from the window's search on the interface
// thread, with the common progress dialog ("ファイル展開") for large files.
#pragma once

#include "finder/del_file_info.h"
#include "search/extraction.h"

class QWidget;

namespace veld {

class SearchController;

// Files of at least this many bytes show the progress dialog.
constexpr uint32_t kExtractProgressBytes = 1024000;

// Runs ExtractFoundFile on the volume of the controller's search. With
// showProgress and a file of kExtractProgressBytes or more, the common
// progress dialog (owned by owner) is open while the clusters are copied, its
// Cancel stops the copy, and the window's commands are greyed meanwhile.
// Without an open volume the result is ExtractCreateFailed.
ExtractOutcome ExtractFoundFileWithProgress(SearchController& controller, QWidget* owner, const DelFileInfo& record,
                                            ExtractRequest request, bool showProgress);

}  // namespace veld
