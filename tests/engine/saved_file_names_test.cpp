// Names of saved files: card names made safe, shortened to a file system's
// limit on UTF-8 boundaries, and numbered when taken.
#include <gtest/gtest.h>

#include <string>

#include "search/saved_file_names.h"

namespace veld {
namespace {

// True when every byte of s belongs to a well-formed UTF-8 character.
bool IsUtf8(const std::string& s) {
    for (size_t at = 0; at < s.size();) {
        uint32_t cp = 0;
        size_t n = Utf8SequenceAt(s, at, &cp);
        if (n == 0) return false;
        at += n;
    }
    return true;
}

std::string Repeat(const std::string& piece, int count) {
    std::string out;
    for (int i = 0; i < count; ++i) out += piece;
    return out;
}

TEST(SavedFileNames, ControlCharactersAndStrayBytesBecomeUnderscores) {
    EXPECT_EQ(SafeFileName("a\x1b[31mb.jpg"), "a_[31mb.jpg");
    EXPECT_EQ(SafeFileName(std::string("x\0y\a\x7f", 5)), "x_y__");
    EXPECT_EQ(SafeFileName("c1\xc2\x9b" "2J"), "c1_2J");          // U+009B, the one-byte CSI
    EXPECT_EQ(SafeFileName("photo\u202Egpj.exe"), "photo_gpj.exe");  // right-to-left override
    EXPECT_EQ(SafeFileName("a\u2066b\u2069\u200Fc\u2028"), "a_b__c_");
    EXPECT_EQ(SafeFileName("sjis\x83\x8e.JPG"), "sjis__.JPG");      // not UTF-8: short-name bytes
    EXPECT_EQ(SafeFileName("a/b"), "a_b");
    EXPECT_EQ(SafeFileName("写真 é.jpg"), "写真 é.jpg");           // real characters stay
    EXPECT_EQ(SafeFileName(".."), "_..");
    EXPECT_EQ(SafeFileName(""), "_");

    EXPECT_EQ(SafeFolderName("DCIM. "), "DCIM");
    EXPECT_EQ(SafeFolderName(".."), "");
    EXPECT_EQ(SafeFolderName("x\ty"), "x_y");
}

TEST(SavedFileNames, LongNamesAreCutOnCharacterBoundariesKeepingTheExtension) {
    // 255 characters of three bytes each: 765 bytes, three times the limit.
    const std::string longName = Repeat("写", 251) + ".jpg";
    std::string cut = ShortenName(longName, 255, true);
    EXPECT_LE(cut.size(), 255u);
    EXPECT_GE(cut.size(), 253u);  // no more than one character lost to the boundary
    EXPECT_TRUE(IsUtf8(cut));
    EXPECT_EQ(cut.substr(cut.size() - 4), ".jpg");

    // Folders have no extension: the end is cut.
    std::string folder = ShortenName(Repeat("é", 200) + ".x", 255, false);
    EXPECT_EQ(folder, Repeat("é", 127));

    // An "extension" too long to be one is cut like the rest.
    std::string odd = ShortenName("a." + Repeat("b", 300), 255, true);
    EXPECT_EQ(odd.size(), 255u);
    EXPECT_EQ(odd.substr(0, 3), "a.b");

    EXPECT_EQ(ShortenName("short.jpg", 255, true), "short.jpg");
}

TEST(SavedFileNames, NumbersGoBeforeTheExtensionAndStayWithinTheLimit) {
    EXPECT_EQ(NumberedName("IMG_0001.JPG", 1, 255, true), "IMG_0001.JPG");
    EXPECT_EQ(NumberedName("IMG_0001.JPG", 2, 255, true), "IMG_0001 (2).JPG");
    EXPECT_EQ(NumberedName("DCIM", 3, 255, false), "DCIM (3)");
    EXPECT_EQ(NumberedName("v1.2", 2, 255, false), "v1.2 (2)");
    EXPECT_EQ(NumberedName(".jpg", 2, 255, true), ".jpg (2)");

    const std::string longName = Repeat("写", 251) + ".jpg";
    for (int n : {2, 10, kMaxNameNumber}) {
        std::string numbered = NumberedName(longName, n, 255, true);
        EXPECT_LE(numbered.size(), 255u) << n;
        EXPECT_TRUE(IsUtf8(numbered)) << n;
        EXPECT_NE(numbered.find(" (" + std::to_string(n) + ").jpg"), std::string::npos) << numbered;
    }
}

}  // namespace
}  // namespace veld
