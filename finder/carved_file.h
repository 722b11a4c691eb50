#pragma once

#include <cstdint>
#include <string>

#include "finder/del_file_info.h"

namespace veld {

// The record of a file found by its signature alone: its generated name, the
// start cluster and the length the walk found, no attributes or times; state
// complete, and the consecutive clusters the walk examined as its cluster list.
DelFileInfo CarvedFileRecord(const std::string& name, uint32_t length, uint64_t start, uint32_t clusterCount,
                             ContentClass firstClass);
// The generated name of a carved file: "#", the start cluster in decimal with
// at least eight digits (zero-padded: cluster 1234 gives #00001234), ".", and
// the extension.
std::string CarvedFileName(uint64_t start, const char* extension);

}  // namespace veld
