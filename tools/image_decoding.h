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

// How ScaleBitmap fills its target (nearest neighbour, no colours mixed):
// the painted rows [y0, y1) and columns [x0, x1) of the target, and for each
// of them the source row and column it is copied from. The rest of the
// target keeps its fill. A decoder that produces only the sampled source rows
// paints the same pixels with it.
struct ScalePlan {
    int sourceWidth = 0, sourceHeight = 0;
    FittedRect place;
    int x0 = 0, y0 = 0, x1 = 0, y1 = 0;  // empty when nothing is painted
    int SourceRow(int y) const { return int(int64_t(y - place.y) * sourceHeight / place.height); }
    int SourceColumn(int x) const { return int(int64_t(x - place.x) * sourceWidth / place.width); }
};
ScalePlan PlanScale(int sourceWidth, int sourceHeight, int width, int height, bool keepAspect);
// Paints the planned columns of one target row from one source row (blue,
// green, red pixels, sourceWidth of them).
void ScaleRow(const ScalePlan& plan, const uint8_t* sourceRow, uint8_t* targetRow);

// The same bitmap as ScaleBitmap(*JpegMemoryDecode(data, size), width,
// height, keepAspect), and null in the same cases, but only the picture rows
// the reduction samples are decoded: the others are skipped after entropy
// decoding, without inverse DCT, upsampling or colour conversion.
DibPtr JpegScaledDecode(const uint8_t* data, size_t size, int width, int height, bool keepAspect);
// A new bitmap, optionally filled with a 0xRRGGBB colour (-1: zeros).
DibPtr CreateDib24(int width, int height, int64_t fillColour = -1);

enum FileNameKind { KindOther = 0, KindPicture = 1, KindMovie = 2, KindSound = 3, KindArchive = 4 };
int ClassifyFileName(const std::string& name);

}  // namespace veld
