#include "volume/fat_file_system.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>

#include "base/byte_reader.h"
#include "base/search_progress.h"
#include "base/trace.h"
#include "volume/boot_sector.h"
#include "volume/boot_sector_trace.h"
#include "volume/cluster_map.h"

namespace veld {
namespace {

void TraceSectorDump(const uint8_t* sector, uint32_t bytes, int fatType, uint64_t* runningIndex) {
    TraceLine("%s", "");
    std::string header = "    :";
    char cell[16];
    for (int i = 0; i < 16; ++i) {
        std::snprintf(cell, sizeof cell, "%X    ", i);
        header += cell;
    }
    TraceLine("%s", header.c_str());
    ByteReader r(sector, bytes);
    uint32_t width = fatType == 32 ? 4 : 2;
    for (uint32_t row = 0; row < bytes; row += 256) {
        std::string line;
        std::snprintf(cell, sizeof cell, "%4X:", unsigned(*runningIndex));
        line = cell;
        for (uint32_t k = 0; k < 16; ++k) {
            uint32_t at = row + k * width;
            uint32_t v = width == 4 ? r.le32(at) : r.le16(at);
            std::snprintf(cell, sizeof cell, "%4X ", v);
            line += cell;
            ++*runningIndex;
        }
        TraceLine("%s", line.c_str());
    }
}

}  // namespace

int FatFileSystem::LoadAllocation(DiskVolume& volume, ClusterMap& map, SearchProgress* progress) {
    FreeAllocation();
    boot_ = volume.bootSector;
    fatType_ = FatTypeOf(boot_);
    const BootSector& boot = boot_;
    ByteReader r(boot.data(), boot.size());
    const int fatType = fatType_;
    const bool fat32 = IsFat32Layout(boot);
    const uint32_t bytesPerSector = r.le16(bpb::BytesPerSector);
    if (bytesPerSector == 0) {  // LoadGeometry never hands such a volume over as FAT
        map.Reset(0);
        return 0;
    }
    uint64_t sectorsPerFat = SectorsPerFatOf(boot);
    const uint64_t reserved = r.le16(bpb::ReservedSectors);
    // The FAT cannot extend past the source: a damaged field must not make us
    // allocate or read more than the card holds.
    if (volume.device && volume.device->Size() >= 0) {
        uint64_t deviceSectors = uint64_t(volume.device->Size()) / bytesPerSector;
        sectorsPerFat = std::min(sectorsPerFat, deviceSectors > reserved ? deviceSectors - reserved : 0);
    }
    const uint64_t fatBytes = uint64_t(bytesPerSector) * sectorsPerFat;
    const uint64_t entries = fat32 ? fatBytes / 4 : (fatType == 12 ? fatBytes * 2 / 3 : fatBytes / 2);
    TraceLine("FAT entrys(1) = %lld %lld", (long long)volume.clusterCount, (long long)entries);
    // Every data cluster has a cell, also when the FAT is shorter than the
    // card (its last entries then read 0).
    const uint64_t cells = MapCellsFor(volume, entries);
    map.Reset(cells);
    fat_.assign(size_t(entries), 0);
    TraceLine("FAT entrys(2) = %llu", (unsigned long long)cells);

    std::vector<uint8_t> sector(bytesPerSector);
    std::vector<uint8_t> fat12Bytes;
    uint64_t runningIndex = 0;
    int result = 0;
    // The FAT is read in chunks of up to 1 MiB, one read call each; a chunk
    // whose read fails is read again sector by sector, so the sectors before
    // a bad one still count.
    const uint64_t chunkSectors = std::max<uint64_t>(1, (1u << 20) / bytesPerSector);
    std::vector<uint8_t> chunk;
    uint64_t chunkFirst = 0, chunkDone = 0;  // first sector of the chunk, bytes it holds
    bool chunkFailed = true;
    for (uint64_t i = 0; i < sectorsPerFat; ++i) {
        int percent = int(double(i) / double(sectorsPerFat) * 100.0);
        if (progress && percent != progress->lastFatPercent) {
            char text[48];
            std::snprintf(text, sizeof text, "%d/%d", int(i), int(sectorsPerFat));
            progress->Report(PhaseFatRead, percent, text);
            progress->lastFatPercent = percent;
        }
        if (chunk.empty() || i >= chunkFirst + chunkSectors) {
            const uint64_t count = std::min(chunkSectors, sectorsPerFat - i);
            chunk.resize(size_t(count * bytesPerSector));
            chunkFirst = i;
            chunkDone = 0;
            uint32_t got = 0;
            chunkFailed = !DiskIO_ReadAt(&volume, (reserved + i) * bytesPerSector, chunk.data(), uint32_t(chunk.size()), &got);
            chunkDone = chunkFailed ? 0 : got;
        }
        uint32_t done = 0;
        const uint64_t at = (i - chunkFirst) * bytesPerSector;
        if (!chunkFailed) {
            done = uint32_t(std::min<uint64_t>(bytesPerSector, chunkDone > at ? chunkDone - at : 0));
            std::memcpy(sector.data(), chunk.data() + at, done);
        } else {
            if (!DiskIO_ReadAt(&volume, (reserved + i) * bytesPerSector, sector.data(), bytesPerSector, &done)) done = 0;
        }
        if (done == 0) {
            TraceLine("ERROR FAT DiskIO_Read");
            result = -1;
            break;
        }
        if (done < bytesPerSector) std::fill(sector.begin() + done, sector.end(), 0);
        ByteReader s(sector.data(), sector.size());
        if (fat32) {
            uint64_t first = i * bytesPerSector / 4;
            for (uint32_t k = 0; k < bytesPerSector / 4 && first + k < entries; ++k)
                fat_[first + k] = s.le32(k * 4);
        } else if (fatType == 12) {
            fat12Bytes.insert(fat12Bytes.end(), sector.begin(), sector.end());
        } else {
            uint64_t first = i * bytesPerSector / 2;
            for (uint32_t k = 0; k < bytesPerSector / 2 && first + k < entries; ++k)
                fat_[first + k] = s.le16(k * 2);
        }
        if (i < 5) TraceSectorDump(sector.data(), bytesPerSector, fat32 ? 32 : 16, &runningIndex);
    }
    if (fatType == 12 && !fat32) {
        // Two 12-bit entries share three bytes: entry n is the low (even n) or
        // high (odd n) 12 bits of the 16-bit word at byte n * 3 / 2, which may
        // straddle two sectors, so the sectors are unpacked together.
        ByteReader f(fat12Bytes.data(), fat12Bytes.size());
        uint64_t packed = fat12Bytes.size() * 2 / 3;
        for (uint64_t n = 0; n < packed && n < entries; ++n) {
            uint16_t word = f.le16(n * 3 / 2);
            fat_[n] = (n & 1) ? uint32_t(word >> 4) : uint32_t(word & 0xFFF);
        }
    }
    return result;
}

void FatFileSystem::FreeAllocation() { std::vector<uint32_t>().swap(fat_); }

bool FatFileSystem::ClusterInUse(uint64_t cluster) const {
    uint32_t entry = Entry(cluster);
    if (fatType_ == 32) entry &= 0x0FFFFFFF;
    return entry != 0;
}

ClusterUse FatFileSystem::RecordedState(uint64_t cluster) const {
    uint32_t entry = Entry(cluster);
    // The top values of each width: 0x?F0..0x?F6 reserved, 0x?F7 bad,
    // 0x?F8..0x?FF the end of a chain.
    uint32_t top = 0xFFF;
    if (fatType_ == 16) top = 0xFFFF;
    if (fatType_ == 32) {
        entry &= 0x0FFFFFFF;
        top = 0x0FFFFFFF;
    }
    if (entry == 0) return ClusterUse::Empty;
    if (entry == 1 || (entry >= top - 15 && entry <= top - 9)) return ClusterUse::Reserved;
    if (entry == top - 8) return ClusterUse::Bad;
    if (entry >= top - 7) return ClusterUse::End;
    return ClusterUse::LiveFile;
}

std::vector<uint64_t> FatFileSystem::Chain(DiskVolume&, uint64_t start, uint64_t limit) const {
    // At most the FAT's length in steps; once a chain is long, a record of
    // visited clusters ends a cycle at once.
    constexpr uint64_t kPlainSteps = 1024;
    std::vector<uint64_t> chain{start};
    const uint64_t entries = fat_.size();
    std::vector<bool> visited;
    uint64_t current = start;
    for (uint64_t steps = 1;; ++steps) {
        if (current >= entries) break;
        const uint32_t next = fat_[current];
        if (!IsValidCluster(boot_, next) || next >= entries || next >= limit) break;
        if (steps >= entries) break;
        if (steps >= kPlainSteps) {
            if (visited.empty()) visited.assign(size_t(entries), false);
            if (visited[next]) break;
            visited[next] = true;
        }
        current = next;
        chain.push_back(current);
    }
    return chain;
}

bool FatFileSystem::BootSectorSound(const DiskVolume& volume) const {
    if (HasBootMarker(volume.bootSector)) return true;
    TraceLine("Marker NG %x %x", volume.bootSector[bpb::Marker], volume.bootSector[bpb::Marker + 1]);
    return false;
}

void FatFileSystem::TraceBootSector(const DiskVolume& volume) const { veld::TraceBootSector(volume.bootSector); }

uint64_t FatFileSystem::DeclaredBytes(const DiskVolume& volume) const {
    const ByteReader boot(volume.bootSector.data(), volume.bootSector.size());
    uint64_t sectors = boot.le16(bpb::TotalSectors16);
    if (sectors == 0) sectors = boot.le32(bpb::TotalSectors32);
    return sectors * boot.le16(bpb::BytesPerSector);
}

uint32_t FatEntry(const ClusterMap& map, uint64_t cluster) {
    const auto* fat = dynamic_cast<const FatFileSystem*>(map.fileSystem.get());
    return fat ? fat->Entry(cluster) : 0;
}

}  // namespace veld
