#include "ui/main/start_search.h"

#include <QWidget>

#include "base/trace.h"
#include "ui/search/search_progress_window.h"
#include "ui/search/search_start_dlg.h"
#include "ui/picture_loader.h"
#include "ui/search/sel_drive_dlg.h"
#include "ui/search/sel_partition_dlg.h"
#include "ui/search_controller.h"
#include "ui/unsaved_files_question.h"

namespace veld {

namespace {

SearchSourceChooser gChooser;

// The two dialogs; false when either was cancelled (result in *cancelCode).
bool ChooseSource(SearchSession& session, QWidget* startWindow, char* letter, std::string* imagePath,
                  SearchOptions* options, int* cancelCode) {
    if (gChooser) {
        *cancelCode = SearchDriveCancelled;
        return gChooser(letter, imagePath, options);
    }
    CSelDriveDlg drive(startWindow);
    drive.picture = Picture::SearchDrive;
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

// From the progress window to the running worker, once the source and
// options are known.
int BeginSearch(SearchController& controller, QWidget* startWindow, char letter, const std::string& imagePath,
                const SearchOptions& options) {
    // The new search empties the list: found files not saved yet go only
    // when the user says so.
    const QString source = imagePath.empty() ? QStringLiteral("ドライブ %1:").arg(QChar::fromLatin1(letter))
                                             : QString::fromStdString(imagePath);
    if (!MayDropUnsavedFiles(controller, startWindow, QStringLiteral("検索結果を消して %1 を検索しますか？").arg(source)))
        return SearchResultsKept;
    auto* progress = new SearchProgressWindow(controller, startWindow);
    progress->Open(QStringLiteral("削除ファイル検索"), QStringLiteral("検索中"), QStringLiteral("キャンセル"));
    return controller.start(letter, imagePath, options) ? SearchStarted : SearchOptionsCancelled;
}

}  // namespace

void SetSearchSourceForTest(SearchSourceChooser chooser) { gChooser = std::move(chooser); }

int StartSearch(SearchController& controller, QWidget* startWindow) {
    char letter = 0;
    std::string imagePath;
    SearchOptions options;
    int cancelCode = SearchDriveCancelled;
    if (!ChooseSource(controller.session(), startWindow, &letter, &imagePath, &options, &cancelCode))
        return cancelCode;
    return BeginSearch(controller, startWindow, letter, imagePath, options);
}

int StartSearchOfImage(SearchController& controller, QWidget* startWindow, const std::string& imagePath) {
    // The options dialog, not shown: it opens the source, reads the saved
    // options and sets the range to the whole volume.
    CSearchStartDlg start(0, QString::fromStdString(imagePath), startWindow, &controller.session(), kPartitionAuto);
    if (start.failed()) {
        ErrorBox(startWindow, "%s", start.errorText().toUtf8().constData());
        return SearchOptionsCancelled;
    }
    return BeginSearch(controller, startWindow, 0, imagePath, start.options());
}

}  // namespace veld
