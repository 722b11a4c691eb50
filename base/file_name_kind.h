// Sorting of file names into picture, movie, sound and archive kinds.
#pragma once

#include <string>

namespace veld {

enum FileNameKind { KindOther = 0, KindPicture = 1, KindMovie = 2, KindSound = 3, KindArchive = 4 };
int ClassifyFileName(const std::string& name);

}  // namespace veld
