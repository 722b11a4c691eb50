// JPEG decoding from a memory buffer with libjpeg (the 6b interface, library
// version 62) into a 24-bit bottom-up bitmap.
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <jpeglib.h>
#include <jerror.h>
#include <new>

#include "base/jpeg_memory_decode.h"

#include "base/bitmap_utils.h"

static_assert(JPEG_LIB_VERSION == 62, "decoder written against the libjpeg 6b interface");

namespace veld {

namespace {

// libjpeg's own memory for one decode, at most.
constexpr long kMaxLibraryMemory = 1024L * 1024 * 1024;

// The standard error manager followed by the jump back into the decoder and
// what the decoder said about the data (where the caller asked).
struct ErrorManager {
    jpeg_error_mgr pub;
    std::jmp_buf jump;
    JpegDecodeReport* report = nullptr;
    const uint8_t* data = nullptr;
    size_t size = 0;
};

// The byte of the caller's data the decoder had reached (its whole size once
// the data ran out).
uint64_t InputPosition(j_common_ptr cinfo, const ErrorManager& err) {
    if (cinfo->is_decompressor == FALSE) return 0;
    const jpeg_source_mgr* src = reinterpret_cast<j_decompress_ptr>(cinfo)->src;
    if (!src || !err.data || src->next_input_byte < err.data || src->next_input_byte > err.data + err.size)
        return err.size;
    return uint64_t(src->next_input_byte - err.data);
}

void NoteCorrupt(j_common_ptr cinfo, ErrorManager& err) {
    if (!err.report || err.report->corrupt) return;
    err.report->corrupt = true;
    err.report->at = InputPosition(cinfo, err);
}

void ErrorExit(j_common_ptr cinfo) {
    auto& err = *reinterpret_cast<ErrorManager*>(cinfo->err);
    NoteCorrupt(cinfo, err);
    std::longjmp(err.jump, 1);
}

void SilentMessage(j_common_ptr) {}

// Warnings the decoder gives for data that is not what the headers promise:
// bytes where markers should be, codes no table holds, markers out of turn,
// data that ends before the picture does.
void NoteWarnings(j_common_ptr cinfo, int level) {
    if (level >= 0) return;  // trace messages
    auto& err = *reinterpret_cast<ErrorManager*>(cinfo->err);
    switch (cinfo->err->msg_code) {
    case JWRN_EXTRANEOUS_DATA:
    case JWRN_HIT_MARKER:
    case JWRN_HUFF_BAD_CODE:
    case JWRN_JPEG_EOF:
    case JWRN_MUST_RESYNC:
        NoteCorrupt(cinfo, err);
        break;
    default:
        break;
    }
}

void UseErrorManager(jpeg_decompress_struct* cinfo, ErrorManager* err, JpegDecodeReport* report, const uint8_t* data,
                     size_t size) {
    cinfo->err = jpeg_std_error(&err->pub);
    err->pub.error_exit = ErrorExit;
    err->pub.output_message = SilentMessage;
    err->pub.emit_message = NoteWarnings;
    err->report = report;
    err->data = data;
    err->size = size;
    if (report) *report = JpegDecodeReport{};
}

// Ends decoding of files whose scans never stop coming.
void ScanLimit(j_common_ptr cinfo) {
    auto* d = reinterpret_cast<j_decompress_ptr>(cinfo);
    if (d->input_scan_number > kJpegMaxScans) (*cinfo->err->error_exit)(cinfo);
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
    WARNMS(cinfo, JWRN_JPEG_EOF);
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

// One scan line of output samples as blue, green, red pixels: grey samples
// become equal blue, green and red; colour samples are turned from red,
// green, blue into blue, green, red. Four-component (CMYK) output keeps its
// first three samples; its colours are not corrected.
void StoreSamples(uint8_t* out, const JSAMPLE* samples, int width, int components, bool bgr) {
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

// Sets up decoding after the jump target is in place: memory and scan limits,
// the source, the header and the output colour space, then starts the
// decompressor. False (nothing started) for pictures without a size or
// larger than any camera makes. bgr receives whether the library writes blue,
// green, red itself. beforeStart may set the output scaling, with the header
// read.
template <typename BeforeStart = void (*)(jpeg_decompress_struct*)>
bool StartDecoding(jpeg_decompress_struct* cinfo, jpeg_progress_mgr* progress, const uint8_t* data, size_t size,
                   bool* bgr, BeforeStart beforeStart = [](jpeg_decompress_struct*) {}) {
    jpeg_create_decompress(cinfo);
    cinfo->mem->max_memory_to_use = kMaxLibraryMemory;
    progress->progress_monitor = ScanLimit;
    cinfo->progress = progress;
    UseMemorySource(cinfo, data, size);

    jpeg_read_header(cinfo, TRUE);
    if (cinfo->image_width == 0 || cinfo->image_height == 0 ||
        uint64_t(cinfo->image_width) * cinfo->image_height > kJpegMaxPixels)
        return false;
#ifdef JCS_EXTENSIONS
    // Colour pictures are converted straight to blue, green, red by the
    // library's own (vectorised) colour conversion: the same pixels as
    // converting to RGB and swapping, at a fraction of the cost.
    *bgr = cinfo->jpeg_color_space == JCS_YCbCr || cinfo->jpeg_color_space == JCS_RGB;
    if (*bgr) cinfo->out_color_space = JCS_EXT_BGR;
#else
    *bgr = false;
#endif
    beforeStart(cinfo);
    jpeg_start_decompress(cinfo);
    *bgr = *bgr && cinfo->output_components == 3;
    return true;
}

// The decoding itself. No object with a destructor lives in this frame, so the
// jump from ErrorExit skips nothing; the bitmap is held by a volatile raw
// pointer and released or handed over on every path.
Dib24* Decode(const uint8_t* data, size_t size, JpegDecodeReport* report) {
    jpeg_decompress_struct cinfo;
    ErrorManager err;
    jpeg_progress_mgr progress;
    Dib24* volatile dib = nullptr;
    volatile bool rowsDone = false;

    UseErrorManager(&cinfo, &err, report, data, size);
    if (setjmp(err.jump)) {
        jpeg_destroy_decompress(&cinfo);
        if (rowsDone) return dib;  // only finishing failed: the picture is complete
        delete dib;
        return nullptr;
    }
    bool bgr = false;
    if (!StartDecoding(&cinfo, &progress, data, size, &bgr)) {
        jpeg_destroy_decompress(&cinfo);
        return nullptr;
    }

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
        StoreSamples(dib->row(y), line[0], width, components, bgr);
    }
    rowsDone = true;
    jpeg_finish_decompress(&cinfo);
    jpeg_destroy_decompress(&cinfo);
    return dib;
}

// The largest reduction libjpeg can make while scaling the inverse DCT (a
// half, a quarter or an eighth: at an eighth only each block's mean is
// computed) that still leaves at least the pixels the target shows of a
// width x height picture.
int ScaleDenominator(int width, int height, const FittedRect& place) {
    for (int d : {8, 4, 2}) {
        if ((width + d - 1) / d >= place.width && (height + d - 1) / d >= place.height) return d;
    }
    return 1;
}

// Decodes the picture reduced by the DCT scaling into the target, taking the
// rows and columns the target samples (placed as a reduction of the full
// picture would be). Every row is decoded and the data is read on to its
// end-of-image marker, so the report covers all of it. Returns false where
// Decode gives no picture. Like Decode, nothing in this frame has a
// destructor.
bool DecodeScaled(const uint8_t* data, size_t size, Dib24* target, bool keepAspect, JpegDecodeReport* report) {
    jpeg_decompress_struct cinfo;
    ErrorManager err;
    jpeg_progress_mgr progress;
    volatile bool rowsDone = false;

    UseErrorManager(&cinfo, &err, report, data, size);
    if (setjmp(err.jump)) {
        jpeg_destroy_decompress(&cinfo);
        return rowsDone;
    }
    bool bgr = false;
    ScalePlan plan;
    auto chooseScale = [&](jpeg_decompress_struct* c) {
        plan = PlanScale(int(c->image_width), int(c->image_height), target->width, target->height, keepAspect);
        c->scale_num = 1;
        c->scale_denom = unsigned(ScaleDenominator(int(c->image_width), int(c->image_height), plan.place));
    };
    if (!StartDecoding(&cinfo, &progress, data, size, &bgr, chooseScale)) {
        jpeg_destroy_decompress(&cinfo);
        return false;
    }
    // The placement stays that of the full picture; rows and columns are
    // taken from the reduced one.
    plan.sourceWidth = int(cinfo.output_width);
    plan.sourceHeight = int(cinfo.output_height);

    const int width = int(cinfo.output_width);
    const int components = cinfo.output_components;
    const j_common_ptr common = reinterpret_cast<j_common_ptr>(&cinfo);
    JSAMPARRAY line = (*cinfo.mem->alloc_sarray)(common, JPOOL_IMAGE, JDIMENSION(width * components), 1);
    // Colour samples in blue, green, red order are used as they come.
    uint8_t* pixels = bgr ? nullptr
                          : static_cast<uint8_t*>((*cinfo.mem->alloc_large)(common, JPOOL_IMAGE, size_t(width) * 3));

    int y = plan.y0;
    while (cinfo.output_scanline < cinfo.output_height) {
        const int sourceRow = int(cinfo.output_scanline);
        if (jpeg_read_scanlines(&cinfo, line, 1) != 1) break;  // a suspending source only; ours never does
        if (y >= plan.y1 || plan.SourceRow(y) != sourceRow) continue;
        if (!bgr) StoreSamples(pixels, line[0], width, components, false);
        for (; y < plan.y1 && plan.SourceRow(y) == sourceRow; ++y) ScaleRow(plan, bgr ? line[0] : pixels, target->row(y));
    }
    rowsDone = true;
    jpeg_finish_decompress(&cinfo);
    jpeg_destroy_decompress(&cinfo);
    return true;
}

// Reads every scan's coefficients (no inverse DCT, no colour conversion) and
// then the markers up to the end of image. Like Decode, nothing in this frame
// has a destructor.
bool ReadWhole(const uint8_t* data, size_t size, JpegDecodeReport* report) {
    jpeg_decompress_struct cinfo;
    ErrorManager err;
    jpeg_progress_mgr progress;
    UseErrorManager(&cinfo, &err, report, data, size);
    if (setjmp(err.jump)) {
        jpeg_destroy_decompress(&cinfo);
        return false;
    }
    jpeg_create_decompress(&cinfo);
    cinfo.mem->max_memory_to_use = kMaxLibraryMemory;
    progress.progress_monitor = ScanLimit;
    cinfo.progress = &progress;
    UseMemorySource(&cinfo, data, size);
    jpeg_read_header(&cinfo, TRUE);
    if (cinfo.image_width == 0 || cinfo.image_height == 0 ||
        uint64_t(cinfo.image_width) * cinfo.image_height > kJpegMaxPixels) {
        jpeg_destroy_decompress(&cinfo);
        return false;
    }
    jpeg_read_coefficients(&cinfo);
    jpeg_finish_decompress(&cinfo);
    if (report) report->end = InputPosition(reinterpret_cast<j_common_ptr>(&cinfo), err);
    jpeg_destroy_decompress(&cinfo);
    return true;
}

}  // namespace

bool JpegDecodesWhole(const uint8_t* data, size_t size, JpegDecodeReport* report) {
    JpegDecodeReport local;
    JpegDecodeReport* r = report ? report : &local;
    *r = JpegDecodeReport{};
    if (!data || size == 0) return false;
    return ReadWhole(data, size, r) && !r->corrupt;
}

DibPtr JpegMemoryDecode(const uint8_t* data, size_t size, JpegDecodeReport* report) {
    if (report) *report = JpegDecodeReport{};
    if (!data || size == 0) return nullptr;
    Dib24* dib = Decode(data, size, report);
    if (!dib) return nullptr;
    try {
        return DibPtr(dib);  // on failure the shared pointer deletes dib itself
    } catch (...) {
        return nullptr;
    }
}

DibPtr JpegScaledDecode(const uint8_t* data, size_t size, int width, int height, bool keepAspect,
                        JpegDecodeReport* report) {
    if (report) *report = JpegDecodeReport{};
    if (!data || size == 0 || width <= 0 || height <= 0) return nullptr;
    DibPtr target = CreateDib24(width, height, keepAspect ? 0xFFFFFF : -1);
    if (!target || !DecodeScaled(data, size, target.get(), keepAspect, report)) return nullptr;
    return target;
}

}  // namespace veld
