// Builds exFAT card images in sparse files for the tests: formatted by
// mkfs.exfat where it is installed (or by the builder's own formatter), then
// filled by the builder's writer with folders, files whose clusters run
// contiguously (NoFatChain) or through FAT chains, deleted files and folders
// (InUse bits cleared, clusters freed in the bitmap, FAT left as it was), and
// files partly overwritten by later ones. Finish() writes the directories,
// the FAT changes, the allocation bitmap and the percentage in use, so that
// fsck.exfat accepts the image and other readers list what was written.
//
// The builder reads and writes the on-disk structures with its own code, so
// that tests of the engine's exFAT parsers compare two separate readings.
//
//   ExfatImageBuilder card(dir.File("card.img"), {.sizeBytes = 64 << 20});
//   ASSERT_EQ(card.error(), "");
//   auto dcim = card.AddDir(card.Root(), "DCIM");
//   auto canon = card.AddDir(dcim, "100CANON");
//   auto photo = card.AddFile(canon, "IMG_0001.JPG", jpeg);
//   card.Delete(photo);
//   ASSERT_EQ(card.Finish(), "");
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace veld::test {

// A timestamp as the camera wrote it: its wall-clock time and its zone.
struct ExfatTime {
    int year = 2024, month = 5, day = 3;
    int hour = 10, minute = 20, second = 30;  // second 0..59; odd seconds go into the 10 ms byte
    int utcOffsetMinutes = 540;               // +09:00
    bool offsetValid = true;
};

struct ExfatFormat {
    uint64_t sizeBytes = 64ull << 20;    // image size; the file is sparse
    uint32_t clusterSize = 32 * 1024;
    uint32_t sectorSize = 512;           // 512 or 4096; mkfs.exfat writes 512 only
    std::string label = "CARD";
    uint32_t boundaryAlign = 0;          // mkfs.exfat -b (FAT and heap alignment); 0 leaves its 1 MiB
    enum class Formatter { Auto, Mkfs, Own };
    Formatter formatter = Formatter::Auto;  // Auto: mkfs.exfat when installed and the sector size is 512
};

struct ExfatFileOptions {
    bool noFatChain = true;         // contiguous clusters, no FAT chain (what cameras write)
    uint64_t firstCluster = 0;      // 0: the first free clusters; else exactly from here (must be free)
    uint64_t size = 0;              // file size; 0: the size of the bytes given. Beyond them the file is zeros, left sparse
    std::span<const uint8_t> tail = {};  // written at the end of the file (for files larger than the bytes given)
    ExfatTime time{};               // created and modified
    uint16_t attributes = 0x20;     // archive
};

class ExfatImageBuilder {
public:
    ExfatImageBuilder(std::string path, const ExfatFormat& format);

    // "" when the image was created and formatted, else why not.
    const std::string& error() const { return error_; }
    bool formattedByMkfs() const { return byMkfs_; }
    const std::string& path() const { return path_; }

    // Handles to folders and files the builder made; Root() is the root folder.
    struct Node {
        int id = -1;
    };
    Node Root() const { return Node{0}; }

    // A folder whose entries fit in the given number of contiguous clusters,
    // from the first free run or exactly from firstCluster (must be free).
    Node AddDir(Node parent, const std::string& name, const ExfatTime& time = {}, int clusters = 1,
                uint64_t firstCluster = 0);
    Node AddFile(Node parent, const std::string& name, std::span<const uint8_t> bytes,
                 const ExfatFileOptions& options = {});
    // Deletes a file, or a folder with everything in it (its entries first,
    // then its own set): InUse bits cleared, clusters freed in the bitmap.
    void Delete(Node node);
    // Writes directories, FAT, bitmap and percentage in use; "" or the error.
    std::string Finish();

    // Geometry, as formatted.
    uint32_t SectorSize() const { return sectorSize_; }
    uint64_t ClusterSize() const { return clusterSize_; }
    uint32_t ClusterCount() const { return clusterCount_; }
    uint32_t RootCluster() const { return rootCluster_; }
    uint64_t ClusterOffset(uint64_t cluster) const { return heapOffset_ + (cluster - 2) * clusterSize_; }

    // Where things went.
    uint64_t FirstCluster(Node node) const;
    std::vector<uint64_t> Clusters(Node node) const;   // in file order
    uint64_t EntryOffset(Node node) const;             // byte offset of its file entry on the image
    std::vector<uint8_t> DirectoryBytes(Node dir) const;  // the folder's entries as Finish writes them

    // The set checksum and name hash as written.
    static uint16_t SetChecksum(std::span<const uint8_t> entries);
    static uint16_t NameHash(const std::vector<uint16_t>& name);

private:
    struct Item {
        int parent = -1;
        bool isDir = false;
        bool deleted = false;
        bool noFatChain = true;
        size_t slot = 0;             // file entry slot in the parent's bytes
        size_t slots = 0;
        std::vector<uint64_t> clusters;
        std::vector<uint8_t> entries;  // folders: their entry bytes
        size_t nextSlot = 0;           // folders: first free slot
        std::vector<int> children;
    };

    bool Fail(const std::string& why);
    std::string FormatWithMkfs(const ExfatFormat& format);
    std::string FormatOwn(const ExfatFormat& format);
    std::string ReadGeometry();
    bool ReadAt(uint64_t offset, void* data, size_t size) const;
    bool WriteAt(uint64_t offset, const void* data, size_t size);
    std::vector<uint64_t> Allocate(uint64_t count, bool contiguous, uint64_t from);
    void SetBit(uint64_t cluster, bool used);
    bool BitSet(uint64_t cluster) const;
    // Appends a file set to the folder; returns its first slot.
    bool AddSet(int dir, Item& item, const std::string& name, uint16_t attributes, const ExfatTime& time,
                uint64_t size, uint8_t streamFlags);
    bool WriteFileData(const std::vector<uint64_t>& clusters, uint64_t at, std::span<const uint8_t> bytes);

    std::string path_;
    std::string error_;
    bool byMkfs_ = false;
    uint32_t sectorSize_ = 512;
    uint64_t clusterSize_ = 0;
    uint32_t clusterCount_ = 0;
    uint32_t rootCluster_ = 0;
    uint64_t fatOffset_ = 0;   // bytes
    uint64_t heapOffset_ = 0;  // bytes
    uint64_t bitmapOffset_ = 0;
    std::vector<uint8_t> bitmap_;
    std::vector<std::pair<uint64_t, uint32_t>> fatWrites_;
    std::vector<Item> items_;
};

}  // namespace veld::test
