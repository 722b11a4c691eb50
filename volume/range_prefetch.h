// Hints to a source what a reader going through a known list of byte ranges
// will read next, so that the source fetches it while the reader examines
// what it already has. A thread tells the source (RawDevice::WillRead) the
// ranges in the reader's order, never more than a set number of bytes past
// the range the reader says it is at: on a card the reads are then under
// way back to back, and what was fetched is still in memory when it is
// read. Nothing is read into the program, so a source already in memory
// costs next to nothing.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/raw_device.h"

namespace veld {

struct ByteRange {
    int64_t offset = 0;
    int64_t length = 0;
};

class RangePrefetch {
public:
    // The device must outlive the prefetch, and its WillRead must be safe
    // beside reads on other threads.
    RangePrefetch(RawDevice& device, std::vector<ByteRange> ranges, uint64_t aheadBytes);
    ~RangePrefetch();
    RangePrefetch(const RangePrefetch&) = delete;
    RangePrefetch& operator=(const RangePrefetch&) = delete;

    // The reader starts on range index (ranges before it are done with).
    void Reached(size_t index);

private:
    void Run();

    RawDevice& device_;
    const std::vector<ByteRange> ranges_;
    const uint64_t ahead_;
    std::vector<uint64_t> before_;  // bytes of the ranges before each one
    std::mutex lock_;
    std::condition_variable changed_;
    size_t reached_ = 0;
    bool stop_ = false;
    std::thread thread_;
};

}  // namespace veld
