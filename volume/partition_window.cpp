#include "volume/partition_window.h"

#include <algorithm>

namespace veld {
namespace {

class PartitionWindow final : public RawDevice {
public:
    PartitionWindow(std::unique_ptr<RawDevice> source, uint64_t offset, uint64_t size)
        : source_(std::move(source)), offset_(offset), size_(size) {}

    bool Seek(int64_t offset) override {
        if (offset < 0 || !source_->Seek(int64_t(offset_ + uint64_t(offset)))) return false;
        pos_ = uint64_t(offset);
        return true;
    }
    bool Read(void* buffer, uint32_t count, uint32_t* done) override {
        *done = 0;
        const uint32_t inside = Inside(pos_, count);
        if (inside == 0) return true;  // at or past the partition's end
        if (!source_->Read(buffer, inside, done)) return false;
        pos_ += *done;
        return true;
    }
    bool ReadAt(int64_t offset, void* buffer, uint32_t count, uint32_t* done) override {
        *done = 0;
        if (offset < 0) return false;
        const uint32_t inside = Inside(uint64_t(offset), count);
        if (inside == 0) return true;
        return source_->ReadAt(int64_t(offset_ + uint64_t(offset)), buffer, inside, done);
    }
    bool PositionalReads() const override { return source_->PositionalReads(); }
    void WillRead(int64_t offset, int64_t length) override {
        if (offset < 0 || length <= 0 || uint64_t(offset) >= size_) return;
        const uint64_t kept = std::min<uint64_t>(uint64_t(length), size_ - uint64_t(offset));
        source_->WillRead(int64_t(offset_ + uint64_t(offset)), int64_t(kept));
    }
    // The search never writes; a window is only opened for reading.
    bool Write(const void*, uint32_t, uint32_t* done) override {
        *done = 0;
        return false;
    }
    int64_t Size() const override { return int64_t(size_); }
    uint32_t SectorSize() const override { return source_->SectorSize(); }
    bool Flush() override { return source_->Flush(); }

private:
    // How many of count bytes from at lie inside the window.
    uint32_t Inside(uint64_t at, uint32_t count) const {
        if (at >= size_) return 0;
        return uint32_t(std::min<uint64_t>(count, size_ - at));
    }

    std::unique_ptr<RawDevice> source_;
    uint64_t offset_;
    uint64_t size_;
    uint64_t pos_ = 0;
};

}  // namespace

std::unique_ptr<RawDevice> OpenPartitionWindow(std::unique_ptr<RawDevice> source, uint64_t offset, uint64_t size) {
    if (!source) return nullptr;
    return std::make_unique<PartitionWindow>(std::move(source), offset, size);
}

}  // namespace veld
