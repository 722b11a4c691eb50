// Thumbnails of found JPEG files, read from the volume through the record's
// cluster list.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>

#include "base/dib24.h"
#include "finder/del_file_info.h"
#include "volume/disk_volume.h"

namespace veld {

// A 64 x 64 thumbnail of a found JPEG (read through its cluster list); null
// when it cannot be made. Sets the record's first-cluster class to 100.
DibPtr MakeFoundFileThumbnail(DiskVolume& volume, DelFileInfo& record);

// The two halves of it, so that the decoding can run on another thread: the
// bytes read for the thumbnail (the same reads, the same class mark), and the
// decoding of them. None when the record gets no thumbnail without decoding.
struct FoundFileBytes {
    std::unique_ptr<uint8_t[]> data;
    size_t size = 0;
};
std::optional<FoundFileBytes> ReadFoundFileForThumbnail(DiskVolume& volume, DelFileInfo& record);
DibPtr DecodeFoundFileThumbnail(const FoundFileBytes& bytes);
// The same at another size: within edge x edge pixels (enlarged grid cells).
DibPtr DecodeFoundFileThumbnail(const FoundFileBytes& bytes, int edge);

}  // namespace veld
