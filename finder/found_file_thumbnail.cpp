// Thumbnails of found JPEG files: the file's clusters are read from the
// volume through its cluster list, decoded and reduced to 64 x 64. Only the
// picture rows the reduction samples are decoded.
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

}  // namespace

bool ReadFoundFileForThumbnail(DiskVolume& volume, DelFileInfo& record, std::vector<uint8_t>& bytes) {
    bytes.clear();
    if (record.jpeg.partlyMissing) return false;
    const uint32_t clusterSize = volume.clusterSize;
    if (clusterSize == 0) return false;

    // One buffer slot per cluster the file needs; the list may be shorter
    // than its claim, and then only the listed clusters are read.
    const int32_t needed = record.clustersNeeded;
    const uint64_t slots = needed > 0 ? std::min<uint64_t>(uint64_t(needed), record.clusterList.size()) : 0;
    if (slots * clusterSize > kMaxFileBuffer) return false;
    // Not zero-filled: the reads overwrite it, and only the holes are cleared.
    const size_t bufferSize = size_t(slots * clusterSize);
    std::unique_ptr<uint8_t[]> buffer(new (std::nothrow) uint8_t[bufferSize ? bufferSize : 1]);
    if (!buffer) return false;

    const uint64_t fileSize = record.size();
    const uint32_t lastPart = fileSize % clusterSize ? uint32_t(fileSize % clusterSize) : clusterSize;
    uint64_t counted = 0;
    uint64_t offset = 0;
    for (uint64_t i = 0; i < slots && offset < fileSize; ++i, offset += clusterSize) {
        const uint64_t cluster = record.clusterList[size_t(i)];
        if (cluster == 0) {  // a hole: its part of the buffer is zero and counts nothing
            std::memset(buffer.get() + offset, 0, clusterSize);
            continue;
        }
        // Clusters 0 and 1 do not exist; ClusterOffset would give the volume's
        // first byte. Treat them like a read that fails.
        if (cluster < 2) break;
        uint32_t done = 0;
        if (DiskIO_Seek(&volume, ClusterOffset(volume, cluster)) < 0) break;
        if (!DiskIO_Read(&volume, buffer.get() + offset, clusterSize, &done) || done != clusterSize) break;
        counted += (i == uint64_t(needed) - 1) ? lastPart : clusterSize;
    }

    record.firstClass = kClassJpegStart;

    const size_t used = size_t(std::min<uint64_t>(counted, bufferSize));
    try {
        bytes.assign(buffer.get(), buffer.get() + used);
    } catch (const std::bad_alloc&) {
        bytes.clear();
        return false;
    }
    return true;
}

DibPtr DecodeFoundFileThumbnail(const std::vector<uint8_t>& bytes) {
    return JpegScaledDecode(bytes.data(), bytes.size(), kThumbnailSize, kThumbnailSize, true);
}

DibPtr MakeFoundFileThumbnail(DiskVolume& volume, DelFileInfo& record) {
    std::vector<uint8_t> bytes;
    if (!ReadFoundFileForThumbnail(volume, record, bytes)) return nullptr;
    return DecodeFoundFileThumbnail(bytes);
}

}  // namespace veld
