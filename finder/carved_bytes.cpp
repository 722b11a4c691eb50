#include "finder/carved_bytes.h"

#include <algorithm>

#include "finder/cluster_window.h"
#include "volume/boot_sector.h"
#include "volume/cluster_map.h"

namespace veld {

CarvedBytes::CarvedBytes(DiskVolume& volume, uint64_t start) : volume_(volume), start_(start) {
    const uint64_t cs = volume.clusterSize;
    if (start < 2 || cs == 0 || volume.clusterCount <= 0) return;
    const uint64_t last = uint64_t(volume.clusterCount) + 1;  // the volume's last cluster number
    if (start > last) return;
    limit_ = std::min<uint64_t>((last - start + 1) * cs, kMaxCarvedLength);
    // An image cut short ends before its volume does.
    const int64_t from = ClusterOffset(volume, start);
    const int64_t size = volume.device ? volume.device->Size() : -1;
    if (size >= 0) limit_ = size > from ? std::min<uint64_t>(limit_, uint64_t(size - from)) : 0;
}

std::vector<uint8_t> CarvedBytes::Read(uint64_t offset, size_t count) {
    std::vector<uint8_t> bytes;
    if (offset >= limit_) return bytes;
    const uint64_t n = std::min<uint64_t>(count, limit_ - offset);
    if (n == 0 || n > 0xFFFFFFFFull) return bytes;
    bytes.resize(size_t(n));
    uint32_t done = 0;
    if (!DiskIO_ReadAt(&volume_, uint64_t(ClusterOffset(volume_, start_)) + offset, bytes.data(), uint32_t(n), &done))
        done = 0;
    bytes.resize(done);
    return bytes;
}

uint64_t LengthBeforeLiveCluster(const SearchSession& session, uint64_t start, uint64_t length) {
    const DiskVolume* volume = session.volume.get();
    if (!volume || volume->clusterSize == 0 || length == 0) return length;
    const uint64_t cs = volume->clusterSize;
    const uint64_t clusters = (length + cs - 1) / cs;
    for (uint64_t k = 0; k < clusters; ++k) {
        const ClusterUse state = ClusterState(session.clusterMap, start + k);
        if (state == ClusterUse::LiveFile || state == ClusterUse::LiveFolder) return k * cs;
    }
    return length;
}

}  // namespace veld
