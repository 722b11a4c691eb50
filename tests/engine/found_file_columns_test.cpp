// The cell texts and sort keys of the found-file list's eleven columns.
#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "search/found_file_columns.h"

namespace veld {
namespace {

void Put16(DirEntry& e, int offset, uint16_t v) {
    e[size_t(offset)] = uint8_t(v);
    e[size_t(offset + 1)] = uint8_t(v >> 8);
}
void Put32(DirEntry& e, int offset, uint32_t v) {
    Put16(e, offset, uint16_t(v));
    Put16(e, offset + 2, uint16_t(v >> 16));
}

DelFileInfo MakeRecord(const char* shortName, uint32_t size, uint32_t cluster) {
    DirEntry entry{};
    for (int i = 0; i < 11; ++i) entry[size_t(i)] = uint8_t(shortName[i]);
    Put32(entry, dirent::FileSize, size);
    Put16(entry, dirent::ClusterLow, uint16_t(cluster));
    Put16(entry, dirent::ClusterHigh, uint16_t(cluster >> 16));
    // 2021-03-04 05:06:08
    Put16(entry, dirent::WriteDate, uint16_t(((2021 - 1980) << 9) | (3 << 5) | 4));
    Put16(entry, dirent::WriteTime, uint16_t((5 << 11) | (6 << 5) | 4));
    DelFileInfo info = RecordOfFatEntry(entry);
    info.state = StateComplete;
    info.extension = "JPG";
    return info;
}

TEST(FoundFileColumns, StateTexts) {
    DelFileInfo info = MakeRecord("DSC00001JPG", 1000, 5);
    info.firstClass = ContentClass::JpegStart;
    EXPECT_EQ(FoundFileStateText(info), "良");
    info.jpeg.partlyMissing = 1;
    EXPECT_EQ(FoundFileStateText(info), "一部欠損");
    info.jpeg.partlyMissing = 0;
    info.fileSize = 0;
    EXPECT_EQ(FoundFileStateText(info), "サイズが0");
    // Size 0 of a file that does not start with a JPEG is still "good".
    info.firstClass = ContentClass::None;
    EXPECT_EQ(FoundFileStateText(info), "良");

    info.state = StateInUse;
    EXPECT_EQ(FoundFileStateText(info), "別ﾌｧｲﾙが使用");
    info.state = StateBroken;
    EXPECT_EQ(FoundFileStateText(info), "破損ファイル");
    info.state = StateOverwritten;
    EXPECT_EQ(FoundFileStateText(info), "上書きされています");
    info.state = StateMismatch;
    EXPECT_EQ(FoundFileStateText(info), "内容が一致しません");
    info.state = StateInvalidStart;
    EXPECT_EQ(FoundFileStateText(info), "");
    info.state = 55;
    EXPECT_EQ(FoundFileColumnText(info, ColState), "");
}

TEST(FoundFileColumns, FragmentedPercentIsRightAlignedTruncatedAndBounded) {
    DelFileInfo info = MakeRecord("DSC00001JPG", 1000, 5);
    info.state = StateFragmented;
    info.clustersNeeded = 4;
    info.clustersCollected = 3;
    EXPECT_EQ(FoundFileColumnText(info, ColState), "断片化  75%");
    info.clustersNeeded = 3;
    info.clustersCollected = 2;  // 66.66… truncated
    EXPECT_EQ(FoundFileStateText(info), "断片化  66%");
    info.clustersCollected = 3;
    EXPECT_EQ(FoundFileStateText(info), "断片化 100%");
    info.clustersNeeded = 1;
    info.clustersCollected = 12;  // 1200 % wraps modulo 1000
    EXPECT_EQ(FoundFileStateText(info), "断片化 200%");
    // A damaged record with nothing needed or negative counts must not fault.
    info.clustersNeeded = 0;
    EXPECT_EQ(FoundFileStateText(info), "断片化   0%");
    info.clustersNeeded = -1;
    info.clustersCollected = -1;
    EXPECT_EQ(FoundFileStateText(info), "断片化 100%");
}

TEST(FoundFileColumns, PictureSizeUsesFrameWhenExifWidthIsZero) {
    DelFileInfo info = MakeRecord("DSC00001JPG", 1000, 5);
    info.firstClass = ContentClass::JpegStart;
    info.jpeg.frameWidth = 1600;
    info.jpeg.frameHeight = 1200;
    EXPECT_EQ(FoundFileColumnText(info, ColPictureSize), " 1600x 1200");
    // The sort key always takes the EXIF size.
    EXPECT_EQ(FoundFileSortKey(info, ColPictureSize), "    0x    0");
    info.jpeg.exifWidth = 640;
    info.jpeg.exifHeight = 480;
    EXPECT_EQ(FoundFileColumnText(info, ColPictureSize), "  640x  480");
    EXPECT_EQ(FoundFileSortKey(info, ColPictureSize), "  640x  480");
    // Only records that start with a JPEG show picture size, model and GPS.
    info.jpeg.model = "EX-Z4";
    info.jpeg.latRef = 'N';
    info.firstClass = ContentClass::Mp4Start;
    EXPECT_EQ(FoundFileColumnText(info, ColPictureSize), "");
    EXPECT_EQ(FoundFileColumnText(info, ColModel), "");
    EXPECT_EQ(FoundFileColumnText(info, ColGps), "");
    EXPECT_EQ(FoundFileSortKey(info, ColModel), "EX-Z4");
}

TEST(FoundFileColumns, GpsText) {
    DelFileInfo info = MakeRecord("DSC00001JPG", 1000, 5);
    info.firstClass = ContentClass::JpegStart;
    EXPECT_EQ(FoundFileColumnText(info, ColGps), "");  // no reference letter: no GPS data
    info.jpeg.latRef = 'N';
    info.jpeg.latDeg = 35;
    info.jpeg.latMin = 41;
    info.jpeg.latSec = 12;
    info.jpeg.lonRef = 'E';
    info.jpeg.lonDeg = 139;
    info.jpeg.lonMin = 7;
    info.jpeg.lonSec = 5;
    EXPECT_EQ(FoundFileColumnText(info, ColGps), "N 35ﾟ 41.012' E139ﾟ  7.005'");
    EXPECT_EQ(FoundFileSortKey(info, ColGps), FoundFileColumnText(info, ColGps));
    // A missing longitude reference ends the text after the latitude.
    info.jpeg.lonRef = 0;
    EXPECT_EQ(FoundFileColumnText(info, ColGps), "N 35ﾟ 41.012' ");
}

TEST(FoundFileColumns, NameSizeDateAndPositionCells) {
    DelFileInfo info = MakeRecord("DSC00001JPG", 0, 70000);
    EXPECT_EQ(FoundFileColumnText(info, ColName), "DSC00001.JPG");
    (*info.fatEntry)[3] = 0;  // a NUL ends the short name early; padding keeps the width
    EXPECT_EQ(FoundFileColumnText(info, ColName), "DSC     .JPG");
    info.name = "休日の写真.jpg";
    EXPECT_EQ(FoundFileColumnText(info, ColName), "休日の写真.jpg");

    EXPECT_EQ(FoundFileColumnText(info, ColSize), "0ﾊﾞｲﾄ");
    EXPECT_EQ(FoundFileSortKey(info, ColSize), "         0");
    // exFAT sizes of 4 GiB and more, past ten digits too, still sort by value.
    DelFileInfo big = info, bigger = info, biggest = info;
    info.fileSize = 4000000000ull;
    big.fileSize = 9999999999ull;
    bigger.fileSize = 10000000000ull;
    biggest.fileSize = 12000000000ull;
    EXPECT_LT(FoundFileSortKey(info, ColSize), FoundFileSortKey(big, ColSize));
    EXPECT_LT(FoundFileSortKey(big, ColSize), FoundFileSortKey(bigger, ColSize));
    EXPECT_LT(FoundFileSortKey(bigger, ColSize), FoundFileSortKey(biggest, ColSize));
    info.fileSize = 0;
    EXPECT_EQ(FoundFileColumnText(info, ColPosition), "70000");
    EXPECT_EQ(FoundFileSortKey(info, ColPosition), "     70000");

    EXPECT_EQ(FoundFileColumnText(info, ColDate), "2021/03/04 05:06:08");
    info.jpeg.dateTime = "2019/12/31 23:59:58";
    EXPECT_EQ(FoundFileColumnText(info, ColDate), "2019/12/31 23:59:58");
    // Sorted by the date shown: the shooting date, not the entry's.
    EXPECT_EQ(FoundFileSortKey(info, ColDate), "2019/12/31 23:59:58");
    // A carved file without a date has no entry's either: nothing, not "1980/00/00".
    DelFileInfo carved;
    carved.carved = true;
    EXPECT_EQ(FoundFileColumnText(carved, ColDate), "");

    EXPECT_EQ(FoundFileColumnText(info, ColFolder), "");
    info.folder = "DCIM\\100CASIO";
    EXPECT_EQ(FoundFileColumnText(info, ColFolder), "DCIM\\100CASIO");
    info.remarks = "note";
    EXPECT_EQ(FoundFileColumnText(info, ColRemarks), "note");
    EXPECT_EQ(FoundFileSortKey(info, ColRemarks), "note");
    EXPECT_EQ(FoundFileColumnText(info, 11), "");
    EXPECT_EQ(FoundFileColumnText(info, -1), "");
}

TEST(FoundFileColumns, SortKeysOrderBySizeStateAndLongNames) {
    // Keys compare as bytes; sizes must order numerically, also above 2 GiB.
    std::vector<uint32_t> sizes = {5, 4000000000u, 100000, 0};
    std::vector<std::string> keys;
    for (uint32_t s : sizes) keys.push_back(FoundFileSortKey(MakeRecord("A       JPG", s, 2), ColSize));
    std::vector<std::string> sorted = keys;
    std::sort(sorted.begin(), sorted.end());
    EXPECT_EQ(sorted[0], keys[3]);
    EXPECT_EQ(sorted[1], keys[0]);
    EXPECT_EQ(sorted[2], keys[2]);
    EXPECT_EQ(sorted[3], keys[1]);

    DelFileInfo a = MakeRecord("A       JPG", 0, 2);
    a.jpeg.partlyMissing = 1;
    EXPECT_EQ(FoundFileSortKey(a, ColState), "         1,1,1");
    a.state = StateFragmented;
    EXPECT_EQ(FoundFileSortKey(a, ColState), "       100,1,1");

    a.name = std::string(120, 'x');
    EXPECT_EQ(FoundFileSortKey(a, ColName).size(), 98u);

    EXPECT_STREQ(FoundFileColumnAt(ColPictureSize).heading, "画像ｻｲｽﾞ");
    EXPECT_EQ(FoundFileColumnHeading(ColName), "ファイル名");
    EXPECT_EQ(FoundFileColumnHeading(11), "");
    EXPECT_EQ(FoundFileColumnAt(ColRemarks).width, 200);
    EXPECT_TRUE(FoundFileColumnAt(ColGps).alignRight);
    EXPECT_FALSE(FoundFileColumnAt(ColModel).alignRight);
}

}  // namespace
}  // namespace veld
