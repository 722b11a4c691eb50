// MBR and GPT tables and the partition window, as opening a whole card reads
// them. The first input byte picks the sector size the source reports (0
// unknown, as for an image file; 512; 4096), the rest is the card: its table
// is parsed, and the card is opened as a search opens it - the first
// partition that holds a volume, the whole card, and partitions 1 to 4 -
// with a read across each window's end.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "volume/boot_sector_kind.h"
#include "volume/disk_volume.h"
#include "volume/partition_table.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace veld;
    if (size < 1) return 0;
    constexpr uint32_t kSectorSizes[] = {0, 512, 4096};
    const uint32_t sectorSize = kSectorSizes[data[0] % 3];
    const std::span<const uint8_t> card(data + 1, size - 1);
    const std::span<const uint8_t> head = card.first(std::min<size_t>(card.size(), kPartitionTableHeadBytes));

    const PartitionTable table = ReadPartitionTable(head, card.size(), sectorSize);
    DefaultPartition(table, [&](const Partition& p) {
        return p.offset < card.size() && BootSectorKindOf(card.subspan(size_t(p.offset))) != BootSectorKind::None;
    });
    for (const Partition& p : table.partitions) PartitionByIndex(table, p.index);

    const std::vector<uint8_t> bytes(card.begin(), card.end());
    for (int partition : {kPartitionAuto, kPartitionWhole, 1, 2, 3, 4}) {
        std::unique_ptr<DiskVolume> volume = DiskIO_OpenMemory(bytes, partition);
        if (!volume || !volume->device) continue;
        const int64_t end = volume->device->Size();
        uint8_t sector[1024];
        uint32_t done = 0;
        if (end >= 0) DiskIO_ReadAt(volume.get(), uint64_t(std::max<int64_t>(0, end - 512)), sector, sizeof sector, &done);
    }
    return 0;
}
