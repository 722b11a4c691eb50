#include "ui/picture_loader.h"

#include <QBuffer>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

TEST(PictureLoader, EveryApplicationPictureDecodes) {
    for (veld::Picture picture : veld::kAllPictures) {
        const std::string name = veld::PictureFileName(picture).toStdString();
        QImage image;
        EXPECT_TRUE(veld::LoadPicture(picture, &image)) << name;
        EXPECT_FALSE(image.isNull()) << name;
        // Our own artwork stays small.
        EXPECT_LT(veld::PictureBytes(picture).size(), 32 * 1024) << name;
    }
}

TEST(PictureLoader, PictureSizesMatchTheirUse) {
    QImage toolbar, splash, fill, drive, wizard;
    ASSERT_TRUE(veld::LoadPicture(veld::Picture::Toolbar, &toolbar));
    ASSERT_TRUE(veld::LoadPicture(veld::Picture::Splash, &splash));
    ASSERT_TRUE(veld::LoadPicture(veld::Picture::ProgressFill, &fill));
    ASSERT_TRUE(veld::LoadPicture(veld::Picture::SearchDrive, &drive));
    ASSERT_TRUE(veld::LoadPicture(veld::Picture::WizardPage1, &wizard));
    // The toolbar strip is cut into 64 x 32 images: seven of them.
    EXPECT_EQ(toolbar.height(), veld::kToolbarImageHeight);
    EXPECT_EQ(toolbar.width(), 7 * veld::kToolbarImageWidth);
    // Index 4 is unused and all mask colour (JPEG allows a little drift).
    const QColor mask = toolbar.pixelColor(4 * 64 + 32, 16);
    EXPECT_NEAR(mask.red(), 192, 6);
    EXPECT_NEAR(mask.green(), 192, 6);
    EXPECT_NEAR(mask.blue(), 192, 6);
    EXPECT_EQ(splash.size(), QSize(400, 250));
    EXPECT_EQ(fill.height(), 16);
    EXPECT_GE(fill.width(), 343);
    EXPECT_EQ(drive.size(), QSize(80, 257));
    EXPECT_EQ(wizard.size(), QSize(411, 193));
}

TEST(PictureLoader, MissingPictureLeavesTheTargetAlone) {
    QImage keep(3, 3, QImage::Format_RGB32);
    keep.fill(Qt::red);
    EXPECT_FALSE(veld::LoadPicture(veld::Picture::None, &keep));
    EXPECT_EQ(keep.size(), QSize(3, 3));
    EXPECT_EQ(keep.pixelColor(1, 1), QColor(Qt::red));
    EXPECT_TRUE(veld::PictureBytes(veld::Picture::None).isEmpty());
}

TEST(PictureLoader, FilePathNeedsADotAndReadableData) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QByteArray jpeg = veld::PictureBytes(veld::Picture::ProgressFill);
    ASSERT_FALSE(jpeg.isEmpty());
    for (const QString& name : {QStringLiteral("withdot.jpg"), QStringLiteral("nodot")}) {
        QFile file(dir.filePath(name));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(jpeg);
    }
    EXPECT_FALSE(veld::LoadPictureBitmap(dir.filePath("withdot.jpg")).isNull());
    EXPECT_TRUE(veld::LoadPictureBitmap(dir.filePath("nodot")).isNull());
    EXPECT_TRUE(veld::LoadPictureBitmap(QString()).isNull());
    EXPECT_TRUE(veld::LoadPictureBitmap(dir.filePath("missing.jpg")).isNull());
}

TEST(PictureLoader, MemoryDecodingRejectsGarbageAndAcceptsTruncation) {
    EXPECT_TRUE(veld::LoadPictureBitmap(QByteArray()).isNull());
    EXPECT_TRUE(veld::LoadPictureBitmap(QByteArray("not a picture at all", 20)).isNull());
    QByteArray jpeg = veld::PictureBytes(veld::Picture::Splash);
    ASSERT_GT(jpeg.size(), 1000);
    QImage whole = veld::LoadPictureBitmap(jpeg);
    ASSERT_FALSE(whole.isNull());
    // A picture cut off half way still has its full size.
    QImage half = veld::LoadPictureBitmap(jpeg.left(jpeg.size() / 2));
    if (!half.isNull()) {
        EXPECT_EQ(half.size(), whole.size());
    }
}

TEST(PictureLoader, DibConversionKeepsPixelsAndOrientation) {
    QImage image(5, 3, QImage::Format_RGB32);
    image.fill(Qt::white);
    image.setPixelColor(0, 0, QColor(10, 20, 30));    // top left
    image.setPixelColor(4, 2, QColor(200, 100, 50));  // bottom right
    veld::DibPtr dib = veld::DibFromImage(image);
    ASSERT_TRUE(dib);
    ASSERT_EQ(dib->width, 5);
    ASSERT_EQ(dib->height, 3);
    ASSERT_EQ(dib->stride(), 16);
    ASSERT_EQ(dib->bits.size(), 3u * 16);
    // Bottom-up rows, blue-green-red: the top row is the last in memory.
    const uint8_t* last = dib->bits.data() + 2 * dib->stride();
    EXPECT_EQ(last[0], 30);
    EXPECT_EQ(last[1], 20);
    EXPECT_EQ(last[2], 10);
    const uint8_t* first = dib->bits.data();
    EXPECT_EQ(first[12], 50);
    EXPECT_EQ(first[14], 200);
    QImage back = veld::ImageFromDib(*dib);
    EXPECT_EQ(back.pixelColor(0, 0), QColor(10, 20, 30));
    EXPECT_EQ(back.pixelColor(4, 2), QColor(200, 100, 50));
    // A bitmap whose pixel buffer is too short is refused, not read past.
    veld::Dib24 broken;
    broken.width = 10;
    broken.height = 10;
    broken.bits.resize(10);
    EXPECT_TRUE(veld::ImageFromDib(broken).isNull());
}

}  // namespace
