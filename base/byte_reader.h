// Bounds-checked reads of little- and big-endian fields from untrusted bytes.
// Every field taken from a card goes through these: a read past the end of the
// buffer yields 0 (and ok() turns false) instead of touching memory outside it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>
#include <string>

namespace veld {

class ByteReader {
public:
    ByteReader() = default;
    ByteReader(const uint8_t* data, size_t size) : data_(data), size_(size) {}
    explicit ByteReader(std::span<const uint8_t> bytes) : data_(bytes.data()), size_(bytes.size()) {}

    size_t size() const { return size_; }
    const uint8_t* data() const { return data_; }
    bool ok() const { return ok_; }

    // True when [offset, offset + count) lies inside the buffer (no overflow).
    bool has(uint64_t offset, uint64_t count) const {
        return offset <= size_ && count <= size_ - offset;
    }

    uint8_t u8(uint64_t offset) const {
        if (!has(offset, 1)) return fail();
        return data_[offset];
    }
    uint16_t le16(uint64_t offset) const {
        if (!has(offset, 2)) return fail();
        return uint16_t(data_[offset] | (data_[offset + 1] << 8));
    }
    uint32_t le32(uint64_t offset) const {
        if (!has(offset, 4)) return fail();
        return uint32_t(data_[offset]) | (uint32_t(data_[offset + 1]) << 8) |
               (uint32_t(data_[offset + 2]) << 16) | (uint32_t(data_[offset + 3]) << 24);
    }
    uint64_t le64(uint64_t offset) const {
        if (!has(offset, 8)) return fail();
        return uint64_t(le32(offset)) | (uint64_t(le32(offset + 4)) << 32);
    }
    uint16_t be16(uint64_t offset) const {
        if (!has(offset, 2)) return fail();
        return uint16_t((data_[offset] << 8) | data_[offset + 1]);
    }
    uint32_t be32(uint64_t offset) const {
        if (!has(offset, 4)) return fail();
        return (uint32_t(data_[offset]) << 24) | (uint32_t(data_[offset + 1]) << 16) |
               (uint32_t(data_[offset + 2]) << 8) | uint32_t(data_[offset + 3]);
    }
    uint64_t be64(uint64_t offset) const {
        if (!has(offset, 8)) return fail();
        return (uint64_t(be32(offset)) << 32) | be32(offset + 4);
    }
    uint16_t u16(uint64_t offset, bool bigEndian) const { return bigEndian ? be16(offset) : le16(offset); }
    uint32_t u32(uint64_t offset, bool bigEndian) const { return bigEndian ? be32(offset) : le32(offset); }

    // Compares count bytes at offset with text; false when out of range.
    bool equals(uint64_t offset, const char* text, size_t count) const {
        return has(offset, count) && std::memcmp(data_ + offset, text, count) == 0;
    }
    // Copies up to count bytes at offset (fewer at the end of the buffer).
    std::string text(uint64_t offset, size_t count) const {
        if (offset >= size_) return {};
        size_t n = count < size_ - offset ? count : size_t(size_ - offset);
        return std::string(reinterpret_cast<const char*>(data_ + offset), n);
    }
    std::span<const uint8_t> slice(uint64_t offset, uint64_t count) const {
        if (offset >= size_) return {};
        uint64_t n = count < size_ - offset ? count : size_ - offset;
        return {data_ + offset, size_t(n)};
    }

private:
    uint8_t fail() const { ok_ = false; return 0; }

    const uint8_t* data_ = nullptr;
    size_t size_ = 0;
    mutable bool ok_ = true;
};

inline void StoreLe16(uint8_t* p, uint16_t v) { p[0] = uint8_t(v); p[1] = uint8_t(v >> 8); }
inline void StoreLe32(uint8_t* p, uint32_t v) {
    p[0] = uint8_t(v); p[1] = uint8_t(v >> 8); p[2] = uint8_t(v >> 16); p[3] = uint8_t(v >> 24);
}

}  // namespace veld
