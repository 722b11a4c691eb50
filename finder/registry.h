#pragma once

#include <string>

#include "finder/del_file_info.h"

namespace veld {

// Judges, claims, de-duplicates and lists one found file (see the file).
void RegisterFoundFile(DelFileInfo record);
void RegisterDeletedEntry(const DirEntry& entry, const std::string& longName, const std::string& path);
void RegisterDeletedFolder(const DirEntry& entry, const std::string& longName, const std::string& path);

}  // namespace veld
