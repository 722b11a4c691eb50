#include "support/fat_image_builder.h"

#include <algorithm>
#include <cstring>
#include <fstream>
#include <stdexcept>

#include "base/byte_reader.h"
#include "support/mkfs_tools.h"

namespace veld::test {
namespace {

// Directory entry (32 bytes).
constexpr int kEntName = 0;          // 8 + 3 bytes
constexpr int kEntAttributes = 11;   // u8
constexpr int kEntCreateTime = 14;   // u16
constexpr int kEntCreateDate = 16;   // u16
constexpr int kEntAccessDate = 18;   // u16
constexpr int kEntClusterHigh = 20;  // u16 (FAT32)
constexpr int kEntWriteTime = 22;    // u16
constexpr int kEntWriteDate = 24;    // u16
constexpr int kEntClusterLow = 26;   // u16
constexpr int kEntSize = 28;         // u32

// Long-name piece (32 bytes): 13 UTF-16 units in three runs.
constexpr int kLfnSequence = 0;      // u8, 0x40 on the last (first stored) piece
constexpr int kLfnChecksum = 13;     // u8
constexpr int kLfnRuns[3][2] = {{1, 5}, {14, 6}, {28, 2}};  // offset, units

constexpr uint8_t kDeletedMark = 0xE5;

uint32_t DivUp(uint64_t a, uint64_t b) { return uint32_t((a + b - 1) / b); }

}  // namespace

FatGeometry FatGeometry::Fat12(uint32_t totalSectors, uint8_t sectorsPerCluster) {
    FatGeometry g;
    g.fatType = 12;
    g.sectorsPerCluster = sectorsPerCluster;
    g.reservedSectors = 1;
    g.rootEntries = 224;
    g.totalSectors = totalSectors;
    g.typeString = "FAT12   ";
    g.media = 0xF0;
    return g;
}

FatGeometry FatGeometry::Fat16(uint32_t totalSectors, uint8_t sectorsPerCluster) {
    FatGeometry g;
    g.fatType = 16;
    g.sectorsPerCluster = sectorsPerCluster;
    g.reservedSectors = 1;
    g.rootEntries = 512;
    g.totalSectors = totalSectors;
    g.typeString = "FAT16   ";
    return g;
}

FatGeometry FatGeometry::Fat32(uint32_t totalSectors, uint8_t sectorsPerCluster) {
    FatGeometry g;
    g.fatType = 32;
    g.sectorsPerCluster = sectorsPerCluster;
    g.reservedSectors = 32;
    g.rootEntries = 0;
    g.totalSectors = totalSectors;
    g.typeString = "FAT32   ";
    return g;
}

std::array<uint8_t, 11> ShortName11(const std::string& name) {
    std::array<uint8_t, 11> out;
    out.fill(' ');
    if (name == "." || name == "..") {
        std::memcpy(out.data(), name.data(), name.size());
        return out;
    }
    size_t dot = name.rfind('.');
    std::string base = dot == std::string::npos ? name : name.substr(0, dot);
    std::string ext = dot == std::string::npos ? "" : name.substr(dot + 1);
    auto upper = [](char c) { return (c >= 'a' && c <= 'z') ? char(c - 'a' + 'A') : c; };
    for (size_t i = 0; i < base.size() && i < 8; ++i) out[i] = uint8_t(upper(base[i]));
    for (size_t i = 0; i < ext.size() && i < 3; ++i) out[8 + i] = uint8_t(upper(ext[i]));
    return out;
}

uint8_t LongNameChecksum(const std::array<uint8_t, 11>& shortName) {
    uint8_t sum = 0;
    for (uint8_t c : shortName) sum = uint8_t(((sum & 1) ? 0x80 : 0) + (sum >> 1) + c);
    return sum;
}

std::vector<uint16_t> Utf16Of(const std::string& utf8) {
    std::vector<uint16_t> out;
    size_t i = 0;
    while (i < utf8.size()) {
        uint8_t b = uint8_t(utf8[i]);
        uint32_t cp = b;
        int extra = 0;
        if (b >= 0xF0) { cp = b & 0x07; extra = 3; }
        else if (b >= 0xE0) { cp = b & 0x0F; extra = 2; }
        else if (b >= 0xC0) { cp = b & 0x1F; extra = 1; }
        ++i;
        for (int k = 0; k < extra && i < utf8.size(); ++k, ++i) cp = (cp << 6) | (uint8_t(utf8[i]) & 0x3F);
        if (cp >= 0x10000) {
            cp -= 0x10000;
            out.push_back(uint16_t(0xD800 + (cp >> 10)));
            out.push_back(uint16_t(0xDC00 + (cp & 0x3FF)));
        } else {
            out.push_back(uint16_t(cp));
        }
    }
    return out;
}

// ---------------------------------------------------------------- DirWriter

uint8_t* DirWriter::TakeSlot() {
    if (next_ >= slots_.size()) throw std::out_of_range("directory full");
    return &builder_->bytes()[slots_[next_++]];
}

uint64_t DirWriter::SlotOffset(size_t slot) const {
    if (slot >= slots_.size()) throw std::out_of_range("no such directory slot");
    return slots_[slot];
}

size_t DirWriter::Add(const Entry& e) {
    const std::array<uint8_t, 11> shortName = e.rawName ? *e.rawName : ShortName11(e.name);
    if (!e.longName.empty()) {
        std::vector<uint16_t> units = Utf16Of(e.longName);
        const size_t pieces = (units.size() + 12) / 13;
        const uint8_t sum = LongNameChecksum(shortName);
        // The piece holding the end of the name is stored first.
        for (size_t n = pieces; n >= 1; --n) {
            uint8_t* p = TakeSlot();
            std::memset(p, 0, 32);
            p[kLfnSequence] = e.deleted ? kDeletedMark : uint8_t(n | (n == pieces ? 0x40 : 0));
            p[kEntAttributes] = kAttrLongName;
            p[kLfnChecksum] = sum;
            size_t at = (n - 1) * 13;
            for (const auto& run : kLfnRuns) {
                for (int k = 0; k < run[1]; ++k, ++at) {
                    // The name ends with one zero unit, the rest is 0xFFFF.
                    uint16_t u = at < units.size() ? units[at] : (at == units.size() ? 0x0000 : 0xFFFF);
                    StoreLe16(p + run[0] + 2 * k, u);
                }
            }
        }
    }
    const size_t slot = next_;
    uint8_t* p = TakeSlot();
    std::memset(p, 0, 32);
    std::memcpy(p + kEntName, shortName.data(), 11);
    if (e.deleted)
        p[0] = kDeletedMark;
    else if (p[0] == kDeletedMark)
        p[0] = 0x05;  // a name really starting with 0xE5 is stored as 0x05
    p[kEntAttributes] = e.attributes;
    StoreLe16(p + kEntCreateTime, e.time);
    StoreLe16(p + kEntCreateDate, e.date);
    StoreLe16(p + kEntAccessDate, e.date);
    StoreLe16(p + kEntClusterHigh, uint16_t(e.startCluster >> 16));
    StoreLe16(p + kEntWriteTime, e.time);
    StoreLe16(p + kEntWriteDate, e.date);
    StoreLe16(p + kEntClusterLow, uint16_t(e.startCluster));
    StoreLe32(p + kEntSize, e.size);
    return slot;
}

size_t DirWriter::AddFile(const std::string& name, uint32_t start, std::span<const uint8_t> data,
                          const std::string& longName) {
    if (!data.empty()) builder_->WriteCluster(start, data);
    return AddFileOfSize(name, start, uint32_t(data.size()), longName);
}

size_t DirWriter::AddFileOfSize(const std::string& name, uint32_t start, uint32_t size, const std::string& longName) {
    if (start >= 2) builder_->MakeChain(start, builder_->ClustersFor(size));
    Entry e;
    e.name = name;
    e.longName = longName;
    e.startCluster = start;
    e.size = size;
    return Add(e);
}

size_t DirWriter::AddFragmentedFile(const std::string& name, const std::vector<uint32_t>& clusters,
                                    std::span<const uint8_t> data, const std::string& longName) {
    builder_->WriteChainData(clusters, data);
    builder_->MakeChain(clusters);
    Entry e;
    e.name = name;
    e.longName = longName;
    e.startCluster = clusters.empty() ? 0 : clusters.front();
    e.size = uint32_t(data.size());
    return Add(e);
}

size_t DirWriter::AddDeletedFile(const std::string& name, uint32_t start, std::span<const uint8_t> data,
                                 const std::string& longName) {
    if (!data.empty()) builder_->WriteCluster(start, data);
    Entry e;
    e.name = name;
    e.longName = longName;
    e.startCluster = start;
    e.size = uint32_t(data.size());
    e.deleted = true;
    return Add(e);
}

DirWriter DirWriter::SubDir(const std::string& name, uint32_t cluster, const std::string& longName, bool deleted) {
    Entry e;
    e.name = name;
    e.longName = longName;
    e.attributes = kAttrDirectory;
    e.startCluster = cluster;
    e.deleted = deleted;
    Add(e);
    builder_->FillCluster(cluster, 0);
    if (!deleted) builder_->SetFat(cluster, builder_->EndOfChain());
    DirWriter child = builder_->Dir({cluster});
    child.AddDotEntries(isRoot_ ? 0 : firstCluster_);
    return child;
}

DirWriter DirWriter::AddDir(const std::string& name, uint32_t cluster, const std::string& longName) {
    return SubDir(name, cluster, longName, false);
}

DirWriter DirWriter::AddDeletedDir(const std::string& name, uint32_t cluster, const std::string& longName) {
    return SubDir(name, cluster, longName, true);
}

void DirWriter::AddDotEntries(uint32_t parentCluster) {
    Entry dot;
    dot.rawName = ShortName11(".");
    dot.attributes = kAttrDirectory;
    dot.startCluster = firstCluster_;
    Add(dot);
    Entry dotdot = dot;
    dotdot.rawName = ShortName11("..");
    dotdot.startCluster = parentCluster;
    Add(dotdot);
}

void DirWriter::AddVolumeLabel(const std::string& label) {
    Entry e;
    std::array<uint8_t, 11> raw;
    raw.fill(' ');
    std::memcpy(raw.data(), label.data(), std::min<size_t>(label.size(), 11));
    e.rawName = raw;
    e.attributes = kAttrVolume;
    Add(e);
}

void DirWriter::AddEnd() { std::memset(TakeSlot(), 0, 32); }

size_t DirWriter::AddRaw(std::span<const uint8_t> bytes32) {
    const size_t slot = next_;
    uint8_t* p = TakeSlot();
    std::memset(p, 0, 32);
    std::memcpy(p, bytes32.data(), std::min<size_t>(bytes32.size(), 32));
    return slot;
}

void DirWriter::Skip(size_t count) { next_ = std::min(slots_.size(), next_ + count); }

// ---------------------------------------------------------- FatImageBuilder

FatImageBuilder::FatImageBuilder(const FatGeometry& geometry) : g_(geometry) {
    if (g_.bytesPerSector < 32 || g_.sectorsPerCluster == 0)
        throw std::invalid_argument("builder needs non-zero sector and cluster sizes");
    const uint32_t bps = g_.bytesPerSector;
    rootSectors_ = g_.fatType == 32 ? 0 : DivUp(uint64_t(g_.rootEntries) * 32, bps);
    sectorsPerFat_ = g_.sectorsPerFat;
    if (sectorsPerFat_ == 0) {
        // More FAT sectors leave fewer clusters, so this settles quickly.
        uint32_t spf = 1;
        for (int round = 0; round < 64; ++round) {
            int64_t dataSectors = int64_t(g_.totalSectors) - g_.reservedSectors - rootSectors_ -
                                  int64_t(g_.numberOfFats) * spf;
            uint64_t clusters = dataSectors > 0 ? uint64_t(dataSectors) / g_.sectorsPerCluster : 0;
            uint64_t fatBytes = g_.fatType == 12 ? ((clusters + 2) * 3 + 1) / 2 : (clusters + 2) * (g_.fatType / 8);
            uint32_t need = std::max<uint32_t>(1, DivUp(fatBytes, bps));
            if (need <= spf) break;
            spf = need;
        }
        sectorsPerFat_ = spf;
    }
    const uint64_t firstData = uint64_t(g_.reservedSectors) + uint64_t(g_.numberOfFats) * sectorsPerFat_ + rootSectors_;
    dataStart_ = firstData * bps;
    clusterCount_ = g_.totalSectors > firstData ? DivUp(g_.totalSectors - firstData, g_.sectorsPerCluster) : 0;
    image_.assign(std::max<uint64_t>(uint64_t(g_.totalSectors) * bps, 512), 0);
    WriteBootSector();
    WriteFatHeads();
}

void FatImageBuilder::WriteBootSector() {
    uint8_t* b = image_.data();
    const bool fat32 = g_.fatType == 32;
    b[0] = 0xEB;
    b[1] = fat32 ? 0x58 : 0x3C;
    b[2] = 0x90;
    std::memcpy(b + 3, "VELDTEST", 8);
    StoreLe16(b + 11, g_.bytesPerSector);
    b[13] = g_.sectorsPerCluster;
    StoreLe16(b + 14, g_.reservedSectors);
    b[16] = g_.numberOfFats;
    StoreLe16(b + 17, g_.rootEntries);
    const bool small = g_.totalSectors < 0x10000 && !g_.totalIn32BitField;
    StoreLe16(b + 19, small ? uint16_t(g_.totalSectors) : 0);
    b[21] = g_.media;
    StoreLe16(b + 22, fat32 ? 0 : uint16_t(sectorsPerFat_));
    StoreLe16(b + 24, 32);  // sectors per track
    StoreLe16(b + 26, 64);  // heads
    StoreLe32(b + 32, small ? 0 : g_.totalSectors);
    std::string type = g_.typeString;
    type.resize(8, ' ');
    if (fat32) {
        StoreLe32(b + 36, sectorsPerFat_);
        StoreLe32(b + 44, g_.rootCluster);
        StoreLe16(b + 48, 1);  // FSInfo sector
        StoreLe16(b + 50, 6);  // backup boot sector
        b[64] = 0x80;
        b[66] = 0x29;
        StoreLe32(b + 67, 0x20090101);
        std::memcpy(b + 71, "NO NAME    ", 11);
        std::memcpy(b + 82, type.data(), 8);
    } else {
        b[36] = 0x80;
        b[38] = 0x29;
        StoreLe32(b + 39, 0x20090101);
        std::memcpy(b + 43, "NO NAME    ", 11);
        std::memcpy(b + 54, type.data(), 8);
    }
    b[510] = 0x55;
    b[511] = 0xAA;
    const uint32_t bps = g_.bytesPerSector;
    if (fat32 && g_.reservedSectors > 1 && image_.size() >= 2ull * bps && bps >= 512) {
        uint8_t* f = b + bps;  // FSInfo: signatures, free count and next free unknown
        StoreLe32(f, 0x41615252);
        StoreLe32(f + 484, 0x61417272);
        StoreLe32(f + 488, 0xFFFFFFFF);
        StoreLe32(f + 492, 0xFFFFFFFF);
        StoreLe32(f + 508, 0xAA550000);
    }
    if (fat32 && g_.reservedSectors > 6 && image_.size() >= 7ull * bps && bps >= 512)
        std::memcpy(b + 6 * bps, b, 512);
}

void FatImageBuilder::WriteFatHeads() {
    switch (g_.fatType) {
        case 12: SetFat(0, 0xF00u | g_.media); break;
        case 16: SetFat(0, 0xFF00u | g_.media); break;
        default: SetFat(0, 0x0FFFFF00u | g_.media); break;
    }
    SetFat(1, EndOfChain());
    if (g_.fatType == 32 && g_.rootCluster >= 2 && g_.rootCluster < FatEntryCount()) SetFat(g_.rootCluster, EndOfChain());
}

uint64_t FatImageBuilder::FatOffset(int copy) const {
    return (uint64_t(g_.reservedSectors) + uint64_t(copy) * sectorsPerFat_) * g_.bytesPerSector;
}

uint64_t FatImageBuilder::RootDirOffset() const { return FatOffset(g_.numberOfFats); }

uint64_t FatImageBuilder::ClusterOffset(uint64_t cluster) const {
    if (cluster < 2) return 0;
    return (cluster - 2) * ClusterSize() + dataStart_;
}

uint32_t FatImageBuilder::FatEntryCount() const {
    uint64_t bytes = uint64_t(sectorsPerFat_) * g_.bytesPerSector;
    return uint32_t(g_.fatType == 12 ? bytes * 2 / 3 : bytes / (g_.fatType / 8));
}

uint32_t FatImageBuilder::EndOfChain() const {
    return g_.fatType == 12 ? 0xFFF : g_.fatType == 16 ? 0xFFFF : 0x0FFFFFFF;
}

void FatImageBuilder::SetFat(uint32_t cluster, uint32_t value) {
    if (cluster >= FatEntryCount()) throw std::out_of_range("cluster beyond the FAT");
    for (int copy = 0; copy < g_.numberOfFats; ++copy) {
        uint8_t* fat = image_.data() + FatOffset(copy);
        if (g_.fatType == 12) {
            // Two entries in three bytes; the pair may straddle a sector.
            uint8_t* p = fat + uint64_t(cluster) * 3 / 2;
            value &= 0xFFF;
            if (cluster & 1) {
                p[0] = uint8_t((p[0] & 0x0F) | ((value & 0x0F) << 4));
                p[1] = uint8_t(value >> 4);
            } else {
                p[0] = uint8_t(value);
                p[1] = uint8_t((p[1] & 0xF0) | (value >> 8));
            }
        } else if (g_.fatType == 16) {
            StoreLe16(fat + uint64_t(cluster) * 2, uint16_t(value));
        } else {
            StoreLe32(fat + uint64_t(cluster) * 4, value);
        }
    }
}

uint32_t FatImageBuilder::GetFat(uint32_t cluster, int copy) const {
    if (cluster >= FatEntryCount()) throw std::out_of_range("cluster beyond the FAT");
    ByteReader r(image_.data() + FatOffset(copy), uint64_t(sectorsPerFat_) * g_.bytesPerSector);
    if (g_.fatType == 12) {
        uint16_t word = r.le16(uint64_t(cluster) * 3 / 2);
        return (cluster & 1) ? word >> 4 : word & 0xFFF;
    }
    return g_.fatType == 16 ? r.le16(uint64_t(cluster) * 2) : r.le32(uint64_t(cluster) * 4);
}

void FatImageBuilder::MakeChain(const std::vector<uint32_t>& clusters) {
    for (size_t i = 0; i < clusters.size(); ++i)
        SetFat(clusters[i], i + 1 < clusters.size() ? clusters[i + 1] : EndOfChain());
}

void FatImageBuilder::MakeChain(uint32_t first, uint32_t count) {
    for (uint32_t i = 0; i < count; ++i) SetFat(first + i, i + 1 < count ? first + i + 1 : EndOfChain());
}

void FatImageBuilder::MakeCycle(const std::vector<uint32_t>& clusters) {
    for (size_t i = 0; i < clusters.size(); ++i) SetFat(clusters[i], clusters[(i + 1) % clusters.size()]);
}

uint32_t FatImageBuilder::ClustersFor(uint64_t size) const { return std::max<uint32_t>(1, DivUp(size, ClusterSize())); }

void FatImageBuilder::WriteBytes(uint64_t offset, std::span<const uint8_t> data) {
    if (offset > image_.size() || data.size() > image_.size() - offset) throw std::out_of_range("write beyond the image");
    std::memcpy(image_.data() + offset, data.data(), data.size());
}

void FatImageBuilder::WriteCluster(uint32_t cluster, std::span<const uint8_t> data, uint32_t offsetInCluster) {
    if (cluster < 2) throw std::out_of_range("no data cluster below 2");
    WriteBytes(ClusterOffset(cluster) + offsetInCluster, data);
}

void FatImageBuilder::FillCluster(uint32_t cluster, uint8_t value) {
    if (cluster < 2) throw std::out_of_range("no data cluster below 2");
    std::vector<uint8_t> fill(ClusterSize(), value);
    WriteBytes(ClusterOffset(cluster), fill);
}

void FatImageBuilder::WriteChainData(const std::vector<uint32_t>& clusters, std::span<const uint8_t> data) {
    const size_t cs = ClusterSize();
    for (size_t i = 0; i < clusters.size() && i * cs < data.size(); ++i)
        WriteCluster(clusters[i], data.subspan(i * cs, std::min(cs, data.size() - i * cs)));
}

DirWriter FatImageBuilder::Root() {
    if (g_.fatType == 32 || g_.rootEntries == 0) {
        DirWriter root = Dir({g_.rootCluster});
        root.isRoot_ = true;
        return root;
    }
    std::vector<uint64_t> slots;
    for (uint32_t i = 0; i < g_.rootEntries; ++i) slots.push_back(RootDirOffset() + uint64_t(i) * 32);
    return DirWriter(this, std::move(slots), 0, true);
}

DirWriter FatImageBuilder::Dir(const std::vector<uint32_t>& clusters) {
    std::vector<uint64_t> slots;
    for (uint32_t c : clusters) {
        if (c < 2 || ClusterOffset(c) + ClusterSize() > image_.size()) throw std::out_of_range("directory cluster outside the image");
        for (uint32_t k = 0; k < ClusterSize() / 32; ++k) slots.push_back(ClusterOffset(c) + uint64_t(k) * 32);
    }
    return DirWriter(this, std::move(slots), clusters.empty() ? 0 : clusters.front(), false);
}

void FatImageBuilder::ZeroFirstSector() {
    std::fill(image_.begin(), image_.begin() + std::min<size_t>(image_.size(), std::max<size_t>(512, g_.bytesPerSector)), 0);
}

void FatImageBuilder::ClearMarker() {
    image_[510] = 0;
    image_[511] = 0;
}

void FatImageBuilder::SetBoot8(int offset, uint8_t value) { image_.at(offset) = value; }
void FatImageBuilder::SetBoot16(int offset, uint16_t value) { StoreLe16(&image_.at(offset + 1) - 1, value); }
void FatImageBuilder::SetBoot32(int offset, uint32_t value) { StoreLe32(&image_.at(offset + 3) - 3, value); }
void FatImageBuilder::SetBootBytes(int offset, const std::string& text) {
    WriteBytes(uint64_t(offset), {reinterpret_cast<const uint8_t*>(text.data()), text.size()});
}

std::unique_ptr<DiskVolume> FatImageBuilder::Open() const { return DiskIO_OpenMemory(image_); }

bool FatImageBuilder::WriteToFile(const std::string& path) const {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(image_.data()), std::streamsize(image_.size()));
    return bool(out);
}

std::string FatImageBuilder::WriteTo(const TempDir& dir, const std::string& name) const {
    std::string path = dir.File(name);
    return WriteToFile(path) ? path : std::string();
}

}  // namespace veld::test
