// UTF-16LE text from card bytes (exFAT names and labels, GPT partition names)
// to the UTF-8 the rest of the program uses.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "base/byte_reader.h"

namespace veld {

// Appends up to units UTF-16LE code units read at offset to out, as UTF-8;
// stops early at a 0x0000 unit or at the end of the buffer. Surrogate pairs
// become one character; a lone surrogate becomes U+FFFD. Returns false when
// a 0x0000 unit ended the text.
bool AppendUtf16Le(const ByteReader& r, uint64_t offset, size_t units, std::string& out);

}  // namespace veld
