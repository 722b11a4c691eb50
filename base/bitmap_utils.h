// Bitmap utilities: creating 24-bit bitmaps, fitting one rectangle into
// another and scaling a bitmap onto a new one.
#pragma once

#include <cstdint>

#include "base/dib24.h"

namespace veld {

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
// The bitmap turned and mirrored so that it stands upright, for an EXIF
// orientation (1 as stored, 2 mirrored left to right, 3 turned half round, 4
// mirrored top to bottom, 5 transposed, 6 stored turned a quarter to the
// left, 7 transversed, 8 stored turned a quarter to the right); other values
// give a copy as it is.
DibPtr OrientedDib(const Dib24& source, int orientation);
// A new bitmap, optionally filled with a 0xRRGGBB colour (-1: zeros).
DibPtr CreateDib24(int width, int height, int64_t fillColour = -1);

}  // namespace veld
