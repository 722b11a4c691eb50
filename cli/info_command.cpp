// veld-cli info: opens a source as a search does and prints its geometry,
// the file system it holds, the boot-sector lines of the search's trace and
// the census of cluster states as the card's own records give them (the FAT
// or the allocation bitmap, read as a search reads them).
#include <cstdio>
#include <map>

#include "base/trace.h"
#include "cli/commands.h"
#include "cli/json_writer.h"
#include "cli/terminal_text.h"
#include "volume/boot_sector.h"
#include "volume/boot_sector_kind.h"
#include "volume/boot_sector_trace.h"
#include "volume/cluster_map.h"
#include "volume/fat_file_system.h"
#include "volume/file_system.h"

namespace veld {
namespace {

// [{"index":2,"offset":4194304,"size":...,"type":"0x0C FAT32 (LBA)","name":"","volume":"fat"}, ...]
std::string PartitionsJson(const std::vector<Partition>& partitions) {
    std::string out = "[";
    for (const Partition& p : partitions) {
        JsonObject o;
        o.Add("index", p.index)
            .Add("offset", p.offset)
            .Add("size", p.size)
            .Add("type", p.type)
            .Add("name", p.name)
            .Add("volume", BootSectorKindName(p.content));
        out += (out.size() > 1 ? "," : "") + o.str();
    }
    return out + "]";
}

// "FAT12", "FAT16", "FAT32", "exFAT", "NTFS" or "raw": the volume the search
// reads (fat_type keeps the boot sector's own rule beside it).
std::string FileSystemKey(const DiskVolume& volume) {
    switch (volume.volumeKind) {
    case VolumeExfat: return "exFAT";
    case VolumeNtfs: return "NTFS";
    case VolumeFat16:
    case VolumeFat32:
        if (const auto* fat = dynamic_cast<const FatFileSystem*>(volume.fileSystem.get()); fat && fat->FatType())
            return "FAT" + std::to_string(fat->FatType());
        return FileSystemNameOf(volume.bootSector).empty() ? "raw" : FileSystemNameOf(volume.bootSector);
    default: return "raw";
    }
}

// How many clusters the card's records put in each state; cells 0 and 1,
// which stand for no cluster, count as reserved. A raw source has no
// records: every cluster is free.
std::map<std::string, uint64_t> RecordedCensus(const DiskVolume& volume, uint64_t cells) {
    std::map<std::string, uint64_t> states;
    const FileSystem* fs = volume.fileSystem.get();
    if (cells >= 2) states[ClusterStateName(ClusterUse::Reserved)] = 2;
    if (!fs || fs->Scan() == DirectoryScan::None) {
        if (cells > 2) states[ClusterStateName(ClusterUse::Empty)] = cells - 2;
        return states;
    }
    uint64_t counts[256] = {};
    for (uint64_t cluster = 2; cluster < cells; ++cluster) ++counts[uint8_t(fs->RecordedState(cluster))];
    for (int state = 0; state < 256; ++state)
        if (counts[state] > 0) states[ClusterStateName(ClusterUse(state))] += counts[state];
    return states;
}

}  // namespace

int RunInfoCommand(const std::vector<std::string>& args) {
    bool json = false;
    int partition = kPartitionAuto;
    std::string sourceText;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (a == "--json")
            json = true;
        else if (a == "--partition") {
            if (i + 1 >= args.size() || !ParsePartitionNumber(args[i + 1], &partition)) {
                std::fprintf(stderr, "--partition needs a partition number (1, 2, ...)\n");
                return 2;
            }
            ++i;
        } else if (!a.empty() && a[0] == '-' && a.size() > 1) {
            std::fprintf(stderr, "unknown option: %s\n", a.c_str());
            return 2;
        } else
            sourceText = a;
    }
    if (sourceText.empty()) {
        std::fprintf(stderr, "veld-cli info: SOURCE is missing\n");
        return 2;
    }
    SourceArgument source = ParseSource(sourceText);
    auto volume = DiskIO_Open(source.path, source.driveLetter, partition);
    if (!volume) {
        std::fprintf(stderr, "%s\n", OpenFailureText(source).c_str());
        return DiskIO_LastOpenNoPartition() ? 2 : 1;
    }

    std::vector<std::string> traceLines;
    SetTraceSink([&](const std::string& line) { traceLines.push_back(line); });
    if (!volume->accessNote.empty()) TraceLine("%s", volume->accessNote.c_str());
    if (!volume->partitionNote.empty()) TraceLine("%s", volume->partitionNote.c_str());
    const bool markerOk = HasBootMarker(volume->bootSector);
    if (volume->volumeKind == VolumeFat16 || volume->volumeKind == VolumeFat32) {
        TraceLine("Marker OK");
        TraceBootSector(volume->bootSector);
    }
    const size_t bootLines = traceLines.size();
    ClusterMap map;
    ReadFat(map, *volume);
    SetTraceSink({});

    const uint64_t fatEntries = map.size();
    const std::map<std::string, uint64_t> states = RecordedCensus(*volume, fatEntries);
    const std::string fileSystem = FileSystemKey(*volume);
    FreeFat(map);

    if (json) {
        JsonObject census;
        for (const auto& [name, count] : states) census.Add(name, count);
        JsonObject out;
        out.Add("source", sourceText)
            .Add("source_kind", volume->sourceKind)
            .Add("volume_kind", volume->volumeKind)
            .Add("fat_type", FatTypeOf(volume->bootSector))
            .Add("file_system", fileSystem)
            .Add("data_start", volume->dataStart)
            .Add("cluster_size", volume->clusterSize)
            .Add("sector_size", volume->sectorSize)
            .Add("cluster_count", volume->clusterCount)
            .Add("marker_ok", markerOk)
            .Add("fat_entries", fatEntries)
            .AddRaw("states", census.str())
            .Add("partition_table", PartitionSchemeName(volume->partitionScheme))
            .Add("partition_index", volume->partitionIndex)
            .Add("partition_offset", volume->partitionOffset)
            .AddRaw("partitions", PartitionsJson(volume->partitions));
        std::printf("%s\n", out.str().c_str());
        return 0;
    }
    std::printf("source        %s\n", TerminalText(sourceText).c_str());
    std::printf("source kind   %d\n", volume->sourceKind);
    std::printf("volume kind   %d\n", volume->volumeKind);
    std::printf("FAT type      %d\n", FatTypeOf(volume->bootSector));
    std::printf("file system   %s\n", fileSystem.c_str());
    std::printf("data start    %llu\n", (unsigned long long)volume->dataStart);
    std::printf("cluster size  %u\n", volume->clusterSize);
    std::printf("sector size   %u\n", volume->sectorSize);
    std::printf("cluster count %lld\n", (long long)volume->clusterCount);
    std::printf("marker        %s\n", markerOk ? "OK" : "none");
    std::printf("FAT entries   %llu\n", (unsigned long long)fatEntries);
    for (const auto& [name, count] : states) std::printf("  %-12s %llu\n", name.c_str(), (unsigned long long)count);
    std::printf("partition table  %s\n", PartitionSchemeName(volume->partitionScheme));
    if (volume->partitionScheme != PartitionScheme::None) {
        std::printf("partition index  %d\n", volume->partitionIndex);
        std::printf("partition offset %llu\n", (unsigned long long)volume->partitionOffset);
        std::printf("partitions\n");
        for (const Partition& p : volume->partitions) {
            const std::string name = p.name.empty() ? std::string() : " \"" + TerminalText(p.name) + "\"";
            std::printf("  %c%-3d offset %-14llu size %-14llu %s%s\n", p.index == volume->partitionIndex ? '*' : ' ',
                        p.index, (unsigned long long)p.offset, (unsigned long long)p.size,
                        TerminalText(p.type).c_str(), name.c_str());
        }
    }
    for (size_t i = 0; i < bootLines; ++i) std::printf("%s\n", TerminalText(traceLines[i]).c_str());
    return 0;
}

}  // namespace veld
