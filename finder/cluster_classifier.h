// Recognises what one cluster holds by its bytes alone: a directory block,
// fill, a two-byte pattern, a JPEG start, text, an MP4/MOV start or JPEG data
// (the CC_ classes of the cluster map).
#pragma once

#include <cstddef>
#include <cstdint>

#include "volume/cluster_use.h"
#include "volume/disk_volume.h"

namespace veld {

// Content class of one cluster's bytes (CC_ values of the cluster map).
ContentClass ClassifyCluster(const DiskVolume& volume, const uint8_t* buffer, size_t length);
// The content tests alone (JPEG start, text, ISO media start, RAW start, AVI
// start, MPEG transport and program stream starts, JPEG data, in that order),
// without the directory, fill and pattern tests: what a clip's first cluster
// must answer CC_MP4_START to.
ContentClass ClassifyContent(const uint8_t* buffer, size_t length);
// 0xFF 0xD8 followed by an application marker 0xFFE0..0xFFEF.
bool IsJpegStart(const uint8_t* buffer, size_t length);
// Class of a cluster as read from the source; 0 when the read fails.
ContentClass ReadAndClassifyCluster(DiskVolume& volume, uint64_t cluster);

}  // namespace veld
