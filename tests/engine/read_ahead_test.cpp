// The read-ahead reader over memory, a file, a source with unreadable
// sectors and one that hangs: every cluster comes out with the source's bytes
// (whole when it spans two blocks), in large reads, skipped clusters are not
// read, and errors, the end and cancelling are reported where they happen.
// The range prefetch hints what a reader will read, in its order, bounded.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <mutex>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <thread>
#include <vector>

#include "platform/raw_device.h"
#include "support/mkfs_tools.h"
#include "support/scripted_device.h"
#include "volume/range_prefetch.h"
#include "volume/read_ahead.h"

namespace veld {
namespace {

// Bytes that differ from one offset to the next, so a shifted read shows.
std::vector<uint8_t> Pattern(size_t size) {
    std::vector<uint8_t> bytes(size);
    for (size_t i = 0; i < size; ++i) bytes[i] = uint8_t((i * 2654435761u) >> 13);
    return bytes;
}

// A memory source whose reads fail when they touch [badFrom, badTo), like a
// card with unreadable sectors; it counts the bytes asked for.
class UnreadableSectors final : public RawDevice {
public:
    UnreadableSectors(std::vector<uint8_t> bytes, int64_t badFrom, int64_t badTo)
        : bytes_(std::move(bytes)), badFrom_(badFrom), badTo_(badTo) {}
    bool Seek(int64_t) override { return false; }
    bool Read(void*, uint32_t, uint32_t* done) override { return *done = 0, false; }
    bool Write(const void*, uint32_t, uint32_t* done) override { return *done = 0, false; }
    int64_t Size() const override { return int64_t(bytes_.size()); }
    bool ReadAt(int64_t offset, void* buffer, uint32_t count, uint32_t* done) override {
        *done = 0;
        asked += count;
        if (offset < badTo_ && offset + count > badFrom_) return errno = EIO, false;
        const uint64_t left = uint64_t(offset) < bytes_.size() ? bytes_.size() - uint64_t(offset) : 0;
        *done = uint32_t(std::min<uint64_t>(count, left));
        std::memcpy(buffer, bytes_.data() + offset, *done);
        return true;
    }
    std::atomic<uint64_t> asked{0};

private:
    std::vector<uint8_t> bytes_;
    int64_t badFrom_, badTo_;
};

class ReadAheadModes : public ::testing::TestWithParam<bool> {
protected:
    ReadAheadOptions Options() const {
        ReadAheadOptions o;
        o.blockBytes = 1u << 20;
        o.readerThread = GetParam();
        return o;
    }
};

TEST_P(ReadAheadModes, OddClustersComeOutWholeAcrossBlocksToAPartialEnd) {
    // 3,000-byte clusters from byte 1,234 on, numbered from 2; the source ends
    // 1,000 bytes into cluster 2 + 1,500.
    const uint32_t cs = 3000;
    const int64_t start = 1234;
    const auto source = Pattern(size_t(start) + 1500 * cs + 1000);
    auto device = OpenMemoryDevice(source);
    ReadAhead reader(*device, start, 2, 1'000'000, cs, {}, Options());
    ASSERT_EQ(reader.blockClusters(), (1u << 20) / cs + 1);

    for (uint64_t c = 2; c < 2 + 1500; ++c) {
        const uint32_t count = c % 3 ? 2 : 1;  // two-cluster windows as the walks read them
        ClusterSpan span = reader.Get(c, count);
        ASSERT_EQ(span.status, ReadStatus::Ok) << c;
        const size_t at = size_t(start) + size_t(c - 2) * cs;
        const uint64_t expected = std::min<uint64_t>(uint64_t(count) * cs, source.size() - at);
        ASSERT_EQ(span.bytes, expected) << c;
        ASSERT_EQ(std::memcmp(span.data, source.data() + at, span.bytes), 0) << c;
    }
    ClusterSpan partial = reader.Get(2 + 1500);
    EXPECT_EQ(partial.status, ReadStatus::End);
    ASSERT_EQ(partial.bytes, 1000u);
    EXPECT_EQ(std::memcmp(partial.data, source.data() + source.size() - 1000, 1000), 0);
    EXPECT_EQ(reader.Get(2 + 1501).status, ReadStatus::End);
    EXPECT_EQ(reader.Get(1).status, ReadStatus::End);  // before the first cluster
    // Every byte read once, in blocks of at least 1 MiB.
    EXPECT_EQ(reader.readCalls(), (1500 + reader.blockClusters()) / reader.blockClusters());
    EXPECT_EQ(reader.bytesRead(), source.size() - size_t(start));
}

TEST_P(ReadAheadModes, SkippedClustersAreNotReadAndGoingBackReadsAgain) {
    const uint32_t cs = 512;
    const auto source = Pattern(64u << 20);
    UnreadableSectors device(source, -1, -1);
    ReadAhead reader(device, 0, 0, source.size() / cs - 1, cs, {}, Options());
    auto check = [&](uint64_t c) {
        ClusterSpan span = reader.Get(c);
        ASSERT_EQ(span.status, ReadStatus::Ok) << c;
        ASSERT_EQ(span.bytes, cs);
        EXPECT_EQ(std::memcmp(span.data, source.data() + c * cs, cs), 0) << c;
    };
    check(10);
    check(11);
    check(40'000);  // 20 MiB on: what lies between is skipped
    check(40'001);
    check(100'000);
    check(15);      // back again
    check(source.size() / cs - 1);
    EXPECT_LT(device.asked.load(), 16u << 20);
    EXPECT_EQ(reader.Get(source.size() / cs).status, ReadStatus::End);  // past the range
}

TEST_P(ReadAheadModes, StretchesNotWantedAreNotReadUnlessAskedFor) {
    const uint32_t cs = 512;
    const auto source = Pattern(8u << 20);
    const uint64_t last = source.size() / cs - 1;
    UnreadableSectors device(source, -1, -1);
    ReadAheadOptions options = Options();
    options.notWanted = {{100, 9'999}, {10'001, 12'000}, {12'002, 12'002}, {14'000, last}};
    ReadAhead reader(device, 0, 0, last, cs, {}, options);
    auto check = [&](uint64_t c) {
        ClusterSpan span = reader.Get(c);
        ASSERT_EQ(span.status, ReadStatus::Ok) << c;
        ASSERT_EQ(span.bytes, cs);
        EXPECT_EQ(std::memcmp(span.data, source.data() + c * cs, cs), 0) << c;
    };
    for (uint64_t c = 0; c < 100; ++c) check(c);
    // A span whose second cluster starts a stretch: both come out.
    const ClusterSpan span = reader.Get(10'000, 2);
    ASSERT_EQ(span.status, ReadStatus::Ok);
    ASSERT_EQ(span.bytes, 2u * cs);
    EXPECT_EQ(std::memcmp(span.data, source.data() + 10'000 * cs, 2 * cs), 0);
    check(12'001);
    for (uint64_t c = 12'003; c <= 14'000; ++c) check(c);  // the last one asked into the stretch to the end
    // A few 1 MiB blocks at most, not the 7 MiB left out.
    EXPECT_LT(device.asked.load(), 4u << 20);
    check(5'000);  // asked into a stretch: read after all, on to its end
    for (uint64_t c = 5'001; c < 5'200; ++c) check(c);
    check(last);
    EXPECT_EQ(reader.Get(last + 1).status, ReadStatus::End);
}

TEST_P(ReadAheadModes, UnreadableClustersAreReportedAndReadingGoesOn) {
    const uint32_t cs = 4096;
    const auto source = Pattern(3u << 20);
    // Sectors unreadable inside clusters 300 and 301 (of 768).
    UnreadableSectors device(source, 300 * cs + 512, 301 * cs + 1024);
    ReadAhead reader(device, 0, 0, 767, cs, {}, Options());
    for (uint64_t c = 0; c < 768; ++c) {
        ClusterSpan span = reader.Get(c);
        if (c == 300 || c == 301) {
            EXPECT_EQ(span.status, ReadStatus::Error) << c;
            continue;
        }
        ASSERT_EQ(span.status, ReadStatus::Ok) << c;
        EXPECT_EQ(std::memcmp(span.data, source.data() + c * cs, cs), 0) << c;
    }
    // A window that runs into the unreadable cluster stops before it.
    ReadAhead again(device, 0, 0, 767, cs, {}, Options());
    ClusterSpan window = again.Get(299, 2);
    EXPECT_EQ(window.status, ReadStatus::Ok);
    EXPECT_EQ(window.bytes, cs);
}

TEST_P(ReadAheadModes, AFileIsReadInLargeBlocksWithinTheRange) {
    test::TempDir dir;
    const std::string path = dir.File("source.img");
    const auto source = Pattern((9u << 20) + 777);
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(source.data()), std::streamsize(source.size()));
    auto device = OpenRawPath(path, false);
    ASSERT_TRUE(device);
    ReadAheadOptions options = Options();
    options.blockBytes = 4u << 20;
    const uint32_t cs = 32768;
    const uint64_t last = 200;  // clusters 0 to 200 of 288
    ReadAhead reader(*device, 0, 0, last, cs, {}, options);
    for (uint64_t c = 0; c <= last; ++c) {
        ClusterSpan span = reader.Get(c, 2);
        ASSERT_EQ(span.status, ReadStatus::Ok) << c;
        ASSERT_EQ(span.bytes, c == last ? cs : 2 * cs) << c;  // the range ends after cluster 200
        ASSERT_EQ(std::memcmp(span.data, source.data() + c * cs, span.bytes), 0) << c;
    }
    EXPECT_EQ(reader.Get(last + 1).status, ReadStatus::End);
    EXPECT_EQ(reader.readCalls(), 2u);  // 128 + 73 clusters
    EXPECT_EQ(reader.bytesRead(), (last + 1) * cs);
}

TEST(ReadAhead, CancellingEndsAWaitWhileTheReadHangs) {
    // The second block's read is held at a gate, as on a card that stopped
    // answering: the waiting caller still returns at once when cancelled.
    test::ScriptedMedium medium(Pattern(4u << 20), test::DeviceScript{.gateAt = (1 << 20) + 4096});
    auto device = medium.Device();
    std::atomic<bool> cancel{false};
    ReadAheadOptions options;
    options.blockBytes = 1u << 20;
    {
        ReadAhead reader(*device, 0, 0, 1023, 4096, [&] { return cancel.load(); }, options);
        EXPECT_EQ(reader.Get(0).status, ReadStatus::Ok);
        std::thread canceller([&] {
            medium.WaitAtGate();
            cancel = true;
        });
        EXPECT_EQ(reader.Get(300).status, ReadStatus::Cancelled);
        canceller.join();
        medium.OpenGate();  // the reader's last read returns; its end waits for no more
    }
}

// A source that records the hints it is given, and checks each against
// where the reader said it was: never further ahead than the bytes allowed.
class HintedSource final : public RawDevice {
public:
    HintedSource(const std::vector<ByteRange>& ranges, uint64_t ahead) : ranges_(ranges), ahead_(ahead) {}
    bool Seek(int64_t) override { return false; }
    bool Read(void*, uint32_t, uint32_t* done) override { return *done = 0, false; }
    bool Write(const void*, uint32_t, uint32_t* done) override { return *done = 0, false; }
    int64_t Size() const override { return 1ll << 40; }
    void WillRead(int64_t offset, int64_t length) override {
        std::lock_guard<std::mutex> hold(lock);
        size_t index = 0;
        while (index < ranges_.size() && ranges_[index].offset != offset) ++index;
        uint64_t before = 0, readerAt = 0;
        for (size_t i = 0; i < index; ++i) before += uint64_t(ranges_[i].length);
        for (size_t i = 0; i < reader.load(); ++i) readerAt += uint64_t(ranges_[i].length);
        tooFar = tooFar || before >= readerAt + ahead_;
        hinted.push_back(index);
        (void)length;
    }
    std::atomic<size_t> reader{0};
    std::mutex lock;
    std::vector<size_t> hinted;
    bool tooFar = false;

private:
    const std::vector<ByteRange>& ranges_;
    const uint64_t ahead_;
};

TEST(RangePrefetch, HintsTheRangesInTheReadersOrderNoFurtherAheadThanAllowed) {
    // 40 ranges of 1 MiB (one of them empty) over a 64 TiB span, read from
    // the last to the first; 4 MiB may be hinted ahead of the reader.
    std::vector<ByteRange> ranges;
    for (int i = 39; i >= 0; --i) ranges.push_back(ByteRange{int64_t(i) << 40 >> 6, i == 20 ? 0 : 1 << 20});
    HintedSource source(ranges, 4u << 20);
    {
        RangePrefetch prefetch(source, ranges, 4u << 20);
        for (size_t i = 0; i < ranges.size(); ++i) {
            source.reader = i;
            prefetch.Reached(i);
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        }
        for (int wait = 0; wait < 2000; ++wait) {
            {
                std::lock_guard<std::mutex> hold(source.lock);
                if (!source.hinted.empty() && source.hinted.back() == ranges.size() - 1) break;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    }
    EXPECT_FALSE(source.tooFar);
    ASSERT_FALSE(source.hinted.empty());
    EXPECT_EQ(source.hinted.back(), ranges.size() - 1);
    EXPECT_TRUE(std::is_sorted(source.hinted.begin(), source.hinted.end()));
    EXPECT_EQ(std::count(source.hinted.begin(), source.hinted.end(), size_t(19)), 0) << "the empty range";
}

INSTANTIATE_TEST_SUITE_P(ReaderThreadOrNot, ReadAheadModes, ::testing::Bool());

}  // namespace
}  // namespace veld
