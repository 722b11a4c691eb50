// What the search asks of a volume, whatever its format: which records tell
// the allocated clusters, how a chain of clusters is linked, which directory
// scan reads its names, and how its boot sector is checked and traced. FAT12,
// FAT16 and FAT32 (FatFileSystem), exFAT (ExfatFileSystem) and sources read
// as raw sectors or NTFS (RawFileSystem) implement it; LoadGeometry gives
// every analysed volume its one.
//
//   ReadFat(map, volume, &progress);          // asks fileSystem->LoadAllocation
//   if (AllocatedOnCard(map, c)) ...          // asks fileSystem->ClusterInUse
//   switch (volume.fileSystem->Scan()) ...    // the driver picks the scanner
#pragma once

#include <cstdint>
#include <vector>

#include "volume/cluster_use.h"

namespace veld {

struct ClusterMap;
struct DiskVolume;
class SearchProgress;

// The directory scan that reads a volume's names.
enum class DirectoryScan {
    None,   // raw sectors and NTFS: the signature search alone
    Fat,    // FAT short entries with long names, from the root area or root cluster
    Exfat,  // exFAT entry sets from the root cluster
};

class FileSystem {
public:
    virtual ~FileSystem() = default;

    // Reads what the card records about which clusters are allocated (the
    // first FAT, the allocation bitmap) and gives the map a cell for every
    // cluster number the volume has (Reset). Progress may be null. 0, or -1
    // when part of it could not be read: the search goes on with what was.
    virtual int LoadAllocation(DiskVolume& volume, ClusterMap& map, SearchProgress* progress) = 0;
    // Forgets what LoadAllocation read.
    virtual void FreeAllocation() {}
    // True when the card's own records call the cluster allocated.
    virtual bool ClusterInUse(uint64_t cluster) const = 0;
    // What the card's records
    // alone give a cluster, before any directory is read: in use, free, and
    // where the format records them, bad, reserved and chain ends.
    virtual ClusterUse RecordedState(uint64_t cluster) const;
    // The chain of clusters from start (start first, itself unchecked) as
    // the records link it, never longer than limit clusters, ending at a
    // cluster revisited. Formats without chains give start alone.
    virtual std::vector<uint64_t> Chain(DiskVolume& volume, uint64_t start, uint64_t limit) const = 0;
    virtual DirectoryScan Scan() const = 0;
    // Whether the signature search leaves out clusters the records call
    // allocated even when no entry led there: true where those records are
    // kept exact by the writer (exFAT's bitmap); on FAT a lost chain is
    // allocated too and is searched.
    virtual bool SkipsAllocatedClusters() const { return false; }
    // False (with a trace line) when the boot sector lacks what the search
    // needs: a FAT volume's 55 AA marker.
    virtual bool BootSectorSound(const DiskVolume& volume) const { return true; }
    // The trace lines that describe the volume's boot sector.
    virtual void TraceBootSector(const DiskVolume& volume) const = 0;
    // The volume's byte size as its boot sector counts it, for formats whose
    // cluster count is rounded up (so that the last cluster may end past the
    // volume: FAT); 0 for the others.
    virtual uint64_t DeclaredBytes(const DiskVolume& volume) const { return 0; }
};

}  // namespace veld
