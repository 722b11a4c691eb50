// Thumbnails of found JPEG files, read from the volume through the record's
// cluster list.
#pragma once

#include "base/dib24.h"
#include "finder/del_file_info.h"
#include "volume/disk_volume.h"

namespace veld {

// A 64 x 64 thumbnail of a found JPEG (read through its cluster list); null
// when it cannot be made. Sets the record's first-cluster class to 100.
DibPtr MakeFoundFileThumbnail(DiskVolume& volume, DelFileInfo& record);

}  // namespace veld
