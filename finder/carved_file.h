#pragma once

#include <cstdint>
#include <string>

#include "finder/del_file_info.h"

namespace veld {

// The record of a file found by its signature alone: a synthesized entry
// holding entryName (8 bytes), the first three characters of the generated
// name's extension, the start cluster and the length; state complete, and the
// consecutive clusters the walk examined as its cluster list.
DelFileInfo CarvedFileRecord(const char (&entryName)[8], const std::string& name, uint32_t length, uint32_t start,
                             uint32_t clusterCount, int32_t firstClass);

}  // namespace veld
