// Small text routines shared by the engine and the views: sizes, file type
// names and content types, trimming and case-insensitive comparison. User
// texts are UTF-8; multi-byte sequences are stepped over, never split.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace veld {

// "%dﾊﾞｲﾄ", or K/M/G with one decimal once the size exceeds 1024, 2^20, 2^30.
// Sizes are unsigned: a damaged 64-bit size shows as the huge number it is.
std::string FormatSizeText(uint64_t bytes);
// The desktop's type name for the extension, or "%sﾌｧｲﾙ".
std::string TypeNameOfExtension(const std::string& ext);
// The content type registered for the extension (or, failing that, for its
// first three characters), or "Unknown".
std::string ContentTypeOfExtension(const std::string& ext);

// Removes blanks (space, tab, ideographic space U+3000) from both ends.
void TrimBlanks(std::string& text);
// Upper-cases ASCII a-z; bytes of multi-byte characters are left alone.
void UpperAscii(std::string& text);
int CompareNoCase(const std::string& a, const std::string& b);
// Position of the pattern in the text without regard to ASCII case.
std::optional<size_t> FindNoCase(const std::string& text, const std::string& pattern);
// Splits at the last "/" (or "\"): folder part and file part; both empty
// when there is no separator.
void SplitPath(const std::string& path, std::string* folder, std::string* file);
// 1 when the file can be opened for reading.
int FileExists(const std::string& path);
// Cuts a text to at most maxBytes without splitting a UTF-8 sequence.
std::string CutUtf8(const std::string& text, size_t maxBytes);

}  // namespace veld
