#include "ui/thumbs/thumb_pictures.h"

#include <QApplication>
#include <QCoreApplication>
#include <QHash>
#include <QMimeDatabase>
#include <QPainter>
#include <QPainterPath>
#include <QStyle>
#include <QTextBoundaryFinder>

#include <map>

namespace veld {

namespace {

QPixmap Blank(int w, int h, QColor fill) {
    QPixmap p(w, h);
    p.fill(fill);
    return p;
}

// A landscape picture outline: a frame with a sun and a hill.
void DrawPictureGlyph(QPainter& g, QRectF r, QColor ink) {
    g.setPen(QPen(ink, 1.5));
    g.setBrush(Qt::NoBrush);
    g.drawRect(r);
    g.setBrush(ink);
    g.drawEllipse(QPointF(r.left() + r.width() * 0.3, r.top() + r.height() * 0.3), r.width() * 0.08,
                  r.width() * 0.08);
    QPainterPath hill;
    hill.moveTo(r.left(), r.bottom());
    hill.lineTo(r.left() + r.width() * 0.4, r.top() + r.height() * 0.5);
    hill.lineTo(r.left() + r.width() * 0.6, r.top() + r.height() * 0.7);
    hill.lineTo(r.left() + r.width() * 0.75, r.top() + r.height() * 0.55);
    hill.lineTo(r.right(), r.bottom());
    hill.closeSubpath();
    g.drawPath(hill);
}

QPixmap MakePicture(GridPicture picture) {
    switch (picture) {
    case GridPicture::ThumbnailNotMade: {
        // Light grey with a faint picture: the thumbnail is on its way.
        QPixmap p = Blank(80, 70, QColor(236, 236, 236));
        QPainter g(&p);
        g.setRenderHint(QPainter::Antialiasing);
        DrawPictureGlyph(g, QRectF(24, 20, 32, 26), QColor(190, 190, 190));
        return p;
    }
    case GridPicture::ThumbnailReleased: {
        // The same picture in a slightly darker grey: made before, given up.
        QPixmap p = Blank(80, 70, QColor(224, 224, 224));
        QPainter g(&p);
        g.setRenderHint(QPainter::Antialiasing);
        DrawPictureGlyph(g, QRectF(24, 20, 32, 26), QColor(170, 170, 170));
        return p;
    }
    case GridPicture::ThumbnailFailed: {
        // A picture crossed out in red: the data does not decode.
        QPixmap p = Blank(80, 70, Qt::white);
        QPainter g(&p);
        g.setRenderHint(QPainter::Antialiasing);
        DrawPictureGlyph(g, QRectF(20, 17, 40, 34), QColor(150, 150, 150));
        g.setPen(QPen(QColor(200, 30, 30), 3));
        g.drawLine(QPointF(18, 15), QPointF(62, 53));
        g.drawLine(QPointF(62, 15), QPointF(18, 53));
        return p;
    }
    case GridPicture::SortAscending:
    case GridPicture::SortDescending: {
        QPixmap p(16, 16);
        p.fill(Qt::transparent);
        QPainter g(&p);
        g.setRenderHint(QPainter::Antialiasing);
        g.setPen(Qt::NoPen);
        g.setBrush(QColor(40, 40, 40));
        QPolygonF arrow = picture == GridPicture::SortAscending
                              ? QPolygonF({QPointF(8, 2), QPointF(14, 12), QPointF(2, 12)})
                              : QPolygonF({QPointF(2, 4), QPointF(14, 4), QPointF(8, 14)});
        g.drawPolygon(arrow);
        return p;
    }
    case GridPicture::MapPicture: {
        // A landscape: the picture kind, whatever state the file is in.
        QPixmap p(32, 32);
        p.fill(Qt::transparent);
        QPainter g(&p);
        g.setRenderHint(QPainter::Antialiasing);
        g.fillRect(4, 6, 24, 20, Qt::white);
        DrawPictureGlyph(g, QRectF(4, 6, 24, 20), QColor(70, 90, 120));
        return p;
    }
    case GridPicture::MapMovie: {
        // A strip of film.
        QPixmap p = Blank(32, 32, Qt::white);
        QPainter g(&p);
        g.fillRect(4, 6, 24, 20, QColor(60, 60, 60));
        for (int x = 6; x < 28; x += 5) {
            g.fillRect(x, 7, 3, 3, Qt::white);
            g.fillRect(x, 22, 3, 3, Qt::white);
        }
        g.fillRect(8, 12, 16, 8, QColor(120, 170, 230));
        return p;
    }
    case GridPicture::MapArchive: {
        // A box with a band.
        QPixmap p = Blank(32, 32, Qt::white);
        QPainter g(&p);
        g.fillRect(6, 8, 20, 18, QColor(200, 160, 90));
        g.fillRect(14, 8, 4, 18, QColor(120, 90, 40));
        return p;
    }
    case GridPicture::MapUnused:
    case GridPicture::MapOther: return Blank(32, 32, Qt::white);
    }
    return {};
}

// The caches of pictures and icons, emptied while the application object
// still exists (pixmaps must not outlive it).
std::map<GridPicture, QPixmap>& MadePictures() {
    static std::map<GridPicture, QPixmap> made;
    return made;
}
QHash<QString, QIcon>& IconsByType() {
    static QHash<QString, QIcon> icons;
    return icons;
}
void RegisterCacheCleanup() {
    static bool registered = false;
    if (registered) return;
    registered = true;
    qAddPostRoutine([] {
        MadePictures().clear();
        IconsByType().clear();
    });
}

}  // namespace

const QPixmap& ThumbPixmap(GridPicture picture) {
    RegisterCacheCleanup();
    std::map<GridPicture, QPixmap>& made = MadePictures();
    auto it = made.find(picture);
    if (it == made.end()) it = made.emplace(picture, MakePicture(picture)).first;
    return it->second;
}

QIcon TypeIconForName(const QString& name) {
    RegisterCacheCleanup();
    QHash<QString, QIcon>& byType = IconsByType();
    static QMimeDatabase database;
    const QMimeType type = database.mimeTypeForFile(name, QMimeDatabase::MatchExtension);
    const QString key = type.isValid() ? type.name() : QString();
    auto it = byType.constFind(key);
    if (it != byType.constEnd()) return *it;
    QIcon icon;
    if (type.isValid()) {
        icon = QIcon::fromTheme(type.iconName());
        if (icon.isNull()) icon = QIcon::fromTheme(type.genericIconName());
    }
    // Without an icon theme (or a type it knows): the style's file icon.
    if (icon.isNull()) icon = QApplication::style()->standardIcon(QStyle::SP_FileIcon);
    byType.insert(key, icon);
    return icon;
}

QString CutCellName(const QString& name, const QFontMetrics& metrics, int maxWidth) {
    if (metrics.horizontalAdvance(name) <= maxWidth) return name;
    const QString dots = QStringLiteral("...");
    const int room = maxWidth - metrics.horizontalAdvance(dots);
    // Step from one character boundary to the next (a character with its
    // combining marks, a surrogate pair, ...) and keep what fits.
    QTextBoundaryFinder bounds(QTextBoundaryFinder::Grapheme, name);
    int kept = 0;
    for (qsizetype next = bounds.toNextBoundary(); next > 0; next = bounds.toNextBoundary()) {
        if (metrics.horizontalAdvance(name.left(next)) > room) break;
        kept = int(next);
    }
    return name.left(kept) + dots;
}

}  // namespace veld
