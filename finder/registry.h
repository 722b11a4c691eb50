#pragma once

#include <string>

#include "finder/del_file_info.h"
#include "finder/search_session.h"

namespace veld {

// Judges, claims, de-duplicates and lists one found file in the session (see
// the file); the decided state is left in session.lastRegistrationState.
void RegisterFoundFile(SearchSession& session, DelFileInfo record);
void RegisterDeletedEntry(SearchSession& session, const DirEntry& entry, const std::string& longName,
                          const std::string& path);
void RegisterDeletedFolder(SearchSession& session, const DirEntry& entry, const std::string& longName,
                           const std::string& path);

}  // namespace veld
