#pragma once

#include <string>

#include "finder/del_file_info.h"

namespace veld {

// Judges, claims, de-duplicates and lists one found file (see the file).
void RegisterFoundFile(DelFileInfo record);
void RegisterDeletedEntry(const DirEntry& entry, const std::string& longName, const std::string& path);
void RegisterDeletedFolder(const DirEntry& entry, const std::string& longName, const std::string& path);
// The state code the most recent RegisterFoundFile decided (also for records
// it released), for the trace and the tests.
int LastRegistrationState();

}  // namespace veld
