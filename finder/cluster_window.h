// The window the carving walks read: two clusters from a window offset, so a
// header that starts in the first cluster may reach into the second. The walk
// moves the window forward by whole clusters; the window refuses to go past
// the volume's last cluster or past what a 32-bit file length can span.
#pragma once

#include <cstdint>
#include <vector>

#include "base/byte_reader.h"
#include "volume/disk_volume.h"

namespace veld {

class ReadAhead;

// The largest length the 32-bit length field of a found file can carry.
constexpr uint64_t kMaxCarvedLength = 0xFFFFFFFFull;

class ClusterWindow {
public:
    ClusterWindow(DiskVolume& volume, uint64_t start, ReadAhead* sequential = nullptr);

    // False when the walk cannot start: cluster size 0 or a start below 2.
    bool usable() const { return usable_; }
    uint32_t clusterSize() const { return cs_; }
    uint64_t start() const { return start_; }
    int64_t offset() const { return offset_; }
    // The number of the window's first cluster.
    uint64_t cluster() const;

    // Reads the window at the current offset. False past the volume's end,
    // after too many windows, on a failed read, or when less than the first
    // cluster came back. Only bytesRead() bytes of data() are valid, until
    // the next Read.
    bool Read();
    // Moves the window forward by whole clusters.
    void Advance(uint64_t clusters) { offset_ += int64_t(clusters) * int64_t(cs_); }

    const uint8_t* data() const { return data_; }
    uint32_t bytesRead() const { return done_; }
    ByteReader reader() const { return ByteReader(data_, done_); }
    // True when every byte of the first cluster has the same value.
    bool FirstClusterUniform() const;

private:
    DiskVolume& volume_;
    ReadAhead* sequential_;
    uint32_t cs_;
    uint64_t start_;
    bool usable_;
    int64_t firstOffset_;
    int64_t offset_;
    uint64_t lastCluster_;
    uint64_t maxWindows_;
    uint64_t windows_ = 0;
    std::vector<uint8_t> bytes_;
    const uint8_t* data_ = nullptr;
    uint32_t done_ = 0;
};

}  // namespace veld
