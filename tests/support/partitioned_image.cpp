#include "support/partitioned_image.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <unistd.h>
#include <zlib.h>

#include "support/mkfs_tools.h"

namespace veld::test {
namespace {

void Put(uint8_t* p, uint64_t v, int bytes) {
    for (int i = 0; i < bytes; ++i) p[i] = uint8_t(v >> (8 * i));
}

uint32_t Crc(const uint8_t* data, size_t size) { return uint32_t(crc32(crc32(0, Z_NULL, 0), data, uInt(size))); }

// "EBD0A0A2-B9E5-4433-87C0-68B6B72699C7" into its 16 on-disk bytes (first
// three groups little-endian).
bool GuidBytes(const std::string& text, uint8_t* out) {
    unsigned a, b, c, d, e[6];
    if (std::sscanf(text.c_str(), "%8x-%4x-%4x-%4x-%2x%2x%2x%2x%2x%2x", &a, &b, &c, &d, &e[0], &e[1], &e[2], &e[3],
                    &e[4], &e[5]) != 10)
        return false;
    Put(out, a, 4);
    Put(out + 4, b, 2);
    Put(out + 6, c, 2);
    out[8] = uint8_t(d >> 8);
    out[9] = uint8_t(d);
    for (int i = 0; i < 6; ++i) out[10 + i] = uint8_t(e[i]);
    return true;
}

bool WriteAt(int fd, uint64_t offset, const void* data, size_t size) {
    return ::pwrite(fd, data, size, off_t(offset)) == ssize_t(size);
}

}  // namespace

std::vector<uint8_t> ReadFileRange(const std::string& path, uint64_t offset, size_t size) {
    std::vector<uint8_t> bytes(size);
    int fd = ::open(path.c_str(), O_RDONLY);
    if (fd < 0) return {};
    const ssize_t n = ::pread(fd, bytes.data(), size, off_t(offset));
    ::close(fd);
    bytes.resize(n > 0 ? size_t(n) : 0);
    return bytes;
}

uint64_t FileSize(const std::string& path) {
    int fd = ::open(path.c_str(), O_RDONLY);
    if (fd < 0) return 0;
    const off_t end = ::lseek(fd, 0, SEEK_END);
    ::close(fd);
    return end > 0 ? uint64_t(end) : 0;
}

std::string PartitionToolsMissing() {
    return FindTool("sfdisk").empty() ? "sfdisk is not installed (fdisk)" : std::string();
}

std::string CopyInto(const std::string& path, uint64_t offset, const std::string& contents) {
    int in = ::open(contents.c_str(), O_RDONLY);
    if (in < 0) return "cannot open " + contents;
    int out = ::open(path.c_str(), O_WRONLY);
    if (out < 0) {
        ::close(in);
        return "cannot open " + path;
    }
    std::vector<uint8_t> buffer(1 << 20);
    std::string why;
    const off_t end = ::lseek(in, 0, SEEK_END);
    off_t data = ::lseek(in, 0, SEEK_DATA);
    while (data >= 0 && data < end && why.empty()) {
        off_t hole = ::lseek(in, data, SEEK_HOLE);
        if (hole < 0) hole = end;
        for (off_t at = data; at < hole && why.empty();) {
            const size_t want = size_t(std::min<off_t>(off_t(buffer.size()), hole - at));
            const ssize_t n = ::pread(in, buffer.data(), want, at);
            if (n <= 0 || !WriteAt(out, offset + uint64_t(at), buffer.data(), size_t(n))) why = "copy failed";
            at += n > 0 ? n : 0;
        }
        data = ::lseek(in, hole, SEEK_DATA);
    }
    ::close(in);
    ::close(out);
    return why;
}

std::string MakePartitionedImage(const std::string& path, const std::string& label, uint64_t totalBytes,
                                 const std::vector<PartitionLayout>& partitions) {
    if (::truncate(path.c_str(), 0) != 0 && errno != ENOENT) return "cannot reset " + path;
    int fd = ::open(path.c_str(), O_CREAT | O_WRONLY, 0644);
    if (fd < 0 || ::ftruncate(fd, off_t(totalBytes)) != 0) {
        if (fd >= 0) ::close(fd);
        return "cannot create " + path;
    }
    ::close(fd);
    std::string script = "label: " + label + "\n";
    for (const auto& p : partitions) {
        script += "start=" + std::to_string(p.startSector);
        if (p.sectors != 0) script += ", size=" + std::to_string(p.sectors);
        script += ", type=" + p.type + "\n";
    }
    const std::string scriptFile = path + ".sfdisk";
    if (FILE* f = std::fopen(scriptFile.c_str(), "w")) {
        std::fputs(script.c_str(), f);
        std::fclose(f);
    } else {
        return "cannot write " + scriptFile;
    }
    // sfdisk reads its script from standard input; RunCommand gives it
    // /dev/null, so a shell redirects the script file.
    CommandResult r = RunCommand({"/bin/sh", "-c", "\"$0\" --no-reread --no-tell-kernel \"$1\" < \"$2\"",
                                  FindTool("sfdisk"), path, scriptFile});
    std::remove(scriptFile.c_str());
    if (r.exitCode != 0) return "sfdisk failed (" + std::to_string(r.exitCode) + "): " + r.err + r.out;
    for (const auto& p : partitions) {
        if (p.contents.empty()) continue;
        if (std::string why = CopyInto(path, p.startSector * 512, p.contents); !why.empty()) return why;
    }
    return {};
}

std::string FormatFatPartition(const std::string& path, uint64_t startSector, uint64_t sectors, int fatType) {
    CommandResult r = RunCommand({"mkfs.fat", "-F", std::to_string(fatType), "-i", "12345678", "--offset",
                                  std::to_string(startSector), path, std::to_string(sectors / 2)});
    if (r.exitCode != 0) return "mkfs.fat failed (" + std::to_string(r.exitCode) + "): " + r.err + r.out;
    return {};
}

std::string WriteGpt(const std::string& path, uint64_t totalBytes, uint32_t sectorSize,
                     const std::vector<PartitionLayout>& partitions) {
    constexpr uint32_t kEntries = 128, kEntrySize = 128;
    const uint64_t sectors = totalBytes / sectorSize;
    const uint64_t arraySectors = (kEntries * kEntrySize + sectorSize - 1) / sectorSize;
    const uint64_t last = sectors - 1;
    std::vector<uint8_t> array(kEntries * kEntrySize, 0);
    for (size_t i = 0; i < partitions.size() && i < kEntries; ++i) {
        uint8_t* e = &array[i * kEntrySize];
        if (!GuidBytes(partitions[i].type, e)) return "bad type GUID " + partitions[i].type;
        for (int k = 0; k < 16; ++k) e[16 + k] = uint8_t(0x11 * (i + 1) + k);  // unique partition GUID
        Put(e + 32, partitions[i].startSector, 8);
        Put(e + 40, partitions[i].startSector + partitions[i].sectors - 1, 8);
    }
    auto header = [&](uint64_t self, uint64_t alternate, uint64_t entriesLba) {
        std::vector<uint8_t> h(sectorSize, 0);
        std::copy_n("EFI PART", 8, h.begin());
        Put(&h[8], 0x00010000, 4);
        Put(&h[12], 92, 4);
        Put(&h[24], self, 8);
        Put(&h[32], alternate, 8);
        Put(&h[40], 2 + arraySectors, 8);
        Put(&h[48], last - 1 - arraySectors, 8);
        for (int k = 0; k < 16; ++k) h[56 + k] = uint8_t(0xA0 + k);  // disk GUID
        Put(&h[72], entriesLba, 8);
        Put(&h[80], kEntries, 4);
        Put(&h[84], kEntrySize, 4);
        Put(&h[88], Crc(array.data(), array.size()), 4);
        Put(&h[16], Crc(h.data(), 92), 4);
        return h;
    };
    std::vector<uint8_t> mbr(sectorSize, 0);
    mbr[446 + 4] = 0xEE;
    Put(&mbr[446 + 8], 1, 4);
    Put(&mbr[446 + 12], std::min<uint64_t>(sectors - 1, 0xFFFFFFFF), 4);
    mbr[510] = 0x55, mbr[511] = 0xAA;

    int fd = ::open(path.c_str(), O_CREAT | O_WRONLY | O_TRUNC, 0644);
    if (fd < 0) return "cannot create " + path;
    const std::vector<uint8_t> primary = header(1, last, 2);
    const std::vector<uint8_t> backup = header(last, 1, last - arraySectors);
    const bool ok = ::ftruncate(fd, off_t(totalBytes)) == 0 && WriteAt(fd, 0, mbr.data(), mbr.size()) &&
                    WriteAt(fd, sectorSize, primary.data(), primary.size()) &&
                    WriteAt(fd, 2ull * sectorSize, array.data(), array.size()) &&
                    WriteAt(fd, (last - arraySectors) * sectorSize, array.data(), array.size()) &&
                    WriteAt(fd, last * sectorSize, backup.data(), backup.size());
    ::close(fd);
    return ok ? std::string() : "cannot write " + path;
}

}  // namespace veld::test
