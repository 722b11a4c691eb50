#pragma once

#include <string>

namespace veld {

// <temp>/~VELDTMP: found files extracted for opening or dragging.
std::string WorkFolderPath();
// <temp>/~VELDTMPETC: side files such as the help page.
std::string EtcFolderPath();
// Creates every missing level of an absolute path; -1 when it is not
// absolute or a level cannot be created. With error, *error receives why
// (an errno value) on failure.
int MakeFolderPath(const std::string& path, int* error = nullptr);
// Deletes the plain files directly inside the folder (not sub-folders).
void DeleteFilesInFolder(const std::string& folder, bool enable);
void ClearWorkFolders();

}  // namespace veld
