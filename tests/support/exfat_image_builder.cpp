#include "support/exfat_image_builder.h"

#include <algorithm>
#include <fcntl.h>
#include <filesystem>
#include <unistd.h>

#include "support/fat_image_builder.h"
#include "support/mkfs_tools.h"

namespace veld::test {
namespace {

// Boot sector fields the builder reads or writes.
constexpr int kVolumeLength = 72;        // u64 sectors
constexpr int kFatOffset = 80;           // u32 sectors
constexpr int kFatLength = 84;           // u32 sectors
constexpr int kHeapOffset = 88;          // u32 sectors
constexpr int kClusterCount = 92;        // u32
constexpr int kRootCluster = 96;         // u32
constexpr int kSerial = 100;             // u32
constexpr int kRevision = 104;           // u16
constexpr int kSectorShift = 108;        // u8
constexpr int kClusterShift = 109;       // u8
constexpr int kFatCount = 110;           // u8
constexpr int kDriveSelect = 111;        // u8
constexpr int kPercentInUse = 112;       // u8
constexpr uint32_t kEndOfChain = 0xFFFFFFFF;
constexpr size_t kSlot = 32;
constexpr int kNameUnits = 15;

uint64_t Get(const std::vector<uint8_t>& b, size_t at, int bytes) {
    uint64_t v = 0;
    for (int i = bytes - 1; i >= 0; --i) v = (v << 8) | b.at(at + size_t(i));
    return v;
}

void Put(uint8_t* p, uint64_t v, int bytes) {
    for (int i = 0; i < bytes; ++i) p[i] = uint8_t(v >> (8 * i));
}

int Shift(uint64_t v) {
    int s = 0;
    while ((uint64_t(1) << s) < v) ++s;
    return s;
}

uint32_t Packed(const ExfatTime& t) {
    return (uint32_t(t.year - 1980) << 25) | (uint32_t(t.month) << 21) | (uint32_t(t.day) << 16) |
           (uint32_t(t.hour) << 11) | (uint32_t(t.minute) << 5) | uint32_t(t.second / 2);
}

uint8_t OffsetByte(const ExfatTime& t) {
    return t.offsetValid ? uint8_t(0x80 | ((t.utcOffsetMinutes / 15) & 0x7F)) : 0;
}

uint32_t RegionChecksum(const std::vector<uint8_t>& region, uint32_t sectorSize) {
    uint32_t sum = 0;
    for (size_t i = 0; i < size_t(11) * sectorSize; ++i) {
        if (i == 106 || i == 107 || i == 112) continue;
        sum = ((sum & 1) ? 0x80000000u : 0u) + (sum >> 1) + region[i];
    }
    return sum;
}

uint32_t TableChecksum(const std::vector<uint8_t>& table) {
    uint32_t sum = 0;
    for (uint8_t b : table) sum = ((sum & 1) ? 0x80000000u : 0u) + (sum >> 1) + b;
    return sum;
}

}  // namespace

uint16_t ExfatImageBuilder::SetChecksum(std::span<const uint8_t> entries) {
    uint16_t sum = 0;
    for (size_t i = 0; i < entries.size(); ++i) {
        if (i == 2 || i == 3) continue;
        sum = uint16_t(((sum & 1) ? 0x8000 : 0) + (sum >> 1) + entries[i]);
    }
    return sum;
}

// Over the up-cased name; the builder's names up-case in ASCII only (its
// other characters, Japanese ones, have no case).
uint16_t ExfatImageBuilder::NameHash(const std::vector<uint16_t>& name) {
    uint16_t hash = 0;
    for (uint16_t u : name) {
        if (u >= 'a' && u <= 'z') u = uint16_t(u - 'a' + 'A');
        for (uint8_t b : {uint8_t(u), uint8_t(u >> 8)}) hash = uint16_t(((hash & 1) ? 0x8000 : 0) + (hash >> 1) + b);
    }
    return hash;
}

ExfatImageBuilder::ExfatImageBuilder(std::string path, const ExfatFormat& format) : path_(std::move(path)) {
    std::error_code ec;
    std::filesystem::remove(path_, ec);
    {
        int fd = ::open(path_.c_str(), O_CREAT | O_WRONLY | O_TRUNC, 0644);
        if (fd < 0 || ::ftruncate(fd, off_t(format.sizeBytes)) != 0) {
            if (fd >= 0) ::close(fd);
            Fail("cannot create the sparse image " + path_);
            return;
        }
        ::close(fd);
    }
    using F = ExfatFormat::Formatter;
    const bool mkfs = format.formatter == F::Mkfs ||
                      (format.formatter == F::Auto && format.sectorSize == 512 && !FindTool("mkfs.exfat").empty());
    std::string why = mkfs ? FormatWithMkfs(format) : FormatOwn(format);
    byMkfs_ = mkfs;
    if (why.empty()) why = ReadGeometry();
    if (!why.empty()) Fail(why);
}

bool ExfatImageBuilder::Fail(const std::string& why) {
    if (error_.empty()) error_ = why;
    return false;
}

std::string ExfatImageBuilder::FormatWithMkfs(const ExfatFormat& f) {
    if (f.sectorSize != 512) return "mkfs.exfat formats image files with 512-byte sectors only";
    std::vector<std::string> argv{"mkfs.exfat", "-c", std::to_string(f.clusterSize), "-L", f.label};
    if (f.boundaryAlign != 0) argv.insert(argv.end(), {"-b", std::to_string(f.boundaryAlign)});
    argv.push_back(path_);
    CommandResult r = RunCommand(argv);
    if (r.exitCode != 0) return "mkfs.exfat failed (" + std::to_string(r.exitCode) + "): " + r.err + r.out;
    return {};
}

// The layout of a fresh volume: boot regions in sectors 0..23, one FAT from
// sector 24, the heap from the next cluster boundary; cluster 2 onwards holds
// the allocation bitmap, the up-case table and the root directory.
std::string ExfatImageBuilder::FormatOwn(const ExfatFormat& f) {
    const uint64_t sector = f.sectorSize;
    if ((sector != 512 && sector != 4096) || f.clusterSize < sector || f.clusterSize % sector != 0)
        return "unsupported sector or cluster size";
    const uint64_t spc = f.clusterSize / sector;
    const uint64_t volumeSectors = f.sizeBytes / sector;
    const uint64_t fatOffset = 24;
    uint64_t count = volumeSectors / spc;
    const uint64_t fatLength = ((count + 2) * 4 + sector - 1) / sector;
    const uint64_t heap = (fatOffset + fatLength + spc - 1) / spc * spc;
    if (heap >= volumeSectors) return "image too small";
    count = std::min<uint64_t>((volumeSectors - heap) / spc, 0xFFFFFFF5);

    // Up-case table: the first 128 characters, a..z mapped to A..Z; the
    // characters after the table map to themselves.
    std::vector<uint8_t> upcase(256);
    for (uint16_t c = 0; c < 128; ++c) Put(&upcase[2 * c], (c >= 'a' && c <= 'z') ? c - 32 : c, 2);
    const uint64_t bitmapBytes = (count + 7) / 8;
    const uint64_t bitmapClusters = (bitmapBytes + f.clusterSize - 1) / f.clusterSize;
    const uint64_t upcaseCluster = 2 + bitmapClusters;
    const uint64_t rootCluster = upcaseCluster + 1;

    std::vector<uint8_t> region(12 * sector, 0);
    uint8_t* b = region.data();
    b[0] = 0xEB, b[1] = 0x76, b[2] = 0x90;
    std::copy_n("EXFAT   ", 8, b + 3);
    Put(b + kVolumeLength, volumeSectors, 8);
    Put(b + kFatOffset, fatOffset, 4);
    Put(b + kFatLength, fatLength, 4);
    Put(b + kHeapOffset, heap, 4);
    Put(b + kClusterCount, count, 4);
    Put(b + kRootCluster, rootCluster, 4);
    Put(b + kSerial, 0x1234ABCD, 4);
    Put(b + kRevision, 0x0100, 2);
    b[kSectorShift] = uint8_t(Shift(sector));
    b[kClusterShift] = uint8_t(Shift(spc));
    b[kFatCount] = 1;
    b[kDriveSelect] = 0x80;
    b[kPercentInUse] = 0;
    b[510] = 0x55, b[511] = 0xAA;
    for (int s = 1; s <= 8; ++s) Put(b + s * sector + sector - 4, 0xAA550000, 4);  // extended boot signatures
    const uint32_t sum = RegionChecksum(region, uint32_t(sector));
    for (uint64_t at = 11 * sector; at < 12 * sector; at += 4) Put(b + at, sum, 4);

    clusterSize_ = f.clusterSize;
    heapOffset_ = heap * sector;
    fatOffset_ = fatOffset * sector;
    auto cluster = [&](uint64_t c) { return heapOffset_ + (c - 2) * clusterSize_; };
    std::vector<uint8_t> fat((rootCluster + 1) * 4, 0);
    Put(&fat[0], 0xFFFFFFF8, 4);
    Put(&fat[4], 0xFFFFFFFF, 4);
    for (uint64_t c = 2; c < upcaseCluster; ++c) Put(&fat[4 * c], c + 1 < upcaseCluster ? c + 1 : kEndOfChain, 4);
    Put(&fat[4 * upcaseCluster], kEndOfChain, 4);
    Put(&fat[4 * rootCluster], kEndOfChain, 4);
    std::vector<uint8_t> bitmap(bitmapBytes, 0);
    for (uint64_t c = 2; c <= rootCluster; ++c) bitmap[(c - 2) / 8] |= uint8_t(1 << ((c - 2) % 8));

    std::vector<uint8_t> root(kSlot * 3, 0);
    root[0] = 0x83;  // volume label
    std::vector<uint16_t> label = Utf16Of(f.label);
    label.resize(std::min<size_t>(label.size(), 11));
    root[1] = uint8_t(label.size());
    for (size_t i = 0; i < label.size(); ++i) Put(&root[2 + 2 * i], label[i], 2);
    root[32] = 0x81;  // allocation bitmap
    Put(&root[32 + 20], 2, 4);
    Put(&root[32 + 24], bitmapBytes, 8);
    root[64] = 0x82;  // up-case table
    Put(&root[64 + 4], TableChecksum(upcase), 4);
    Put(&root[64 + 20], upcaseCluster, 4);
    Put(&root[64 + 24], upcase.size(), 8);

    const bool ok = WriteAt(0, region.data(), region.size()) && WriteAt(12 * sector, region.data(), region.size()) &&
                    WriteAt(fatOffset_, fat.data(), fat.size()) && WriteAt(cluster(2), bitmap.data(), bitmap.size()) &&
                    WriteAt(cluster(upcaseCluster), upcase.data(), upcase.size()) &&
                    WriteAt(cluster(rootCluster), root.data(), root.size());
    return ok ? std::string() : "cannot write the fresh volume";
}

std::string ExfatImageBuilder::ReadGeometry() {
    std::vector<uint8_t> boot(512);
    if (!ReadAt(0, boot.data(), boot.size())) return "cannot read the boot sector";
    sectorSize_ = uint32_t(1) << boot[kSectorShift];
    clusterSize_ = uint64_t(sectorSize_) << boot[kClusterShift];
    fatOffset_ = Get(boot, kFatOffset, 4) * sectorSize_;
    heapOffset_ = Get(boot, kHeapOffset, 4) * sectorSize_;
    clusterCount_ = uint32_t(Get(boot, kClusterCount, 4));
    rootCluster_ = uint32_t(Get(boot, kRootCluster, 4));

    Item root;
    root.isDir = true;
    root.noFatChain = false;
    for (uint64_t c = rootCluster_; root.clusters.size() < clusterCount_;) {
        root.clusters.push_back(c);
        std::vector<uint8_t> next(4);
        if (!ReadAt(fatOffset_ + 4 * c, next.data(), 4)) return "cannot read the FAT";
        c = Get(next, 0, 4);
        if (c < 2 || c >= uint64_t(clusterCount_) + 2) break;
    }
    root.entries.resize(root.clusters.size() * clusterSize_);
    for (size_t i = 0; i < root.clusters.size(); ++i)
        if (!ReadAt(ClusterOffset(root.clusters[i]), &root.entries[i * clusterSize_], clusterSize_))
            return "cannot read the root directory";
    uint64_t bitmapCluster = 0, bitmapBytes = 0;
    for (size_t at = 0; at + kSlot <= root.entries.size(); at += kSlot) {
        const uint8_t type = root.entries[at];
        if (type == 0) break;
        if (type == 0x81) {
            bitmapCluster = Get(root.entries, at + 20, 4);
            bitmapBytes = Get(root.entries, at + 24, 8);
        }
        root.nextSlot = at / kSlot + 1;
    }
    if (bitmapCluster < 2 || bitmapBytes < (clusterCount_ + 7) / 8) return "no allocation bitmap in the root";
    bitmapOffset_ = ClusterOffset(bitmapCluster);
    bitmap_.resize((clusterCount_ + 7) / 8);
    if (!ReadAt(bitmapOffset_, bitmap_.data(), bitmap_.size())) return "cannot read the allocation bitmap";
    items_.push_back(std::move(root));
    return {};
}

bool ExfatImageBuilder::ReadAt(uint64_t offset, void* data, size_t size) const {
    int fd = ::open(path_.c_str(), O_RDONLY);
    if (fd < 0) return false;
    ssize_t n = ::pread(fd, data, size, off_t(offset));
    ::close(fd);
    return n == ssize_t(size);
}

bool ExfatImageBuilder::WriteAt(uint64_t offset, const void* data, size_t size) {
    int fd = ::open(path_.c_str(), O_WRONLY);
    if (fd < 0) return Fail("cannot open " + path_);
    ssize_t n = ::pwrite(fd, data, size, off_t(offset));
    ::close(fd);
    return n == ssize_t(size) || Fail("cannot write " + path_);
}

bool ExfatImageBuilder::BitSet(uint64_t c) const { return (bitmap_[(c - 2) / 8] >> ((c - 2) % 8)) & 1; }

void ExfatImageBuilder::SetBit(uint64_t c, bool used) {
    const uint8_t mask = uint8_t(1 << ((c - 2) % 8));
    if (used) bitmap_[(c - 2) / 8] |= mask;
    else bitmap_[(c - 2) / 8] &= uint8_t(~mask);
}

std::vector<uint64_t> ExfatImageBuilder::Allocate(uint64_t count, bool contiguous, uint64_t from) {
    std::vector<uint64_t> taken;
    const uint64_t end = uint64_t(clusterCount_) + 2;
    const uint64_t start = from != 0 ? from : 2;
    if (count == 0) return taken;
    if (contiguous) {
        for (uint64_t c = start; c + count <= end; ++c) {
            uint64_t run = 0;
            while (run < count && !BitSet(c + run)) ++run;
            if (run == count) {
                for (uint64_t k = 0; k < count; ++k) taken.push_back(c + k);
                break;
            }
            if (from != 0) break;  // exactly there, or not at all
            c += run;
        }
    } else {
        for (uint64_t c = start; c < end && taken.size() < count; ++c) {
            if (!BitSet(c)) taken.push_back(c);
            else if (from != 0 && taken.empty()) break;
        }
    }
    if (taken.size() != count) {
        Fail("no room for " + std::to_string(count) + " clusters");
        return {};
    }
    for (uint64_t c : taken) SetBit(c, true);
    return taken;
}

bool ExfatImageBuilder::AddSet(int dir, Item& item, const std::string& name, uint16_t attributes, const ExfatTime& time,
                               uint64_t size, uint8_t streamFlags) {
    Item& folder = items_[size_t(dir)];
    if (folder.deleted) return Fail("cannot add to a deleted folder");
    std::vector<uint16_t> units = Utf16Of(name);
    if (units.empty() || units.size() > 255) return Fail("name length out of range: " + name);
    const size_t nameEntries = (units.size() + kNameUnits - 1) / kNameUnits;
    const size_t slots = 2 + nameEntries;
    if ((folder.nextSlot + slots) * kSlot > folder.entries.size()) return Fail("folder full: " + name);

    std::vector<uint8_t> set(slots * kSlot, 0);
    uint8_t* file = set.data();
    file[0] = 0x85;
    file[1] = uint8_t(slots - 1);
    Put(file + 4, attributes, 2);
    for (int stamp : {8, 12, 16}) Put(file + stamp, Packed(time), 4);
    file[20] = file[21] = uint8_t((time.second % 2) * 100);
    file[22] = file[23] = file[24] = OffsetByte(time);
    uint8_t* stream = file + kSlot;
    stream[0] = 0xC0;
    stream[1] = streamFlags;
    stream[3] = uint8_t(units.size());
    Put(stream + 4, NameHash(units), 2);
    Put(stream + 8, size, 8);
    Put(stream + 20, item.clusters.empty() ? 0 : item.clusters.front(), 4);
    Put(stream + 24, size, 8);
    for (size_t n = 0; n < nameEntries; ++n) {
        uint8_t* entry = file + (2 + n) * kSlot;
        entry[0] = 0xC1;
        for (size_t k = 0; k < kNameUnits && n * kNameUnits + k < units.size(); ++k)
            Put(entry + 2 + 2 * k, units[n * kNameUnits + k], 2);
    }
    Put(file + 2, SetChecksum(set), 2);

    std::copy(set.begin(), set.end(), folder.entries.begin() + std::ptrdiff_t(folder.nextSlot * kSlot));
    item.parent = dir;
    item.slot = folder.nextSlot;
    item.slots = slots;
    folder.nextSlot += slots;
    return true;
}

ExfatImageBuilder::Node ExfatImageBuilder::AddDir(Node parent, const std::string& name, const ExfatTime& time, int clusters,
                                                  uint64_t firstCluster) {
    if (!error_.empty() || parent.id < 0 || size_t(parent.id) >= items_.size()) return {};
    Item item;
    item.isDir = true;
    item.clusters = Allocate(uint64_t(clusters), true, firstCluster);
    if (item.clusters.empty()) return {};
    item.entries.assign(item.clusters.size() * clusterSize_, 0);
    if (!AddSet(parent.id, item, name, 0x10, time, item.entries.size(), 0x03)) return {};
    items_.push_back(std::move(item));
    const int id = int(items_.size() - 1);
    items_[size_t(parent.id)].children.push_back(id);
    return Node{id};
}

bool ExfatImageBuilder::WriteFileData(const std::vector<uint64_t>& clusters, uint64_t at, std::span<const uint8_t> bytes) {
    // Piece by piece, since chained clusters need not be neighbours.
    uint64_t done = 0;
    while (done < bytes.size()) {
        const uint64_t position = at + done;
        const uint64_t index = position / clusterSize_;
        const uint64_t within = position % clusterSize_;
        const uint64_t piece = std::min<uint64_t>(clusterSize_ - within, bytes.size() - done);
        if (index >= clusters.size()) return Fail("file data beyond its clusters");
        if (!WriteAt(ClusterOffset(clusters[index]) + within, bytes.data() + done, piece)) return false;
        done += piece;
    }
    return true;
}

ExfatImageBuilder::Node ExfatImageBuilder::AddFile(Node parent, const std::string& name, std::span<const uint8_t> bytes,
                                                   const ExfatFileOptions& o) {
    if (!error_.empty() || parent.id < 0 || size_t(parent.id) >= items_.size()) return {};
    const uint64_t size = o.size != 0 ? o.size : bytes.size();
    if (size < bytes.size() || size < o.tail.size()) {
        Fail("file size smaller than its bytes");
        return {};
    }
    Item item;
    item.noFatChain = o.noFatChain;
    const uint64_t count = (size + clusterSize_ - 1) / clusterSize_;
    item.clusters = Allocate(count, o.noFatChain, o.firstCluster);
    if (count != 0 && item.clusters.empty()) return {};
    if (!o.noFatChain)
        for (size_t i = 0; i < item.clusters.size(); ++i)
            fatWrites_.emplace_back(item.clusters[i], i + 1 < item.clusters.size() ? uint32_t(item.clusters[i + 1]) : kEndOfChain);
    if (!WriteFileData(item.clusters, 0, bytes) || !WriteFileData(item.clusters, size - o.tail.size(), o.tail)) return {};
    const uint8_t flags = uint8_t(0x01 | (o.noFatChain && count != 0 ? 0x02 : 0));
    if (!AddSet(parent.id, item, name, o.attributes, o.time, size, flags)) return {};
    items_.push_back(std::move(item));
    const int id = int(items_.size() - 1);
    items_[size_t(parent.id)].children.push_back(id);
    return Node{id};
}

void ExfatImageBuilder::Delete(Node node) {
    if (node.id <= 0 || size_t(node.id) >= items_.size() || items_[size_t(node.id)].deleted) return;
    for (int child : items_[size_t(node.id)].children) Delete(Node{child});
    Item& item = items_[size_t(node.id)];
    Item& parent = items_[size_t(item.parent)];
    for (size_t s = item.slot; s < item.slot + item.slots; ++s) parent.entries[s * kSlot] &= 0x7F;
    for (uint64_t c : item.clusters) SetBit(c, false);
    item.deleted = true;
    // A deleted folder's clusters keep its entries as they were at deletion;
    // files written later may overwrite them.
    if (item.isDir)
        for (size_t i = 0; i < item.clusters.size(); ++i)
            WriteAt(ClusterOffset(item.clusters[i]), &item.entries[i * clusterSize_], clusterSize_);
}

std::string ExfatImageBuilder::Finish() {
    if (!error_.empty()) return error_;
    for (const Item& item : items_) {
        if (!item.isDir || item.deleted) continue;
        for (size_t i = 0; i < item.clusters.size(); ++i)
            WriteAt(ClusterOffset(item.clusters[i]), &item.entries[i * clusterSize_], clusterSize_);
    }
    for (const auto& [cluster, value] : fatWrites_) {
        uint8_t bytes[4];
        Put(bytes, value, 4);
        WriteAt(fatOffset_ + 4 * cluster, bytes, 4);
    }
    WriteAt(bitmapOffset_, bitmap_.data(), bitmap_.size());
    uint64_t used = 0;
    for (uint64_t c = 2; c < uint64_t(clusterCount_) + 2; ++c) used += BitSet(c);
    const uint8_t percent = uint8_t(used * 100 / clusterCount_);
    WriteAt(kPercentInUse, &percent, 1);
    WriteAt(12ull * sectorSize_ + kPercentInUse, &percent, 1);
    return error_;
}

uint64_t ExfatImageBuilder::FirstCluster(Node node) const {
    const auto& clusters = items_.at(size_t(node.id)).clusters;
    return clusters.empty() ? 0 : clusters.front();
}

std::vector<uint64_t> ExfatImageBuilder::Clusters(Node node) const { return items_.at(size_t(node.id)).clusters; }

uint64_t ExfatImageBuilder::EntryOffset(Node node) const {
    const Item& item = items_.at(size_t(node.id));
    const Item& parent = items_.at(size_t(item.parent));
    const uint64_t at = item.slot * kSlot;
    return ClusterOffset(parent.clusters.at(at / clusterSize_)) + at % clusterSize_;
}

std::vector<uint8_t> ExfatImageBuilder::DirectoryBytes(Node dir) const { return items_.at(size_t(dir.id)).entries; }

}  // namespace veld::test
