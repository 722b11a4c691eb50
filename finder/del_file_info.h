// The found-file record: one per deleted file found through its directory
// entry, per carved JPEG or MP4/MOV file, and per deleted folder.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "base/dib24.h"
#include "volume/cluster_use.h"

namespace veld {

// A 32-byte FAT short directory entry (little-endian).
namespace dirent {
constexpr int Name = 0;          // 8 bytes, space-padded
constexpr int Ext = 8;           // 3 bytes, space-padded
constexpr int Attributes = 11;   // 0x01 R, 0x02 H, 0x04 S, 0x08 V, 0x10 D, 0x20 A
constexpr int CreateTime = 14;   // u16
constexpr int CreateDate = 16;   // u16
constexpr int AccessDate = 18;   // u16
constexpr int ClusterHigh = 20;  // u16 high half of the start cluster
constexpr int WriteTime = 22;    // u16
constexpr int WriteDate = 24;    // u16
constexpr int ClusterLow = 26;   // u16 low half of the start cluster
constexpr int FileSize = 28;     // u32
constexpr int Size = 32;
}  // namespace dirent

using DirEntry = std::array<uint8_t, 32>;

uint32_t EntryStartCluster(const DirEntry& e);
uint32_t EntrySize(const DirEntry& e);
uint16_t EntryWriteDate(const DirEntry& e);
uint16_t EntryWriteTime(const DirEntry& e);

struct JpegInfo {
    uint8_t found = 0;       // the first window passed the JPEG start test
    uint32_t length = 0;     // bytes up to and including the end of image; 0 unknown
    std::string make;        // EXIF 271, at most 50 bytes
    std::string model;       // EXIF 272, at most 50 bytes
    std::string dateTime;    // EXIF 306 or 36867, "yyyy/mm/dd hh:mm:ss"
    std::string dateTimeOriginal;  // EXIF 36867 alone, the same form
    int32_t exifHeight = 0;  // EXIF 40963
    int32_t exifWidth = 0;   // EXIF 40962
    uint16_t orientation = 0;  // EXIF 274 of IFD0: 1..8 as TIFF defines them; 0 none or out of range
    char latRef = 0;         // GPS 1: 'N' or 'S'; 0 without GPS data
    int32_t latDeg = 0, latMin = 0, latSec = 0;
    char lonRef = 0;         // GPS 3: 'E' or 'W'
    int32_t lonDeg = 0, lonMin = 0, lonSec = 0;
    uint32_t clusterCount = 0;  // clusters from the start to the last one examined
    int32_t frameWidth = 0;     // from the baseline start of frame (0xFFC0)
    int32_t frameHeight = 0;
    uint32_t partlyMissing = 0; // the walk met a uniform cluster before the end
};

struct Mp4Info {
    uint8_t found = 0;
    uint32_t length = 0;
    uint32_t ftypSize = 0;
    std::string atomType;       // "ftyp"
    std::string majorBrand;
    uint32_t minorVersion = 0;
    std::string compatibleBrand1;
    std::string compatibleBrand2;
    uint32_t clusterCount = 0;
};

// What the walk of a HEIF, RAW or clip file found (MediaFormat in
// finder/media_format.h). Such pictures keep their EXIF data in the record's
// JpegInfo (make, model, date, pixel size, orientation, GPS), which the EXIF
// reader fills for them as for a JPEG. All zero for JPEG and other files.
struct MediaInfo {
    uint8_t format = 0;          // MediaFormat; 0 none
    uint32_t length = 0;         // bytes the walk found the file to span; 0 unknown
    uint32_t clusterCount = 0;   // clusters from the start to the last one examined
    uint32_t partlyMissing = 0;  // no end was found: the record holds what came before
    int32_t width = 0;           // picture or frame size in pixels; 0 unknown
    int32_t height = 0;
    uint32_t durationMs = 0;     // clips: running time
    std::string created;         // clips: creation time, local, "yyyy/mm/dd hh:mm:ss"
    uint64_t previewOffset = 0;  // an embedded JPEG picture (RAW, CR3): its offset in the file,
    uint32_t previewLength = 0;  // and its length; 0 when there is none
};

enum FoundFileState : int32_t {
    StateInvalidStart = 0,
    StateComplete = 1,
    StateFragmented = 100,
    StateInUse = 101,
    StateBroken = 102,
    // Another found file's data lies where this one's should: a newer file
    // (or one whose bytes fit) claims its clusters, or its first cluster is
    // the inside of another found file.
    StateOverwritten = 103,
    // Its first cluster starts a file of its kind, but the bytes do not end
    // where its size says, or the picture's data is corrupt.
    StateMismatch = 104,
};

// A date and time as FAT stores them, in local time: date = (year - 1980) << 9
// | month << 5 | day, time = hours << 11 | minutes << 5 | seconds / 2. Both 0
// when the record has no such time (a carved file).
struct FatTime {
    uint16_t date = 0;
    uint16_t time = 0;
};

struct DelFileInfo {
    int32_t index = 0;
    // The FAT short directory entry the file was found through: the on-disk
    // bytes, except that a deleted entry's first name byte (and the second
    // when it is not printable) reads "#". None for an exFAT entry set and for
    // a file found by its signature.
    std::optional<DirEntry> fatEntry;
    std::optional<std::string> name;     // long name, or the generated/short name
    std::optional<std::string> folder;   // components joined by "\"
    uint8_t attributes = 0;              // R 0x01, H 0x02, S 0x04, V 0x08, D 0x10, A 0x20
    FatTime created;
    FatTime modified;
    uint64_t fileSize = 0;               // bytes (exFAT files of 4 GiB and more exist)
    uint64_t startCluster = 0;
    bool carved = false;                 // found by its signature, not through a directory entry
    int32_t state = 0;
    std::optional<std::string> remarks;
    std::vector<uint64_t> clusterList;   // clustersNeeded entries (0: not collected); empty: no list
    int32_t clustersNeeded = 0;
    int32_t clustersCollected = 0;
    ContentClass firstClass = ContentClass::None;
    // How the bytes agree with the entry (ContentFit in finder/content_fit.h):
    // 0 unknown, 1 they do not, 2 they end in the last cluster, 3 exactly.
    uint8_t contentFit = 0;
    JpegInfo jpeg;
    Mp4Info mp4;
    MediaInfo media;
    int32_t listed = 0;
    int32_t thumbnailTried = 0;
    DibPtr thumbnail;
    // 1 while the thumbnail is being made on a worker of the search: views
    // show it as not made yet and do not decode it themselves. Read it (and
    // thumbnail) under the found-file list's lock while a search runs.
    int32_t thumbnailPending = 0;
    int32_t isImage = 0;
    std::string extension;  // upper-case, trimmed, at most 31 bytes; "   " when none

    bool hasClusterList() const { return !clusterList.empty(); }
};

// A record of a file found through a FAT short entry: the entry kept, its
// attributes, times, start cluster (high << 16 | low) and size as fields.
DelFileInfo RecordOfFatEntry(const DirEntry& entry);

// Releases the owned members; the fields become none.
void FreeDelFileInfo(DelFileInfo* info);

// "%-8.8s.%3.3s" of the entry's name and extension bytes.
std::string PaddedShortName(const DirEntry& e);
// Name and extension with trailing blanks removed, joined by a dot.
std::string TrimmedShortName(const DirEntry& e);
// The record's short name: TrimmedShortName of its FAT entry; without one,
// its name ("" when it has none).
std::string ShortNameOf(const DelFileInfo& record);
// The first three characters of the record's short extension, upper-case:
// the FAT entry's extension bytes (up to a zero byte), else those of the
// name's extension.
std::string ShortExtensionOf(const DelFileInfo& record);

}  // namespace veld
