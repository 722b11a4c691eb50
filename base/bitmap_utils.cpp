// Bitmap utilities: creating 24-bit bitmaps, fitting one rectangle into
// another and scaling a bitmap onto a new one.
#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <limits>

#include "base/bitmap_utils.h"

namespace veld {

namespace {

// Larger bitmaps than this are never needed for previews or thumbnails.
constexpr uint64_t kMaxBitmapBytes = 1ull << 30;

// Truncation towards zero that stays defined for infinities and NaN.
int Truncate(double v) {
    if (!std::isfinite(v)) return 0;
    if (v >= double(std::numeric_limits<int>::max())) return std::numeric_limits<int>::max();
    if (v <= double(std::numeric_limits<int>::min())) return std::numeric_limits<int>::min();
    return int(v);
}

bool IsWellFormed(const Dib24& dib) {
    return dib.width > 0 && dib.height > 0 &&
           dib.bits.size() >= size_t(dib.stride()) * size_t(dib.height);
}

}  // namespace

DibPtr CreateDib24(int width, int height, int64_t fillColour) {
    height = height < 0 ? -height : height;  // a negative height only means top-down rows
    if (width <= 0 || height <= 0) return nullptr;
    const uint64_t stride = (uint64_t(width) * 3 + 3) / 4 * 4;
    if (stride * uint64_t(height) > kMaxBitmapBytes) return nullptr;
    try {
        auto dib = std::make_shared<Dib24>();
        dib->width = width;
        dib->height = height;
        dib->bits.assign(size_t(stride) * size_t(height), 0);
        if (fillColour != -1) {
            const uint8_t blue = uint8_t(fillColour), green = uint8_t(fillColour >> 8), red = uint8_t(fillColour >> 16);
            for (int y = 0; y < height; ++y) {
                uint8_t* p = dib->row(y);
                for (int x = 0; x < width; ++x, p += 3) {
                    p[0] = blue;
                    p[1] = green;
                    p[2] = red;
                }
            }
        }
        return dib;
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}

FittedRect FitRectangle(int sourceWidth, int sourceHeight, int targetWidth, int targetHeight) {
    const double sw = sourceWidth, sh = sourceHeight, tw = targetWidth, th = targetHeight;
    const double targetRatio = targetHeight == 0 ? 0.0 : tw / th;
    // A source without height has no shape either (the width test alone
    // would divide by zero).
    const double sourceRatio = (sourceWidth == 0 || sourceHeight == 0) ? 0.0 : sw / sh;
    FittedRect r;
    double scale;
    if (!(targetRatio > sourceRatio)) {
        // Fit to the width.
        scale = sw / tw;
        int fitted = Truncate(sh / scale);
        r.x = 0;
        r.y = (targetHeight - fitted) / 2;
        r.width = targetWidth;
        r.height = fitted;
    } else {
        // Fit to the height.
        scale = sh / th;
        int fitted = Truncate(sw / scale);
        r.x = (targetWidth - fitted) / 2;
        r.y = 0;
        r.width = fitted;
        r.height = targetHeight;
    }
    const double zoom = 1.0 / scale * 100.0;
    r.zoomPercent = std::isfinite(zoom) ? zoom : 0.0;
    return r;
}

ScalePlan PlanScale(int sourceWidth, int sourceHeight, int width, int height, bool keepAspect) {
    ScalePlan plan;
    plan.sourceWidth = sourceWidth;
    plan.sourceHeight = sourceHeight;
    if (width <= 0 || height <= 0 || sourceWidth <= 0 || sourceHeight <= 0) return plan;
    plan.place = FittedRect{0, 0, width, height, 0};
    if (keepAspect) plan.place = FitRectangle(sourceWidth, sourceHeight, width, height);
    const FittedRect& place = plan.place;
    if (place.width <= 0 || place.height <= 0) return plan;
    // Keep the stretched picture inside the target whatever the fit says.
    plan.x0 = std::max(place.x, 0);
    plan.y0 = std::max(place.y, 0);
    plan.x1 = int(std::min<int64_t>(int64_t(place.x) + place.width, width));
    plan.y1 = int(std::min<int64_t>(int64_t(place.y) + place.height, height));
    if (plan.x0 >= plan.x1 || plan.y0 >= plan.y1) plan.x0 = plan.y0 = plan.x1 = plan.y1 = 0;
    return plan;
}

void ScaleRow(const ScalePlan& plan, const uint8_t* sourceRow, uint8_t* targetRow) {
    // Rows and columns that do not fit are dropped (or repeated when
    // enlarging), no colours are mixed.
    for (int x = plan.x0; x < plan.x1; ++x) {
        const uint8_t* s = sourceRow + size_t(plan.SourceColumn(x)) * 3;
        uint8_t* d = targetRow + size_t(x) * 3;
        d[0] = s[0];
        d[1] = s[1];
        d[2] = s[2];
    }
}

DibPtr ScaleBitmap(const Dib24& source, int width, int height, bool keepAspect) {
    if (width <= 0 || height <= 0) return nullptr;
    DibPtr target = CreateDib24(width, height, keepAspect ? 0xFFFFFF : -1);
    if (!target || !IsWellFormed(source)) return target;
    const ScalePlan plan = PlanScale(source.width, source.height, width, height, keepAspect);
    for (int y = plan.y0; y < plan.y1; ++y) ScaleRow(plan, source.row(plan.SourceRow(y)), target->row(y));
    return target;
}

DibPtr OrientedDib(const Dib24& source, int orientation) {
    if (orientation < 2 || orientation > 8) return std::make_shared<Dib24>(source);
    const int w = source.width, h = source.height;
    const bool swap = orientation >= 5;
    DibPtr out = CreateDib24(swap ? h : w, swap ? w : h);
    if (!out) return nullptr;
    // For each pixel of the upright picture, the stored pixel it shows.
    for (int y = 0; y < out->height; ++y) {
        uint8_t* target = out->row(y);
        for (int x = 0; x < out->width; ++x) {
            int sx = x, sy = y;
            switch (orientation) {
            case 2: sx = w - 1 - x; break;
            case 3: sx = w - 1 - x; sy = h - 1 - y; break;
            case 4: sy = h - 1 - y; break;
            case 5: sx = y; sy = x; break;
            case 6: sx = y; sy = h - 1 - x; break;
            case 7: sx = w - 1 - y; sy = h - 1 - x; break;
            case 8: sx = w - 1 - y; sy = x; break;
            }
            const uint8_t* pixel = source.row(sy) + 3 * sx;
            target[3 * x] = pixel[0];
            target[3 * x + 1] = pixel[1];
            target[3 * x + 2] = pixel[2];
        }
    }
    return out;
}

}  // namespace veld
