// The two bytes of a cluster map cell: what claimed the cluster and what the
// signature search saw at its start.
#pragma once

#include <cstdint>

namespace veld {

// What claimed a cluster. The trace and veld-cli info name them by their
// historical codes (FA_EMPTY, FA_DEL_FILE, ...; ClusterStateName).
enum class ClusterUse : uint8_t {
    Empty = 0,          // FA_EMPTY
    Reserved = 1,       // FA_RESERVE
    Bad = 3,            // FA_BAD
    End = 4,            // FA_END; also the answer for cluster numbers beyond the map
    DeletedFolder = 10, // FA_DEL_DIR
    DeletedFile = 11,   // FA_DEL_FILE
    LiveFolder = 20,    // FA_USE_DIR
    LiveFile = 21,      // FA_USE_FILE
    NoMap = 99,         // asked of a search that has no map
};

// What the signature search saw at a cluster's start (the CC_ classes).
enum class ContentClass : uint8_t {
    None = 0,
    Fill = 1,
    Pattern2 = 2,
    Folder = 10,
    JpegStart = 100,
    JpegData = 101,
    JpegEnd = 102,
    Text = 120,
    Mp4Start = 130,  // ISO base media: MP4, MOV, 3GP, HEIF/HEIC/AVIF, CR3
    Mp4Data = 131,
    RawStart = 140,  // TIFF-based camera RAW, TIFF, Fujifilm RAF
    RawData = 141,
    AviStart = 150,  // RIFF AVI
    AviData = 151,
    TsStart = 160,   // MPEG transport stream in 192-byte packets (MTS, M2TS)
    PsStart = 161,   // MPEG program stream (MPG, MOD, TOD)
    MpegData = 162,
};

}  // namespace veld
