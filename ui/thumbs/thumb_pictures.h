// The small pictures of the result grids, drawn in code: the placeholders a
// thumbnail cell shows before or instead of its picture, the sort direction
// arrows, the kind pictures of the disk map, and the icon of a file type.
#pragma once

#include <QFontMetrics>
#include <QIcon>
#include <QPixmap>
#include <QString>

namespace veld {

enum class GridPicture {
    ThumbnailFailed,    // the thumbnail could not be made (also the disk map's picture kind)
    ThumbnailReleased,  // the thumbnail was made and given up again
    ThumbnailNotMade,   // the thumbnail is not made yet
    MapPicture,         // disk map: a picture
    MapMovie,           // disk map: movie or sound
    MapArchive,
    MapUnused,
    MapOther,
    SortAscending,
    SortDescending,
};

// One of the pictures above at its natural size (80 x 70 for the
// placeholders, 16 x 16 for the arrows, 32 x 32 for the kinds); made once.
const QPixmap& ThumbPixmap(GridPicture picture);

// The icon of the file type a name has: the icon theme's icon for its MIME
// type (or the type's generic icon), else a generic file icon. Cached by
// MIME type.
QIcon TypeIconForName(const QString& name);

// The name as drawn under a cell: whole when it fits in maxWidth pixels,
// otherwise as many whole characters (never part of one, nor a base
// character without its accents) as fit before "..." within maxWidth.
QString CutCellName(const QString& name, const QFontMetrics& metrics, int maxWidth);

}  // namespace veld
