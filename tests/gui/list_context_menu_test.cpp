// The list's context menu driven as a user does: a right click on a row
// opens it, a click on an item runs the command. Large found files are
// extracted under the common progress dialog, whose event processing must
// not pull the menu out from under its own command.
#include "found_files_fixture.h"  // first: see there

#include <QContextMenuEvent>
#include <QMenu>
#include <QTest>

#include "ui/common_progress.h"
#include "ui/extract_with_progress.h"
#include "ui/main/found_file_list.h"
#include "ui/viewers/hex_dump_dialog.h"
#include "ui/viewers/preview_window.h"

namespace veld::guitest {
namespace {

// A picture that decodes, padded with APP2 segments of pseudo-random bytes
// to at least minBytes (a large camera JPEG in all but its pixel count).
std::vector<uint8_t> LargeJpeg(size_t minBytes) {
    std::vector<uint8_t> jpeg = test::MakeTestJpeg(320, 240);
    std::vector<uint8_t> padding;
    uint32_t state = 12345;
    while (jpeg.size() + padding.size() < minBytes) {
        const size_t payload = 65533;  // the length field counts itself
        padding.insert(padding.end(), {0xFF, 0xE2, uint8_t((payload + 2) >> 8), uint8_t((payload + 2) & 0xFF)});
        for (size_t i = 0; i < payload; ++i) {
            state = state * 1103515245u + 12345u;
            padding.push_back(uint8_t(state >> 16));
        }
    }
    jpeg.insert(jpeg.begin() + 2, padding.begin(), padding.end());
    return jpeg;
}

class ListContextMenuTest : public MainFrameTest {
protected:
    void SetUp() override {
        MainFrameTest::SetUp();
        using namespace veld::test;
        big_ = LargeJpeg(kExtractProgressBytes + 76000);
        FatImageBuilder b(FatGeometry::Fat16(8192, 4));
        auto dcim = b.Root().AddDir("DCIM", 3);
        dcim.AddDeletedFile("BIG.JPG", 20, big_);
        std::string card = TempPath("big.img");
        ASSERT_TRUE(b.WriteToFile(card));
        ASSERT_EQ(SearchAndWait(card), 0);
        list_ = frame_->listPane();
        for (int row = 0; row < list_->shownRowCount() && bigRow_ < 0; ++row)
            if (list_->RecordOfRow(row)->fileSize == big_.size()) bigRow_ = row;
        ASSERT_GE(bigRow_, 0);
        frame_->activateWindow();
    }

    // A right click on the large row: the button, then the context-menu
    // event the window system makes of it.
    void RightClick() {
        const QPoint at = list_->rowRect(bigRow_).center();
        QTest::mouseClick(list_->viewport(), Qt::RightButton, {}, at);
        QContextMenuEvent event(QContextMenuEvent::Mouse, at, list_->viewport()->mapToGlobal(at));
        QApplication::sendEvent(list_->viewport(), &event);
    }

    // Right-clicks the large row and clicks the menu item with the text.
    void ChooseFromContextMenu(const QString& text) {
        list_->clearSelection();
        list_->setRowSelected(bigRow_, true);
        RightClick();
        auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
        ASSERT_NE(menu, nullptr) << "no context menu";
        QAction* item = nullptr;
        for (QAction* a : menu->actions())
            if (a->text() == text) item = a;
        ASSERT_NE(item, nullptr) << text.toStdString();
        ASSERT_TRUE(item->isEnabled());
        // The menu is deleted when it closes, but not before it has finished
        // handling the click (its own code still runs then).
        auto clickOver = std::make_shared<bool>(false);
        auto deletedDuringClick = std::make_shared<bool>(false);
        QObject::connect(menu, &QObject::destroyed, [clickOver, deletedDuringClick] {
            if (!*clickOver) *deletedDuringClick = true;
        });
        QTest::mouseClick(menu, Qt::LeftButton, {}, menu->actionGeometry(item).center());
        *clickOver = true;
        EXPECT_FALSE(*deletedDuringClick) << "the menu was deleted while handling the click on its item";
        // The command may run once the menu's own event has been handled.
        for (int i = 0; i < 5; ++i) QCoreApplication::processEvents();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }

    FoundFileList* list_ = nullptr;
    int bigRow_ = -1;
    std::vector<uint8_t> big_;
};

TEST_F(ListContextMenuTest, OpenAndDumpOfALargeFileFromTheMenuLeaveTheMenuIntact) {
    ASSERT_GE(big_.size(), size_t(kExtractProgressBytes));

    // Open: the extraction shows the progress dialog, then the preview.
    bool progressSeen = false;
    QSize previewSize;
    WhenModalAppears([&](QWidget* modal) {
        if (auto* preview = qobject_cast<PreviewWindow*>(modal)) previewSize = preview->pictureSize();
        modal->close();
    });
    QTimer progressProbe;
    QObject::connect(&progressProbe, &QTimer::timeout, [&] {
        for (CommonProgress* progress : frame_->findChildren<CommonProgress*>())
            if (progress->isVisible()) progressSeen = true;
    });
    progressProbe.start(0);
    ChooseFromContextMenu(QStringLiteral("開く(&O)"));
    EXPECT_EQ(previewSize, QSize(kPreviewWidth, kPreviewHeight));

    // Data dump: the whole file is paged through.
    QString header;
    WhenModalAppears([&](QWidget* modal) {
        if (auto* dump = qobject_cast<HexDumpDialog*>(modal)) header = dump->lines().value(0);
        modal->close();
    });
    ChooseFromContextMenu(QStringLiteral("データダンプ表示(&D)"));
    progressProbe.stop();
    EXPECT_TRUE(header.startsWith(QStringLiteral("全サイズ:%1 ").arg(big_.size()))) << header.toStdString();
    EXPECT_TRUE(progressSeen);

    // The next right click opens a fresh menu, which Escape closes.
    RightClick();
    QWidget* menu = QApplication::activePopupWidget();
    ASSERT_NE(menu, nullptr);
    QTest::keyClick(menu, Qt::Key_Escape);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_EQ(QApplication::activePopupWidget(), nullptr);
    EXPECT_TRUE(messages_.empty());
}

}  // namespace
}  // namespace veld::guitest
