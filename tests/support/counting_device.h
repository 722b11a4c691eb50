// A source that counts the reads made through it and refuses every read after
// a budget, so a test can assert how much work a search did on a card, and a
// search that would do far too much ends quickly instead of running for
// minutes.
#pragma once

#include <cstdint>
#include <memory>
#include <utility>

#include "platform/raw_device.h"
#include "volume/disk_volume.h"

namespace veld::test {

class CountingDevice : public RawDevice {
public:
    CountingDevice(std::unique_ptr<RawDevice> inner, uint64_t readBudget)
        : inner_(std::move(inner)), budget_(readBudget) {}

    bool Seek(int64_t offset) override { return inner_->Seek(offset); }
    bool Read(void* buffer, uint32_t count, uint32_t* done) override {
        if (reads_ >= budget_) {
            *done = 0;
            exhausted_ = true;
            return false;
        }
        ++reads_;
        const bool ok = inner_->Read(buffer, count, done);
        bytes_ += *done;
        return ok;
    }
    bool Write(const void* buffer, uint32_t count, uint32_t* done) override {
        return inner_->Write(buffer, count, done);
    }
    int64_t Size() const override { return inner_->Size(); }
    uint32_t SectorSize() const override { return inner_->SectorSize(); }

    uint64_t reads() const { return reads_; }
    uint64_t bytes() const { return bytes_; }
    // True once a read was refused for the budget.
    bool exhausted() const { return exhausted_; }

private:
    std::unique_ptr<RawDevice> inner_;
    uint64_t budget_;
    uint64_t reads_ = 0;
    uint64_t bytes_ = 0;
    bool exhausted_ = false;
};

// Puts a counting device in front of the volume's source; the volume owns it.
inline CountingDevice* CountReads(DiskVolume& volume, uint64_t readBudget) {
    auto counting = std::make_unique<CountingDevice>(std::move(volume.device), readBudget);
    CountingDevice* raw = counting.get();
    volume.device = std::move(counting);
    return raw;
}

}  // namespace veld::test
