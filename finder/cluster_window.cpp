#include "finder/cluster_window.h"

#include <algorithm>

#include "volume/boot_sector.h"
#include "volume/read_ahead.h"

namespace veld {

ClusterWindow::ClusterWindow(DiskVolume& volume, uint64_t start, ReadAhead* sequential)
    : volume_(volume),
      sequential_(sequential),
      cs_(volume.clusterSize),
      start_(start),
      usable_(start >= 2 && volume.clusterSize != 0),
      firstOffset_(ClusterOffset(volume, start)),
      offset_(firstOffset_),
      // Clusters past the end of the volume are not part of any file.
      lastCluster_(volume.clusterCount > 0 ? uint64_t(volume.clusterCount) + 1 : 0),
      // Every window moves on by at least one cluster and a found file's
      // length must fit in 32 bits, so no walk needs more windows than this.
      maxWindows_(volume.clusterSize ? kMaxCarvedLength / volume.clusterSize + 2 : 0) {
}

uint64_t ClusterWindow::cluster() const { return start_ + uint64_t(offset_ - firstOffset_) / cs_; }

bool ClusterWindow::Read() {
    done_ = 0;
    if (!usable_ || windows_++ >= maxWindows_ || cluster() > lastCluster_) return false;
    if (sequential_ && sequential_->Covers(cluster())) {
        const ClusterSpan span = sequential_->Get(cluster(), 2);
        if (span.status == ReadStatus::Ok && span.bytes >= cs_) {
            data_ = span.data;
            done_ = uint32_t(span.bytes);
            return true;
        }
        // A source that ends inside the cluster is read below, where its
        // missing bytes read as zeros.
        if (span.status != ReadStatus::End || span.bytes == 0) return false;
    }
    // Not zero-filled: only the bytes the read returned are used.
    if (bytes_.empty()) bytes_.resize(size_t(cs_) * 2);
    data_ = bytes_.data();
    uint32_t done = 0;
    if (offset_ < 0 || !DiskIO_ReadAt(&volume_, uint64_t(offset_), bytes_.data(), uint32_t(bytes_.size()), &done))
        return false;
    done_ = done;
    return done >= cs_;  // the first cluster must be all there (the volume pads one the source ends in)
}

bool ClusterWindow::FirstClusterUniform() const {
    if (done_ < cs_) return false;
    const uint8_t first = data_[0];
    return std::all_of(data_, data_ + cs_, [first](uint8_t b) { return b == first; });
}

}  // namespace veld
