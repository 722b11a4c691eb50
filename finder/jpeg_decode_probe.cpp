#include "finder/jpeg_decode_probe.h"

#include <csetjmp>
#include <cstdio>
#include <jpeglib.h>
#include <jerror.h>

#include "base/jpeg_memory_decode.h"

static_assert(JPEG_LIB_VERSION == 62, "probe written against the libjpeg 6b interface");

namespace veld {
namespace {

// libjpeg's own memory for one probe, at most.
constexpr long kMaxLibraryMemory = 256L * 1024 * 1024;

// The error manager, the source over the caller's bytes and what the probe
// found, in one place the jump cannot lose.
struct Probe {
    jpeg_error_mgr err;
    jpeg_source_mgr src;
    std::jmp_buf jump;
    const uint8_t* data = nullptr;
    size_t size = 0;
    bool ranOut = false;
    bool faulted = false;
    uint64_t faultAt = 0;
    JOCTET endMarker[2] = {0xFF, JPEG_EOI};
};

Probe& ProbeOf(j_common_ptr cinfo) { return *reinterpret_cast<Probe*>(cinfo->err); }

uint64_t Position(j_decompress_ptr cinfo, const Probe& p) {
    const JOCTET* at = cinfo->src ? cinfo->src->next_input_byte : nullptr;
    if (p.ranOut || !at || at < p.data || at > p.data + p.size) return p.size;
    return uint64_t(at - p.data);
}

void Fault(j_common_ptr cinfo) {
    Probe& p = ProbeOf(cinfo);
    if (p.faulted) return;
    p.faulted = true;
    p.faultAt = cinfo->is_decompressor ? Position(reinterpret_cast<j_decompress_ptr>(cinfo), p) : 0;
}

[[noreturn]] void ErrorExit(j_common_ptr cinfo) {
    // An error once the data ran out is the end of what was given.
    if (!ProbeOf(cinfo).ranOut) Fault(cinfo);
    std::longjmp(ProbeOf(cinfo).jump, 1);
}

void SilentMessage(j_common_ptr) {}

// The first warning of corrupt data ends the probe: nothing after it counts.
void Warning(j_common_ptr cinfo, int level) {
    if (level >= 0) return;  // trace messages
    Probe& p = ProbeOf(cinfo);
    if (p.ranOut) return;
    switch (cinfo->err->msg_code) {
    case JWRN_EXTRANEOUS_DATA:
    case JWRN_HIT_MARKER:
    case JWRN_HUFF_BAD_CODE:
    case JWRN_JPEG_EOF:
    case JWRN_MUST_RESYNC:
    case JWRN_NOT_SEQUENTIAL:
    case JWRN_BOGUS_PROGRESSION:
        Fault(cinfo);
        std::longjmp(p.jump, 1);
    default:
        break;
    }
}

void ScanLimit(j_common_ptr cinfo) {
    if (reinterpret_cast<j_decompress_ptr>(cinfo)->input_scan_number > kJpegMaxScans) (*cinfo->err->error_exit)(cinfo);
}

void InitSource(j_decompress_ptr) {}
void TermSource(j_decompress_ptr) {}

// The bytes given end: an end of image follows, so the decoder stops there.
boolean FillInputBuffer(j_decompress_ptr cinfo) {
    Probe& p = ProbeOf(reinterpret_cast<j_common_ptr>(cinfo));
    p.ranOut = true;
    cinfo->src->next_input_byte = p.endMarker;
    cinfo->src->bytes_in_buffer = 2;
    return TRUE;
}

void SkipInputData(j_decompress_ptr cinfo, long count) {
    if (count <= 0) return;
    if (size_t(count) > cinfo->src->bytes_in_buffer) {
        FillInputBuffer(cinfo);
        return;
    }
    cinfo->src->next_input_byte += count;
    cinfo->src->bytes_in_buffer -= size_t(count);
}

// Nothing in this frame has a destructor: the jump may leave it.
void Run(Probe& p, JpegDecodeProbe& out) {
    jpeg_decompress_struct cinfo;
    jpeg_progress_mgr progress;
    cinfo.err = jpeg_std_error(&p.err);
    p.err.error_exit = ErrorExit;
    p.err.output_message = SilentMessage;
    p.err.emit_message = Warning;
    if (setjmp(p.jump)) {
        jpeg_destroy_decompress(&cinfo);
        return;
    }
    jpeg_create_decompress(&cinfo);
    cinfo.mem->max_memory_to_use = kMaxLibraryMemory;
    progress.progress_monitor = ScanLimit;
    cinfo.progress = &progress;
    p.src.init_source = InitSource;
    p.src.fill_input_buffer = FillInputBuffer;
    p.src.skip_input_data = SkipInputData;
    p.src.resync_to_restart = jpeg_resync_to_restart;
    p.src.term_source = TermSource;
    p.src.next_input_byte = p.data;
    p.src.bytes_in_buffer = p.size;
    cinfo.src = &p.src;
    if (jpeg_read_header(&cinfo, TRUE) != JPEG_HEADER_OK ||
        uint64_t(cinfo.image_width) * cinfo.image_height > kJpegMaxPixels) {
        Fault(reinterpret_cast<j_common_ptr>(&cinfo));
        jpeg_destroy_decompress(&cinfo);
        return;
    }
    cinfo.scale_num = 1;
    cinfo.scale_denom = 8;
    cinfo.dct_method = JDCT_IFAST;
    cinfo.do_fancy_upsampling = FALSE;
    jpeg_start_decompress(&cinfo);
    const JDIMENSION width = cinfo.output_width * JDIMENSION(cinfo.output_components);
    JSAMPARRAY line = (*cinfo.mem->alloc_sarray)(reinterpret_cast<j_common_ptr>(&cinfo), JPOOL_IMAGE, width, 1);
    while (cinfo.output_scanline < cinfo.output_height && !p.ranOut) {
        if (jpeg_read_scanlines(&cinfo, line, 1) != 1) break;
        out.rows = cinfo.output_scanline * 8;
    }
    if (p.ranOut || cinfo.output_scanline < cinfo.output_height) {
        jpeg_destroy_decompress(&cinfo);
        return;
    }
    jpeg_finish_decompress(&cinfo);
    if (!p.ranOut && !p.faulted) {
        out.whole = true;
        out.end = Position(&cinfo, p);
    }
    jpeg_destroy_decompress(&cinfo);
}

}  // namespace

JpegDecodeProbe ProbeJpegDecode(const uint8_t* data, size_t size) {
    JpegDecodeProbe out;
    if (!data || size < 4) return out;
    Probe p;
    p.data = data;
    p.size = size;
    Run(p, out);
    out.goodUntil = p.faulted ? p.faultAt : size;
    return out;
}

}  // namespace veld
