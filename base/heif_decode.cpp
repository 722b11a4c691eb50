#include "base/heif_decode.h"

#include <libheif/heif.h>

#include <memory>

#include "base/bitmap_utils.h"

namespace veld {
namespace {

// A larger picture is not decoded: a found file may claim any size.
constexpr int64_t kMaxPixels = 16384ll * 16384;
// libheif's own limit on a picture's width and height (grids included).
constexpr int kMaxEdge = 16384;

struct ContextFree {
    void operator()(heif_context* c) const { heif_context_free(c); }
};
struct HandleRelease {
    void operator()(heif_image_handle* h) const { heif_image_handle_release(h); }
};
struct ImageRelease {
    void operator()(heif_image* i) const { heif_image_release(i); }
};
using Handle = std::unique_ptr<heif_image_handle, HandleRelease>;

DibPtr DecodeHandle(heif_image_handle* handle) {
    const int64_t w = heif_image_handle_get_width(handle), h = heif_image_handle_get_height(handle);
    if (w <= 0 || h <= 0 || w * h > kMaxPixels) return nullptr;
    heif_image* raw = nullptr;
    if (heif_decode_image(handle, &raw, heif_colorspace_RGB, heif_chroma_interleaved_RGB, nullptr).code !=
        heif_error_Ok)
        return nullptr;
    std::unique_ptr<heif_image, ImageRelease> image(raw);
    int stride = 0;
    const uint8_t* plane = heif_image_get_plane_readonly(image.get(), heif_channel_interleaved, &stride);
    const int width = heif_image_get_width(image.get(), heif_channel_interleaved);
    const int height = heif_image_get_height(image.get(), heif_channel_interleaved);
    if (!plane || width <= 0 || height <= 0 || stride < 3 * width) return nullptr;
    DibPtr dib = CreateDib24(width, height);
    if (!dib) return nullptr;
    for (int y = 0; y < height; ++y) {
        const uint8_t* source = plane + size_t(y) * size_t(stride);
        uint8_t* target = dib->row(y);
        for (int x = 0; x < width; ++x) {
            target[3 * x] = source[3 * x + 2];
            target[3 * x + 1] = source[3 * x + 1];
            target[3 * x + 2] = source[3 * x];
        }
    }
    return dib;
}

}  // namespace

DibPtr HeifMemoryDecode(const uint8_t* data, size_t size, bool preferThumbnail, bool primaryAllowed) {
    if (!data || size < 16) return nullptr;
    std::unique_ptr<heif_context, ContextFree> context(heif_context_alloc());
    if (!context) return nullptr;
    heif_context_set_maximum_image_size_limit(context.get(), kMaxEdge);
    // Tiles are decoded on the calling thread: pictures are decoded side by
    // side already, and each thread of its own would hold a canvas.
    heif_context_set_max_decoding_threads(context.get(), 0);
    if (heif_context_read_from_memory_without_copy(context.get(), data, size, nullptr).code != heif_error_Ok)
        return nullptr;
    heif_image_handle* primaryRaw = nullptr;
    if (heif_context_get_primary_image_handle(context.get(), &primaryRaw).code != heif_error_Ok) return nullptr;
    Handle primary(primaryRaw);
    if ((preferThumbnail || !primaryAllowed) && heif_image_handle_get_number_of_thumbnails(primary.get()) > 0) {
        heif_item_id id = 0;
        heif_image_handle* thumbRaw = nullptr;
        if (heif_image_handle_get_list_of_thumbnail_IDs(primary.get(), &id, 1) == 1 &&
            heif_image_handle_get_thumbnail(primary.get(), id, &thumbRaw).code == heif_error_Ok) {
            Handle thumb(thumbRaw);
            if (DibPtr dib = DecodeHandle(thumb.get())) return dib;
        }
    }
    if (!primaryAllowed) return nullptr;
    return DecodeHandle(primary.get());
}

}  // namespace veld
