#include "ui/dialog_units.h"

#include <QFontDatabase>
#include <QFontMetrics>
#include <QGuiApplication>

namespace veld {
namespace {

bool gInstalled = false;
QString gSansFace;
QString gMonoFace;

// Proportional faces of the dialogs and views.
const char* const kProportionalFaces[] = {
    "ＭＳ Ｐゴシック", "ＭＳＰ ゴシック", "MS PGothic", "MS UI Gothic", "MS Shell Dlg", "MS Shell Dlg 2",
    "ＭＳ 明朝", "ＭＳ Ｐ明朝", "MS Mincho", "MS PMincho", "MS Sans Serif", "Tahoma",
};
// Fixed-pitch faces (the hex dump).
const char* const kFixedFaces[] = {"ＭＳ ゴシック", "MS Gothic"};

QString FirstInstalled(const QStringList& wanted, const QStringList& families) {
    for (const QString& face : wanted)
        if (families.contains(face, Qt::CaseInsensitive)) return face;
    return {};
}

}  // namespace

DialogUnits DialogUnitsOf(const QFont& font) {
    QFontMetrics metrics(font);
    static const QString kLetters = QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz");
    DialogUnits units;
    int advance = metrics.horizontalAdvance(kLetters);
    units.charWidth = std::max(1, (advance / 26 + 1) / 2);
    units.charHeight = std::max(1, metrics.height());
    return units;
}

QFont DialogFont() {
    QFont font(QStringLiteral("MS UI Gothic"));
    font.setPointSize(9);
    return font;
}

DialogUnits DefaultDialogUnits() { return DialogUnitsOf(DialogFont()); }

int ScaledWindowsPixels(int pixels, const DialogUnits& units) {
    if (units.charWidth <= kWindowsCharWidth) return pixels;
    return (pixels * units.charWidth + kWindowsCharWidth / 2) / kWindowsCharWidth;
}

QStringList WindowsFontFaces() {
    QStringList faces;
    for (const char* face : kProportionalFaces) faces << QString::fromUtf8(face);
    for (const char* face : kFixedFaces) faces << QString::fromUtf8(face);
    return faces;
}

void InstallFontSubstitutions() {
    if (gInstalled) return;
    gInstalled = true;
    const QStringList families = QFontDatabase::families();
    gSansFace = FirstInstalled({"Noto Sans CJK JP", "Noto Sans JP", "IPAPGothic", "VL PGothic", "Droid Sans Fallback"},
                               families);
    gMonoFace = FirstInstalled({"Noto Sans Mono CJK JP", "IPAGothic", "VL Gothic"}, families);
    if (gSansFace.isEmpty()) gSansFace = QStringLiteral("Noto Sans CJK JP");  // fontconfig still finds a CJK face
    if (gMonoFace.isEmpty()) gMonoFace = gSansFace;
    for (const char* face : kProportionalFaces) QFont::insertSubstitution(QString::fromUtf8(face), gSansFace);
    for (const char* face : kFixedFaces) QFont::insertSubstitution(QString::fromUtf8(face), gMonoFace);
}

QString SubstituteFontFace() { return gSansFace; }

}  // namespace veld
