// Builds FAT12, FAT16 and FAT32 volume images in memory for the tests: a boot
// sector with chosen geometry, FAT chains (also broken ones: cycles, chains
// into reserved numbers), directory entries with long names, deleted entries
// and deleted folders, and cluster contents.
//
//   FatImageBuilder b(FatGeometry::Fat16());
//   auto dcim = b.Root().AddDir("DCIM", 3);
//   auto canon = dcim.AddDir("100CANON", 4);
//   canon.AddFile("IMG_0001.JPG", 5, jpegBytes);          // data in 5.., chained
//   canon.AddDeletedFile("IMG_0002.JPG", 20, otherBytes); // data kept, FAT clear
//   auto volume = b.Open();                               // DiskIO_OpenMemory
//
// Layout (sectors): reserved (boot sector first) | FAT copies | fixed root
// directory (FAT12/16 only; its sectors rounded up) | data area from cluster 2.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "volume/disk_volume.h"

namespace veld::test {

class TempDir;

// Directory-entry attribute bits.
constexpr uint8_t kAttrReadOnly = 0x01;
constexpr uint8_t kAttrHidden = 0x02;
constexpr uint8_t kAttrSystem = 0x04;
constexpr uint8_t kAttrVolume = 0x08;
constexpr uint8_t kAttrDirectory = 0x10;
constexpr uint8_t kAttrArchive = 0x20;
constexpr uint8_t kAttrLongName = 0x0F;

// FAT date and time words.
constexpr uint16_t DosDate(int year, int month, int day) {
    return uint16_t(((year - 1980) << 9) | (month << 5) | day);
}
constexpr uint16_t DosTime(int hour, int minute, int second) {
    return uint16_t((hour << 11) | (minute << 5) | (second / 2));
}

struct FatGeometry {
    int fatType = 16;                  // 12, 16 or 32: decides the FAT entry width
    uint16_t bytesPerSector = 512;
    uint8_t sectorsPerCluster = 2;
    uint16_t reservedSectors = 1;
    uint8_t numberOfFats = 2;
    uint16_t rootEntries = 512;        // 0 for FAT32
    uint32_t totalSectors = 16384;
    uint32_t sectorsPerFat = 0;        // 0: computed from the cluster count
    std::string typeString = "FAT16   ";  // 8 bytes at 54 (FAT12/16) or 82 (FAT32)
    uint8_t media = 0xF8;
    uint32_t rootCluster = 2;          // FAT32 only
    bool totalIn32BitField = false;    // store the total in the 32-bit field even when it fits 16 bits

    // Small defaults that keep images at a few MiB. The engine tells FAT32
    // by root entries 0 and FAT12 from FAT16 by the type string; other tools
    // (mtools, fsck.fat) go by the cluster count, so images they should read
    // need 4085 to 65524 clusters for FAT16 (the default has 8170) and at
    // least 65525 for FAT32 (for example Fat32(70000, 1), 34 MiB).
    static FatGeometry Fat12(uint32_t totalSectors = 2880, uint8_t sectorsPerCluster = 1);
    static FatGeometry Fat16(uint32_t totalSectors = 16384, uint8_t sectorsPerCluster = 2);
    static FatGeometry Fat32(uint32_t totalSectors = 16384, uint8_t sectorsPerCluster = 1);
};

// "IMG_0001.JPG" -> "IMG_0001JPG" (upper-cased, blank padded); "." and ".."
// give the dot entries' names.
std::array<uint8_t, 11> ShortName11(const std::string& name);
// The checksum that ties long-name pieces to their short entry.
uint8_t LongNameChecksum(const std::array<uint8_t, 11>& shortName);
// UTF-8 to UTF-16 code units (surrogate pairs above U+FFFF).
std::vector<uint16_t> Utf16Of(const std::string& utf8);

// One directory entry, with optional long name.
struct Entry {
    std::string name;                          // short name "NAME.EXT"
    std::optional<std::array<uint8_t, 11>> rawName;  // used instead of name when set
    std::string longName;                      // UTF-8; empty: no long-name pieces
    uint8_t attributes = kAttrArchive;
    uint32_t startCluster = 0;
    uint32_t size = 0;
    uint16_t date = DosDate(2009, 1, 1);       // write date and time
    uint16_t time = DosTime(11, 33, 30);
    bool deleted = false;                      // first byte 0xE5, long-name sequence bytes 0xE5
};

class FatImageBuilder;

// Writes entries into one directory: the fixed root area, or the clusters of
// a directory. Entries go into consecutive 32-byte slots.
class DirWriter {
public:
    // Adds an entry (long-name pieces first); returns the slot of the short entry.
    size_t Add(const Entry& entry);
    // A live file: entry, data written from start on into consecutive
    // clusters, FAT chain over them.
    size_t AddFile(const std::string& name, uint32_t start, std::span<const uint8_t> data,
                   const std::string& longName = "");
    // A live file of the given size without writing data (chain still made).
    size_t AddFileOfSize(const std::string& name, uint32_t start, uint32_t size, const std::string& longName = "");
    // A live file whose data lies in the listed clusters, chained in that order.
    size_t AddFragmentedFile(const std::string& name, const std::vector<uint32_t>& clusters,
                             std::span<const uint8_t> data, const std::string& longName = "");
    // A deleted file: entry with 0xE5, data in consecutive clusters, FAT untouched.
    size_t AddDeletedFile(const std::string& name, uint32_t start, std::span<const uint8_t> data,
                          const std::string& longName = "");
    // A live folder in one cluster: entry, FAT end mark, "." and ".." entries.
    DirWriter AddDir(const std::string& name, uint32_t cluster, const std::string& longName = "");
    // A deleted folder: entry with 0xE5, its cluster keeps "." and ".." and
    // whatever is added through the returned writer; FAT untouched.
    DirWriter AddDeletedDir(const std::string& name, uint32_t cluster, const std::string& longName = "");
    // "." and ".." naming this directory and its parent (0 for the root).
    void AddDotEntries(uint32_t parentCluster);
    void AddVolumeLabel(const std::string& label);
    // The end-of-directory mark: a zero first byte in the next slot.
    void AddEnd();
    // Any 32 bytes into the next slot.
    size_t AddRaw(std::span<const uint8_t> bytes32);
    void Skip(size_t count);

    size_t NextSlot() const { return next_; }
    size_t SlotCount() const { return slots_.size(); }
    // Byte offset of a slot on the image.
    uint64_t SlotOffset(size_t slot) const;
    uint32_t Cluster() const { return firstCluster_; }  // 0 for the fixed root
    bool IsRoot() const { return isRoot_; }

private:
    friend class FatImageBuilder;
    DirWriter(FatImageBuilder* builder, std::vector<uint64_t> slotOffsets, uint32_t firstCluster, bool isRoot)
        : builder_(builder), slots_(std::move(slotOffsets)), firstCluster_(firstCluster), isRoot_(isRoot) {}
    uint8_t* TakeSlot();
    DirWriter SubDir(const std::string& name, uint32_t cluster, const std::string& longName, bool deleted);

    FatImageBuilder* builder_;
    std::vector<uint64_t> slots_;
    uint32_t firstCluster_;
    bool isRoot_;
    size_t next_ = 0;
};

class FatImageBuilder {
public:
    explicit FatImageBuilder(const FatGeometry& geometry);

    const FatGeometry& geometry() const { return g_; }
    std::vector<uint8_t>& bytes() { return image_; }
    const std::vector<uint8_t>& bytes() const { return image_; }

    // Layout.
    uint32_t SectorsPerFat() const { return sectorsPerFat_; }
    uint64_t FatOffset(int copy = 0) const;
    uint64_t RootDirOffset() const;      // fixed root area (FAT12/16)
    uint64_t DataStart() const { return dataStart_; }
    uint32_t ClusterSize() const { return uint32_t(g_.bytesPerSector) * g_.sectorsPerCluster; }
    uint32_t ClusterCount() const { return clusterCount_; }  // data clusters (partial last one counted)
    uint64_t ClusterOffset(uint64_t cluster) const;          // 0 below cluster 2
    uint32_t FatEntryCount() const;      // entries the FAT sectors can hold
    uint32_t EndOfChain() const;         // 0xFFF, 0xFFFF or 0x0FFFFFFF

    // FAT (written into every copy). FAT12/16 values are cut to 12/16 bits;
    // FAT32 values are stored whole, top four bits included.
    void SetFat(uint32_t cluster, uint32_t value);
    uint32_t GetFat(uint32_t cluster, int copy = 0) const;
    // Links the clusters in order, the last one gets the end mark.
    void MakeChain(const std::vector<uint32_t>& clusters);
    void MakeChain(uint32_t first, uint32_t count);
    // Links the clusters in order and the last one back to the first.
    void MakeCycle(const std::vector<uint32_t>& clusters);
    // Number of clusters that size bytes take (at least 1).
    uint32_t ClustersFor(uint64_t size) const;

    // Data area.
    void WriteBytes(uint64_t offset, std::span<const uint8_t> data);
    // Writes data from the start of the cluster (plus offset) on, running into
    // the following clusters when longer than one.
    void WriteCluster(uint32_t cluster, std::span<const uint8_t> data, uint32_t offsetInCluster = 0);
    void FillCluster(uint32_t cluster, uint8_t value);
    // Writes data spread over the listed clusters in order.
    void WriteChainData(const std::vector<uint32_t>& clusters, std::span<const uint8_t> data);

    // Directories.
    DirWriter Root();  // fixed root area, or the FAT32 root cluster
    // A directory in the listed clusters (no FAT or dot entries written).
    DirWriter Dir(const std::vector<uint32_t>& clusters);

    // Damage.
    void ZeroFirstSector();
    void ClearMarker();
    void SetBoot8(int offset, uint8_t value);
    void SetBoot16(int offset, uint16_t value);
    void SetBoot32(int offset, uint32_t value);
    void SetBootBytes(int offset, const std::string& text);

    // Output.
    std::unique_ptr<DiskVolume> Open() const;  // in-memory source, geometry loaded
    bool WriteToFile(const std::string& path) const;
    // Writes the image into the folder as name; returns its path ("" on failure).
    std::string WriteTo(const TempDir& dir, const std::string& name) const;

private:
    void WriteBootSector();
    void WriteFatHeads();

    FatGeometry g_;
    std::vector<uint8_t> image_;
    uint32_t sectorsPerFat_ = 0;
    uint32_t rootSectors_ = 0;
    uint64_t dataStart_ = 0;
    uint32_t clusterCount_ = 0;
};

}  // namespace veld::test
