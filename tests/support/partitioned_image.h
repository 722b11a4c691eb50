// Whole-card images for the tests: a partition table written by sfdisk (MBR
// "dos" or GPT, 512-byte sectors) with partition contents copied in from
// other image files or formatted in place by mkfs.fat --offset; and, since
// sfdisk counts image files in 512-byte sectors, a GPT with 4096-byte sectors
// written here.
//
//   ASSERT_EQ(MakePartitionedImage(card, "dos", 64 << 20,
//                                  {{.startSector = 8192, .sectors = 98304, .type = "c"}}), "");
//   ASSERT_EQ(FormatFatPartition(card, 8192, 98304, 32), "");
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace veld::test {

struct PartitionLayout {
    uint64_t startSector = 0;   // in the table's sectors
    uint64_t sectors = 0;       // 0: to the end of the usable area (sfdisk only)
    std::string type;           // sfdisk type: "c", "7", "83" (dos); "L" or a type GUID (gpt)
    std::string contents = "";  // an image file copied in at the partition start; "" for none
};

// "" when sfdisk is installed, else why tests must skip.
std::string PartitionToolsMissing();

// Creates a sparse image of totalBytes with the table ("dos" or "gpt") and
// the partitions' contents; "" or why not. Only the data regions of a
// sparse contents file are copied, so sparse stays sparse.
std::string MakePartitionedImage(const std::string& path, const std::string& label, uint64_t totalBytes,
                                 const std::vector<PartitionLayout>& partitions);

// mkfs.fat on the partition at startSector (512-byte units) of sectors.
std::string FormatFatPartition(const std::string& path, uint64_t startSector, uint64_t sectors, int fatType);

// Copies the file's data regions into path at offset.
std::string CopyInto(const std::string& path, uint64_t offset, const std::string& contents);

// Up to size bytes of the file from offset (fewer at its end).
std::vector<uint8_t> ReadFileRange(const std::string& path, uint64_t offset, size_t size);
uint64_t FileSize(const std::string& path);

// A protective MBR and a GPT (primary and backup) counted in sectorSize
// sectors, 128 entries; each partition's type is a GUID text. "" or why not.
std::string WriteGpt(const std::string& path, uint64_t totalBytes, uint32_t sectorSize,
                     const std::vector<PartitionLayout>& partitions);

}  // namespace veld::test
