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
// A new bitmap, optionally filled with a 0xRRGGBB colour (-1: zeros).
DibPtr CreateDib24(int width, int height, int64_t fillColour = -1);

}  // namespace veld
