#include "base/clip_frame_decode.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/imgutils.h>
#include <libswscale/swscale.h>
}

#include <algorithm>
#include <chrono>
#include <cstring>
#include <memory>
#include <mutex>

#include "base/bitmap_utils.h"

namespace veld {
namespace {

constexpr int kIoBufferSize = 64 * 1024;
constexpr int kMaxPackets = 2000;  // read before giving up on a picture
// Packets handed to the decoder before giving up: a clip whose key frames
// are lost would otherwise have every frame after them decoded in vain.
constexpr int kMaxDecodedPackets = 250;
// However the clip is made, a decode ends after this long: a guard far above
// what the bounds in packets let a clip cost, so that a slow machine still
// gets its frame.
constexpr std::chrono::milliseconds kDecodeTime{15000};
constexpr int kRowAlign = 64;
constexpr int64_t kMaxPixels = 8192ll * 8192;
constexpr int64_t kProbeBytes = 4 << 20;

// The file as the parts give it; holes read as zeros.
struct PartsFile {
    const std::vector<FilePart>* parts;
    uint64_t size;
    uint64_t position = 0;
};

// When a decode stops: its time is spent or its caller gave up. Asked by the
// loop between packets and by FFmpeg inside its own reads.
struct DecodeStop {
    std::chrono::steady_clock::time_point deadline;
    const DecodeCancelled* cancelled;
    bool Now() const {
        return std::chrono::steady_clock::now() > deadline || (cancelled && *cancelled && (*cancelled)());
    }
};

int Interrupted(void* opaque) { return static_cast<const DecodeStop*>(opaque)->Now() ? 1 : 0; }

int ReadParts(void* opaque, uint8_t* buffer, int want) {
    auto* file = static_cast<PartsFile*>(opaque);
    if (file->position >= file->size) return AVERROR_EOF;
    const uint64_t n = std::min<uint64_t>(uint64_t(want), file->size - file->position);
    std::memset(buffer, 0, size_t(n));
    for (const FilePart& part : *file->parts) {
        const uint64_t from = std::max(part.offset, file->position);
        const uint64_t to = std::min(part.offset + part.size, file->position + n);
        if (from < to) std::memcpy(buffer + (from - file->position), part.data + (from - part.offset), size_t(to - from));
    }
    file->position += n;
    return int(n);
}

int64_t SeekParts(void* opaque, int64_t offset, int whence) {
    auto* file = static_cast<PartsFile*>(opaque);
    whence &= ~AVSEEK_FORCE;
    if (whence == AVSEEK_SIZE) return int64_t(file->size);
    int64_t target = offset;
    if (whence == SEEK_CUR) target = int64_t(file->position) + offset;
    else if (whence == SEEK_END) target = int64_t(file->size) + offset;
    else if (whence != SEEK_SET) return -1;
    if (target < 0) return -1;
    file->position = uint64_t(target);
    return target;
}

struct FormatClose {
    void operator()(AVFormatContext* c) const { avformat_close_input(&c); }
};
struct IoFree {
    void operator()(AVIOContext* io) const {
        if (io) av_freep(&io->buffer);
        avio_context_free(&io);
    }
};
struct CodecFree {
    void operator()(AVCodecContext* c) const { avcodec_free_context(&c); }
};
struct FrameFree {
    void operator()(AVFrame* f) const { av_frame_free(&f); }
};
struct PacketFree {
    void operator()(AVPacket* p) const { av_packet_free(&p); }
};
struct ScaleFree {
    void operator()(SwsContext* s) const { sws_freeContext(s); }
};

// The scaler's vector code writes whole blocks of pixels, past the last
// pixel of a row whose width is not a multiple of its block: it writes into
// a frame of FFmpeg's own padded rows, and the bitmap gets a copy of each row.
DibPtr FrameToDib(const AVFrame* frame) {
    const int w = frame->width, h = frame->height;
    if (w <= 0 || h <= 0 || int64_t(w) * h > kMaxPixels) return nullptr;
    std::unique_ptr<SwsContext, ScaleFree> scale(sws_getContext(w, h, AVPixelFormat(frame->format), w, h,
                                                                AV_PIX_FMT_BGR24, SWS_BILINEAR, nullptr, nullptr,
                                                                nullptr));
    if (!scale) return nullptr;
    std::unique_ptr<AVFrame, FrameFree> bgr(av_frame_alloc());
    if (!bgr) return nullptr;
    bgr->format = AV_PIX_FMT_BGR24;
    bgr->width = w;
    bgr->height = h;
    if (av_frame_get_buffer(bgr.get(), kRowAlign) < 0) return nullptr;
    if (sws_scale(scale.get(), frame->data, frame->linesize, 0, h, bgr->data, bgr->linesize) != h) return nullptr;
    DibPtr dib = CreateDib24(w, h);
    if (!dib) return nullptr;
    for (int y = 0; y < h; ++y) std::memcpy(dib->row(y), bgr->data[0] + size_t(y) * size_t(bgr->linesize[0]), size_t(w) * 3);
    return dib;
}

}  // namespace

DibPtr ClipFrameDecode(const std::vector<FilePart>& parts, uint64_t fileSize, const DecodeCancelled& cancelled) {
    static std::once_flag quiet;
    std::call_once(quiet, [] { av_log_set_level(AV_LOG_QUIET); });
    if (fileSize == 0 || parts.empty()) return nullptr;

    PartsFile file{&parts, fileSize};
    auto* buffer = static_cast<uint8_t*>(av_malloc(kIoBufferSize));
    if (!buffer) return nullptr;
    std::unique_ptr<AVIOContext, IoFree> io(avio_alloc_context(buffer, kIoBufferSize, 0, &file, ReadParts, nullptr, SeekParts));
    if (!io) {
        av_free(buffer);
        return nullptr;
    }
    AVFormatContext* raw = avformat_alloc_context();
    if (!raw) return nullptr;
    const DecodeStop stop{std::chrono::steady_clock::now() + kDecodeTime, &cancelled};
    raw->pb = io.get();
    raw->interrupt_callback = AVIOInterruptCB{Interrupted, const_cast<DecodeStop*>(&stop)};
    raw->flags |= AVFMT_FLAG_CUSTOM_IO;
    raw->probesize = kProbeBytes;
    if (avformat_open_input(&raw, nullptr, nullptr, nullptr) < 0) return nullptr;  // frees raw
    std::unique_ptr<AVFormatContext, FormatClose> format(raw);
    if (avformat_find_stream_info(format.get(), nullptr) < 0) return nullptr;

    const AVCodec* codec = nullptr;
    const int stream = av_find_best_stream(format.get(), AVMEDIA_TYPE_VIDEO, -1, -1, &codec, 0);
    if (stream < 0 || !codec) return nullptr;
    std::unique_ptr<AVCodecContext, CodecFree> decoder(avcodec_alloc_context3(codec));
    if (!decoder || avcodec_parameters_to_context(decoder.get(), format->streams[stream]->codecpar) < 0) return nullptr;
    decoder->thread_count = 1;
    // Only the first key frame is wanted: the frames between key frames are
    // not decoded (cheap to skip, costly when their reference is missing).
    decoder->skip_frame = AVDISCARD_NONKEY;
    if (avcodec_open2(decoder.get(), codec, nullptr) < 0) return nullptr;

    std::unique_ptr<AVPacket, PacketFree> packet(av_packet_alloc());
    std::unique_ptr<AVFrame, FrameFree> frame(av_frame_alloc());
    if (!packet || !frame) return nullptr;
    int decoded = 0;
    for (int n = 0; n < kMaxPackets && decoded < kMaxDecodedPackets; ++n) {
        if (stop.Now()) return nullptr;
        const int read = av_read_frame(format.get(), packet.get());
        if (read < 0) {
            avcodec_send_packet(decoder.get(), nullptr);  // drain what is buffered
        } else if (packet->stream_index != stream) {
            av_packet_unref(packet.get());
            continue;
        } else {
            ++decoded;
            const int sent = avcodec_send_packet(decoder.get(), packet.get());
            av_packet_unref(packet.get());
            if (sent < 0 && sent != AVERROR(EAGAIN)) continue;
        }
        if (avcodec_receive_frame(decoder.get(), frame.get()) == 0) return FrameToDib(frame.get());
        if (read < 0) return nullptr;
    }
    return nullptr;
}

}  // namespace veld
