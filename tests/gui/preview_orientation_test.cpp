// Found pictures open upright: the EXIF orientation of a photo decides how
// the preview and the thumbnail turn and mirror the stored pixels.
#include "found_files_fixture.h"  // first: see there

#include <QImage>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <map>

#include "base/bitmap_utils.h"
#include "ui/main/found_file_commands.h"
#include "ui/main/found_file_list.h"
#include "ui/picture_loader.h"
#include "ui/viewers/preview_window.h"

namespace veld::guitest {
namespace {

namespace fs = std::filesystem;

// For each orientation, where the pixel shown at (x, y) is stored in a
// w x h picture: the eight cases as TIFF defines them (which stored row is
// the top, which stored column the left).
QPoint StoredPixelOf(int orientation, int x, int y, int w, int h) {
    switch (orientation) {
    case 2: return {w - 1 - x, y};
    case 3: return {w - 1 - x, h - 1 - y};
    case 4: return {x, h - 1 - y};
    case 5: return {y, x};
    case 6: return {y, h - 1 - x};
    case 7: return {w - 1 - y, h - 1 - x};
    case 8: return {w - 1 - y, x};
    default: return {x, y};
    }
}

TEST(UprightPicture, EveryExifOrientationPlacesEveryPixel) {
    const int w = 3, h = 2;
    QImage stored(w, h, QImage::Format_RGB32);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) stored.setPixel(x, y, qRgb(10 + x, 20 + y, 30));
    for (int orientation = 0; orientation <= 9; ++orientation) {
        SCOPED_TRACE(orientation);
        QImage shown = UprightPicture(stored, orientation);
        // The thumbnails are turned by the engine's own routine: the same placement.
        const DibPtr dib = DibFromImage(stored);
        ASSERT_TRUE(dib);
        const DibPtr turnedDib = OrientedDib(*dib, orientation);
        ASSERT_TRUE(turnedDib);
        const QImage engine = ImageFromDib(*turnedDib);
        const bool turned = orientation >= 5 && orientation <= 8;
        ASSERT_EQ(shown.size(), turned ? QSize(h, w) : QSize(w, h));
        ASSERT_EQ(engine.size(), shown.size());
        for (int y = 0; y < shown.height(); ++y)
            for (int x = 0; x < shown.width(); ++x) {
                QPoint from = StoredPixelOf(orientation, x, y, w, h);
                EXPECT_EQ(shown.pixel(x, y), stored.pixel(from)) << x << "," << y;
                EXPECT_EQ(engine.pixel(x, y), stored.pixel(from)) << "engine " << x << "," << y;
            }
    }
    EXPECT_TRUE(UprightPicture(QImage(), 6).isNull());
}

// The mean of one colour channel over a rectangle of the picture.
double MeanOf(const QImage& image, const QRect& area, int (*channel)(QRgb)) {
    double sum = 0;
    for (int y = area.top(); y <= area.bottom(); ++y)
        for (int x = area.left(); x <= area.right(); ++x) sum += channel(image.pixel(x, y));
    return sum / (double(area.width()) * area.height());
}

class PreviewOrientationTest : public MainFrameTest {
protected:
    // Opens the record's picture as the list does; the picture the preview got.
    QImage OpenAndCapture(DelFileInfo* record) {
        FoundFileList* list = frame_->listPane();
        int row = -1;
        for (int i = 0; i < list->shownRowCount() && row < 0; ++i)
            if (list->RecordOfRow(i) == record) row = i;
        EXPECT_GE(row, 0);
        if (row < 0) return {};
        QImage shown;
        WhenModalAppears([&](QWidget* modal) {
            if (auto* preview = qobject_cast<PreviewWindow*>(modal)) shown = preview->picture();
            modal->close();
        });
        frame_->commands()->openRow(row);
        return shown;
    }
    // The records found through a directory entry (carved copies have no
    // folder), by their EXIF orientation.
    std::map<int, DelFileInfo*> RecordsByOrientation() {
        std::map<int, DelFileInfo*> found;
        SearchSession& session = frame_->session();
        for (size_t i = 0; i < session.gcDelFileList.Count(); ++i) {
            DelFileInfo* record = session.gcDelFileList.Get(i);
            if (record && record->listed && record->folder && !record->folder->empty())
                found.emplace(record->jpeg.orientation, record);
        }
        return found;
    }
};

// Stored 160 x 120 with red growing to the right and green downwards
// (MakeTestJpeg's gradient); shown in the 480 x 640 preview box.
TEST_F(PreviewOrientationTest, FoundPicturesOpenUprightForEveryOrientation) {
    using namespace veld::test;
    FatImageBuilder b(FatGeometry::Fat16(8192, 4));
    auto dcim = b.Root().AddDir("DCIM", 3);
    for (int o = 1; o <= 8; ++o) {
        TestExif exif;
        exif.make = "VELD";
        exif.orientation = uint16_t(o);
        dcim.AddDeletedFile("O" + std::to_string(o) + ".JPG", uint32_t(20 * o), MakeTestJpeg(160, 120, &exif));
    }
    std::string card = TempPath("oriented.img");
    ASSERT_TRUE(b.WriteToFile(card));
    ASSERT_EQ(SearchAndWait(card), 0);
    std::map<int, DelFileInfo*> records = RecordsByOrientation();

    // Along which axis (x or y) and in which direction red and green grow.
    struct Expect {
        char redAxis;
        int redSign;
        char greenAxis;
        int greenSign;
    };
    const Expect expected[9] = {{},           {'x', 1, 'y', 1},  {'x', -1, 'y', 1}, {'x', -1, 'y', -1},
                                {'x', 1, 'y', -1}, {'y', 1, 'x', 1},  {'y', 1, 'x', -1}, {'y', -1, 'x', -1},
                                {'y', -1, 'x', 1}};
    for (int o = 1; o <= 8; ++o) {
        SCOPED_TRACE(o);
        ASSERT_EQ(records.count(o), 1u);
        QImage shown = OpenAndCapture(records[o]);
        ASSERT_EQ(shown.size(), QSize(kPreviewWidth, kPreviewHeight));
        // Upright a turned photo is 120 x 160 and fills the box; the others
        // are 480 x 360 with white above and below.
        const bool portrait = o >= 5;
        EXPECT_EQ(shown.pixelColor(240, 20) == QColor(Qt::white), !portrait);
        const Expect& e = expected[o];
        auto expectUpright = [&](const QImage& image, const QRect& area) {
            auto growth = [&](char axis, int (*channel)(QRgb)) {
                const int half = (axis == 'x' ? area.width() : area.height()) / 2;
                QRect first = axis == 'x' ? QRect(area.left(), area.top(), half, area.height())
                                          : QRect(area.left(), area.top(), area.width(), half);
                QRect second = axis == 'x' ? first.translated(half, 0) : first.translated(0, half);
                return MeanOf(image, second, channel) - MeanOf(image, first, channel);
            };
            const char other = e.redAxis == 'x' ? 'y' : 'x';
            EXPECT_GT(growth(e.redAxis, qRed) * e.redSign, 60.0);
            EXPECT_LT(std::abs(growth(other, qRed)), 20.0);
            EXPECT_GT(growth(e.greenAxis, qGreen) * e.greenSign, 60.0);
            EXPECT_LT(std::abs(growth(e.redAxis, qGreen)), 20.0);
        };
        expectUpright(shown, portrait ? QRect(0, 0, 480, 640) : QRect(0, 140, 480, 360));
        // The grid draws the record's thumbnail: upright as well, 64 x 48 or
        // 48 x 64 inside its white 64 x 64 square.
        ASSERT_TRUE(records[o]->thumbnail);
        const QImage thumbnail = ImageFromDib(*records[o]->thumbnail);
        ASSERT_EQ(thumbnail.size(), QSize(64, 64));
        EXPECT_EQ(thumbnail.pixelColor(32, 2) == QColor(Qt::white), !portrait);
        EXPECT_EQ(thumbnail.pixelColor(2, 32) == QColor(Qt::white), portrait);
        expectUpright(thumbnail, portrait ? QRect(8, 0, 48, 64) : QRect(0, 8, 64, 48));
    }
}

// A real camera photo (orientation 1) and the same photo with its IFD0
// orientation set to 6, as a camera held upright would write it.
TEST_F(PreviewOrientationTest, RealPhotoTurnedByItsOrientationTag) {
    const fs::path photo = fs::path(VELD_SHARED_PHOTOS) / "Canon_40D.jpg";
    if (!fs::exists(photo)) GTEST_SKIP() << "shared photos not present";
    const std::vector<uint8_t> original = ReadWholeFile(photo.string());
    ASSERT_FALSE(original.empty());
    // The photo is in Intel order: tag 274, SHORT, count 1, value 1.
    const uint8_t entry[] = {0x12, 0x01, 0x03, 0x00, 0x01, 0x00, 0x00, 0x00, 0x01, 0x00};
    auto at = std::search(original.begin(), original.end(), std::begin(entry), std::end(entry));
    ASSERT_NE(at, original.end());
    std::vector<uint8_t> upright = original;
    upright[size_t(at - original.begin()) + 8] = 6;

    using namespace veld::test;
    FatImageBuilder b(FatGeometry::Fat16(8192, 4));
    auto dcim = b.Root().AddDir("DCIM", 3);
    dcim.AddDeletedFile("LAND.JPG", 20, original);
    dcim.AddDeletedFile("PORT.JPG", 40, upright);
    std::string card = TempPath("photo.img");
    ASSERT_TRUE(b.WriteToFile(card));
    ASSERT_EQ(SearchAndWait(card), 0);
    std::map<int, DelFileInfo*> records = RecordsByOrientation();
    ASSERT_EQ(records.count(1), 1u);
    ASSERT_EQ(records.count(6), 1u);

    // 100 x 68 as stored: wide, white above and below in the box.
    QImage landscape = OpenAndCapture(records[1]);
    ASSERT_FALSE(landscape.isNull());
    EXPECT_EQ(landscape.pixelColor(240, 20), QColor(Qt::white));
    EXPECT_NE(landscape.pixelColor(240, 320), QColor(Qt::white));
    // Turned, 68 x 100: the full height of the box, white left and right.
    QImage portrait = OpenAndCapture(records[6]);
    ASSERT_FALSE(portrait.isNull());
    EXPECT_NE(portrait.pixelColor(240, 20), QColor(Qt::white));
    EXPECT_EQ(portrait.pixelColor(5, 320), QColor(Qt::white));
    // Its left column is the stored bottom row: compare a band of each.
    QImage stored = LoadPictureBitmap(QByteArray(reinterpret_cast<const char*>(original.data()),
                                                 qsizetype(original.size())));
    ASSERT_EQ(stored.size(), QSize(100, 68));
    const double storedBottomRed = MeanOf(stored, QRect(0, 64, 100, 4), qRed);
    const double storedTopRed = MeanOf(stored, QRect(0, 0, 100, 4), qRed);
    const double shownLeftRed = MeanOf(portrait, QRect(30, 0, 20, 640), qRed);
    const double shownRightRed = MeanOf(portrait, QRect(430, 0, 20, 640), qRed);
    EXPECT_LT(std::abs(shownLeftRed - storedBottomRed), std::abs(shownLeftRed - storedTopRed));
    EXPECT_LT(std::abs(shownRightRed - storedTopRed), std::abs(shownRightRed - storedBottomRed));
}

}  // namespace
}  // namespace veld::guitest
