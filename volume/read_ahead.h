// Sequential reading of a volume's clusters in large blocks. The source is
// read a block of at least 1 MiB per system call, whatever the cluster size,
// into a small ring of buffers; while the caller examines the clusters of one
// block the next ones are already being read (by a reader thread, or by the
// system when told what comes next). The caller gets a pointer to the
// cluster's bytes inside its block: nothing is copied a second time, except a
// span of clusters that starts in one block and ends in the next, which is
// put together in a buffer of its own so it still comes out whole.
//
// Reading goes forward. Asking for a cluster past the blocks under way skips
// the clusters between (they are not read); asking for one before them starts
// reading again there. Stretches the caller says in advance it will not ask
// for are not read either (the system is told about the whole stretch ahead,
// so a card still streams); asking for a cluster in one reads it after all. A read error or the end of the source is reported at
// the cluster where it happens, and reading goes on after a cluster that
// cannot be read.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

#include "platform/raw_device.h"

namespace veld {

struct ReadAheadOptions {
    uint32_t blockBytes = 4u << 20;  // bytes per read (at least 1 MiB), rounded up to whole clusters
    uint32_t blocks = 3;             // buffers: the one examined and those read ahead (at least 2)
    bool readerThread = true;        // false: reads on the caller's thread and tells the system the next block
    uint32_t maxSpan = 2;            // the most clusters one Get asks for
    // Clusters the caller will not ask for, as [first, last] stretches in
    // ascending order, not overlapping.
    std::vector<std::pair<uint64_t, uint64_t>> notWanted;
};

enum class ReadStatus {
    Ok,         // the span's first cluster was read whole
    End,        // the cluster is outside the range, or the source ends inside it
    Error,      // the source reported an error reading the cluster
    Cancelled,  // the search was cancelled
};

struct ClusterSpan {
    ReadStatus status = ReadStatus::End;
    // The bytes read from the start of the cluster: count clusters, or fewer
    // where the range or the source ends or a cluster cannot be read (at End,
    // the part of the cluster the source still holds). Valid until the next
    // Get or the reader's end.
    const uint8_t* data = nullptr;
    uint64_t bytes = 0;
};

class ReadAhead {
public:
    // Clusters of clusterSize bytes; cluster first starts at byte firstOffset
    // of the device and nothing after cluster last is read. cancelled, when
    // given, is asked from the caller's and the reader's threads. The device
    // must outlive the reader, and with the reader thread its ReadAt must be
    // safe beside the caller's own reads.
    ReadAhead(RawDevice& device, int64_t firstOffset, uint64_t first, uint64_t last, uint32_t clusterSize,
              std::function<bool()> cancelled = {}, ReadAheadOptions options = {});
    ~ReadAhead();
    ReadAhead(const ReadAhead&) = delete;
    ReadAhead& operator=(const ReadAhead&) = delete;

    // count consecutive clusters from cluster (count is at most maxSpan).
    ClusterSpan Get(uint64_t cluster, uint32_t count = 1);

    // Whether cluster lies in the reader's range.
    bool Covers(uint64_t cluster) const { return cluster >= first_ && cluster <= last_; }

    // Read system calls made, and the bytes they returned.
    uint64_t readCalls() const;
    uint64_t bytesRead() const;
    uint32_t blockClusters() const { return blockClusters_; }

private:
    enum class BlockState { Free, Reading, Ready };
    struct Buffer {
        void operator()(uint8_t* p) const;
    };
    struct Block {
        std::unique_ptr<uint8_t, Buffer> bytes;
        BlockState state = BlockState::Free;
        uint64_t first = 0;      // its first cluster
        uint64_t wanted = 0;     // clusters asked for
        uint64_t whole = 0;      // clusters read whole
        uint64_t partial = 0;    // bytes of cluster first + whole read before the source ended
        ReadStatus after = ReadStatus::Ok;  // cluster first + whole: Ok (later block), End or Error
        uint64_t generation = 0;
        int64_t hintAt = 0, hintBytes = 0;  // told to the system before the read
        // One past the last cluster this block answers for.
        uint64_t end() const {
            return state == BlockState::Reading ? first + wanted : first + whole + (after == ReadStatus::Ok ? 0 : 1);
        }
    };

    bool Cancelled() const { return cancelled_ && cancelled_(); }
    void ReaderLoop();
    int64_t OffsetOf(uint64_t cluster) const;
    // Starts the next block in a free buffer (with the lock held); null when
    // there is nothing to read or no buffer is free.
    Block* Claim();
    // Reads a claimed block (without the lock) and files the result (with it).
    void Fill(Block& block);
    void Finish(Block& block);
    Block* Find(uint64_t cluster);
    void Restart(uint64_t cluster);
    // The caller asked for a cluster: a stretch left out that holds it is read.
    void AskedInto(uint64_t cluster);
    // One step of Get with the lock held: true with *span set when the answer
    // is there, false when the caller must wait for a block.
    bool Answer(uint64_t cluster, uint32_t count, ClusterSpan* span);

    RawDevice& device_;
    const int64_t firstOffset_;
    const uint64_t first_, last_;
    const uint32_t clusterSize_;
    const std::function<bool()> cancelled_;
    const bool threaded_;
    uint32_t maxSpan_ = 1;
    uint32_t blockClusters_ = 1;
    uint64_t lastOffsetCluster_ = 0;  // the last cluster whose offset fits in 63 bits
    const std::vector<std::pair<uint64_t, uint64_t>> notWanted_;
    size_t notWantedAt_ = 0;          // the first stretch not wholly before nextRead_
    uint64_t askedThrough_ = 0;       // a stretch the caller asked into is read up to here
    int64_t hintedTo_ = 0;            // the system was told about the bytes before this offset

    mutable std::mutex lock_;
    std::condition_variable changed_;
    std::vector<Block> blocks_;
    std::deque<Block*> order_;       // blocks under way or read, in cluster order
    uint64_t nextRead_ = 0;          // the first cluster of the next block
    bool finished_ = false;          // nothing more to read from nextRead_ on
    uint64_t endsAt_ = UINT64_MAX;   // the cluster in which the source ended, once seen
    uint64_t generation_ = 0;        // blocks of an earlier generation are dropped
    bool stop_ = false;
    uint64_t readCalls_ = 0, bytesRead_ = 0;

    // The block the caller is in: its clusters are answered without the lock
    // (only the caller frees blocks, the reader writes free ones only).
    const Block* current_ = nullptr;
    std::unique_ptr<uint8_t[]> joined_;  // a span over two blocks
    std::thread reader_;
};

}  // namespace veld
