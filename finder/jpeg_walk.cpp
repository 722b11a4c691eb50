// Follows the marker structure of a JPEG file from its start cluster across
// the clusters that follow it, to find the end of image (and so the length),
// the frame size and the EXIF data; and registers a carved JPEG.
//
// JPEG layout as walked here (all values big-endian):
//   FF D8                    start of image
//   FF En LL LL ...          application segment, LL LL = length incl. itself
//   FF E1 LL LL "Exif" 00 00 TIFF...   EXIF segment (TIFF block at marker + 10)
//   FF C0 LL LL P HH HH WW WW ...      baseline frame: height at +5, width at +7
//   FF DA LL LL ...          start of scan; entropy-coded data follows
//   FF D9                    end of image
#include "finder/jpeg_walk.h"

#include <algorithm>
#include <cstring>
#include <cstdio>
#include <vector>

#include "base/byte_reader.h"
#include "base/trace.h"
#include "finder/carved_file.h"
#include "finder/cluster_classifier.h"
#include "finder/cluster_window.h"
#include "finder/exif_reader.h"
#include "finder/registry.h"
#include "volume/boot_sector.h"
#include "volume/cluster_map.h"

namespace veld {
namespace {

constexpr uint16_t kSOI = 0xFFD8;
constexpr uint16_t kEOI = 0xFFD9;
constexpr uint16_t kSOS = 0xFFDA;
constexpr uint16_t kSOF0 = 0xFFC0;
constexpr uint16_t kAPP1 = 0xFFE1;
constexpr int kSegLength = 2;        // u16 segment length after the marker
constexpr int kExifTag = 4;          // "Exif" 00 00 after the length
constexpr int kExifTiff = 10;        // TIFF block: marker + 2 + 2 + 6
constexpr int kSofHeight = 5;        // u16 after marker, length and precision
constexpr int kSofWidth = 7;         // u16

// Reads the whole EXIF segment whose marker lies at markerAt inside the window
// at windowOffset, and hands its TIFF block to the EXIF reader. Whole clusters
// are read from the window's start, as many as the segment needs from where it
// begins, and the reader gets only the bytes actually read.
// A segment that lies wholly inside the window's bytes is parsed from them,
// without reading it again.
void ReadExifSegment(DiskVolume& volume, const ClusterWindow& window, uint64_t markerAt, uint32_t segmentLength,
                     JpegInfo* info) {
    if (segmentLength < 8) return;  // no room for the identifier, let alone a TIFF header
    const int64_t windowOffset = window.offset();
    const uint64_t cs = volume.clusterSize;
    const uint64_t segmentEnd = markerAt + kSegLength + segmentLength;  // <= cs + 65537
    if (segmentEnd <= window.bytesRead()) {
        try {
            ParseExif(window.data() + markerAt + kExifTiff, size_t(segmentLength - 8), info);
        } catch (...) {
            TraceLine("ERROR JPEG walk: EXIF segment at byte %llu of the window at %lld failed: %s",
                      (unsigned long long)markerAt, (long long)windowOffset, CaughtExceptionText().c_str());
        }
        return;
    }
    const uint64_t clusters = (segmentEnd + cs - 1) / cs;
    const uint64_t bytes = clusters * cs;
    if (bytes > 0xFFFFFFFFull) return;
    try {
        std::vector<uint8_t> block(size_t(bytes), 0);
        uint32_t done = 0;
        if (windowOffset < 0 || !DiskIO_ReadAt(&volume, uint64_t(windowOffset), block.data(), uint32_t(bytes), &done))
            return;
        const uint64_t tiffAt = markerAt + kExifTiff;
        if (done <= tiffAt) return;
        const uint64_t available = std::min<uint64_t>(segmentLength - 8, done - tiffAt);
        ParseExif(block.data() + tiffAt, size_t(available), info);
    } catch (...) {
        // A fault inside the reader leaves what it had filled and the walk goes on.
        TraceLine("ERROR JPEG walk: EXIF segment at byte %llu of the window at %lld failed: %s",
                  (unsigned long long)markerAt, (long long)windowOffset, CaughtExceptionText().c_str());
    }
}

}  // namespace

uint64_t WalkJpeg(SearchSession& session, uint64_t start, JpegInfo* info, int mode) {
    if (!info) return 0;
    *info = JpegInfo{};
    if (!session.volume) return 0;
    DiskVolume& volume = *session.volume;
    ClusterWindow window(volume, start, session.sequential);
    if (!window.usable()) return 0;
    const uint32_t cs = window.clusterSize();
    const uint64_t a = start;

    uint64_t o = 0;          // resume offset inside the window
    bool inScan = false;
    uint64_t current = 0;    // the window's first cluster, 0 before the first window
    int32_t frameWidth = -1, frameHeight = -1;
    bool ok = true;
    bool first = true;
    bool cut = false;        // the walk ended before an end of image at the window's cluster

    for (;;) {
        if (!window.Read()) {
            ok = false;  // past the volume, or a failed or short read
            break;
        }
        const ByteReader r = window.reader();

        // A cluster of one byte value: the rest of the file is gone. What was
        // walked before it is kept as a partly missing picture.
        if (!first && window.FirstClusterUniform()) {
            cut = true;
            break;
        }
        // Inside the scan a cluster that starts another picture ends this one:
        // FF D8 cannot occur in entropy-coded data. (Other signatures can, by
        // chance, so they do not end it.)
        if (!first && inScan && o == 0 && IsJpegStart(window.data(), window.bytesRead())) {
            cut = true;
            break;
        }
        if (first) {
            if (!IsJpegStart(window.data(), window.bytesRead())) {
                ok = false;
                break;
            }
            first = false;
        }
        info->found = 1;
        current = window.cluster();

        bool finished = false;    // the walk ends after this window
        bool jumped = false;      // a segment carried o past the first cluster
        while (o < cs) {
            const uint16_t v = r.be16(o);  // second byte may be in the window's second cluster
            if (inScan) {
                if (v == kEOI) {
                    const uint64_t length = (current - a) * cs + o + 2;
                    if (length > kMaxCarvedLength) ok = false;
                    else info->length = uint32_t(length);
                    finished = true;
                    break;
                }
                // Skip entropy-coded data up to the next 0xFF of this cluster. A
                // marker at o is stepped over (o + 2); when o is not a 0xFF (a fresh
                // window, or the scan header) the search starts at o itself, so a
                // 0xFF at o + 1 is not missed.
                // Fill bytes (0xFF 0xFF ...) before a marker are stepped one at
                // a time, so "FF FF D9" still ends the picture.
                uint64_t from = o;
                if (r.u8(o) == 0xFF) from = r.u8(o + 1) == 0xFF ? o + 1 : o + 2;
                if (from >= cs) {
                    o += 1;
                    continue;
                }
                const uint8_t* begin = window.data() + from;
                const uint8_t* end = window.data() + cs;
                // memchr: the library's vectorised search (std::find goes a byte at a time).
                const auto* hit = static_cast<const uint8_t*>(std::memchr(begin, 0xFF, size_t(end - begin)));
                if (!hit) break;
                o = uint64_t(hit - window.data());
                continue;
            }

            if (v == kSOI || (v >= 0xFFD0 && v <= 0xFFD7)) {
                o += 2;
            } else if (v == kEOI) {
                break;  // an end of image before any scan: go on with the next cluster
            } else if (v == kSOS) {
                o += 2;
                inScan = true;
                if (mode == JpegWalkExifOnly) {
                    finished = true;
                    break;
                }
            } else if (v >= 0xFFC0 && v <= 0xFFFE) {
                const uint64_t marker = o;
                const uint16_t length = r.be16(marker + kSegLength);
                o += 2;
                if (v == kAPP1 && r.equals(marker + kExifTag, "Exif\0\0", 6)) {
                    ReadExifSegment(volume, window, marker, length, info);
                    if (mode == JpegWalkExifOnly) {
                        finished = true;
                        break;
                    }
                }
                if (v == kSOF0) {
                    frameHeight = r.be16(marker + kSofHeight);
                    frameWidth = r.be16(marker + kSofWidth);
                }
                o += length;
                if (o >= cs) {
                    window.Advance(o / cs);
                    o %= cs;
                    jumped = true;
                    break;
                }
            } else {
                ok = false;  // no marker where one must be
                finished = true;
                break;
            }
        }
        if (finished || !ok) break;
        if (!jumped) {
            window.Advance(1);
            o = 0;
        }
        if (mode == JpegWalkFull) session.progress.Report(PhaseJpegWindow, double(current), "");
    }

    if (current != 0 && current >= a) info->clusterCount = uint32_t(current - a + 1);
    if (frameWidth >= 0) info->frameWidth = frameWidth;
    if (frameHeight >= 0) info->frameHeight = frameHeight;
    // A full walk of a real start that ends early keeps the clusters before
    // the one it stopped at (fill or another file's start), or those it read
    // before a broken marker or a failed read, at least the start: the top of
    // a photo is worth having.
    if (mode == JpegWalkFull && info->found && current >= a && (cut || !ok)) {
        const uint64_t stoppedAt = window.cluster();
        const uint64_t last = cut ? stoppedAt - 1 : std::max(a, std::min(current, stoppedAt - 1));
        uint64_t kept = last - a + 1;
        kept = std::min<uint64_t>(kept, kMaxCarvedLength / cs);
        info->length = uint32_t(kept * cs);
        info->partlyMissing = 1;
        info->clusterCount = uint32_t(kept);
        return a + kept - 1;
    }
    return ok ? current : 0;
}

void RegisterCarvedJpeg(SearchSession& session, const std::string& name, uint32_t length, uint64_t start,
                        const JpegInfo& info) {
    DelFileInfo record = CarvedFileRecord(name, length, start, info.clusterCount, ContentClass::JpegStart);
    record.jpeg = info;
    RegisterFoundFile(session, std::move(record));
}

}  // namespace veld
