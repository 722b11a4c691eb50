// Thumbnails of found pictures and clips, read from the volume through the
// record's cluster list: JPEG pictures, the embedded JPEG of a RAW file, HEIF
// pictures (their stored thumbnail where they have one), and a clip's first
// picture. Thumbnails stand upright as the EXIF orientation says.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

#include "base/clip_frame_decode.h"
#include "base/dib24.h"
#include "finder/del_file_info.h"
#include "volume/disk_volume.h"

namespace veld {

// Whether the record is a HEIF picture or a RAW file with an embedded JPEG:
// the pictures beyond JPEG that get a thumbnail.
bool HasMediaThumbnail(const DelFileInfo& record);

// A 64 x 64 thumbnail of a found picture or clip (read through its cluster
// list); null when it cannot be made. A record that is not of a format
// beyond JPEG gets its first-cluster class set to 100.
DibPtr MakeFoundFileThumbnail(DiskVolume& volume, DelFileInfo& record);
// The same from bytes already in hand (the file as read for its content
// check): no read.
DibPtr MakeFoundFileThumbnailFrom(DelFileInfo& record, std::vector<uint8_t> bytes);

// The two halves of it, so that the decoding can run on another thread: the
// bytes read for the thumbnail (the same reads, the same class mark), and the
// decoding of them. None when the record gets no thumbnail without decoding.
enum class ThumbnailSource : uint8_t { Jpeg, Heif, Clip };
struct FoundFileBytes {
    std::unique_ptr<uint8_t[]> data;
    std::vector<uint8_t> held;  // the bytes when they came in a vector (data is then null)
    size_t size = 0;
    const uint8_t* Data() const { return data ? data.get() : held.data(); }
    ThumbnailSource source = ThumbnailSource::Jpeg;
    uint16_t orientation = 0;   // EXIF orientation to apply (JPEG and RAW previews)
    // Clips: the file's length, and a second run of its bytes (the index an
    // MP4 clip keeps after its frames) at tailOffset.
    uint64_t fileSize = 0;
    std::unique_ptr<uint8_t[]> tail;
    size_t tailSize = 0;
    uint64_t tailOffset = 0;
};
std::optional<FoundFileBytes> ReadFoundFileForThumbnail(DiskVolume& volume, DelFileInfo& record);
// The same read without marking the record. wholeFile reads a JPEG's whole
// file as its content check did (also when its walk found parts missing).
std::optional<FoundFileBytes> ReadFoundFileBytes(DiskVolume& volume, const DelFileInfo& record, bool wholeFile = false);
// Bytes in hand (a JPEG file as its content check read it) for decoding.
FoundFileBytes FoundJpegBytes(const DelFileInfo& record, std::vector<uint8_t> bytes);
// Marks the record as the thumbnail's read of it does: its first cluster starts a JPEG.
void MarkThumbnailRead(DelFileInfo& record);
// corrupt (when not null) is set when the bytes were decoded as JPEG (a
// picture or a RAW's preview) and the decoder found them corrupt.
// A clip's decode stops when cancelled says so (none then).
DibPtr DecodeFoundFileThumbnail(const FoundFileBytes& bytes, bool* corrupt = nullptr,
                                const DecodeCancelled& cancelled = {});
// The same at another size: within edge x edge pixels (enlarged grid cells).
DibPtr DecodeFoundFileThumbnail(const FoundFileBytes& bytes, int edge, bool* corrupt = nullptr,
                                const DecodeCancelled& cancelled = {});
// What a thumbnail decode that found corrupt data means for its record: a
// record called good becomes one whose bytes do not match its entry.
void NoteCorruptPicture(DelFileInfo& record);
// A JPEG picture called good whose data the search did not decode (past the
// thumbnails it makes): its state rests on its structure alone, and its
// remarks say so.
inline constexpr char kUndecodedRemark[] = "内容は未検査";
void NoteUndecodedPicture(DelFileInfo& record);

// The whole picture of a found file's bytes (as extracted) for the preview,
// upright: a RAW's embedded JPEG, a HEIF picture, a clip's first picture;
// null for other files, which the caller's own decoder shows.
DibPtr DecodeFoundFilePicture(const DelFileInfo& record, const uint8_t* data, size_t size);

}  // namespace veld
