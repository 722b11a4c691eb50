// Why a file the user opened as a card image is no use to a search, before
// one starts: an empty file, one shorter than a sector, or a text file (no
// card starts with text: its first sector holds a boot sector, a partition
// table or, wiped, zeros). Any other file is searched, even without a file
// system, since the signature search finds pictures in raw sectors.
#pragma once

#include <QString>
#include <cstdint>

namespace veld {

struct DiskVolume;

// The smallest image worth searching: one sector.
constexpr int64_t kSmallestImageBytes = 512;

// "" when the image may be searched, else why not, naming the path.
// volume: the image as opened (whole, or the partition a search reads).
QString ImageFileProblem(const QString& path, DiskVolume& volume);

}  // namespace veld
