// Shared set-up of the main-window tests: a FAT16 card image with live,
// deleted and long-named photos, a deleted folder and a text file; a search
// controller and a main window showing it; message boxes captured and
// questions answered instead of shown; the search source chosen by code
// instead of the two dialogs.
#pragma once

#include <QAction>
#include <QApplication>
#include <QCoreApplication>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTimer>
#include <gtest/gtest.h>

#include <fstream>
#include <functional>
#include <iterator>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "base/trace.h"
#include "search/search_driver.h"
#include "support/fat_image_builder.h"
#include "support/test_jpeg.h"
#include "ui/main/main_frame.h"
#include "ui/main/start_search.h"
#include "ui/message_boxes.h"
#include "ui/search/search_progress_window.h"
#include "ui/search_controller.h"
#include "ui/shell_open.h"

namespace veld::guitest {

inline std::vector<uint8_t> ReadWholeFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Runs fn once the next modal dialog is up (polled by a zero timer, never by
// sleeping), with the dialog as argument.
inline void WhenModalAppears(std::function<void(QWidget*)> fn) {
    // The poll holds itself only weakly; the pending timer holds it strongly,
    // so it is released once the dialog was handled.
    auto poll = std::make_shared<std::function<void()>>();
    std::weak_ptr<std::function<void()>> self = poll;
    *poll = [fn, self] {
        if (QWidget* modal = QApplication::activeModalWidget()) {
            fn(modal);
            return;
        }
        if (auto again = self.lock()) QTimer::singleShot(5, [again] { (*again)(); });
    };
    QTimer::singleShot(0, [poll] { (*poll)(); });
}

class MainFrameTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir_.isValid());
        SetMessageBoxSink([this](const MessageBoxRequest& r) { messages_.push_back(r.text); });
        SetShellOpenerForTest([this](const QString& path) {
            opened_.push_back(path);
            return true;
        });
        // Questions are answered here, never by a box that would wait for a click.
        SetQuestionAnswererForTest([this](const QString& text) {
            asked_.push_back(text);
            return answerYes_;
        });
        controller_ = std::make_unique<SearchController>();
        frame_ = std::make_unique<MainFrame>(*controller_);
        frame_->show();
    }
    void TearDown() override {
        SetSearchSourceForTest(nullptr);
        frame_.reset();
        controller_.reset();
        SetMessageBoxSink(nullptr);
        SetShellOpenerForTest(nullptr);
        SetQuestionAnswererForTest(nullptr);
    }

    // A command of the window, found by its action's object name.
    QAction* Action(const char* name) const {
        QAction* action = frame_->findChild<QAction*>(QString::fromLatin1(name));
        EXPECT_NE(action, nullptr) << name;
        return action;
    }
    // The search's progress window while it shows, or null.
    SearchProgressWindow* ShownSearchProgress() const {
        for (SearchProgressWindow* window : frame_->findChildren<SearchProgressWindow*>())
            if (window->isVisible()) return window;
        return nullptr;
    }

    std::string TempPath(const std::string& name) const { return dir_.filePath(QString::fromStdString(name)).toStdString(); }

    // The card: /DCIM/100TEST with live A.JPG, deleted B.JPG (EXIF model and
    // size), a deleted long-named photo and a deleted NOTE.TXT; a deleted
    // folder /OLD holding another deleted B.JPG. Deleted short names lose
    // their first letter, so both B.JPG come back under the same name.
    std::string BuildCard() {
        using namespace veld::test;
        FatImageBuilder b(FatGeometry::Fat16(8192, 4));
        TestExif exif;
        exif.make = "VELD";
        exif.model = "TESTCAM-1";
        exif.dateTime = "2020:05:06 07:08:10";
        exif.pixelX = 320;
        exif.pixelY = 240;
        live_ = MakeTestJpeg(160, 120);
        photoB_ = MakeTestJpeg(320, 240, &exif);
        photoLong_ = MakeTestJpeg(200, 100);
        note_.assign(3000, 'x');
        photoOld_ = MakeTestJpeg(128, 96);
        auto root = b.Root();
        auto dcim = root.AddDir("DCIM", 3);
        auto test = dcim.AddDir("100TEST", 4);
        test.AddFile("A.JPG", 5, live_);
        test.AddDeletedFile("B.JPG", 20, photoB_);
        test.AddDeletedFile("LONGNA~1.JPG", 60, photoLong_, "休日の写真.jpg");
        test.AddDeletedFile("NOTE.TXT", 100, note_);
        auto old = root.AddDeletedDir("OLD", 120);
        old.AddDeletedFile("B.JPG", 130, photoOld_);
        std::string path = TempPath("card.img");
        EXPECT_TRUE(b.WriteToFile(path));
        return path;
    }

    // An empty FAT16 card: nothing to find.
    std::string BuildEmptyCard() {
        using namespace veld::test;
        FatImageBuilder b(FatGeometry::Fat16(8192, 4));
        b.Root().AddDir("DCIM", 3);
        std::string path = TempPath("empty.img");
        EXPECT_TRUE(b.WriteToFile(path));
        return path;
    }

    void ChooseSource(const std::string& imagePath) {
        SetSearchSourceForTest([imagePath](char* letter, std::string* path, SearchOptions* options) {
            *letter = 0;
            *path = imagePath;
            *options = SearchOptions{};
            return true;
        });
    }

    // Starts a search through the menu command and waits for its end.
    int SearchAndWait(const std::string& imagePath) {
        ChooseSource(imagePath);
        QSignalSpy finished(controller_.get(), &SearchController::searchFinished);
        frame_->onStartSearch();
        if (finished.isEmpty() && !finished.wait(30000)) {
            ADD_FAILURE() << "the search did not finish";
            return -999;
        }
        return finished.first().first().toInt();
    }

    QTemporaryDir dir_;
    std::unique_ptr<SearchController> controller_;
    std::unique_ptr<MainFrame> frame_;
    std::vector<std::string> messages_;
    std::vector<QString> opened_;
    // The Yes/No questions asked, and the answer each gets.
    std::vector<QString> asked_;
    bool answerYes_ = true;
    std::vector<uint8_t> live_, photoB_, photoLong_, note_, photoOld_;
};

}  // namespace veld::guitest
