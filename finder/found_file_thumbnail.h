// Thumbnails of found JPEG files, read from the volume through the record's
// cluster list.
#pragma once

#include <cstdint>
#include <vector>

#include "base/dib24.h"
#include "finder/del_file_info.h"
#include "volume/disk_volume.h"

namespace veld {

// A 64 x 64 thumbnail of a found JPEG (read through its cluster list); null
// when it cannot be made. Sets the record's first-cluster class to 100.
DibPtr MakeFoundFileThumbnail(DiskVolume& volume, DelFileInfo& record);

// The two halves of MakeFoundFileThumbnail, so the decoding can run away from
// the thread that reads the volume. ReadFoundFileForThumbnail reads the bytes
// the thumbnail is made from (false when none can be read; it also sets the
// first-cluster class); DecodeFoundFileThumbnail makes the thumbnail of them
// and touches neither the volume nor the record.
bool ReadFoundFileForThumbnail(DiskVolume& volume, DelFileInfo& record, std::vector<uint8_t>& bytes);
DibPtr DecodeFoundFileThumbnail(const std::vector<uint8_t>& bytes);

}  // namespace veld
