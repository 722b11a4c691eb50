// Card images for the dialog tests: just a boot sector with the geometry
// wanted, in a sparse file of the full size (nothing past the first sector
// is read by the dialogs).
#pragma once

#include <QFile>
#include <QString>
#include <cstdint>
#include <cstring>

namespace veld::guitest {

inline void Put16(uint8_t* b, int at, uint32_t v) {
    b[at] = uint8_t(v);
    b[at + 1] = uint8_t(v >> 8);
}
inline void Put32(uint8_t* b, int at, uint32_t v) {
    for (int i = 0; i < 4; ++i) b[at + i] = uint8_t(v >> (8 * i));
}

// FAT16, 512-byte sectors, one sector per cluster, 512 root entries: exactly
// `clusters` data clusters (total sectors must fit 16 bits, so < 65,000).
inline void Fat16BootSector(uint8_t* b, uint32_t clusters, uint32_t* totalSectors) {
    std::memset(b, 0, 512);
    b[0] = 0xEB;
    b[1] = 0x3C;
    b[2] = 0x90;
    std::memcpy(b + 3, "MSWIN4.1", 8);
    Put16(b, 11, 512);
    b[13] = 1;
    Put16(b, 14, 1);
    b[16] = 2;
    Put16(b, 17, 512);
    const uint32_t fatSectors = ((clusters + 2) * 2 + 511) / 512;
    const uint32_t total = 1 + 2 * fatSectors + 32 + clusters;
    Put16(b, 19, total < 65536 ? total : 0);
    if (total >= 65536) Put32(b, 32, total);
    b[21] = 0xF8;
    Put16(b, 22, fatSectors);
    b[38] = 0x29;
    std::memcpy(b + 43, "DEMO       ", 11);
    std::memcpy(b + 54, "FAT16   ", 8);
    b[510] = 0x55;
    b[511] = 0xAA;
    if (totalSectors) *totalSectors = total;
}

// FAT32 with one sector per cluster, so a large 32-bit
// total sector count gives more clusters than an int holds.
inline void Fat32BootSector(uint8_t* b, uint32_t totalSectors) {
    std::memset(b, 0, 512);
    b[0] = 0xEB;
    b[1] = 0x58;
    b[2] = 0x90;
    std::memcpy(b + 3, "MSWIN4.1", 8);
    Put16(b, 11, 512);
    b[13] = 1;
    Put16(b, 14, 32);
    b[16] = 2;
    Put16(b, 17, 0);
    b[21] = 0xF8;
    Put32(b, 32, totalSectors);
    Put32(b, 36, 1000);
    Put32(b, 44, 2);
    std::memcpy(b + 82, "FAT32   ", 8);
    b[510] = 0x55;
    b[511] = 0xAA;
}

// Writes the sector and extends the file (sparse) to `bytes`.
inline bool WriteCard(const QString& path, const uint8_t* sector, int64_t bytes) {
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)) return false;
    if (sector && file.write(reinterpret_cast<const char*>(sector), 512) != 512) return false;
    return file.resize(bytes);
}

// A whole card of bytes with an MBR whose one partition (type 0x0E) starts at
// sector 2048 with the given boot sector.
inline bool WritePartitionedCard(const QString& path, const uint8_t* sector, int64_t bytes) {
    uint8_t mbr[512] = {};
    uint8_t* entry = mbr + 446;
    entry[4] = 0x0E;
    Put32(entry, 8, 2048);
    Put32(entry, 12, uint32_t(bytes / 512 - 2048));
    mbr[510] = 0x55;
    mbr[511] = 0xAA;
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)) return false;
    if (file.write(reinterpret_cast<const char*>(mbr), 512) != 512 || !file.seek(2048 * 512)) return false;
    if (file.write(reinterpret_cast<const char*>(sector), 512) != 512) return false;
    return file.resize(bytes);
}

}  // namespace veld::guitest
