#include "volume/boot_sector_trace.h"

#include "base/byte_reader.h"
#include "base/trace.h"
#include "volume/boot_sector.h"

namespace veld {

uint64_t RootDirectoryPosition(const BootSector& boot) {
    ByteReader r(boot.data(), boot.size());
    if (IsFat32Layout(boot)) return r.le32(bpb::RootCluster);
    return uint64_t(r.le16(bpb::ReservedSectors)) + uint64_t(r.u8(bpb::NumberOfFats)) * SectorsPerFatOf(boot);
}

void TraceBootSector(const BootSector& boot) {
    ByteReader r(boot.data(), boot.size());
    const uint32_t bytesPerSector = r.le16(bpb::BytesPerSector);
    const uint32_t sectorsPerCluster = r.u8(bpb::SectorsPerCluster);
    const uint8_t media = r.u8(bpb::MediaDescriptor);

    TraceLine("JUMP ADDR=0x%X", r.le16(bpb::JumpOperand));
    TraceLine("OEMid=%8.8s", r.text(bpb::OemName, 8).c_str());
    TraceLine("メディアディスクリプタ %s", media == 0xF8 ? "固定ディスク" : (media >= 0xF0 && media <= 0xFE) ? "FDD" : "不明");
    TraceLine("セクタサイズ=%d", int(bytesPerSector));
    if (sectorsPerCluster != 0)
        TraceLine("クラスタサイズ=%d クラスタ数=%d", int(bytesPerSector * sectorsPerCluster),
                  int(r.le16(bpb::TotalSectors16) / sectorsPerCluster));
    TraceLine("FAT開始セクタ=%d", r.le16(bpb::ReservedSectors));
    if (IsFat32Layout(boot)) {
        TraceLine("FATタイプ=FAT32");
    } else {
        TraceLine("Volume=%11.11s", r.text(bpb::VolumeLabel, 11).c_str());
        TraceLine("FATタイプ=%8.8s", r.text(bpb::FileSystemType, 8).c_str());
    }
    TraceLine("FATセクター数=%d", int(SectorsPerFatOf(boot)));
    const uint64_t rootOffset = (uint64_t(r.le16(bpb::ReservedSectors)) +
                                 uint64_t(r.u8(bpb::NumberOfFats)) * SectorsPerFatOf(boot)) * bytesPerSector;
    const uint32_t rootEntries = r.le16(bpb::RootEntries);
    TraceLine("ルートディレクトリエントリ =0x%X", unsigned(rootOffset));
    TraceLine("最大エントリ=%d 範囲=0x%X - 0x%X", int(rootEntries), unsigned(rootOffset),
              unsigned(rootOffset + uint64_t(rootEntries) * 32 - 1));
}

}  // namespace veld
