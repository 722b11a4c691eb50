// Decoding of found pictures into 24-bit bitmaps, and the bitmap utilities.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "finder/del_file_info.h"
#include "tools/dib24.h"
#include "volume/disk_volume.h"

namespace veld {

// Decodes JPEG bytes with libjpeg from memory; null on any error. Truncated
// data decodes up to where it ends.
DibPtr JpegMemoryDecode(const uint8_t* data, size_t size);
// A 64 x 64 thumbnail of a found JPEG (read through its cluster list); null
// when it cannot be made. Sets the record's first-cluster class to 100.
DibPtr MakeFoundFileThumbnail(DiskVolume& volume, DelFileInfo& record);

struct FittedRect {
    int x = 0, y = 0, width = 0, height = 0;
    double zoomPercent = 0;
};
FittedRect FitRectangle(int sourceWidth, int sourceHeight, int targetWidth, int targetHeight);
// A new bitmap of exactly the target size; with keepAspect the picture is
// fitted and centred on white.
DibPtr ScaleBitmap(const Dib24& source, int width, int height, bool keepAspect);
// A new bitmap, optionally filled with a 0xRRGGBB colour (-1: zeros).
DibPtr CreateDib24(int width, int height, int64_t fillColour = -1);

enum FileNameKind { KindOther = 0, KindPicture = 1, KindMovie = 2, KindSound = 3, KindArchive = 4 };
int ClassifyFileName(const std::string& name);

}  // namespace veld
