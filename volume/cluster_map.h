// The cluster map: one cell per cluster number recording which kind of object
// claimed the cluster (byte 0, FA_ state) and what the signature search saw in
// it (byte 1, content class). It belongs to one search (its session holds it)
// and is passed to every routine here; what the card records about allocation
// (its FAT, its bitmap) is asked of the volume's file system.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "base/search_progress.h"
#include "volume/cluster_cells.h"
#include "volume/cluster_use.h"
#include "volume/disk_volume.h"
#include "volume/file_system.h"

namespace veld {

// The cluster map of one search. It has a cell for every cluster number of
// the volume, from 0 to its last data cluster (cluster count + 1), or to the
// end of the FAT when that is longer; only what the source cannot hold is
// left out. Its cells cost nothing until written (ClusterCells), so a raw
// source of any size is mapped whole. What the card itself records about
// allocation stays with the volume's file system, which the map keeps.
struct ClusterMap {
    bool present = false;
    ClusterCells cells;              // state and content class per cluster number
    ClusterMarks directoryScanned;   // the scanner's record: clusters already read as directory blocks
    ClusterMarks confirmed;          // clusters of found files whose bytes were confirmed as theirs
    std::shared_ptr<FileSystem> fileSystem;  // the volume's, from ReadFat on
    uint64_t size() const { return cells.size(); }
    // Makes count empty cells (and scanner marks).
    void Reset(uint64_t count);
};

// The number of cells a volume needs: its cluster numbers up to the last data
// cluster, at least atLeast (a FAT longer than the card), but never more than
// the source can hold.
uint64_t MapCellsFor(const DiskVolume& volume, uint64_t atLeast = 0);

// Clusters that bytes of data fill, the last one partly: the size divided
// by the cluster size, rounded up without overflow for any 64-bit size.
// 0 for a cluster size of 0.
uint64_t ClustersForBytes(uint64_t bytes, uint32_t clusterSize);

// Asks the volume's file system to read its allocation records and makes the
// map of empty cells, one per cluster number; reports the reading to progress
// (may be null). 0, or -1 when reading a FAT sector or the allocation bitmap
// failed (what was read is kept). A volume that was not analysed gets no map.
int ReadFat(ClusterMap& map, DiskVolume& volume, SearchProgress* progress = nullptr);
void FreeFat(ClusterMap& map);

ClusterUse ClusterState(const ClusterMap& map, uint64_t cluster);  // 99 without a map
void SetClusterState(ClusterMap& map, uint64_t cluster, ClusterUse state);
ContentClass ClusterClass(const ClusterMap& map, uint64_t cluster);  // 0 without a map or beyond it
void SetClusterClass(ClusterMap& map, uint64_t cluster, ContentClass contentClass);
// True when the card's own records call the cluster allocated (FAT: a
// non-zero entry, the top four bits ignored on FAT32; exFAT: its bit in the
// allocation bitmap); false without a map.
bool AllocatedOnCard(const ClusterMap& map, uint64_t cluster);
const char* ClusterStateName(ClusterUse state);
inline bool IsDirectoryAttribute(uint8_t attributes) { return (attributes & 0x10) != 0; }

// The directory scanner's record for the search: whether a cluster's entries
// have already been read as a directory block. Without a map, or for numbers
// beyond it, nothing is recorded (and nothing counts as read).
bool DirectoryBlockScanned(const ClusterMap& map, uint64_t cluster);
void MarkDirectoryBlockScanned(ClusterMap& map, uint64_t cluster);

// Claims the chain from start; returns the number of clusters visited.
// firstRun, when given, receives how many of them follow start one by one
// on the card (start itself included).
int64_t MarkChain(ClusterMap& map, DiskVolume& volume, uint64_t start, ClusterUse state, bool keepDeleted,
                  uint64_t* firstRun = nullptr);

// How far MarkContiguous got with an extent. The values are those of the
// found-file states the registration gives such a file (complete, fragmented,
// in use, invalid start).
enum ContiguousClaim : int32_t {
    ClaimInvalidStart = 0,      // the start is below 2 (or the volume has no cluster size)
    ClaimWhole = 1,             // every cluster the size needs was taken
    ClaimCutShort = 100,        // stopped after the first by a cluster in use or by the card's end
    ClaimBlockedAtStart = 101,  // the first cluster is in use (or lies past the card's end)
};

// Claims the assumed contiguous extent of a deleted file of the given size.
// needed receives ceil(size / cluster size); the list gets the clusters
// taken, in order (never a reservation for what the size claims, so a
// damaged size cannot allocate beyond what the card holds); collected
// receives their count.
// A size of 0 claims nothing and counts as whole.
// With fatMarksInUse, an unclaimed cluster that the FAT calls allocated stops
// the run as well (a deleted entry's extent never runs into a live file);
// files found by their signature pass false, so pictures in allocated
// clusters that no entry reaches (lost chains) can still be recovered.
ContiguousClaim MarkContiguous(ClusterMap& map, const DiskVolume& volume, uint64_t start, ClusterUse state,
                               uint64_t size, std::vector<uint64_t>* list, uint64_t* collected,
                               bool fatMarksInUse = true, uint64_t* needed = nullptr);

// Lists the chain from start (the start itself unchecked), bounded by the map.
int64_t CollectChain(const ClusterMap& map, DiskVolume& volume, uint64_t start, std::vector<uint64_t>* list);

// Claims a deleted file's planned clusters (a chain that the card's records
// still hold) like MarkContiguous claims an assumed extent: each cluster in
// turn takes the state; one that another object claimed, or that the card
// calls allocated, stops the run (and still takes the state). list receives
// the planned clusters up to where the run stopped; collected their count.
ContiguousClaim ClaimClusterList(ClusterMap& map, const std::vector<uint64_t>& planned, ClusterUse state,
                                 std::vector<uint64_t>* list, uint64_t* collected);

}  // namespace veld
