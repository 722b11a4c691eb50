// Dialog layouts are given in dialog units, as the window templates of the
// original dialogs were: a horizontal unit is a quarter of the dialog font's
// average character width, a vertical unit an eighth of its character height.
// The average width is measured the way Windows does it: the advance of the
// 52 letters A-Z a-z, divided by 26, plus one, halved.
//
// The Japanese font faces named by the dialogs ("ＭＳ Ｐゴシック" and its
// relatives) do not exist on Linux; InstallFontSubstitutions maps each of them
// to the installed Noto Sans CJK JP (or the first CJK face fontconfig offers).
#pragma once

#include <QFont>
#include <QPoint>
#include <QRect>
#include <QSize>
#include <QString>
#include <QStringList>

namespace veld {

struct DialogUnits {
    int charWidth = 6;    // average character width in pixels
    int charHeight = 13;  // character height in pixels

    int x(int units) const { return (units * charWidth + 2) / 4; }
    int y(int units) const { return (units * charHeight + 4) / 8; }
    QPoint point(int ux, int uy) const { return {x(ux), y(uy)}; }
    QSize size(int uw, int uh) const { return {x(uw), y(uh)}; }
    QRect rect(int ux, int uy, int uw, int uh) const { return {x(ux), y(uy), x(uw), y(uh)}; }
    // A template rectangle: x, y, width, height.
    QRect rect(const int (&r)[4]) const { return rect(r[0], r[1], r[2], r[3]); }
};

// The units of a font (measured with QFontMetrics).
DialogUnits DialogUnitsOf(const QFont& font);

// The font every dialog uses: "MS UI Gothic" at 9 points, which the
// substitution table turns into the installed CJK face.
QFont DialogFont();
DialogUnits DefaultDialogUnits();

// The average character width, in pixels, of the Windows dialog font that
// the built-in pixel sizes (list columns, the main window) were chosen for.
constexpr int kWindowsCharWidth = 6;
// A built-in pixel size scaled by the measured width of the dialog font
// against kWindowsCharWidth, so texts that fitted there fit here (never
// smaller than the built-in size).
int ScaledWindowsPixels(int pixels, const DialogUnits& units = DefaultDialogUnits());

// The Windows face names the application asks for.
QStringList WindowsFontFaces();
// Maps every face of WindowsFontFaces() to the installed CJK sans face.
// Call once after the QApplication exists; further calls do nothing.
void InstallFontSubstitutions();
// The face the substitutions point to ("" before InstallFontSubstitutions).
QString SubstituteFontFace();

}  // namespace veld
