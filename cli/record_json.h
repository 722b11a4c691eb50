#pragma once

#include <optional>
#include <string>

#include "finder/del_file_info.h"

namespace veld {

// One found-file record as a one-line JSON object.
std::string FoundFileJson(const DelFileInfo& record, const std::optional<std::string>& savedPath);
// The list view's eleven columns, tab-separated: headings and one row. Cells
// show control characters escaped (TerminalText).
std::string FoundFileHeaderLine();
std::string FoundFileRowLine(const DelFileInfo& record);

}  // namespace veld
