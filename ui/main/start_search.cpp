#include "ui/main/start_search.h"

#include <QPointer>
#include <QWidget>

#include "base/trace.h"
#include "search/search_driver.h"
#include "ui/main/found_file_tree.h"
#include "ui/main/main_frame.h"
#include "ui/search/search_progress_window.h"
#include "ui/search/search_start_dlg.h"
#include "ui/search/sel_drive_dlg.h"
#include "ui/search/sel_partition_dlg.h"

namespace veld {

namespace {

QPointer<CSearchProgress> gProgress;
SearchSourceChooser gChooser;

void SetMainStatus(const char* text) {
    if (CMainFrame* frame = CMainFrame::Instance()) frame->SetStatusText(1, QString::fromUtf8(text));
}

// The two dialogs; false when either was cancelled (result in *cancelCode).
bool ChooseSource(SearchSession& session, QWidget* startWindow, char* letter, std::string* imagePath,
                  SearchOptions* options, int* cancelCode) {
    if (gChooser) {
        *cancelCode = SearchDriveCancelled;
        return gChooser(letter, imagePath, options);
    }
    CSelDriveDlg drive(startWindow);
    drive.pictureId = 171;
    drive.imageButton = true;
    drive.hideHardDisks = true;
    drive.session = &session;
    if (drive.exec() != QDialog::Accepted) {
        *cancelCode = SearchDriveCancelled;
        return false;
    }
    *letter = drive.choseDrive ? drive.chosenLetter() : 0;
    *imagePath = drive.choseDrive ? std::string() : drive.imagePath.toStdString();
    // A whole-card image with several volumes: which one.
    int partition = kPartitionAuto;
    if (!drive.choseDrive && !AskPartitionToSearch(startWindow, *imagePath, &partition)) {
        *cancelCode = SearchDriveCancelled;
        return false;
    }

    CSearchStartDlg start(*letter, QString::fromStdString(*imagePath), startWindow, &session, partition);
    if (start.exec() != QDialog::Accepted) {
        *cancelCode = SearchOptionsCancelled;
        return false;
    }
    *options = start.options();
    return true;
}

}  // namespace

void SetSearchSourceForTest(SearchSourceChooser chooser) { gChooser = std::move(chooser); }

CSearchProgress* CurrentSearchProgress() { return gProgress.data(); }

void ResetSearchAndViews(SearchSession& session) {
    ResetSearch(session);
    RefreshResultViews(UpdateCleared, nullptr);
}

namespace {

// From the reset to the running worker, once the source and options are known.
int BeginSearch(SearchSession& session, QWidget* startWindow, MessageTarget* target, char letter,
                const std::string& imagePath, const SearchOptions& options) {
    ResetSearchAndViews(session);
    SetMainStatus("検索開始");

    delete gProgress.data();
    gProgress = new CSearchProgress(startWindow);
    gProgress->Open(startWindow, QStringLiteral("削除ファイル検索"), QStringLiteral("検索中"),
                    QStringLiteral("キャンセル"), &session.progress);

    if (StartSearchWorker(session, target, letter, imagePath, options) != 0) {
        SetMainStatus("スレッド起動エラー");
        FinishSearch(session);
        return SearchOptionsCancelled;
    }
    return SearchStarted;
}

}  // namespace

int StartSearch(SearchSession& session, QWidget* startWindow, MessageTarget* target) {
    char letter = 0;
    std::string imagePath;
    SearchOptions options;
    int cancelCode = SearchDriveCancelled;
    if (!ChooseSource(session, startWindow, &letter, &imagePath, &options, &cancelCode)) return cancelCode;
    return BeginSearch(session, startWindow, target, letter, imagePath, options);
}

int StartSearchOfImage(SearchSession& session, QWidget* startWindow, MessageTarget* target,
                       const std::string& imagePath) {
    // The options dialog, not shown: it opens the source, reads the saved
    // options and sets the range to the whole volume.
    CSearchStartDlg start(0, QString::fromStdString(imagePath), startWindow, &session, kPartitionAuto);
    if (start.failed()) {
        MessageBoxText("%s", start.errorText().toUtf8().constData());
        return SearchOptionsCancelled;
    }
    return BeginSearch(session, startWindow, target, 0, imagePath, start.options());
}

void FinishSearch(SearchSession& session) {
    WaitForSearchWorker(session, 2000);
    RefreshResultViews(UpdateFinished, nullptr);
    if (gProgress) gProgress->hide();
    const int result = session.resultCode.load();
    if (result != SearchOk) {
        MessageBoxText("検索中にエラーが発生しました \n(%s)", SearchErrorText(result).c_str());
    } else if (session.FoundCount.load() == 0 && !session.Cancelled()) {
        MessageBoxText("ファイルは見つかりませんでした");
    }
    if (result == SearchOk && !session.notExamined.empty())
        MessageBoxText("%s", NotExaminedMessage(session.notExamined).c_str());
    // The window detaches itself from the engine's progress reports when it
    // is destroyed.
    delete gProgress.data();
    gProgress = nullptr;
}

}  // namespace veld
