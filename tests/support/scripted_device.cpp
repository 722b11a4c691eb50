#include "support/scripted_device.h"

#include <cerrno>
#include <cstring>

#include "volume/boot_sector.h"

namespace veld::test {

class ScriptedDevice final : public RawDevice {
public:
    explicit ScriptedDevice(std::shared_ptr<ScriptedMedium> medium) : m_(std::move(medium)) {}
    bool Seek(int64_t offset) override {
        if (offset < 0) return false;
        pos_ = offset;
        return true;
    }
    bool Read(void* buffer, uint32_t count, uint32_t* done) override {
        Gate(count);
        std::lock_guard<std::mutex> guard(m_->lock_);
        *done = 0;
        if (m_->script_.failReadsFrom >= 0 && pos_ + count > m_->script_.failReadsFrom) {
            errno = EIO;
            return false;
        }
        int64_t left = std::max<int64_t>(0, int64_t(m_->bytes_.size()) - pos_);
        *done = uint32_t(std::min<int64_t>(count, left));
        if (*done) std::memcpy(buffer, m_->bytes_.data() + pos_, *done);
        pos_ += *done;
        return true;
    }
    bool Write(const void* buffer, uint32_t count, uint32_t* done) override {
        Gate(count);
        std::lock_guard<std::mutex> guard(m_->lock_);
        int64_t left = std::max<int64_t>(0, int64_t(m_->bytes_.size()) - pos_);
        *done = uint32_t(std::min<int64_t>(count, left));
        const auto* in = static_cast<const uint8_t*>(buffer);
        for (uint32_t i = 0; i < *done; ++i) {
            int64_t at = pos_ + i;
            if (m_->script_.dropWritesFrom < 0 || at < m_->script_.dropWritesFrom) m_->bytes_[size_t(at)] = in[i];
        }
        pos_ += *done;
        return *done == count;
    }
    int64_t Size() const override {
        std::lock_guard<std::mutex> guard(m_->lock_);
        return int64_t(m_->bytes_.size());
    }

private:
    void Gate(uint32_t count) {
        std::unique_lock<std::mutex> guard(m_->lock_);
        const int64_t gate = m_->script_.gateAt;
        if (gate < 0 || pos_ + count <= gate || pos_ > gate) return;
        m_->waiting_ = true;
        m_->changed_.notify_all();
        m_->changed_.wait(guard, [&] { return m_->gateOpen_; });
    }
    std::shared_ptr<ScriptedMedium> m_;
    int64_t pos_ = 0;
};

std::vector<uint8_t> ScriptedMedium::Bytes() {
    std::lock_guard<std::mutex> guard(lock_);
    return bytes_;
}

void ScriptedMedium::OpenGate() {
    std::lock_guard<std::mutex> guard(lock_);
    gateOpen_ = true;
    changed_.notify_all();
}

void ScriptedMedium::WaitAtGate() {
    std::unique_lock<std::mutex> guard(lock_);
    changed_.wait(guard, [&] { return waiting_; });
}

std::unique_ptr<RawDevice> ScriptedMedium::Device() {
    // The medium outlives every device: the test keeps it in a shared_ptr.
    return std::make_unique<ScriptedDevice>(std::shared_ptr<ScriptedMedium>(this, [](ScriptedMedium*) {}));
}

std::unique_ptr<DiskVolume> ScriptedMedium::Volume() {
    auto volume = std::make_unique<DiskVolume>();
    volume->device = Device();
    volume->sourceKind = SourceImage;
    volume->sourceName = "(scripted)";
    LoadGeometry(*volume);
    return volume;
}

}  // namespace veld::test
