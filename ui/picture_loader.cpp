#include "ui/picture_loader.h"

#include <QBuffer>
#include <QFile>
#include <QImageReader>
#include <QTransform>

#include <cstring>

#include "base/trace.h"

// The pictures live in a static library: referencing its resource
// initialiser keeps the linker from dropping them.
static void InitPictureResources() { Q_INIT_RESOURCE(veld); }

namespace veld {
namespace {

// Pictures larger than this are refused: a found file may claim any size in
// its header, and the preview never needs more.
constexpr int kMaxPixels = 16384 * 16384;

QImage ReadImage(QImageReader& reader) {
    reader.setAutoTransform(false);
    QSize size = reader.size();
    if (size.isValid() && qint64(size.width()) * size.height() > kMaxPixels) return {};
    QImage image;
    if (!reader.read(&image)) return {};
    return image.convertToFormat(QImage::Format_RGB32);
}

}  // namespace

QImage LoadPictureBitmap(const QString& path) {
    if (path.isEmpty() || !path.contains(QLatin1Char('.'))) return {};
    QImageReader reader(path);
    QImage image = ReadImage(reader);
    if (image.isNull()) LogLine("ファイル \"%s\" が読み込めませんでした", path.toUtf8().constData());
    return image;
}

QImage LoadPictureBitmap(const QByteArray& bytes) {
    if (bytes.isEmpty()) return {};
    QByteArray copy = bytes;  // the buffer device needs an object that lives as long as the reader
    QBuffer buffer(&copy);
    if (!buffer.open(QIODevice::ReadOnly)) return {};
    QImageReader reader(&buffer);
    return ReadImage(reader);
}

QImage UprightPicture(const QImage& picture, int orientation) {
    // QTransform::rotate turns clockwise on screen (y grows downwards).
    auto turned = [&](int degrees) { return picture.transformed(QTransform().rotate(degrees)); };
    switch (orientation) {
    case 2: return picture.mirrored(true, false);
    case 3: return picture.mirrored(true, true);
    case 4: return picture.mirrored(false, true);
    case 5: return turned(90).mirrored(true, false);
    case 6: return turned(90);
    case 7: return turned(90).mirrored(false, true);
    case 8: return turned(270);
    default: return picture;
    }
}

QString PictureFileName(Picture picture) {
    switch (picture) {
    case Picture::WizardPage1: return QStringLiteral("wizard_page1.jpg");
    case Picture::WizardPage2: return QStringLiteral("wizard_page2.jpg");
    case Picture::WizardPage3: return QStringLiteral("wizard_page3.jpg");
    case Picture::WizardPage4: return QStringLiteral("wizard_page4.jpg");
    case Picture::WizardPage3Partial: return QStringLiteral("wizard_page3_partial.jpg");
    case Picture::Toolbar: return QStringLiteral("toolbar.jpg");
    case Picture::Splash: return QStringLiteral("splash.jpg");
    case Picture::EraseDrive: return QStringLiteral("erase_drive.jpg");
    case Picture::Save: return QStringLiteral("save.jpg");
    case Picture::DiskImageDrive: return QStringLiteral("disk_image_drive.jpg");
    case Picture::SearchDrive: return QStringLiteral("search_drive.jpg");
    case Picture::ProgressFill: return QStringLiteral("progress_fill.jpg");
    case Picture::None: break;
    }
    return {};
}

QByteArray PictureBytes(Picture picture) {
    static const bool initialised = [] {
        InitPictureResources();
        return true;
    }();
    (void)initialised;
    const QString name = PictureFileName(picture);
    if (name.isEmpty()) return {};
    QFile file(QStringLiteral(":/pictures/") + name);
    if (!file.open(QIODevice::ReadOnly)) return {};
    return file.readAll();
}

bool LoadPicture(Picture picture, QImage* out) {
    QByteArray bytes = PictureBytes(picture);
    if (bytes.isEmpty()) return false;
    QImage image = LoadPictureBitmap(bytes);
    if (image.isNull()) return false;
    if (out) *out = image;
    return true;
}

QImage ImageFromDib(const Dib24& dib) {
    if (dib.width <= 0 || dib.height <= 0) return {};
    if (dib.bits.size() < size_t(dib.stride()) * size_t(dib.height)) return {};
    QImage image(dib.width, dib.height, QImage::Format_RGB32);
    for (int y = 0; y < dib.height; ++y) {
        const uint8_t* src = dib.row(y);
        auto* dst = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < dib.width; ++x) dst[x] = qRgb(src[3 * x + 2], src[3 * x + 1], src[3 * x]);
    }
    return image;
}

DibPtr DibFromImage(const QImage& image) {
    if (image.isNull()) return nullptr;
    QImage rgb = image.convertToFormat(QImage::Format_RGB32);
    auto dib = std::make_shared<Dib24>();
    dib->width = rgb.width();
    dib->height = rgb.height();
    dib->bits.assign(size_t(dib->stride()) * size_t(dib->height), 0);
    for (int y = 0; y < dib->height; ++y) {
        const auto* src = reinterpret_cast<const QRgb*>(rgb.constScanLine(y));
        uint8_t* dst = dib->row(y);
        for (int x = 0; x < dib->width; ++x) {
            dst[3 * x] = uint8_t(qBlue(src[x]));
            dst[3 * x + 1] = uint8_t(qGreen(src[x]));
            dst[3 * x + 2] = uint8_t(qRed(src[x]));
        }
    }
    return dib;
}

}  // namespace veld
