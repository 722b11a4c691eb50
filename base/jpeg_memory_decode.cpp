// JPEG decoding from a memory buffer with libjpeg (the 6b interface, library
// version 62) into a 24-bit bottom-up bitmap.
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <jpeglib.h>
#include <new>

#include "base/jpeg_memory_decode.h"

static_assert(JPEG_LIB_VERSION == 62, "decoder written against the libjpeg 6b interface");

namespace veld {

namespace {

// Crafted headers can claim pictures of 65500 x 65500 and progressive files
// can hold thousands of scans; neither is a camera picture.
constexpr uint64_t kMaxPixels = 100ull * 1000 * 1000;
constexpr int kMaxScans = 500;
constexpr long kMaxLibraryMemory = 1024L * 1024 * 1024;

// The standard error manager followed by the jump back into the decoder.
struct ErrorManager {
    jpeg_error_mgr pub;
    std::jmp_buf jump;
};

void ErrorExit(j_common_ptr cinfo) {
    std::longjmp(reinterpret_cast<ErrorManager*>(cinfo->err)->jump, 1);
}

void SilentMessage(j_common_ptr) {}

// Ends decoding of files whose scans never stop coming.
void ScanLimit(j_common_ptr cinfo) {
    auto* d = reinterpret_cast<j_decompress_ptr>(cinfo);
    if (d->input_scan_number > kMaxScans) (*cinfo->err->error_exit)(cinfo);
}

// Source over the caller's bytes. When the data runs out (a damaged or
// truncated file) it supplies an end-of-image marker, so decoding ends with
// the part of the picture that was present.
struct MemorySource {
    jpeg_source_mgr pub;
    JOCTET endMarker[2];
};

void InitSource(j_decompress_ptr) {}
void TermSource(j_decompress_ptr) {}

boolean FillInputBuffer(j_decompress_ptr cinfo) {
    auto* src = reinterpret_cast<MemorySource*>(cinfo->src);
    src->endMarker[0] = 0xFF;
    src->endMarker[1] = JPEG_EOI;
    src->pub.next_input_byte = src->endMarker;
    src->pub.bytes_in_buffer = 2;
    return TRUE;
}

void SkipInputData(j_decompress_ptr cinfo, long count) {
    if (count <= 0) return;
    auto* src = reinterpret_cast<MemorySource*>(cinfo->src);
    if (size_t(count) > src->pub.bytes_in_buffer) {
        FillInputBuffer(cinfo);
        return;
    }
    src->pub.next_input_byte += count;
    src->pub.bytes_in_buffer -= size_t(count);
}

void UseMemorySource(j_decompress_ptr cinfo, const uint8_t* data, size_t size) {
    auto* src = static_cast<MemorySource*>((*cinfo->mem->alloc_small)(
        reinterpret_cast<j_common_ptr>(cinfo), JPOOL_PERMANENT, sizeof(MemorySource)));
    src->pub.init_source = InitSource;
    src->pub.fill_input_buffer = FillInputBuffer;
    src->pub.skip_input_data = SkipInputData;
    src->pub.resync_to_restart = jpeg_resync_to_restart;
    src->pub.term_source = TermSource;
    src->pub.next_input_byte = data;
    src->pub.bytes_in_buffer = size;
    cinfo->src = &src->pub;
}

// Allocation that reports failure instead of throwing: it runs between the
// jump target and the jump, where an exception must not pass.
Dib24* NewDib(int width, int height) noexcept {
    try {
        auto* dib = new Dib24;
        dib->width = width;
        dib->height = height;
        dib->bits.assign(size_t(dib->stride()) * size_t(height), 0);
        return dib;
    } catch (...) {
        return nullptr;
    }
}

// One scan line of output samples into bitmap row y (counted from the top):
// grey samples become equal blue, green and red; colour samples are turned
// from red, green, blue into blue, green, red. Four-component (CMYK) output
// keeps its first three samples; its colours are not corrected.
void StoreRow(Dib24* dib, int y, const JSAMPLE* samples, int width, int components, bool bgr) {
    uint8_t* out = dib->row(y);
    if (bgr) {  // the library already wrote blue, green, red
        std::memcpy(out, samples, size_t(width) * 3);
        return;
    }
    for (int x = 0; x < width; ++x) {
        const JSAMPLE* s = samples + size_t(x) * size_t(components);
        uint8_t* p = out + size_t(x) * 3;
        if (components >= 3) {
            p[0] = s[2];
            p[1] = s[1];
            p[2] = s[0];
        } else {
            p[0] = p[1] = p[2] = s[0];
        }
    }
}

// The decoding itself. No object with a destructor lives in this frame, so the
// jump from ErrorExit skips nothing; the bitmap is held by a volatile raw
// pointer and released or handed over on every path.
Dib24* Decode(const uint8_t* data, size_t size) {
    jpeg_decompress_struct cinfo;
    ErrorManager err;
    jpeg_progress_mgr progress;
    Dib24* volatile dib = nullptr;
    volatile bool rowsDone = false;

    cinfo.err = jpeg_std_error(&err.pub);
    err.pub.error_exit = ErrorExit;
    err.pub.output_message = SilentMessage;
    if (setjmp(err.jump)) {
        jpeg_destroy_decompress(&cinfo);
        if (rowsDone) return dib;  // only finishing failed: the picture is complete
        delete dib;
        return nullptr;
    }
    jpeg_create_decompress(&cinfo);
    cinfo.mem->max_memory_to_use = kMaxLibraryMemory;
    progress.progress_monitor = ScanLimit;
    cinfo.progress = &progress;
    UseMemorySource(&cinfo, data, size);

    jpeg_read_header(&cinfo, TRUE);
    if (cinfo.image_width == 0 || cinfo.image_height == 0 ||
        uint64_t(cinfo.image_width) * cinfo.image_height > kMaxPixels) {
        jpeg_destroy_decompress(&cinfo);
        return nullptr;
    }
#ifdef JCS_EXTENSIONS
    // Colour pictures are converted straight to blue, green, red by the
    // library's own (vectorised) colour conversion: the same pixels as
    // converting to RGB and swapping, at a fraction of the cost.
    const bool bgr = cinfo.jpeg_color_space == JCS_YCbCr || cinfo.jpeg_color_space == JCS_RGB;
    if (bgr) cinfo.out_color_space = JCS_EXT_BGR;
#else
    const bool bgr = false;
#endif
    jpeg_start_decompress(&cinfo);

    const int width = int(cinfo.output_width);
    const int components = cinfo.output_components;
    JSAMPARRAY line = (*cinfo.mem->alloc_sarray)(reinterpret_cast<j_common_ptr>(&cinfo), JPOOL_IMAGE,
                                                  JDIMENSION(width * components), 1);
    dib = NewDib(int(cinfo.image_width), int(cinfo.image_height));
    if (!dib || cinfo.output_width != cinfo.image_width || cinfo.output_height != cinfo.image_height) {
        jpeg_destroy_decompress(&cinfo);
        delete dib;
        return nullptr;
    }
    while (cinfo.output_scanline < cinfo.output_height) {
        const int y = int(cinfo.output_scanline);
        if (jpeg_read_scanlines(&cinfo, line, 1) != 1) break;  // a suspending source only; ours never does
        StoreRow(dib, y, line[0], width, components, bgr && components == 3);
    }
    rowsDone = true;
    jpeg_finish_decompress(&cinfo);
    jpeg_destroy_decompress(&cinfo);
    return dib;
}

}  // namespace

DibPtr JpegMemoryDecode(const uint8_t* data, size_t size) {
    if (!data || size == 0) return nullptr;
    Dib24* dib = Decode(data, size);
    if (!dib) return nullptr;
    try {
        return DibPtr(dib);  // on failure the shared pointer deletes dib itself
    } catch (...) {
        return nullptr;
    }
}

}  // namespace veld
