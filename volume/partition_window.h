// A partition seen as a source of its own: reads at offset 0 of the window
// read the partition's first byte on the whole source, and nothing past the
// partition's end is read. The search opens the partition of a whole-card
// image (or of a whole device) through it, so the geometry, the FAT, the
// directories, the signature search, extraction and every position shown are
// relative to the partition, as for a partition opened by its own device.
#pragma once

#include <cstdint>
#include <memory>

#include "platform/raw_device.h"

namespace veld {

// The window [offset, offset + size) of source; reads only (Write fails).
std::unique_ptr<RawDevice> OpenPartitionWindow(std::unique_ptr<RawDevice> source, uint64_t offset, uint64_t size);

}  // namespace veld
