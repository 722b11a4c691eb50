#include "volume/utf16_text.h"

namespace veld {
namespace {

void AppendCodePoint(uint32_t c, std::string& out) {
    if (c < 0x80) {
        out += char(c);
    } else if (c < 0x800) {
        out += char(0xC0 | (c >> 6));
        out += char(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += char(0xE0 | (c >> 12));
        out += char(0x80 | ((c >> 6) & 0x3F));
        out += char(0x80 | (c & 0x3F));
    } else {
        out += char(0xF0 | (c >> 18));
        out += char(0x80 | ((c >> 12) & 0x3F));
        out += char(0x80 | ((c >> 6) & 0x3F));
        out += char(0x80 | (c & 0x3F));
    }
}

constexpr uint32_t kReplacement = 0xFFFD;

bool IsHighSurrogate(uint32_t u) { return u >= 0xD800 && u <= 0xDBFF; }
bool IsLowSurrogate(uint32_t u) { return u >= 0xDC00 && u <= 0xDFFF; }

}  // namespace

bool AppendUtf16Le(const ByteReader& r, uint64_t offset, size_t units, std::string& out) {
    for (size_t i = 0; i < units; ++i) {
        const uint64_t at = offset + 2 * uint64_t(i);
        if (!r.has(at, 2)) return true;
        const uint32_t u = r.le16(at);
        if (u == 0) return false;
        if (IsHighSurrogate(u) && i + 1 < units && r.has(at + 2, 2) && IsLowSurrogate(r.le16(at + 2))) {
            const uint32_t low = r.le16(at + 2);
            AppendCodePoint(0x10000 + ((u - 0xD800) << 10) + (low - 0xDC00), out);
            ++i;
        } else if (IsHighSurrogate(u) || IsLowSurrogate(u)) {
            AppendCodePoint(kReplacement, out);
        } else {
            AppendCodePoint(u, out);
        }
    }
    return true;
}

}  // namespace veld
