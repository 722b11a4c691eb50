#include "search/found_file_columns.h"

#include <cmath>
#include <cstdio>

#include "base/format_text.h"
#include "volume/boot_sector.h"
#include "volume/cluster_map.h"

namespace veld {

namespace {

// Text sort keys compare at most this many bytes.
constexpr size_t KeyBytes = 98;

const FoundFileColumnInfo kColumns[FoundFileColumnCount] = {
    {"ファイル名", 200, false}, {"拡張子", 100, false},   {"サイズ", 80, true},  {"フォルダ", 100, false},
    {"更新日付", 100, false},   {"状態", 100, false},     {"位置", 60, true},    {"画像ｻｲｽﾞ", 60, true},
    {"機種", 60, false},        {"GPS", 60, true},        {"備考", 200, false},
};

std::string KeyText(const std::string& text) { return CutUtf8(text, KeyBytes); }

// A file found by its signature alone has no entry and so no write time
// (0, 0): nothing is shown rather than "1980/00/00 00:00:00".
std::string WriteDateText(const DelFileInfo& info) {
    if (info.modified.date == 0 && info.modified.time == 0) return "";
    return FatDateTimeText(info.modified.date, info.modified.time);
}

std::string SizePairText(int32_t width, int32_t height) {
    char text[32];
    std::snprintf(text, sizeof text, "%5dx%5d", width, height);
    return text;
}

// The short name as "%-8.8s.%-3.3s": the name bytes up to the first NUL,
// padded with blanks to eight and three places.
std::string ShortNameText(const DirEntry& e) {
    auto field = [&](int offset, int width) {
        std::string text;
        for (int i = 0; i < width && e[size_t(offset + i)] != 0; ++i) text += char(e[size_t(offset + i)]);
        text.resize(size_t(width), ' ');
        return text;
    };
    return field(dirent::Name, 8) + "." + field(dirent::Ext, 3);
}

std::string FragmentText(const DelFileInfo& info) {
    // Computed over the unsigned counts; a count of 0 clusters needed has no
    // meaningful ratio and shows 0.
    double needed = double(uint32_t(info.clustersNeeded));
    double collected = double(uint32_t(info.clustersCollected));
    double percent = needed > 0 ? collected / needed * 100.0 : 0.0;
    uint64_t whole = (std::isfinite(percent) && percent >= 0 && percent < 1e18) ? uint64_t(percent) : 0;
    char text[64];
    std::snprintf(text, sizeof text, "断片化 %3d%%", int(whole % 1000));
    return text;
}

// Whether the record shows EXIF-style columns (date, picture size, model,
// GPS): a JPEG, or a picture or clip whose walk read its format.
bool HasPictureColumns(const DelFileInfo& info) { return info.firstClass == ContentClass::JpegStart || info.media.format != 0; }

// The size its container gives (a HEIF picture's, a RAW's sensor data, a
// clip's frames) before the EXIF one, which an edited picture may keep from
// before the edit.
std::string PictureSizeText(const DelFileInfo& info) {
    if (info.media.width != 0) return SizePairText(info.media.width, info.media.height);
    if (info.jpeg.exifWidth != 0) return SizePairText(info.jpeg.exifWidth, info.jpeg.exifHeight);
    return SizePairText(info.jpeg.frameWidth, info.jpeg.frameHeight);
}

// A clip's running time as the remarks show it: "再生時間 m:ss" (h:mm:ss
// from an hour on).
std::string DurationText(uint32_t ms) {
    const uint32_t seconds = (ms + 500) / 1000;
    char text[48];
    if (seconds >= 3600)
        std::snprintf(text, sizeof text, "再生時間 %u:%02u:%02u", seconds / 3600, seconds / 60 % 60, seconds % 60);
    else
        std::snprintf(text, sizeof text, "再生時間 %u:%02u", seconds / 60, seconds % 60);
    return text;
}

}  // namespace

const FoundFileColumnInfo& FoundFileColumnAt(int column) {
    if (column < 0 || column >= FoundFileColumnCount) column = 0;
    return kColumns[column];
}

std::string FoundFileColumnHeading(int column) {
    if (column < 0 || column >= FoundFileColumnCount) return "";
    return kColumns[column].heading;
}

std::string FoundFileShootingDate(const DelFileInfo& info) {
    if (!info.jpeg.dateTime.empty()) return info.jpeg.dateTime;
    return info.media.created;
}

std::string FoundFileStateText(const DelFileInfo& info) {
    switch (info.state) {
    case StateComplete:
        if (info.media.partlyMissing) return "一部欠損";
        if (info.firstClass == ContentClass::JpegStart && info.jpeg.partlyMissing) return "一部欠損";
        if (info.firstClass == ContentClass::JpegStart && info.fileSize == 0) return "サイズが0";
        return "良";
    case StateFragmented: return FragmentText(info);
    case StateInUse: return "別ﾌｧｲﾙが使用";
    case StateBroken: return "破損ファイル";
    case StateOverwritten: return "上書きされています";
    case StateMismatch: return "内容が一致しません";
    default: return "";
    }
}

std::string FoundFileGpsText(const JpegInfo& jpeg) {
    // The reference letter opens the text; without one there is no position.
    if (jpeg.latRef == 0) return "";
    char text[128];
    std::snprintf(text, sizeof text, "%c%3dﾟ%3d.%03d' %c%3dﾟ%3d.%03d'", jpeg.latRef, jpeg.latDeg, jpeg.latMin,
                  jpeg.latSec, jpeg.lonRef, jpeg.lonDeg, jpeg.lonMin, jpeg.lonSec);
    // A NUL longitude reference ends the text there.
    return std::string(text);
}

std::string FoundFileColumnText(const DelFileInfo& info, int column) {
    char text[64];
    switch (column) {
    case ColName: return info.name ? *info.name : (info.fatEntry ? ShortNameText(*info.fatEntry) : "");
    case ColType: return TypeNameOfExtension(info.extension);
    case ColSize: return FormatSizeText(info.fileSize);
    case ColFolder: return info.folder ? *info.folder : "";
    case ColDate: {
        const std::string shot = FoundFileShootingDate(info);
        return shot.empty() ? WriteDateText(info) : shot;
    }
    case ColState: return FoundFileStateText(info);
    case ColPosition:
        std::snprintf(text, sizeof text, "%llu", (unsigned long long)info.startCluster);
        return text;
    case ColPictureSize:
        if (!HasPictureColumns(info)) return "";
        if (info.media.format != 0 && info.jpeg.exifWidth == 0 && info.media.width == 0) return "";
        return PictureSizeText(info);
    case ColModel: return HasPictureColumns(info) ? info.jpeg.model : "";
    case ColGps: return HasPictureColumns(info) ? FoundFileGpsText(info.jpeg) : "";
    case ColRemarks:
        if (info.remarks) return *info.remarks;
        return info.media.durationMs ? DurationText(info.media.durationMs) : "";
    default: return "";
    }
}

std::string FoundFileSortKey(const DelFileInfo& info, int column) {
    char text[64];
    switch (column) {
    case ColName: return KeyText(info.name ? *info.name : "");
    case ColType: return KeyText(TypeNameOfExtension(info.extension));
    case ColSize:
        // Sizes are unsigned, ten digits wide. exFAT files may need more:
        // those keys start with "~", above every ten-digit key, and then
        // compare among themselves at twenty digits.
        if (info.fileSize < 10000000000ull)
            std::snprintf(text, sizeof text, "%10llu", (unsigned long long)info.fileSize);
        else
            std::snprintf(text, sizeof text, "~%20llu", (unsigned long long)info.fileSize);
        return text;
    case ColFolder: return KeyText(info.folder ? *info.folder : "");
    // The date the column shows (the shooting date where there is one), so
    // that a column sorted by it looks sorted.
    case ColDate: return FoundFileColumnText(info, ColDate);
    case ColState:
        std::snprintf(text, sizeof text, "%10d,%d,%d", info.state, int(info.jpeg.partlyMissing),
                      info.fileSize == 0 ? 1 : 0);
        return text;
    case ColPosition:
        std::snprintf(text, sizeof text, "%10llu", (unsigned long long)info.startCluster);
        return text;
    case ColPictureSize:
        return info.media.format != 0 ? PictureSizeText(info) : SizePairText(info.jpeg.exifWidth, info.jpeg.exifHeight);
    case ColModel: return KeyText(info.jpeg.model);
    case ColGps: return FoundFileGpsText(info.jpeg);
    case ColRemarks: return KeyText(info.remarks ? *info.remarks : "");
    default: return "";
    }
}

}  // namespace veld
