#include "volume/range_prefetch.h"

namespace veld {

RangePrefetch::RangePrefetch(RawDevice& device, std::vector<ByteRange> ranges, uint64_t aheadBytes)
    : device_(device), ranges_(std::move(ranges)), ahead_(aheadBytes) {
    before_.reserve(ranges_.size() + 1);
    uint64_t sum = 0;
    for (const ByteRange& r : ranges_) {
        before_.push_back(sum);
        sum += r.length > 0 ? uint64_t(r.length) : 0;
    }
    before_.push_back(sum);
    if (!ranges_.empty()) thread_ = std::thread(&RangePrefetch::Run, this);
}

RangePrefetch::~RangePrefetch() {
    {
        std::lock_guard<std::mutex> hold(lock_);
        stop_ = true;
    }
    changed_.notify_all();
    if (thread_.joinable()) thread_.join();
}

void RangePrefetch::Reached(size_t index) {
    {
        std::lock_guard<std::mutex> hold(lock_);
        if (index <= reached_) return;
        reached_ = index;
    }
    changed_.notify_all();
}

void RangePrefetch::Run() {
    std::unique_lock<std::mutex> hold(lock_);
    for (size_t next = 0; next < ranges_.size(); ++next) {
        // Hinted so far: the ranges before next. The reader is at reached_.
        changed_.wait(hold, [&] {
            return stop_ || next < reached_ || before_[next] < before_[reached_] + ahead_;
        });
        if (stop_) return;
        if (next < reached_) continue;  // the reader is past it already
        const ByteRange r = ranges_[next];
        hold.unlock();
        if (r.offset >= 0 && r.length > 0) device_.WillRead(r.offset, r.length);
        hold.lock();
    }
}

}  // namespace veld
