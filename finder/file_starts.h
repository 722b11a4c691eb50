// What the first bytes of a cluster must be for a file of each format beyond
// JPEG and ISO media to start there, with the header layouts the tests and
// the walks of those formats share. Bytes only: nothing is read here, so the
// cluster classifier and the walks both stand on it.
#pragma once

#include <cstddef>
#include <cstdint>

#include "base/byte_reader.h"

namespace veld {

// TIFF header (byte order from the first two bytes).
namespace tiffhdr {
constexpr uint64_t ByteOrder = 0;  // "II" little-endian, "MM" big-endian
constexpr uint64_t Magic = 2;      // u16
constexpr uint64_t FirstIfd = 4;   // u32
constexpr uint64_t Cr2Marker = 8;  // "CR", then u8 major version 2
constexpr uint16_t kTiff = 42;
constexpr uint16_t kOrf = 0x4F52;   // Olympus "RO" as II
constexpr uint16_t kOrfS = 0x5352;  // Olympus "RS"
constexpr uint16_t kRw2 = 0x0055;   // Panasonic
}  // namespace tiffhdr

// Fujifilm RAF header (big-endian).
namespace raf {
constexpr const char* Magic = "FUJIFILMCCD-RAW ";
constexpr uint64_t CameraName = 28;  // 32 bytes
constexpr uint64_t JpegOffset = 84;  // u32 pairs: offset, length (JPEG, CFA header, CFA)
constexpr uint64_t HeaderSize = 108;
}  // namespace raf

// MPEG transport stream in 192-byte packets (AVCHD, M2TS).
namespace mpegts {
constexpr uint64_t kPacket = 192;
constexpr uint64_t kSync = 4;         // offset of the sync byte in a packet
constexpr uint8_t kSyncByte = 0x47;
constexpr uint16_t kPidPat = 0x0000;  // program association table
constexpr uint16_t kPidSdt = 0x0011;  // service description table
}  // namespace mpegts

// MPEG program stream start codes (big-endian u32).
namespace mpegps {
constexpr uint32_t kPackHeader = 0x000001BA;
constexpr uint32_t kEndCode = 0x000001B9;
constexpr uint32_t kSystemHeader = 0x000001BB;
}  // namespace mpegps

// True when the bytes begin like a RAW or TIFF file: a TIFF header ("II*\0",
// "MM\0*", Olympus "IIRO"/"IIRS"/"MMOR", Panasonic "IIU\0") with a
// plausible first IFD offset, or RAF's "FUJIFILMCCD-RAW ".
bool IsRawStart(const uint8_t* bytes, size_t length);
// "RIFF", a size, "AVI ".
bool IsAviStart(const uint8_t* bytes, size_t length);
// The sync byte at offset 4 of every 192-byte packet the bytes hold (at least
// two), the first packet starting a table (program association or service
// description) as a clip's first packet does.
bool IsMpegTsStart(const uint8_t* bytes, size_t length);
// A pack header (0x000001BA) of MPEG-1 or MPEG-2 followed by another start code.
bool IsMpegPsStart(const uint8_t* bytes, size_t length);

// The length of the program stream pack header at offset, and its 90 kHz
// system clock reference; 0 when the bytes are no pack header. MPEG-2: byte
// 4 begins with bits 01, 14 bytes plus the stuffing count in the low 3 bits
// of byte 13; MPEG-1: byte 4 begins with bits 0010, 12 bytes. The 33-bit
// reference lies in bytes 4 to 8, split by marker bits.
uint64_t MpegPackLength(const ByteReader& r, uint64_t offset, uint64_t* scr);

}  // namespace veld
