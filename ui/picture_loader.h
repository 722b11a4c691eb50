// Pictures for display: picture files on disk, picture data in memory (found
// files opened from the list), and the application's own pictures, which are
// JPEG files compiled into the executable (resources/veld.qrc, as
// ":/pictures/<name>.jpg").
//
// The application's pictures (drawn by resources/make_pictures.sh):
//   wizard_page1..4   easy wizard pages 1-4, 411 x 193, guidance text drawn in
//   wizard_page3_partial  page 3 after a cancelled search (the files found
//                     are only part of what the card holds), 411 x 193
//   toolbar           toolbar strip, 448 x 32: seven 64 x 32 images side by
//                     side, index 0 search, 1 save, 2 thumbnails, 3 list,
//                     4 unused (all light grey), 5 search greyed, 6 save
//                     greyed; the background of every image is light grey
//                     RGB(192,192,192), the mask colour
//   splash            400 x 250, with the product name
//   erase_drive       drive selection artwork for the complete erase, 80 x 257
//   save              save dialog artwork, 80 x 257, drawn on white
//   disk_image_drive  drive selection artwork for the disk-image tools, 80 x 257
//   search_drive      drive selection artwork for the search, 80 x 257
//   progress_fill     progress bar fill, 343 x 16 (any width works: the bar
//                     copies its left part)
#pragma once

#include <QByteArray>
#include <QImage>
#include <QString>

#include "base/dib24.h"

namespace veld {

enum class Picture {
    None,
    WizardPage1,
    WizardPage2,
    WizardPage3,
    WizardPage4,
    WizardPage3Partial,
    Toolbar,
    Splash,
    EraseDrive,
    Save,
    DiskImageDrive,
    SearchDrive,
    ProgressFill,
};
// Every picture but None.
inline constexpr Picture kAllPictures[] = {
    Picture::WizardPage1, Picture::WizardPage2, Picture::WizardPage3,    Picture::WizardPage4,
    Picture::Toolbar,     Picture::Splash,      Picture::EraseDrive,     Picture::Save,
    Picture::DiskImageDrive, Picture::SearchDrive, Picture::ProgressFill, Picture::WizardPage3Partial,
};
// The picture's file name ("toolbar.jpg"; "" for None).
QString PictureFileName(Picture picture);

// Width and height of one image of the toolbar strip, and its mask colour.
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
bool LoadPicture(Picture picture, QImage* out);
// The raw JPEG bytes of one of the application's pictures ("" when none).
QByteArray PictureBytes(Picture picture);

// Conversions between the engine's 24-bit bottom-up bitmaps and QImage.
QImage ImageFromDib(const Dib24& dib);
DibPtr DibFromImage(const QImage& image);

}  // namespace veld
