// Follows the marker structure of a JPEG file over its bytes as they come, in
// pieces of any size (a file's clusters in order): where each picture ends,
// and the first byte where the structure breaks. It tells whether the bytes a
// directory entry leads to are the picture the entry describes: a picture
// starts with SOI at byte 0 and ends (EOI) where the entry's size ends, and
// nothing between breaks the rules of the format. The scan is a plain value:
// a copy taken at a cluster boundary resumes from there with other bytes
// (trying which cluster continues a fragmented picture).
//
// Layout followed (values big-endian):
//   FF D8                           start of image (SOI)
//   FF xx LL LL ...                 segments with a length (APPn, DQT, DHT, SOFn, DRI, COM, ...)
//   FF DA LL LL ...                 start of scan; entropy-coded data follows, in which
//                                   FF 00 is a data byte, FF D0..D7 restart markers (in
//                                   turn, when a restart interval is set), FF FF fill
//   (DHT/DQT/DRI/SOS/COM/APPn)      between the scans of progressive or multi-scan files
//   FF D9                           end of image (EOI); another SOI right after it starts
//                                   a picture stored behind the first (multi-picture files)
//
//   JpegStructureScan scan;
//   for (cluster : clusters) scan.Feed(bytes, clusterSize);
//   if (scan.faultAt() == kNoFault && scan.lastEnd() == fileSize) ...
#pragma once

#include <cstddef>
#include <cstdint>

namespace veld {

class JpegStructureScan {
public:
    static constexpr uint64_t kNoFault = UINT64_MAX;

    // Takes the next bytes of the file. After a fault, or after the last
    // picture ended and the bytes after it start no other, the rest is ignored.
    void Feed(const uint8_t* data, size_t size);

    // Bytes taken so far (including those ignored).
    uint64_t fed() const { return fed_; }
    // True once the file began with SOI followed by a marker.
    bool started() const { return started_; }
    // Offset of the first byte where the structure breaks, kNoFault if none so far.
    uint64_t faultAt() const { return faultAt_; }
    // Offset just past the first picture's EOI; 0 before it.
    uint64_t firstEnd() const { return firstEnd_; }
    // Offset just past the EOI of the last picture of the chain (the first,
    // or one stored right behind it); 0 before the first.
    uint64_t lastEnd() const { return lastEnd_; }
    // True while no more bytes are needed: a fault, or the bytes after an end
    // begin no further picture.
    bool finished() const { return finished_; }
    // Frame size of the first picture (0 before its SOF).
    uint32_t width() const { return width_; }
    uint32_t height() const { return height_; }

private:
    enum class State : uint8_t {
        Soi0,        // expecting FF of SOI
        Soi1,        // expecting D8
        MarkerFF,    // expecting FF before a marker
        MarkerCode,  // expecting the marker code (FF fill allowed)
        Length0,     // segment length, high byte
        Length1,     // segment length, low byte
        Segment,     // inside a segment's body
        Scan,        // entropy-coded data
        ScanFF,      // a FF in entropy-coded data, its next byte pending
        AfterEoi0,   // after an EOI: another SOI may follow
        AfterEoi1,
    };

    void Fault(uint64_t at);
    void Marker(uint8_t code, uint64_t at);
    void SegmentByte(uint8_t byte);
    void SegmentDone();

    State state_ = State::Soi0;
    bool started_ = false;
    bool finished_ = false;
    bool inFirst_ = true;       // still in the first picture of the chain
    bool sawScan_ = false;      // a scan started in the current picture
    uint8_t segmentCode_ = 0;   // marker of the segment being read
    uint16_t length_ = 0;       // its length field
    uint32_t segmentLeft_ = 0;  // body bytes still to skip
    uint32_t segmentAt_ = 0;    // body bytes read (the few that matter are kept)
    uint8_t head_[8] = {};      // a segment's first body bytes (SOF size, DRI interval)
    uint16_t restartInterval_ = 0;
    uint8_t nextRestart_ = 0;   // the restart marker expected next (0..7)
    uint64_t fed_ = 0;
    uint64_t faultAt_ = kNoFault;
    uint64_t firstEnd_ = 0;
    uint64_t lastEnd_ = 0;
    uint32_t width_ = 0;
    uint32_t height_ = 0;
};

}  // namespace veld
