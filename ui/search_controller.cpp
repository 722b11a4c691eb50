#include "ui/search_controller.h"

#include <QItemSelectionModel>

#include <algorithm>
#include <cstdio>
#include <vector>

#include <QFileInfo>

#include "base/format_text.h"
#include "base/trace.h"
#include "platform/removable_drives.h"
#include "search/search_driver.h"
#include "ui/found_file_filter.h"
#include "ui/found_file_model.h"
#include "ui/recent_images.h"
#include "ui/system_error_text.h"

namespace veld {

SearchController::SearchController(QObject* parent)
    : QObject(parent),
      target_(this, [this](int message, intptr_t wParam, intptr_t) { onEngineMessage(message, wParam); }),
      files_(std::make_unique<FoundFileModel>(&session_)),
      shown_(std::make_unique<FoundFileFilter>(files_.get())),
      selection_(std::make_unique<QItemSelectionModel>(shown_.get())) {
    connect(selection_.get(), &QItemSelectionModel::selectionChanged, this,
            [this] { showStatus(1, selectionSummary()); });
    // A refill (a filter change) empties the selection without a word to its
    // listeners: the summary must not go on counting files no longer shown.
    connect(shown_.get(), &QAbstractItemModel::modelReset, this, [this] { showStatus(1, selectionSummary()); });
    session_.progress.Attach(this);
}

SearchController::~SearchController() {
    // The worker posts to this object and reports to it: it is stopped and
    // joined while everything it reaches is still here.
    RequestCancel(session_);
    ResetSearch(session_);
    // Waits for a report still inside SetLine or SetPercent.
    session_.progress.Attach(nullptr);
}

bool SearchController::running() const { return session_.runningState.load() != 0; }

void SearchController::setCommandsEnabled(bool enabled) {
    if (enabled == commandsEnabled_) return;
    commandsEnabled_ = enabled;
    emit commandsEnabledChanged(enabled);
}

QString SearchController::selectionSummary() {
    const std::vector<int> records = SelectedRecords(*selection_);
    if (records.empty()) return QStringLiteral(" ");
    // Damaged 64-bit sizes must not wrap the sum: it stops at the largest size.
    uint64_t total = 0;
    for (int index : records)
        if (const DelFileInfo* record = index >= 0 ? session_.gcDelFileList.Get(size_t(index)) : nullptr)
            total += std::min(record->fileSize, UINT64_MAX - total);
    char text[160];
    std::snprintf(text, sizeof text, "選択ファイル数=%d %s", int(records.size()), FormatSizeText(total).c_str());
    return QString::fromUtf8(text);
}

bool SearchController::start(char driveLetter, const std::string& imagePath, const SearchOptions& options) {
    clearResults();
    if (driveLetter != 0) {
        const QString device = QString::fromStdString(DevicePathOfDriveLetter(driveLetter));
        sourceName_ = device.isEmpty() ? QStringLiteral("%1:").arg(QChar::fromLatin1(driveLetter))
                                       : QStringLiteral("%1: (%2)").arg(QChar::fromLatin1(driveLetter), device);
    } else {
        sourceName_ = QFileInfo(QString::fromStdString(imagePath)).fileName();
    }
    imagePath_ = imagePath;
    showStatus(1, QStringLiteral("検索開始"));
    if (StartSearchWorker(session_, &target_, driveLetter, imagePath, options) != 0) {
        finishSearch(session_.resultCode.load());
        showStatus(1, QStringLiteral("スレッド起動エラー"));
        return false;
    }
    setCommandsEnabled(false);
    emit searchStarted();
    return true;
}

void SearchController::requestCancel() { RequestCancel(session_); }

void SearchController::clearResults() {
    emptyViews();
    ResetSearch(session_);
    cancelled_ = false;
    unsaved_ = false;
    sourceName_.clear();
    emit resultsCleared();
}

void SearchController::reportSaved(const QString& folder, int saved, int failed, bool cancelled) {
    if (saved > 0) unsaved_ = false;
    emit filesSaved(folder, saved, failed, cancelled);
}

void SearchController::emptyViews() {
    // The selection goes first, as a change the status bar hears of.
    selection_->clear();
    shown_->unsort();
    files_->clear();
}

void SearchController::showEveryFoundFile() {
    selection_->clear();
    shown_->unsort();
    const int count = int(session_.gcDelFileList.Count());
    std::vector<int> rows(static_cast<size_t>(count));
    for (int i = 0; i < count; ++i) rows[size_t(i)] = i;
    files_->setRows(std::move(rows));
    session_.shownCount = count;
}

void SearchController::onEngineMessage(int message, intptr_t wParam) {
    switch (message) {
    case MsgFoundFile: feedOneFoundFile(); break;
    case MsgSearchFinished: finishSearch(int(wParam)); break;
    default: break;
    }
}

void SearchController::feedOneFoundFile() {
    // A view that lets the event loop run while it takes a row may bring the
    // next message in: that one feeds nothing, the final refresh catches up.
    if (feeding_) return;
    feeding_ = true;
    const size_t shown = size_t(session_.shownCount.load());
    if (shown < session_.gcDelFileList.Count()) {
        try {
            if (const DelFileInfo* record = session_.gcDelFileList.Get(shown)) {
                files_->appendRow(record->index);
                ++session_.shownCount;
                emit fileFound(record->index);
            }
        } catch (...) {
            // The entry is offered again on the next message.
            TraceLine("ERROR main window: showing found file %zu failed: %s", shown, CaughtExceptionText().c_str());
        }
    }
    feeding_ = false;
}

void SearchController::finishSearch(int resultCode) {
    WaitForSearchWorker(session_, 2000);
    resultsAvailable_ = resultCode == 0;
    cancelled_ = session_.Cancelled();
    const int found = int(session_.FoundCount.load());
    unsaved_ = found > 0;
    // An image that could be searched is offered again in the File menu.
    if (resultCode == 0 && !imagePath_.empty()) RememberRecentImage(imagePath_);
    showStatus(1, QStringLiteral(" "));
    // What the results are: all the search could find, or only part of it.
    QString status;
    if (cancelled_)
        status = QStringLiteral("検索を中断しました: 見つかったファイル %1 個は一部です").arg(found);
    else if (resultCode == 0)
        status = QStringLiteral("検索が終了しました: 見つかったファイル %1 個").arg(found);
    if (resultCode == 0 && !session_.notExamined.empty())
        status += QStringLiteral(" (検査できなかったクラスタがあります: %1 範囲)").arg(session_.notExamined.size());
    showStatus(0, status);
    setCommandsEnabled(true);
    showEveryFoundFile();
    emit searchFinished(resultCode);

    const int result = session_.resultCode.load();
    if (result != SearchOk) {
        // Where and why: the source and, for a source that would not open,
        // the system's reason.
        std::string detail = session_.lastOpenError;
        if (detail.empty()) detail = imagePath_.empty() ? sourceName_.toStdString() : imagePath_;
        ErrorBox(nullptr, "検索中にエラーが発生しました \n(%s)\n%s", SearchErrorText(result).c_str(),
                 WithJapaneseReasons(detail).toUtf8().constData());
    } else if (session_.FoundCount.load() == 0 && !session_.Cancelled()) {
        MessageBoxText("ファイルは見つかりませんでした");
    }
    if (result == SearchOk && !session_.notExamined.empty())
        MessageBoxText("%s", NotExaminedMessage(session_.notExamined).c_str());
}

void SearchController::SetLine(int line, const std::string& text) {
    if (line < 1 || line > 3) return;
    {
        std::lock_guard<std::mutex> lock(progressLock_);
        pendingLines_[line - 1] = QString::fromUtf8(text);
        lineDirty_[line - 1] = true;
    }
    scheduleProgress();
}

void SearchController::SetPercent(int percent) {
    {
        std::lock_guard<std::mutex> lock(progressLock_);
        pendingPercent_ = std::clamp(percent, 0, 100);
        percentDirty_ = true;
    }
    scheduleProgress();
}

void SearchController::scheduleProgress() {
    // One queued update covers any number of reports made before it runs;
    // the worker never waits for the interface thread.
    if (progressScheduled_.exchange(true)) return;
    QMetaObject::invokeMethod(this, [this] { emitProgress(); }, Qt::QueuedConnection);
}

void SearchController::emitProgress() {
    progressScheduled_.store(false);
    QString texts[3];
    bool dirty[3];
    int percent = 0;
    bool percentDirty = false;
    {
        std::lock_guard<std::mutex> lock(progressLock_);
        for (int i = 0; i < 3; ++i) {
            dirty[i] = lineDirty_[i];
            lineDirty_[i] = false;
            if (dirty[i]) texts[i] = pendingLines_[i];
        }
        percentDirty = percentDirty_;
        percentDirty_ = false;
        percent = pendingPercent_;
    }
    for (int i = 0; i < 3; ++i)
        if (dirty[i]) emit progressText(i + 1, texts[i]);
    if (percentDirty) emit progressPercent(percent);
}

}  // namespace veld
