// An in-memory raw device with faults chosen by the test: reads that fail
// from some offset on (a failing card), writes that report success but are
// dropped (a card that silently loses writes), and a gate that holds the
// worker at an offset until the test opens it (cancelling mid-transfer).
#pragma once

#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include "platform/raw_device.h"
#include "volume/disk_volume.h"

namespace veld::test {

struct DeviceScript {
    int64_t failReadsFrom = -1;   // reads touching this offset or beyond fail with EIO
    int64_t dropWritesFrom = -1;  // bytes at this offset or beyond are not stored
    int64_t gateAt = -1;          // a transfer touching this offset waits for OpenGate
};

// The bytes and the gate, shared between the test and the device it hands out.
class ScriptedMedium {
public:
    ScriptedMedium(std::vector<uint8_t> bytes, DeviceScript script) : bytes_(std::move(bytes)), script_(script) {}
    std::vector<uint8_t> Bytes();
    void OpenGate();
    // Waits until a transfer is held at the gate.
    void WaitAtGate();

    // A device over this medium, and a volume around it (geometry loaded) as
    // the disk tools take them.
    std::unique_ptr<RawDevice> Device();
    std::unique_ptr<DiskVolume> Volume();

private:
    friend class ScriptedDevice;
    std::mutex lock_;
    std::condition_variable changed_;
    std::vector<uint8_t> bytes_;
    DeviceScript script_;
    bool gateOpen_ = false;
    bool waiting_ = false;
};

}  // namespace veld::test
