// Size texts at their thresholds, blank trimming with the ideographic space,
// and content types looked up by the first three characters.
#include <gtest/gtest.h>

#include "base/format_text.h"

namespace veld {
namespace {

TEST(FormatText, SizeTextChangesUnitOnlyAboveEachThreshold) {
    EXPECT_EQ(FormatSizeText(0), "0ﾊﾞｲﾄ");
    EXPECT_EQ(FormatSizeText(1024), "1024ﾊﾞｲﾄ");
    EXPECT_EQ(FormatSizeText(1025), "1.0Kﾊﾞｲﾄ");
    EXPECT_EQ(FormatSizeText(1048576), "1024.0Kﾊﾞｲﾄ");
    EXPECT_EQ(FormatSizeText(1048577), "1.0Mﾊﾞｲﾄ");
    EXPECT_EQ(FormatSizeText(1073741824), "1024.0Mﾊﾞｲﾄ");
    EXPECT_EQ(FormatSizeText(1073741825), "1.0Gﾊﾞｲﾄ");
    EXPECT_EQ(FormatSizeText(int64_t(5) << 40), "5120.0Gﾊﾞｲﾄ");
    // Sizes are unsigned: a damaged exFAT size of 2^64 - 1 is never "-1ﾊﾞｲﾄ".
    EXPECT_EQ(FormatSizeText(UINT64_MAX), "17179869184.0Gﾊﾞｲﾄ");
}

TEST(FormatText, TrimBlanksRemovesSpacesTabsAndIdeographicSpaces) {
    std::string t = "\xE3\x80\x80 \tIMG 0001\xE3\x80\x80\t \xE3\x80\x80";
    TrimBlanks(t);
    EXPECT_EQ(t, "IMG 0001");
    std::string inner = "写\xE3\x80\x80真";
    TrimBlanks(inner);
    EXPECT_EQ(inner, "写\xE3\x80\x80真");
    std::string blank = " \xE3\x80\x80 ";
    TrimBlanks(blank);
    EXPECT_EQ(blank, "");
    // A character that merely ends in 0x80 0x80 is not a blank.
    std::string other = "\xE4\x80\x80";
    TrimBlanks(other);
    EXPECT_EQ(other, "\xE4\x80\x80");
}

TEST(FormatText, ContentTypeGoesByTheFirstThreeCharacters) {
    EXPECT_EQ(ContentTypeOfExtension("JPG"), "image/jpeg");
    EXPECT_EQ(ContentTypeOfExtension("jpg"), "image/jpeg");
    EXPECT_EQ(ContentTypeOfExtension("JPEG"), "image/jpeg");  // looked up as JPE
    EXPECT_EQ(ContentTypeOfExtension("MP4"), "video/mp4");
    EXPECT_EQ(ContentTypeOfExtension("QQZ"), "Unknown");
    EXPECT_EQ(ContentTypeOfExtension(""), "Unknown");
    // MP4X is looked up as MP4.
    EXPECT_EQ(ContentTypeOfExtension("MP4X"), "video/mp4");
}

TEST(FormatText, UpperAsciiAndCaseFreeComparison) {
    std::string t = "img_0001.jpg 写真";
    UpperAscii(t);
    EXPECT_EQ(t, "IMG_0001.JPG 写真");
    EXPECT_EQ(CompareNoCase("dcim", "DCIM"), 0);
    EXPECT_EQ(CompareNoCase("a", "B"), -1);
    EXPECT_EQ(CompareNoCase("", "a"), -1);
    EXPECT_EQ(FindNoCase("Photo/DCIM/100canon", "100CANON"), std::optional<size_t>(11));
    EXPECT_EQ(FindNoCase("abc", ""), std::nullopt);
}

}  // namespace
}  // namespace veld
