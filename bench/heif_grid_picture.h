// HEIF pictures built around one HEVC picture encoded elsewhere (an Annex B
// stream: NAL units after 00 00 01 start codes, as `ffmpeg -f hevc` writes):
// its parameter sets go into the item's "hvcC" property, its slices, each
// after a 4-byte length, into "mdat". Either the picture itself is the
// primary item, or a "grid" item is, whose tiles all name that one picture.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace veld::bench {

struct HeifGrid {
    uint32_t rows = 32, columns = 32;         // tiles, each the same picture
    uint32_t outputWidth = 16384, outputHeight = 16384;
    uint32_t ispeWidth = 64, ispeHeight = 64;  // the grid item's claimed size
};

// The picture as a HEIF file: with grid, a grid item of rows x columns
// references to the tile (item 2), else the tile alone as item 1. Empty when
// the stream holds no VPS, SPS, PPS and slice; why says what was missing.
std::vector<uint8_t> MakeHeifPicture(const std::vector<uint8_t>& annexB, uint32_t tileWidth, uint32_t tileHeight,
                                     const HeifGrid* grid, std::string* why);

}  // namespace veld::bench
