// Thumbnails of found files: the file's clusters (or the part of them that
// holds the picture) are read from the volume through its cluster list,
// decoded and reduced to 64 x 64. For JPEG only the picture rows the
// reduction samples are decoded.
#include <algorithm>
#include <cstring>
#include <memory>
#include <new>

#include "base/bitmap_utils.h"
#include "base/clip_frame_decode.h"
#include "base/heif_decode.h"
#include "base/jpeg_memory_decode.h"
#include "finder/found_file_thumbnail.h"
#include "finder/isobmff_boxes.h"
#include "finder/media_format.h"
#include "volume/boot_sector.h"

namespace veld {

namespace {

constexpr int kThumbnailSize = 64;
// A found picture larger than this is not read for a thumbnail.
constexpr uint64_t kMaxFileBuffer = 512ull * 1024 * 1024;
// The most bytes one read asks for.
constexpr uint64_t kMaxRunBytes = 64ull << 20;
constexpr uint64_t kMaxRunClusters(uint32_t clusterSize) { return kMaxRunBytes / clusterSize; }
// What a clip's thumbnail reads: its first bytes, and an index kept at its end.
constexpr uint64_t kClipHeadBytes = 4ull << 20;
constexpr uint64_t kClipTailBytes = 4ull << 20;
// The most pixels a HEIF primary picture may take to decode (a grid counts
// its canvas and every tile it references): more than any camera's picture,
// far less than a hostile grid of one tile repeated.
constexpr uint64_t kMaxHeifDecodePixels = 120ull << 20;

DibPtr DecodeHeif(const uint8_t* data, size_t size, bool preferThumbnail) {
    const bool primaryAllowed = HeifDecodePixels(ByteReader(data, size)) <= kMaxHeifDecodePixels;
    return HeifMemoryDecode(data, size, preferThumbnail, primaryAllowed);
}

// Bytes [offset, offset + length) of a found file, read through its cluster
// list; none when a cluster of the range is not listed or cannot be read.
std::unique_ptr<uint8_t[]> ReadFileRange(DiskVolume& volume, const DelFileInfo& record, uint64_t offset,
                                         uint64_t length) {
    const uint64_t cs = volume.clusterSize;
    if (cs == 0 || length == 0 || length > kMaxFileBuffer || offset + length > record.fileSize) return nullptr;
    std::unique_ptr<uint8_t[]> buffer(new (std::nothrow) uint8_t[size_t(length)]);
    if (!buffer) return nullptr;
    std::unique_ptr<uint8_t[]> cluster(new (std::nothrow) uint8_t[size_t(cs)]);
    if (!cluster) return nullptr;
    uint64_t done = 0;
    while (done < length) {
        const uint64_t at = offset + done;
        const uint64_t index = at / cs, within = at % cs;
        if (index >= record.clusterList.size() || index >= uint64_t(std::max(record.clustersNeeded, 0))) return nullptr;
        const uint64_t c = record.clusterList[size_t(index)];
        // Whole runs of consecutive clusters go straight into the buffer.
        uint64_t run = 1;
        while (within == 0 && index + run < record.clusterList.size() && record.clusterList[size_t(index + run)] == c + run &&
               (run + 1) * cs <= length - done && run < kMaxRunClusters(uint32_t(cs)))
            ++run;
        if (c < 2) return nullptr;
        const uint64_t where = uint64_t(ClusterOffset(volume, c));
        uint32_t got = 0;
        if (within == 0 && run * cs <= length - done) {
            if (!DiskIO_ReadAt(&volume, where, buffer.get() + done, uint32_t(run * cs), &got) || got != run * cs)
                return nullptr;
            done += run * cs;
            continue;
        }
        if (!DiskIO_ReadAt(&volume, where, cluster.get(), uint32_t(cs), &got) || got <= within) return nullptr;
        const uint64_t take = std::min<uint64_t>(got - within, length - done);
        std::memcpy(buffer.get() + done, cluster.get() + within, size_t(take));
        done += take;
    }
    return buffer;
}

std::optional<FoundFileBytes> ReadMediaForThumbnail(DiskVolume& volume, const DelFileInfo& record) {
    const MediaFormat format = MediaFormat(record.media.format);
    FoundFileBytes bytes;
    if (MediaFormatIsRaw(format)) {
        if (record.media.previewLength == 0) return std::nullopt;
        bytes.data = ReadFileRange(volume, record, record.media.previewOffset, record.media.previewLength);
        bytes.size = record.media.previewLength;
        bytes.orientation = record.jpeg.orientation;
    } else if (MediaFormatIsHeif(format)) {
        bytes.data = ReadFileRange(volume, record, 0, record.fileSize);
        bytes.size = size_t(record.fileSize);
        bytes.source = ThumbnailSource::Heif;
    } else {
        bytes.source = ThumbnailSource::Clip;
        bytes.fileSize = record.fileSize;
        const uint64_t head = std::min(record.fileSize, kClipHeadBytes);
        bytes.data = ReadFileRange(volume, record, 0, head);
        bytes.size = size_t(head);
        if (record.fileSize > head) {
            const uint64_t tail = std::min(record.fileSize - head, kClipTailBytes);
            bytes.tailOffset = record.fileSize - tail;
            bytes.tail = ReadFileRange(volume, record, bytes.tailOffset, tail);
            bytes.tailSize = bytes.tail ? size_t(tail) : 0;
        }
    }
    if (!bytes.data) return std::nullopt;
    return bytes;
}

}  // namespace

bool HasMediaThumbnail(const DelFileInfo& record) {
    const MediaFormat format = MediaFormat(record.media.format);
    return MediaFormatIsHeif(format) || (MediaFormatIsRaw(format) && record.media.previewLength > 0);
}

void NoteCorruptPicture(DelFileInfo& record) {
    if (record.state == StateComplete) record.state = StateMismatch;
}

void NoteUndecodedPicture(DelFileInfo& record) {
    if (record.state == StateComplete && record.media.format == FormatNone && !record.remarks)
        record.remarks = kUndecodedRemark;
}

DibPtr MakeFoundFileThumbnail(DiskVolume& volume, DelFileInfo& record) {
    const std::optional<FoundFileBytes> bytes = ReadFoundFileForThumbnail(volume, record);
    if (!bytes) return nullptr;
    bool corrupt = false;
    DibPtr picture = DecodeFoundFileThumbnail(*bytes, &corrupt);
    if (corrupt) NoteCorruptPicture(record);
    return picture;
}

FoundFileBytes FoundJpegBytes(const DelFileInfo& record, std::vector<uint8_t> bytes) {
    FoundFileBytes out;
    out.size = bytes.size();
    out.held = std::move(bytes);
    out.orientation = record.jpeg.orientation;
    return out;
}

DibPtr MakeFoundFileThumbnailFrom(DelFileInfo& record, std::vector<uint8_t> bytes) {
    if (bytes.empty()) return nullptr;
    MarkThumbnailRead(record);
    bool corrupt = false;
    DibPtr picture = DecodeFoundFileThumbnail(FoundJpegBytes(record, std::move(bytes)), &corrupt);
    if (corrupt) NoteCorruptPicture(record);
    return picture;
}

DibPtr DecodeFoundFileThumbnail(const FoundFileBytes& bytes, bool* corrupt, const DecodeCancelled& cancelled) {
    return DecodeFoundFileThumbnail(bytes, kThumbnailSize, corrupt, cancelled);
}

DibPtr DecodeFoundFileThumbnail(const FoundFileBytes& bytes, int edge, bool* corrupt, const DecodeCancelled& cancelled) {
    DibPtr picture;
    JpegDecodeReport report;
    switch (bytes.source) {
    case ThumbnailSource::Jpeg:
        picture = JpegScaledDecode(bytes.Data(), bytes.size, edge, edge, true, &report);
        if (corrupt) *corrupt = report.corrupt;
        break;
    case ThumbnailSource::Heif:
        if (DibPtr whole = DecodeHeif(bytes.Data(), bytes.size, true))
            picture = ScaleBitmap(*whole, edge, edge, true);
        break;
    case ThumbnailSource::Clip: {
        std::vector<FilePart> parts{FilePart{0, bytes.Data(), bytes.size}};
        if (bytes.tail) parts.push_back(FilePart{bytes.tailOffset, bytes.tail.get(), bytes.tailSize});
        if (DibPtr frame = ClipFrameDecode(parts, bytes.fileSize, cancelled))
            picture = ScaleBitmap(*frame, edge, edge, true);
        break;
    }
    }
    if (picture && bytes.orientation >= 2 && bytes.orientation <= 8) picture = OrientedDib(*picture, bytes.orientation);
    return picture;
}

DibPtr DecodeFoundFilePicture(const DelFileInfo& record, const uint8_t* data, size_t size) {
    const MediaFormat format = MediaFormat(record.media.format);
    DibPtr picture;
    if (MediaFormatIsRaw(format)) {
        const uint64_t at = record.media.previewOffset, length = record.media.previewLength;
        if (length == 0 || at > size || length > size - at) return nullptr;
        picture = JpegMemoryDecode(data + at, size_t(length));
    } else if (MediaFormatIsHeif(format)) {
        return DecodeHeif(data, size, false);  // upright already
    } else if (format != FormatNone && !MediaFormatIsPicture(format)) {
        picture = ClipFrameDecode({FilePart{0, data, size}}, size);
        return picture;
    }
    if (picture && record.jpeg.orientation >= 2) picture = OrientedDib(*picture, record.jpeg.orientation);
    return picture;
}

void MarkThumbnailRead(DelFileInfo& record) {
    if (record.media.format == FormatNone) record.firstClass = ContentClass::JpegStart;
}

std::optional<FoundFileBytes> ReadFoundFileForThumbnail(DiskVolume& volume, DelFileInfo& record) {
    std::optional<FoundFileBytes> bytes = ReadFoundFileBytes(volume, record);
    if (bytes) MarkThumbnailRead(record);
    return bytes;
}

std::optional<FoundFileBytes> ReadFoundFileBytes(DiskVolume& volume, const DelFileInfo& record, bool wholeFile) {
    if (record.media.format != FormatNone) return ReadMediaForThumbnail(volume, record);
    if (record.jpeg.partlyMissing && !wholeFile) return std::nullopt;
    const uint32_t clusterSize = volume.clusterSize;
    if (clusterSize == 0) return std::nullopt;

    // One buffer slot per cluster the file needs; the list may be shorter
    // than its claim, and then only the listed clusters are read.
    const int32_t needed = record.clustersNeeded;
    const uint64_t slots = needed > 0 ? std::min<uint64_t>(uint64_t(needed), record.clusterList.size()) : 0;
    if (slots * clusterSize > kMaxFileBuffer) return std::nullopt;
    // Not zero-filled: the reads overwrite it, and only the holes are cleared.
    const size_t bufferSize = size_t(slots * clusterSize);
    std::unique_ptr<uint8_t[]> buffer(new (std::nothrow) uint8_t[bufferSize ? bufferSize : 1]);
    if (!buffer) return std::nullopt;

    const uint64_t fileSize = record.fileSize;
    const uint32_t lastPart = fileSize % clusterSize ? uint32_t(fileSize % clusterSize) : clusterSize;
    // Runs of consecutive clusters are read with one call each.
    uint64_t counted = 0;
    uint64_t offset = 0;
    for (uint64_t i = 0; i < slots && offset < fileSize;) {
        const uint64_t cluster = record.clusterList[size_t(i)];
        if (cluster == 0) {  // a hole: its part of the buffer is zero and counts nothing
            std::memset(buffer.get() + offset, 0, clusterSize);
            ++i;
            offset += clusterSize;
            continue;
        }
        // Clusters 0 and 1 do not exist; ClusterOffset would give the volume's
        // first byte. Treat them like a read that fails.
        if (cluster < 2) break;
        uint64_t run = 1;
        while (i + run < slots && offset + run * clusterSize < fileSize && run < kMaxRunClusters(clusterSize) &&
               record.clusterList[size_t(i + run)] == cluster + run)
            ++run;
        uint32_t done = 0;
        uint64_t whole = 0;
        if (DiskIO_ReadAt(&volume, uint64_t(ClusterOffset(volume, cluster)), buffer.get() + offset,
                          uint32_t(run * clusterSize), &done)) {
            whole = done / clusterSize;
        } else {
            // A failed run is read again cluster by cluster: the clusters
            // before the one that fails still count.
            for (; whole < run; ++whole) {
                if (!DiskIO_ReadAt(&volume, uint64_t(ClusterOffset(volume, cluster + whole)),
                                   buffer.get() + offset + whole * clusterSize, clusterSize, &done) ||
                    done != clusterSize)
                    break;
            }
        }
        // Whole clusters read count; the first cluster short of its bytes ends
        // the file, unless it is the file's last and holds its last part (the
        // source ends inside that cluster, after the file does).
        for (uint64_t k = 0; k < whole; ++k)
            counted += (i + k == uint64_t(needed) - 1) ? lastPart : clusterSize;
        if (whole < run && i + whole == uint64_t(needed) - 1 && done - whole * clusterSize >= lastPart)
            counted += lastPart;
        if (whole < run) break;
        i += run;
        offset += run * clusterSize;
    }

    FoundFileBytes bytes;
    bytes.data = std::move(buffer);
    bytes.size = size_t(std::min<uint64_t>(counted, bufferSize));
    bytes.orientation = record.jpeg.orientation;
    return bytes;
}

}  // namespace veld
