// Sorting of file names into picture, movie, sound and archive kinds.
#include "base/file_name_kind.h"

#include <vector>

namespace veld {

int ClassifyFileName(const std::string& name) {
    std::string upper = name;
    for (char& c : upper)
        if (c >= 'a' && c <= 'z') c = char(c - 'a' + 'A');
    // The test is for the text anywhere in the name, not only at its end
    // ("photo.jpg.txt" is a picture); the first matching group wins.
    static const struct {
        int kind;
        std::vector<const char*> parts;
    } groups[] = {
        {KindPicture, {".BMP", ".JPG", ".JPEG", ".TIF", ".GIF", ".HEIC", ".HEIF", ".HIF", ".AVIF", ".CR2", ".CR3",
                       ".NEF", ".NRW", ".ARW", ".SR2", ".DNG", ".ORF", ".RW2", ".PEF", ".SRW", ".ERF", ".3FR",
                       ".RAF"}},
        {KindMovie, {".MPEG", ".MPG", ".AVI", ".MOV", ".MP4", ".M4V", ".MTS", ".M2TS", ".3GP", ".3G2", ".MOD",
                     ".TOD"}},
        {KindSound, {".WAV", ".MP3"}},
        {KindArchive, {".LZH", ".ZIP"}},
    };
    for (const auto& g : groups)
        for (const char* part : g.parts)
            if (upper.find(part) != std::string::npos) return g.kind;
    return KindOther;
}

}  // namespace veld
