// Sorting of file names into picture, movie, sound and archive kinds.
#include "base/file_name_kind.h"

namespace veld {

int ClassifyFileName(const std::string& name) {
    std::string upper = name;
    for (char& c : upper)
        if (c >= 'a' && c <= 'z') c = char(c - 'a' + 'A');
    // The test is for the text anywhere in the name, not only at its end
    // ("photo.jpg.txt" is a picture); the first matching group wins.
    static const struct {
        int kind;
        const char* parts[5];
    } groups[] = {
        {KindPicture, {".BMP", ".JPG", ".JPEG", ".TIF", ".GIF"}},
        {KindMovie, {".MPEG", ".MPG", ".AVI", ".MOV", nullptr}},
        {KindSound, {".WAV", ".MP3", nullptr, nullptr, nullptr}},
        {KindArchive, {".LZH", ".ZIP", nullptr, nullptr, nullptr}},
    };
    for (const auto& g : groups)
        for (const char* part : g.parts)
            if (part && upper.find(part) != std::string::npos) return g.kind;
    return KindOther;
}

}  // namespace veld
