#include "finder/media_format.h"

#include <cstring>

#include "base/format_text.h"

namespace veld {
namespace {

struct FormatRow {
    MediaFormat format;
    const char* extension;
    bool picture;
    bool raw;
};

constexpr FormatRow kFormats[] = {
    {FormatNone, "", false, false},  {FormatMp4, "mp4", false, false},  {FormatMov, "mov", false, false},
    {Format3gp, "3gp", false, false}, {Format3g2, "3g2", false, false}, {FormatHeic, "heic", true, false},
    {FormatHeif, "heif", true, false}, {FormatAvif, "avif", true, false}, {FormatCr3, "cr3", true, true},
    {FormatTif, "tif", true, false},  {FormatCr2, "cr2", true, true},   {FormatNef, "nef", true, true},
    {FormatNrw, "nrw", true, true},   {FormatArw, "arw", true, true},   {FormatSr2, "sr2", true, true},
    {FormatDng, "dng", true, true},   {FormatOrf, "orf", true, true},   {FormatRw2, "rw2", true, true},
    {FormatPef, "pef", true, true},   {FormatSrw, "srw", true, true},   {FormatErf, "erf", true, true},
    {Format3fr, "3fr", true, true},   {FormatRaf, "raf", true, true},   {FormatAvi, "avi", false, false},
    {FormatMts, "mts", false, false}, {FormatMpg, "mpg", false, false},
};
static_assert(sizeof kFormats / sizeof kFormats[0] == FormatCount, "one row per format");

const FormatRow& Row(MediaFormat format) {
    return format < FormatCount ? kFormats[format] : kFormats[FormatNone];
}

}  // namespace

const char* MediaFormatExtension(MediaFormat format) { return Row(format).extension; }
bool MediaFormatIsPicture(MediaFormat format) { return Row(format).picture; }
bool MediaFormatIsRaw(MediaFormat format) { return Row(format).raw; }
bool MediaFormatIsHeif(MediaFormat format) {
    return format == FormatHeic || format == FormatHeif || format == FormatAvif;
}

bool ExtensionIsPicture(const std::string& extension) {
    const std::string type = ContentTypeOfExtension(extension);
    if (type.size() >= 5 && CompareNoCase(type.substr(0, 5), "image") == 0) return true;
    return MediaFormatIsPicture(MediaFormatOfExtension(extension));
}

MediaFormat MediaFormatOfExtension(const std::string& extension) {
    std::string key = extension;
    TrimBlanks(key);
    for (char& c : key)
        if (c >= 'A' && c <= 'Z') c = char(c + 32);
    if (key.empty()) return FormatNone;
    // Other names cameras use for the same containers.
    if (key == "m2ts" || key == "m2t") return FormatMts;
    if (key == "mod" || key == "tod" || key == "mpeg" || key == "vob") return FormatMpg;
    if (key == "hif") return FormatHeif;
    if (key == "tiff") return FormatTif;
    if (key == "m4v") return FormatMp4;
    for (const FormatRow& row : kFormats)
        if (row.format != FormatNone && key == row.extension) return row.format;
    return FormatNone;
}

}  // namespace veld
