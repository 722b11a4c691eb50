#include "platform/raw_device.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/device_service.h"

namespace veld {

bool RawDevice::ReadAt(int64_t offset, void* buffer, uint32_t count, uint32_t* done) {
    *done = 0;
    return Seek(offset) && Read(buffer, count, done);
}

namespace {

constexpr int64_t kSector = 512;

// A disk image's last sector may be cut short (an image whose size is no
// multiple of 512): it reads as a whole sector, the missing bytes as zeros,
// so that the bytes it does hold belong to the sector like any other. Size()
// stays the file's own, so that what is copied or carved ends at its last byte.
class FileDevice final : public RawDevice {
public:
    explicit FileDevice(int fd) : fd_(fd) {}
    ~FileDevice() override { ::close(fd_); }

    bool Seek(int64_t offset) override {
        if (offset < 0) return false;
        return ::lseek(fd_, off_t(offset), SEEK_SET) == off_t(offset);
    }
    bool Read(void* buffer, uint32_t count, uint32_t* done) override {
        *done = 0;
        const off_t from = ::lseek(fd_, 0, SEEK_CUR);
        auto* out = static_cast<uint8_t*>(buffer);
        while (*done < count) {
            ssize_t n = ::read(fd_, out + *done, count - *done);
            if (n < 0) {
                if (errno == EINTR) continue;
                return false;
            }
            if (n == 0) {  // end of the source
                const uint32_t padded = PadLastSector(from, out, count, *done);
                if (padded > *done) ::lseek(fd_, off_t(padded - *done), SEEK_CUR);
                *done = padded;
                break;
            }
            *done += uint32_t(n);
        }
        return true;
    }
    bool ReadAt(int64_t offset, void* buffer, uint32_t count, uint32_t* done) override {
        *done = 0;
        if (offset < 0) return false;
        auto* out = static_cast<uint8_t*>(buffer);
        while (*done < count) {
            ssize_t n = ::pread(fd_, out + *done, count - *done, off_t(offset + *done));
            if (n < 0) {
                if (errno == EINTR) continue;
                return false;
            }
            if (n == 0) {  // end of the source
                *done = PadLastSector(offset, out, count, *done);
                break;
            }
            *done += uint32_t(n);
        }
        return true;
    }
    bool PositionalReads() const override { return true; }
    void WillRead(int64_t offset, int64_t length) override {
        if (offset >= 0 && length > 0) ::posix_fadvise(fd_, off_t(offset), off_t(length), POSIX_FADV_WILLNEED);
    }
    bool Write(const void* buffer, uint32_t count, uint32_t* done) override {
        *done = 0;
        auto* in = static_cast<const uint8_t*>(buffer);
        while (*done < count) {
            ssize_t n = ::write(fd_, in + *done, count - *done);
            if (n < 0) {
                if (errno == EINTR) continue;
                return false;
            }
            if (n == 0) return false;
            *done += uint32_t(n);
        }
        return true;
    }
    int64_t Size() const override {
        struct stat st {};
        if (::fstat(fd_, &st) != 0) return -1;
        if (S_ISBLK(st.st_mode)) {
            uint64_t bytes = 0;
            if (::ioctl(fd_, BLKGETSIZE64, &bytes) != 0) return -1;
            return int64_t(bytes);
        }
        return S_ISREG(st.st_mode) ? int64_t(st.st_size) : -1;
    }
    bool Flush() override {
        if (::fsync(fd_) != 0 && errno != EINVAL) return false;
        ::posix_fadvise(fd_, 0, 0, POSIX_FADV_DONTNEED);
        return true;
    }
    uint32_t SectorSize() const override {
        struct stat st {};
        if (::fstat(fd_, &st) == 0 && S_ISBLK(st.st_mode)) {
            int logical = 0;
            if (::ioctl(fd_, BLKSSZGET, &logical) == 0 && logical > 0) return uint32_t(logical);
        }
        return 512;
    }

private:
    // A read from `from` that got `done` of `count` bytes before the end of
    // the file: the rest of the file's last sector as zeros. The new count.
    uint32_t PadLastSector(int64_t from, uint8_t* out, uint32_t count, uint32_t done) const {
        struct stat st {};
        if (from < 0 || ::fstat(fd_, &st) != 0 || !S_ISREG(st.st_mode)) return done;
        const int64_t end = (int64_t(st.st_size) + kSector - 1) / kSector * kSector;
        const int64_t at = from + int64_t(done);
        if (at < int64_t(st.st_size) || at >= end) return done;
        const uint32_t pad = uint32_t(std::min<int64_t>(end - at, int64_t(count - done)));
        std::memset(out + done, 0, pad);
        return done + pad;
    }

    int fd_;
};

class MemoryDevice final : public RawDevice {
public:
    explicit MemoryDevice(std::vector<uint8_t> bytes) : bytes_(std::move(bytes)) {}
    bool Seek(int64_t offset) override {
        if (offset < 0) return false;
        pos_ = uint64_t(offset);
        return true;
    }
    bool Read(void* buffer, uint32_t count, uint32_t* done) override {
        uint64_t left = pos_ < bytes_.size() ? bytes_.size() - pos_ : 0;
        *done = uint32_t(count < left ? count : left);
        if (*done) std::memcpy(buffer, bytes_.data() + pos_, *done);
        pos_ += *done;
        return true;
    }
    bool ReadAt(int64_t offset, void* buffer, uint32_t count, uint32_t* done) override {
        if (offset < 0) {
            *done = 0;
            return false;
        }
        const uint64_t at = uint64_t(offset);
        uint64_t left = at < bytes_.size() ? bytes_.size() - at : 0;
        *done = uint32_t(count < left ? count : left);
        if (*done) std::memcpy(buffer, bytes_.data() + at, *done);
        return true;
    }
    bool PositionalReads() const override { return true; }
    bool Write(const void* buffer, uint32_t count, uint32_t* done) override {
        uint64_t left = pos_ < bytes_.size() ? bytes_.size() - pos_ : 0;
        *done = uint32_t(count < left ? count : left);
        if (*done) std::memcpy(bytes_.data() + pos_, buffer, *done);
        pos_ += *done;
        return *done == count;
    }
    int64_t Size() const override { return int64_t(bytes_.size()); }

private:
    std::vector<uint8_t> bytes_;
    uint64_t pos_ = 0;
};

}  // namespace

namespace {

thread_local std::string gDeviceNote;

bool IsBlockDevice(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISBLK(st.st_mode);
}

// A descriptor for a block device the direct open refused with `error`: the
// disk service's, or -1 with errno set back to the refusal.
int OpenThroughService(const std::string& path, bool writable, int error, DeviceAccess access) {
    const char* mode = writable ? "read-write" : "read-only";
    const std::string service = DeviceServiceName();
    const std::string refused = path + ": " + std::strerror(error);
    if ((error != EACCES && error != EPERM) || access == DeviceAccess::DirectOnly || service.empty()) {
        gDeviceNote = refused + (error == EACCES || error == EPERM
                                     ? (service.empty() ? " (no disk service to ask)" : " (direct open only)")
                                     : "");
        errno = error;
        return -1;
    }
    std::string refusal;
    int fd = OpenThroughDeviceService(path, writable, &refusal);
    if (fd < 0) {
        gDeviceNote = refused + "; " + service + " did not open it either: " + refusal;
        errno = error;
        return -1;
    }
    gDeviceNote = "Device " + path + " opened through " + service + " (" + mode +
                  "): no permission to open it directly";
    return fd;
}

}  // namespace

std::unique_ptr<RawDevice> OpenRawPath(const std::string& path, bool writable, DeviceAccess access) {
    gDeviceNote.clear();
    if (path.empty()) {
        errno = ENOENT;
        return nullptr;
    }
    // Opened without blocking, so that a FIFO (which would wait for a
    // writer) is seen for what it is; only files and block devices are
    // sources and targets.
    int flags = O_CLOEXEC | O_NONBLOCK | (writable ? (O_RDWR | O_SYNC) : O_RDONLY);
    int fd = ::open(path.c_str(), flags);
    if (fd < 0) {
        const int error = errno;
        if (!IsBlockDevice(path)) return nullptr;
        fd = OpenThroughService(path, writable, error, access);
        if (fd < 0) return nullptr;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !(S_ISREG(st.st_mode) || S_ISBLK(st.st_mode))) {
        const int error = S_ISDIR(st.st_mode) ? EISDIR : ENOTBLK;
        ::close(fd);
        gDeviceNote.clear();
        errno = error;
        return nullptr;
    }
    const int status = ::fcntl(fd, F_GETFL);
    if (status < 0 || ::fcntl(fd, F_SETFL, status & ~O_NONBLOCK) != 0) {
        const int error = errno;
        ::close(fd);
        gDeviceNote.clear();
        errno = error;
        return nullptr;
    }
    if (gDeviceNote.empty() && S_ISBLK(st.st_mode))
        gDeviceNote = "Device " + path + " opened directly (" + (writable ? "read-write" : "read-only") + ")";
    return std::make_unique<FileDevice>(fd);
}

const std::string& LastDeviceOpenNote() { return gDeviceNote; }

std::unique_ptr<RawDevice> OpenMemoryDevice(std::vector<uint8_t> bytes) {
    return std::make_unique<MemoryDevice>(std::move(bytes));
}

}  // namespace veld
