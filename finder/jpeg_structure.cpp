#include "finder/jpeg_structure.h"

#include <algorithm>
#include <cstring>

namespace veld {
namespace {

constexpr uint8_t kSOI = 0xD8;
constexpr uint8_t kEOI = 0xD9;
constexpr uint8_t kSOS = 0xDA;
constexpr uint8_t kDRI = 0xDD;
constexpr uint8_t kRST0 = 0xD0;
constexpr uint8_t kRST7 = 0xD7;
constexpr uint8_t kTEM = 0x01;

// Frame headers (SOF0..SOF15 less DHT C4, JPG C8 and DAC CC): precision,
// then height and width (u16 each) at body bytes 1 and 3.
bool IsFrameHeader(uint8_t code) {
    return code >= 0xC0 && code <= 0xCF && code != 0xC4 && code != 0xC8 && code != 0xCC;
}

// Markers that may stand between the scans of one picture.
bool BetweenScans(uint8_t code) {
    return code == 0xC4 || code == 0xDB || code == kDRI || code == kSOS || code == 0xFE || code == 0xCC ||
           (code >= 0xE0 && code <= 0xEF);
}

}  // namespace

void JpegStructureScan::Fault(uint64_t at) {
    if (faultAt_ == kNoFault) faultAt_ = at;
    finished_ = true;
}

void JpegStructureScan::Marker(uint8_t code, uint64_t at) {
    if (code == kSOI) return Fault(at - 1);
    if ((code >= kRST0 && code <= kRST7) || code == kTEM) {
        state_ = State::MarkerFF;
        return;
    }
    if (code == kEOI) {
        if (!sawScan_) return Fault(at - 1);  // an end with no picture before it
        if (inFirst_) firstEnd_ = at + 1;
        lastEnd_ = at + 1;
        state_ = State::AfterEoi0;
        return;
    }
    if (code < 0xC0) return Fault(at - 1);
    segmentCode_ = code;
    state_ = State::Length0;
}

void JpegStructureScan::SegmentByte(uint8_t byte) {
    if (segmentAt_ < sizeof head_) head_[segmentAt_] = byte;
    ++segmentAt_;
}

void JpegStructureScan::SegmentDone() {
    if (IsFrameHeader(segmentCode_) && inFirst_ && width_ == 0 && segmentAt_ >= 5) {
        height_ = uint32_t(head_[1] << 8 | head_[2]);
        width_ = uint32_t(head_[3] << 8 | head_[4]);
    }
    if (segmentCode_ == kDRI && segmentAt_ >= 2) restartInterval_ = uint16_t(head_[0] << 8 | head_[1]);
    if (segmentCode_ == kSOS) {
        sawScan_ = true;
        nextRestart_ = 0;
        state_ = State::Scan;
    } else {
        state_ = State::MarkerFF;
    }
}

void JpegStructureScan::Feed(const uint8_t* data, size_t size) {
    const uint64_t base = fed_;
    fed_ += size;
    size_t i = 0;
    while (i < size && !finished_) {
        const uint64_t at = base + i;
        const uint8_t b = data[i];
        switch (state_) {
        case State::Soi0:
            if (b != 0xFF) return Fault(at);
            state_ = State::Soi1;
            ++i;
            break;
        case State::Soi1:
            if (b != kSOI) return Fault(at - 1);
            started_ = true;
            state_ = State::MarkerFF;
            ++i;
            break;
        case State::MarkerFF:
            if (b != 0xFF) return Fault(at);
            state_ = State::MarkerCode;
            ++i;
            break;
        case State::MarkerCode:
            ++i;
            if (b != 0xFF) Marker(b, at);  // FF FF: fill before the code
            break;
        case State::Length0:
            length_ = uint16_t(b << 8);
            state_ = State::Length1;
            ++i;
            break;
        case State::Length1:
            length_ = uint16_t(length_ | b);
            ++i;
            if (length_ < 2) return Fault(at - 3);
            segmentLeft_ = uint32_t(length_) - 2;
            segmentAt_ = 0;
            state_ = State::Segment;
            if (segmentLeft_ == 0) SegmentDone();
            break;
        case State::Segment: {
            // The few first body bytes are kept; the rest is skipped whole.
            while (i < size && segmentLeft_ > 0 && segmentAt_ < sizeof head_) {
                SegmentByte(data[i++]);
                --segmentLeft_;
            }
            const size_t skip = size_t(std::min<uint64_t>(segmentLeft_, size - i));
            i += skip;
            segmentAt_ += uint32_t(skip);
            segmentLeft_ -= uint32_t(skip);
            if (segmentLeft_ == 0) SegmentDone();
            break;
        }
        case State::Scan: {
            const void* hit = std::memchr(data + i, 0xFF, size - i);
            if (!hit) {
                i = size;
                break;
            }
            i = size_t(static_cast<const uint8_t*>(hit) - data) + 1;
            state_ = State::ScanFF;
            break;
        }
        case State::ScanFF:
            ++i;
            if (b == 0x00) {
                state_ = State::Scan;
            } else if (b == 0xFF) {
                // fill: the marker code is still to come
            } else if (b >= kRST0 && b <= kRST7) {
                // Restart markers come in turn, and only when an interval is set.
                if (restartInterval_ == 0 || b - kRST0 != nextRestart_) return Fault(at - 1);
                nextRestart_ = uint8_t((nextRestart_ + 1) & 7);
                state_ = State::Scan;
            } else if (b == kEOI) {
                Marker(b, at);
            } else if (BetweenScans(b)) {
                Marker(b, at);
            } else {
                return Fault(at - 1);
            }
            break;
        case State::AfterEoi0:
            if (b != 0xFF) {
                finished_ = true;
                return;
            }
            state_ = State::AfterEoi1;
            ++i;
            break;
        case State::AfterEoi1:
            if (b != kSOI) {
                finished_ = true;
                return;
            }
            // A picture stored right behind the first (a multi-picture file's
            // second picture): the file ends where the last one does.
            inFirst_ = false;
            sawScan_ = false;
            restartInterval_ = 0;
            state_ = State::MarkerFF;
            ++i;
            break;
        }
    }
}

}  // namespace veld
