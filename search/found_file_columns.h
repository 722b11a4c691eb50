// The eleven columns of the found-file list as text: what each cell shows and
// the key the list sorts by. Shared by the list view and `veld-cli search`,
// so both print a record the same way.
#pragma once

#include <string>

#include "finder/del_file_info.h"

namespace veld {

// Column numbers, left to right.
enum FoundFileColumn : int {
    ColName = 0,
    ColType = 1,
    ColSize = 2,
    ColFolder = 3,
    ColDate = 4,
    ColState = 5,
    ColPosition = 6,
    ColPictureSize = 7,
    ColModel = 8,
    ColGps = 9,
    ColRemarks = 10,
    FoundFileColumnCount = 11,
};
constexpr int kFoundFileColumnCount = FoundFileColumnCount;

// Heading, built-in width in pixels and alignment of a column.
struct FoundFileColumnInfo {
    const char* heading;
    int width;
    bool alignRight;
};
// The column's description; column numbers outside 0..10 give column 0's.
const FoundFileColumnInfo& FoundFileColumnAt(int column);
// The column's heading ("ファイル名", "拡張子", ...); empty for an unknown column.
std::string FoundFileColumnHeading(int column);

// The text of one cell; empty for an unknown column.
std::string FoundFileColumnText(const DelFileInfo& info, int column);
// The text the list compares (byte by byte, unsigned) to sort by a column:
// the date and the remarks by the text they show. Unknown columns have no
// key: always empty.
std::string FoundFileSortKey(const DelFileInfo& info, int column);
// The date and time the picture was taken or the clip recorded, as its EXIF
// data or its container gives it ("yyyy/mm/dd hh:mm:ss"); "" when unknown.
std::string FoundFileShootingDate(const DelFileInfo& info);
// "良", "一部欠損", "サイズが0", "断片化 nnn%", "別ﾌｧｲﾙが使用", "破損ファイル",
// "上書きされています", "内容が一致しません" or empty.
std::string FoundFileStateText(const DelFileInfo& info);
// Latitude and longitude as "N 35ﾟ 41.012' E139ﾟ 41.030'"; empty without GPS data.
std::string FoundFileGpsText(const JpegInfo& jpeg);

}  // namespace veld
