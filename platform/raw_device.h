// Raw access to a source: an image file, a block device, or (for tests and
// fuzzers) bytes in memory. The engine reads whole sectors at 64-bit offsets
// through this one interface and never through a file system.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace veld {

class RawDevice {
public:
    virtual ~RawDevice() = default;
    // Moves the position; false when the offset is negative or the platform refuses.
    virtual bool Seek(int64_t offset) = 0;
    // Reads up to count bytes at the position; false on an I/O error.
    virtual bool Read(void* buffer, uint32_t count, uint32_t* done) = 0;
    // Reads up to count bytes at offset without using or moving the position,
    // so a reader thread can read ahead while others seek and read. File and
    // memory sources answer it with a positional read; the default seeks and
    // reads, and is for sources used by one thread only.
    virtual bool ReadAt(int64_t offset, void* buffer, uint32_t count, uint32_t* done);
    // True when ReadAt is a positional read that is safe beside Seek and Read
    // on another thread (a reader thread may then read ahead).
    virtual bool PositionalReads() const { return false; }
    // A hint that [offset, offset + length) will be read soon; may do nothing.
    virtual void WillRead(int64_t offset, int64_t length) {}
    virtual bool Write(const void* buffer, uint32_t count, uint32_t* done) = 0;
    // Size in bytes, or -1 when unknown.
    virtual int64_t Size() const = 0;
    // Logical sector size the device reports (512 for files).
    virtual uint32_t SectorSize() const { return 512; }
    // Pushes written data to the medium and drops what the system keeps
    // cached of the source, so that later reads come from the medium itself
    // (a read-back check must not be answered from memory). False when the
    // medium reports a write failure.
    virtual bool Flush() { return true; }
};

// Whether OpenRawPath may turn to the desktop's disk service (see
// device_service.h) for a block device this user may not open. Listing and
// probing drives opens directly only, so that no password is asked for
// before the user has chosen a card.
enum class DeviceAccess { DirectOrService, DirectOnly };

// Opens a file or block device by path; read-only unless writable is set.
// Writes go straight through to the medium (O_SYNC). A block device that
// cannot be opened for lack of permission is asked of the disk service.
// Returns null on failure and leaves the reason in errno: EACCES when the
// service did not open it either, EISDIR for a folder, ENOTBLK for anything
// else that is neither a regular file nor a block device (a FIFO, a
// character device, a socket), which is refused without waiting on it.
std::unique_ptr<RawDevice> OpenRawPath(const std::string& path, bool writable,
                                       DeviceAccess access = DeviceAccess::DirectOrService);

// How the calling thread's last OpenRawPath of a block device went, for the
// trace: opened directly, opened through the disk service and why, or why
// neither worked (with the service's reason). "" after any other path.
const std::string& LastDeviceOpenNote();

// An in-memory source over a copy of the bytes (tests, fuzzers).
std::unique_ptr<RawDevice> OpenMemoryDevice(std::vector<uint8_t> bytes);

}  // namespace veld
