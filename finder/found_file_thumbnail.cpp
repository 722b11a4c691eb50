// Thumbnails of found JPEG files: the file's clusters are read from the
// volume through its cluster list, decoded and reduced to 64 x 64. Only the
// picture rows the reduction samples are decoded.
#include <algorithm>
#include <cstring>
#include <memory>
#include <new>

#include "base/bitmap_utils.h"
#include "base/jpeg_memory_decode.h"
#include "finder/found_file_thumbnail.h"
#include "volume/boot_sector.h"

namespace veld {

namespace {

constexpr int kThumbnailSize = 64;
constexpr int32_t kClassJpegStart = 100;
// A found picture larger than this is not read for a thumbnail.
constexpr uint64_t kMaxFileBuffer = 512ull * 1024 * 1024;
// The most bytes one read asks for.
constexpr uint64_t kMaxRunBytes = 64ull << 20;
constexpr uint64_t kMaxRunClusters(uint32_t clusterSize) { return kMaxRunBytes / clusterSize; }

}  // namespace

DibPtr MakeFoundFileThumbnail(DiskVolume& volume, DelFileInfo& record) {
    const std::optional<FoundFileBytes> bytes = ReadFoundFileForThumbnail(volume, record);
    return bytes ? DecodeFoundFileThumbnail(*bytes) : nullptr;
}

DibPtr DecodeFoundFileThumbnail(const FoundFileBytes& bytes) { return DecodeFoundFileThumbnail(bytes, kThumbnailSize); }

DibPtr DecodeFoundFileThumbnail(const FoundFileBytes& bytes, int edge) {
    return JpegScaledDecode(bytes.data.get(), bytes.size, edge, edge, true);
}

std::optional<FoundFileBytes> ReadFoundFileForThumbnail(DiskVolume& volume, DelFileInfo& record) {
    if (record.jpeg.partlyMissing) return std::nullopt;
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
        if (DiskIO_Seek(&volume, ClusterOffset(volume, cluster)) < 0) break;
        uint64_t whole = 0;
        if (DiskIO_Read(&volume, buffer.get() + offset, uint32_t(run * clusterSize), &done)) {
            whole = done / clusterSize;
        } else {
            // A failed run is read again cluster by cluster: the clusters
            // before the one that fails still count.
            for (; whole < run; ++whole) {
                if (DiskIO_Seek(&volume, ClusterOffset(volume, cluster + whole)) < 0) break;
                if (!DiskIO_Read(&volume, buffer.get() + offset + whole * clusterSize, clusterSize, &done) ||
                    done != clusterSize)
                    break;
            }
        }
        // Whole clusters read count; the first cluster short of its bytes ends the file.
        for (uint64_t k = 0; k < whole; ++k)
            counted += (i + k == uint64_t(needed) - 1) ? lastPart : clusterSize;
        if (whole < run) break;
        i += run;
        offset += run * clusterSize;
    }

    record.firstClass = kClassJpegStart;

    return FoundFileBytes{std::move(buffer), size_t(std::min<uint64_t>(counted, bufferSize))};
}

}  // namespace veld
