// Names of saved files and folders: a card's names made safe as Linux names,
// shortened to what a file system takes, and numbered when a name is taken.
// The save dialog and veld-cli both save through these rules.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace veld {

// The longest name of one file or folder, in bytes, unless the file system
// asks for less.
constexpr size_t kDefaultNameMax = 255;
// The longest path written, in bytes (Linux's PATH_MAX without its zero).
constexpr size_t kSavePathMax = 4095;
// The bytes a number such as " (9999)" may add to a name.
constexpr size_t kNumberRoom = 8;
// The highest number tried before a name counts as taken for good.
constexpr int kMaxNameNumber = 9999;

// The length of the well-formed UTF-8 sequence at s[at] with its code point,
// or 0 when the bytes there are not UTF-8 (overlong forms, surrogates, stray
// bytes). Shared with the command line's text output.
size_t Utf8SequenceAt(const std::string& s, size_t at, uint32_t* codePoint);
// C0 controls, DEL and the C1 controls U+0080..U+009F (the characters a
// terminal may take as commands), the bidirectional formatting controls and
// the line and paragraph separators (which make a name read as another).
bool IsControlCharacter(uint32_t codePoint);

// A card's name as one file name: "/", control characters (C0, DEL, C1) and
// bytes that are not UTF-8 become "_"; "", "." and ".." get a "_" in front.
std::string SafeFileName(std::string name);
// One component of a card's folder text as a folder name: trailing dots and
// spaces are dropped as Windows drops them ("DCIM." becomes "DCIM"), then as
// SafeFileName; "" (the component is skipped) when nothing is left or the
// component is "." or "..".
std::string SafeFolderName(std::string part);

// At most maxBytes bytes, cut on a UTF-8 character boundary. With
// keepExtension a short extension (the last dot and what follows it, at most
// 32 bytes) stays and the part before it is cut.
std::string ShortenName(const std::string& name, size_t maxBytes, bool keepExtension);
// The name to try the n-th time a name is taken: n 1 is the name itself,
// then "name (2).ext", "name (3).ext", ...; always within maxBytes.
std::string NumberedName(const std::string& name, int n, size_t maxBytes, bool keepExtension);

}  // namespace veld
