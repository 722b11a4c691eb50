// A source as slow as a card reader: loaded into a program with LD_PRELOAD,
// it makes every read of one file (read, pread, readv, preadv) take as long
// as a device delivering VELD_THROTTLE_MBPS megabytes (10^6 bytes) a second
// would need. Reads from several threads queue one after another, as they
// do on one card. Bytes read before cost nothing again: a card is read
// through the system's page cache, which on a machine with memory for the
// card holds what was read. The file is the one named by VELD_THROTTLE_FILE
// (compared by device and inode, so any path to it counts); other files are
// read at full speed. With VELD_THROTTLE_REPORT set to a file name, the
// bytes read from the file and those the card delivered (read the first
// time) are written there when the program ends. A hint that a range will be
// read (posix_fadvise WILLNEED) makes the device fetch it at the same speed.
//
//   VELD_THROTTLE_FILE=card.img VELD_THROTTLE_MBPS=90 LD_PRELOAD=libveld_throttled_read.so cat card.img
#include <dlfcn.h>
#include <fcntl.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

struct Throttle {
    bool active = false;
    dev_t device = 0;
    ino_t inode = 0;
    double bytesPerSecond = 0;
    std::mutex lock;
    Clock::time_point busyUntil{};
    std::atomic<uint64_t> throttledFds[16]{};  // bit i of word w: descriptor w * 64 + i reads the file
    std::atomic<uint64_t> bytesRead{0};
    uint64_t bytesDelivered = 0;
    // Per 4 KiB page of the file: when it arrives (or arrived) from the
    // device, since the throttle began; 0 while nobody asked for it.
    std::vector<Clock::rep> arrival;
    const Clock::time_point began = Clock::now();

    Throttle() {
        const char* file = std::getenv("VELD_THROTTLE_FILE");
        const char* rate = std::getenv("VELD_THROTTLE_MBPS");
        struct stat st {};
        if (!file || !rate || ::stat(file, &st) != 0 || std::atof(rate) <= 0) return;
        device = st.st_dev;
        inode = st.st_ino;
        bytesPerSecond = std::atof(rate) * 1e6;
        arrival.assign(size_t(st.st_size / kPage + 1), 0);
        active = true;
    }
    ~Throttle() {
        const char* report = std::getenv("VELD_THROTTLE_REPORT");
        if (!active || !report) return;
        if (FILE* f = std::fopen(report, "w")) {
            std::fprintf(f, "%llu %llu\n", (unsigned long long)bytesRead.load(), (unsigned long long)bytesDelivered);
            std::fclose(f);
        }
    }
    bool Throttled(int fd) const {
        return active && fd >= 0 && fd < 16 * 64 && (throttledFds[fd / 64].load() >> (fd % 64) & 1);
    }
    // A descriptor made a copy of another (dup2, dup3: dd reads its input
    // as descriptor 0) reads what the other reads.
    void Copied(int from, int to) {
        if (!active || to < 0 || to >= 16 * 64) return;
        const uint64_t bit = uint64_t(1) << (to % 64);
        if (Throttled(from))
            throttledFds[to / 64].fetch_or(bit);
        else
            throttledFds[to / 64].fetch_and(~bit);
    }
    void Opened(int fd) {
        if (!active || fd < 0 || fd >= 16 * 64) return;
        struct stat st {};
        const uint64_t bit = uint64_t(1) << (fd % 64);
        if (::fstat(fd, &st) == 0 && st.st_dev == device && st.st_ino == inode)
            throttledFds[fd / 64].fetch_or(bit);
        else
            throttledFds[fd / 64].fetch_and(~bit);
    }
    // The device is busy for the time of the pages nobody asked for before,
    // after whatever it was doing; the caller returns when they, and the
    // pages it asks for that another read or a hint (posix_fadvise) asked for
    // first, would have arrived. Reads count their bytes; hints do not.
    void Deliver(int64_t offset, ssize_t bytes, bool read = true) {
        if (bytes <= 0 || offset < 0) return;
        if (read) bytesRead += uint64_t(bytes);
        Clock::time_point until = began;
        {
            std::lock_guard<std::mutex> hold(lock);
            uint64_t fresh = 0;
            const uint64_t end = uint64_t(offset) + uint64_t(bytes);
            const uint64_t first = uint64_t(offset) / kPage;
            for (uint64_t page = first; page * kPage < end; ++page) {
                if (page >= arrival.size()) arrival.resize(size_t(page + 1), 0);
                if (arrival[size_t(page)] != 0)
                    until = std::max(until, began + Clock::duration(arrival[size_t(page)]));
                else
                    fresh += std::min(end, (page + 1) * kPage) - std::max(uint64_t(offset), page * kPage);
            }
            if (fresh > 0) {
                bytesDelivered += fresh;
                // A caller back within a millisecond of the device's last
                // delivery (woken late, or between two reads) finds it still
                // busy streaming, as a reader's own read-ahead keeps it.
                const Clock::time_point now = Clock::now();
                if (busyUntil + std::chrono::milliseconds(1) < now) busyUntil = now;
                busyUntil += std::chrono::duration_cast<Clock::duration>(
                    std::chrono::duration<double>(double(fresh) / bytesPerSecond));
                until = std::max(until, busyUntil);
                const Clock::rep at = std::max<Clock::rep>(1, (busyUntil - began).count());
                for (uint64_t page = first; page * kPage < end; ++page)
                    if (arrival[size_t(page)] == 0) arrival[size_t(page)] = at;
            }
        }
        if (until <= Clock::now()) return;
        // Wake on time: the default timer slack would add its 50 us to each read.
        thread_local const bool precise = ::prctl(PR_SET_TIMERSLACK, 1UL, 0, 0, 0) == 0;
        (void)precise;
        std::this_thread::sleep_until(until);
    }
    static constexpr uint64_t kPage = 4096;
};

Throttle& TheThrottle() {
    static Throttle throttle;
    return throttle;
}

template <typename F>
F Next(const char* name) {
    return reinterpret_cast<F>(::dlsym(RTLD_NEXT, name));
}

mode_t ModeOf(int flags, va_list args) {
    return (flags & O_CREAT) || (flags & O_TMPFILE) == O_TMPFILE ? mode_t(va_arg(args, int)) : 0;
}

}  // namespace

extern "C" {

int open(const char* path, int flags, ...) {
    va_list args;
    va_start(args, flags);
    const mode_t mode = ModeOf(flags, args);
    va_end(args);
    static auto next = Next<int (*)(const char*, int, ...)>("open");
    const int fd = next(path, flags, mode);
    TheThrottle().Opened(fd);
    return fd;
}

int open64(const char* path, int flags, ...) {
    va_list args;
    va_start(args, flags);
    const mode_t mode = ModeOf(flags, args);
    va_end(args);
    static auto next = Next<int (*)(const char*, int, ...)>("open64");
    const int fd = next(path, flags, mode);
    TheThrottle().Opened(fd);
    return fd;
}

int openat(int dir, const char* path, int flags, ...) {
    va_list args;
    va_start(args, flags);
    const mode_t mode = ModeOf(flags, args);
    va_end(args);
    static auto next = Next<int (*)(int, const char*, int, ...)>("openat");
    const int fd = next(dir, path, flags, mode);
    TheThrottle().Opened(fd);
    return fd;
}

int openat64(int dir, const char* path, int flags, ...) {
    va_list args;
    va_start(args, flags);
    const mode_t mode = ModeOf(flags, args);
    va_end(args);
    static auto next = Next<int (*)(int, const char*, int, ...)>("openat64");
    const int fd = next(dir, path, flags, mode);
    TheThrottle().Opened(fd);
    return fd;
}

int dup2(int from, int to) {
    static auto next = Next<int (*)(int, int)>("dup2");
    const int fd = next(from, to);
    if (fd >= 0) TheThrottle().Copied(from, fd);
    return fd;
}

int dup3(int from, int to, int flags) {
    static auto next = Next<int (*)(int, int, int)>("dup3");
    const int fd = next(from, to, flags);
    if (fd >= 0) TheThrottle().Copied(from, fd);
    return fd;
}

ssize_t read(int fd, void* buffer, size_t count) {
    static auto next = Next<ssize_t (*)(int, void*, size_t)>("read");
    const bool throttled = TheThrottle().Throttled(fd);
    const off_t at = throttled ? ::lseek(fd, 0, SEEK_CUR) : 0;
    const ssize_t n = next(fd, buffer, count);
    if (throttled) TheThrottle().Deliver(at, n);
    return n;
}

ssize_t pread(int fd, void* buffer, size_t count, off_t offset) {
    static auto next = Next<ssize_t (*)(int, void*, size_t, off_t)>("pread");
    const ssize_t n = next(fd, buffer, count, offset);
    if (TheThrottle().Throttled(fd)) TheThrottle().Deliver(offset, n);
    return n;
}

ssize_t pread64(int fd, void* buffer, size_t count, off_t offset) {
    static auto next = Next<ssize_t (*)(int, void*, size_t, off_t)>("pread64");
    const ssize_t n = next(fd, buffer, count, offset);
    if (TheThrottle().Throttled(fd)) TheThrottle().Deliver(offset, n);
    return n;
}

// A hint that a range will be read (WILLNEED) makes the device fetch it: it
// is busy for it as for a read, and the hint returns once it is fetched.
int posix_fadvise(int fd, off_t offset, off_t length, int advice) {
    static auto next = Next<int (*)(int, off_t, off_t, int)>("posix_fadvise");
    if (advice == POSIX_FADV_WILLNEED && length > 0 && TheThrottle().Throttled(fd))
        TheThrottle().Deliver(offset, ssize_t(length), false);
    return next(fd, offset, length, advice);
}

int posix_fadvise64(int fd, off_t offset, off_t length, int advice) {
    static auto next = Next<int (*)(int, off_t, off_t, int)>("posix_fadvise64");
    if (advice == POSIX_FADV_WILLNEED && length > 0 && TheThrottle().Throttled(fd))
        TheThrottle().Deliver(offset, ssize_t(length), false);
    return next(fd, offset, length, advice);
}

ssize_t readv(int fd, const struct iovec* iov, int count) {
    static auto next = Next<ssize_t (*)(int, const struct iovec*, int)>("readv");
    const bool throttled = TheThrottle().Throttled(fd);
    const off_t at = throttled ? ::lseek(fd, 0, SEEK_CUR) : 0;
    const ssize_t n = next(fd, iov, count);
    if (throttled) TheThrottle().Deliver(at, n);
    return n;
}

ssize_t preadv(int fd, const struct iovec* iov, int count, off_t offset) {
    static auto next = Next<ssize_t (*)(int, const struct iovec*, int, off_t)>("preadv");
    const ssize_t n = next(fd, iov, count, offset);
    if (TheThrottle().Throttled(fd)) TheThrottle().Deliver(offset, n);
    return n;
}

}  // extern "C"
