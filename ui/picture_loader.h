// Pictures for display: picture files on disk, picture data in memory (found
// files opened from the list), and the application's own pictures, which are
// JPEG files compiled into the executable (resources/veld.qrc, prefix
// ":/JPEG/<id>").
//
// The application's pictures (drawn by resources/make_pictures.sh):
//   162-165 easy wizard pages 1-4, 411 x 193, guidance text drawn in
//   166     toolbar strip, 448 x 32: seven 64 x 32 images side by side,
//           index 0 search, 1 save, 2 thumbnails, 3 list, 4 unused (all
//           light grey), 5 search greyed, 6 save greyed; the background of
//           every image is light grey RGB(192,192,192), the mask colour
//   167     splash, 400 x 250, with the product name
//   168     drive selection artwork for the complete erase, 80 x 257
//   169     save dialog artwork, 80 x 257, drawn on white
//   170     drive selection artwork for the disk-image tools, 80 x 257
//   171     drive selection artwork for the search, 80 x 257
//   172     progress bar fill, 343 x 16 (any width works: the bar copies
//           its left part)
#pragma once

#include <QByteArray>
#include <QImage>
#include <QString>

#include "base/dib24.h"

namespace veld {

enum PictureId : int {
    PicWizardPage1 = 162,
    PicWizardPage2 = 163,
    PicWizardPage3 = 164,
    PicWizardPage4 = 165,
    PicToolbar = 166,
    PicSplash = 167,
    PicEraseDrive = 168,
    PicSave = 169,
    PicDiskImageDrive = 170,
    PicSearchDrive = 171,
    PicProgressFill = 172,
};

// Width and height of one toolbar image in picture 166, and its mask colour.
constexpr int kToolbarImageWidth = 64;
constexpr int kToolbarImageHeight = 32;
constexpr unsigned kToolbarMaskRgb = 0xC0C0C0;

// A picture file: the path must be non-empty and contain a dot. A null image
// when it cannot be read (the diagnostic log gets
// "ファイル "%s" が読み込めませんでした").
QImage LoadPictureBitmap(const QString& path);
// Picture bytes in memory (any format Qt reads: JPEG, PNG, BMP, GIF).
QImage LoadPictureBitmap(const QByteArray& bytes);
// The picture turned and mirrored so that it stands upright, for an EXIF
// orientation (1 as stored, 2 mirrored left to right, 3 turned half round,
// 4 mirrored top to bottom, 5 transposed, 6 stored turned a quarter to the
// left, 7 transversed, 8 stored turned a quarter to the right). Other values
// give the picture as it is.
QImage UprightPicture(const QImage& picture, int orientation);
// One of the application's pictures; false when there is no such picture or
// it cannot be decoded (then *out is left alone).
bool LoadJpegResource(int id, QImage* out);
// The raw JPEG bytes of one of the application's pictures ("" when none).
QByteArray JpegResourceBytes(int id);

// Conversions between the engine's 24-bit bottom-up bitmaps and QImage.
QImage ImageFromDib(const Dib24& dib);
DibPtr DibFromImage(const QImage& image);

}  // namespace veld
