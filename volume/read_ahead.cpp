#include "volume/read_ahead.h"

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <new>

namespace veld {

namespace {

constexpr uint64_t kMinBlockBytes = 1u << 20;
// One read system call carries at most this much (ReadAt counts in 32 bits).
constexpr uint64_t kMaxBlockBytes = 1u << 30;
constexpr size_t kBufferAlignment = 4096;
// How often a caller waiting for a block looks at the cancel flag.
constexpr auto kCancelPoll = std::chrono::milliseconds(20);

}  // namespace

void ReadAhead::Buffer::operator()(uint8_t* p) const { std::free(p); }

ReadAhead::ReadAhead(RawDevice& device, int64_t firstOffset, uint64_t first, uint64_t last, uint32_t clusterSize,
                     std::function<bool()> cancelled, ReadAheadOptions options)
    : device_(device),
      firstOffset_(firstOffset),
      first_(first),
      last_(last),
      clusterSize_(clusterSize),
      cancelled_(std::move(cancelled)),
      threaded_(options.readerThread),
      notWanted_(std::move(options.notWanted)) {
    nextRead_ = first_;
    if (clusterSize_ == 0 || firstOffset_ < 0 || last_ < first_) {
        finished_ = true;
        endsAt_ = first_;
        return;
    }
    // Clusters whose offset does not fit a 64-bit file offset are outside.
    const uint64_t room = uint64_t(std::numeric_limits<int64_t>::max() - firstOffset_) / clusterSize_;
    lastOffsetCluster_ = room > 0 ? first_ + std::min(room - 1, UINT64_MAX - first_) : first_;
    if (lastOffsetCluster_ < last_) endsAt_ = lastOffsetCluster_ + 1;

    maxSpan_ = std::max<uint32_t>(1, options.maxSpan);
    const uint64_t blockBytes = std::clamp<uint64_t>(options.blockBytes, kMinBlockBytes, kMaxBlockBytes);
    blockClusters_ = uint32_t(std::max<uint64_t>(1, std::min<uint64_t>((blockBytes + clusterSize_ - 1) / clusterSize_,
                                                                       kMaxBlockBytes / clusterSize_)));
    // A span may reach over several blocks when clusters are large; all of
    // them and one read ahead must fit in the ring.
    const uint32_t spanBlocks = (maxSpan_ + blockClusters_ - 1) / blockClusters_ + 1;
    const uint32_t count = std::max({options.blocks, 2u, spanBlocks + 1});
    const size_t bytes = (size_t(blockClusters_) * clusterSize_ + kBufferAlignment - 1) / kBufferAlignment *
                         kBufferAlignment;
    blocks_.resize(count);
    for (Block& b : blocks_) {
        // Not zero-filled: every byte handed out was written by a read.
        b.bytes.reset(static_cast<uint8_t*>(std::aligned_alloc(kBufferAlignment, bytes)));
        if (!b.bytes) throw std::bad_alloc();
    }
    if (threaded_) reader_ = std::thread(&ReadAhead::ReaderLoop, this);
}

ReadAhead::~ReadAhead() {
    {
        std::lock_guard<std::mutex> hold(lock_);
        stop_ = true;
    }
    changed_.notify_all();
    if (reader_.joinable()) reader_.join();  // waits for at most the read under way
}

uint64_t ReadAhead::readCalls() const {
    std::lock_guard<std::mutex> hold(lock_);
    return readCalls_;
}

uint64_t ReadAhead::bytesRead() const {
    std::lock_guard<std::mutex> hold(lock_);
    return bytesRead_;
}

void ReadAhead::ReaderLoop() {
    std::unique_lock<std::mutex> hold(lock_);
    for (;;) {
        Block* block = nullptr;
        changed_.wait(hold, [&] { return stop_ || (!Cancelled() && (block = Claim()) != nullptr); });
        if (stop_) return;
        hold.unlock();
        Fill(*block);
        hold.lock();
        Finish(*block);
    }
}

ReadAhead::Block* ReadAhead::Claim() {
    if (finished_ || stop_) return nullptr;
    auto free = std::find_if(blocks_.begin(), blocks_.end(), [](const Block& b) { return b.state == BlockState::Free; });
    if (free == blocks_.end()) return nullptr;
    // Past the stretches the caller will not ask for (unless it asked into
    // one); a block ends where the next such stretch begins.
    const uint64_t end = std::min(last_, lastOffsetCluster_);
    uint64_t upTo = end;
    while (notWantedAt_ < notWanted_.size()) {
        const auto [skipFirst, skipLast] = notWanted_[notWantedAt_];
        if (skipLast < nextRead_ || skipLast <= askedThrough_) {
            ++notWantedAt_;
            continue;
        }
        if (skipFirst <= nextRead_ && nextRead_ > askedThrough_) {
            if (skipLast >= end) {
                finished_ = true;
                return nullptr;
            }
            nextRead_ = skipLast + 1;
            ++notWantedAt_;
            continue;
        }
        if (skipFirst > nextRead_) upTo = std::min(upTo, skipFirst - 1);
        break;
    }
    Block& b = *free;
    b.state = BlockState::Reading;
    b.first = nextRead_;
    b.wanted = std::min<uint64_t>(blockClusters_, upTo - nextRead_ + 1);
    b.whole = 0;
    b.partial = 0;
    b.after = ReadStatus::Ok;
    b.generation = generation_;
    // With stretches left out, blocks can be short: the system is told about
    // what lies ahead, left-out stretches included, so that a card streams.
    b.hintAt = b.hintBytes = 0;
    if (!notWanted_.empty()) {
        const int64_t from = std::max(hintedTo_, OffsetOf(b.first));
        const uint64_t ahead = uint64_t(blockClusters_) * blocks_.size();
        const int64_t lastAt = OffsetOf(end - b.first > ahead ? b.first + ahead : end);
        const int64_t to = lastAt > std::numeric_limits<int64_t>::max() - int64_t(clusterSize_)
                               ? std::numeric_limits<int64_t>::max()
                               : lastAt + int64_t(clusterSize_);
        if (to > from) {
            b.hintAt = from;
            b.hintBytes = to - from;
            hintedTo_ = to;
        }
    }
    nextRead_ += b.wanted;
    if (nextRead_ == 0 || nextRead_ > last_ || nextRead_ > lastOffsetCluster_) finished_ = true;
    order_.push_back(&b);
    return &b;
}

int64_t ReadAhead::OffsetOf(uint64_t cluster) const {
    return firstOffset_ + int64_t((cluster - first_) * clusterSize_);
}

void ReadAhead::Fill(Block& b) {
    if (b.hintBytes > 0) device_.WillRead(b.hintAt, b.hintBytes);
    const int64_t offset = OffsetOf(b.first);
    const uint64_t wanted = b.wanted * clusterSize_;
    uint64_t calls = 1;
    uint32_t done = 0;
    if (device_.ReadAt(offset, b.bytes.get(), uint32_t(wanted), &done)) {
        b.whole = done / clusterSize_;
        if (b.whole < b.wanted) {
            b.partial = done % clusterSize_;
            b.after = ReadStatus::End;
        }
    } else {
        // Find the cluster that cannot be read: the ones before it are good,
        // and reading goes on after it.
        uint64_t k = 0;
        for (; k < b.wanted; ++k) {
            ++calls;
            done = 0;
            const bool ok = !Cancelled() && device_.ReadAt(offset + int64_t(k * clusterSize_),
                                                           b.bytes.get() + k * clusterSize_, clusterSize_, &done);
            if (!ok) {
                b.after = ReadStatus::Error;
                break;
            }
            if (done < clusterSize_) {
                b.partial = done;
                b.after = ReadStatus::End;
                break;
            }
        }
        b.whole = k;
        done = uint32_t(k * clusterSize_ + b.partial);
    }
    std::lock_guard<std::mutex> hold(lock_);
    readCalls_ += calls;
    bytesRead_ += done;
}

void ReadAhead::Finish(Block& b) {
    if (b.generation != generation_) {  // the caller moved elsewhere meanwhile
        b.state = BlockState::Free;
        changed_.notify_all();
        return;
    }
    b.state = BlockState::Ready;
    // A block is always the last one under way when it finishes: the next is
    // claimed only after it, so the position can still be corrected here.
    if (b.after == ReadStatus::End) {
        finished_ = true;
        endsAt_ = std::min(endsAt_, b.first + b.whole);
    } else if (b.after == ReadStatus::Error) {
        nextRead_ = b.first + b.whole + 1;
        finished_ = nextRead_ == 0 || nextRead_ > last_ || nextRead_ > lastOffsetCluster_;
    }
    changed_.notify_all();
}

ReadAhead::Block* ReadAhead::Find(uint64_t cluster) {
    for (Block* b : order_)
        if (b->first <= cluster && cluster < b->end()) return b;
    return nullptr;
}

void ReadAhead::AskedInto(uint64_t cluster) {
    // A stretch the caller asked into is read from there to its end.
    auto after = std::upper_bound(notWanted_.begin(), notWanted_.end(), cluster,
                                  [](uint64_t c, const std::pair<uint64_t, uint64_t>& s) { return c < s.first; });
    if (after != notWanted_.begin() && std::prev(after)->second >= cluster)
        askedThrough_ = std::max(askedThrough_, std::prev(after)->second);
}

void ReadAhead::Restart(uint64_t cluster) {
    ++generation_;
    // Blocks being read are freed by the reader when their read returns.
    for (Block* b : order_)
        if (b->state == BlockState::Ready) b->state = BlockState::Free;
    order_.clear();
    current_ = nullptr;
    nextRead_ = cluster;
    finished_ = false;
    // The system is told afresh from here.
    AskedInto(cluster);
    auto after = std::upper_bound(notWanted_.begin(), notWanted_.end(), cluster,
                                  [](uint64_t c, const std::pair<uint64_t, uint64_t>& s) { return c < s.first; });
    notWantedAt_ = size_t(after - notWanted_.begin());
    if (notWantedAt_ > 0 && notWanted_[notWantedAt_ - 1].second >= cluster) --notWantedAt_;
    hintedTo_ = 0;
    changed_.notify_all();
}

bool ReadAhead::Answer(uint64_t cluster, uint32_t count, ClusterSpan* span) {
    // The blocks before the cluster are done with.
    while (!order_.empty() && order_.front()->state == BlockState::Ready && order_.front()->end() <= cluster) {
        if (current_ == order_.front()) current_ = nullptr;
        order_.front()->state = BlockState::Free;
        order_.pop_front();
        changed_.notify_all();
    }
    Block* b = Find(cluster);
    if (!b) {
        if (cluster >= endsAt_) {
            *span = ClusterSpan{ReadStatus::End, nullptr, 0};
            return true;
        }
        if (finished_ || cluster != nextRead_) Restart(cluster);
        return false;
    }
    if (b->state == BlockState::Reading) return false;
    current_ = b;

    const uint64_t cs = clusterSize_;
    const uint64_t k = cluster - b->first;
    const uint8_t* at = b->bytes.get() + k * cs;
    if (k == b->whole) {  // where the block stopped
        *span = ClusterSpan{b->after, at, b->after == ReadStatus::End ? b->partial : 0};
        return true;
    }
    const uint64_t wanted = uint64_t(count) * cs;
    const uint64_t here = (b->whole - k) * cs + (b->after == ReadStatus::End ? b->partial : 0);
    if (here >= wanted || b->after != ReadStatus::Ok) {
        *span = ClusterSpan{ReadStatus::Ok, at, std::min(wanted, here)};
        return true;
    }

    // The span goes on into the next blocks: all of them must be read before
    // it is put together.
    std::vector<const Block*> parts{b};
    for (uint64_t have = here; have < wanted;) {
        const Block* last = parts.back();
        if (last->after != ReadStatus::Ok) break;
        const uint64_t after = last->first + last->whole;
        const Block* next = Find(after);
        if (!next) {
            const bool inRange = after <= std::min(last_, lastOffsetCluster_) && after < endsAt_;
            if (inRange && (finished_ || after != nextRead_)) {
                // The span runs into a stretch left out: read it after all.
                AskedInto(after);
                Restart(cluster);
                return false;
            }
            if (finished_) break;  // nothing more comes: the range ends
            return false;
        }
        if (next->state == BlockState::Reading) return false;
        parts.push_back(next);
        have += next->whole * cs + (next->after == ReadStatus::End ? next->partial : 0);
    }
    if (!joined_) joined_.reset(new uint8_t[size_t(maxSpan_) * cs]);
    uint64_t have = 0;
    for (const Block* p : parts) {
        const uint8_t* from = p == b ? at : p->bytes.get();
        const uint64_t size = p == b ? here : p->whole * cs + (p->after == ReadStatus::End ? p->partial : 0);
        const uint64_t take = std::min(size, wanted - have);
        std::memcpy(joined_.get() + have, from, take);
        have += take;
    }
    *span = ClusterSpan{ReadStatus::Ok, joined_.get(), have};
    return true;
}

ClusterSpan ReadAhead::Get(uint64_t cluster, uint32_t count) {
    count = std::clamp<uint32_t>(count, 1, maxSpan_);
    if (cluster < first_ || cluster > last_) return ClusterSpan{};
    // Inside the block being examined: no lock, no wait.
    if (const Block* b = current_; b && cluster >= b->first && cluster - b->first + count <= b->whole)
        return ClusterSpan{ReadStatus::Ok, b->bytes.get() + (cluster - b->first) * clusterSize_,
                           uint64_t(count) * clusterSize_};

    std::unique_lock<std::mutex> hold(lock_);
    for (;;) {
        if (Cancelled()) return ClusterSpan{ReadStatus::Cancelled, nullptr, 0};
        ClusterSpan span;
        if (Answer(cluster, count, &span)) return span;
        if (threaded_) {
            changed_.wait_for(hold, kCancelPoll);
            continue;
        }
        // Without the reader thread the caller reads the block it needs, and
        // the system is told about the blocks after it.
        Block* block = Claim();
        if (!block && finished_) continue;  // the rest was left out: the cluster asked for is read after all
        if (!block) return ClusterSpan{ReadStatus::Error, nullptr, 0};  // no buffer free: cannot happen
        hold.unlock();
        Fill(*block);
        hold.lock();
        Finish(*block);
        if (!finished_) {
            const uint64_t ahead = uint64_t(blockClusters_) * clusterSize_ * (blocks_.size() - 1);
            device_.WillRead(firstOffset_ + int64_t((nextRead_ - first_) * clusterSize_), int64_t(ahead));
        }
    }
}

}  // namespace veld
