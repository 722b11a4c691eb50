#include "ui/main/found_file_commands.h"

#include <QAction>
#include <QItemSelectionModel>
#include <QMenu>
#include <QWidget>

#include <filesystem>

#include "base/file_name_kind.h"
#include "base/trace.h"
#include "finder/found_file_thumbnail.h"
#include "finder/media_format.h"
#include "search/found_file_columns.h"
#include "search/work_folders.h"
#include "ui/extract_with_progress.h"
#include "ui/found_file_model.h"
#include "ui/main/save_dialog.h"
#include "ui/picture_loader.h"
#include "ui/search_controller.h"
#include "ui/shell_open.h"
#include "ui/viewers/hex_dump_dialog.h"
#include "ui/viewers/preview_window.h"

namespace veld {

namespace {

// Clips have no viewer here: the desktop's player shows them.
bool IsClip(const DelFileInfo& record) {
    const MediaFormat format = MediaFormat(record.media.format);
    if (format != FormatNone) return !MediaFormatIsPicture(format);
    return ClassifyFileName(FoundFileColumnText(record, ColName)) == KindMovie;
}

}  // namespace

FoundFileCommands::FoundFileCommands(SearchController& controller, QItemSelectionModel* shown, QWidget* window)
    : QObject(window), controller_(controller), shown_(shown), window_(window) {
    addAction("openFoundFile", QStringLiteral("開く(&O)"), [this] {
        if (const int row = firstSelectedRow(); row >= 0) openRow(row);
    });
    addAction("saveShownFiles", QStringLiteral("保存(&S)"), [this] { save(); });
    addAction("openSaveFolder", QStringLiteral("保存先フォルダを開く(&O)"), [this] { openSaveFolder(); });
    addAction("dumpFoundFile", QStringLiteral("データダンプ表示(&D)"), [this] {
        if (const int row = firstSelectedRow(); row >= 0) dumpRow(row);
    });
}

QAction* FoundFileCommands::addAction(const char* name, const QString& text, std::function<void()> command) {
    auto* action = new QAction(text, this);
    action->setObjectName(QString::fromLatin1(name));
    // Open and dump let the event loop run while they extract: the menu,
    // deleted when it closes, must not be in the middle of triggering then.
    connect(action, &QAction::triggered, this, [this, command] {
        QMetaObject::invokeMethod(this, command, Qt::QueuedConnection);
    });
    return action;
}

QAction* FoundFileCommands::action(const char* name) const {
    return findChild<QAction*>(QString::fromLatin1(name), Qt::FindDirectChildrenOnly);
}

int FoundFileCommands::firstSelectedRow() const {
    const std::vector<int> rows = SelectedRows(*shown_);
    return rows.empty() ? -1 : rows.front();
}

QMenu* FoundFileCommands::contextMenu(QWidget* parent) {
    const size_t selected = SelectedRows(*shown_).size();
    action("openFoundFile")->setEnabled(selected == 1);
    action("saveShownFiles")->setEnabled(shown_->model()->rowCount() > 0);
    action("dumpFoundFile")->setEnabled(selected == 1);
    auto* menu = new QMenu(parent);
    menu->addAction(action("openFoundFile"));
    menu->addSeparator();
    menu->addAction(action("saveShownFiles"));
    menu->addAction(action("openSaveFolder"));
    menu->addSeparator();
    menu->addAction(action("dumpFoundFile"));
    return menu;
}

void FoundFileCommands::popUpContextMenu(QWidget* view, const QPoint& global) {
    QMenu* menu = contextMenu(view);
    menu->setAttribute(Qt::WA_DeleteOnClose);
    menu->popup(global);
}

bool FoundFileCommands::loadPicture(int row, QImage* picture, QString* caption) {
    const int index = RecordIndexOfRow(*shown_->model(), row);
    DelFileInfo* record = index >= 0 ? controller_.session().gcDelFileList.Get(size_t(index)) : nullptr;
    // Only pictures open; other files have no viewer here.
    if (!record || record->isImage != 1) return false;
    ExtractRequest request;
    request.toMemory = true;
    ExtractOutcome outcome = ExtractFoundFileWithProgress(controller_, window_, *record, request, true);
    if (outcome.memory.empty()) return false;
    QByteArray bytes(reinterpret_cast<const char*>(outcome.memory.data()), qsizetype(outcome.memory.size()));
    // Shown upright as the camera's orientation tag says (portrait photos
    // are stored turned on their side). HEIF and RAW pictures (a RAW through
    // its embedded JPEG) are decoded by the engine, upright already.
    QImage upright;
    if (DibPtr decoded = DecodeFoundFilePicture(*record, outcome.memory.data(), outcome.memory.size()))
        upright = ImageFromDib(*decoded);
    else
        upright = UprightPicture(LoadPictureBitmap(bytes), record->jpeg.orientation);
    if (upright.isNull()) return false;
    *picture = ScaleImageOnWhite(upright, kPreviewWidth, kPreviewHeight);
    *caption = QString::fromStdString(FoundFileColumnText(*record, 0));
    return true;
}

void FoundFileCommands::openRow(int row) {
    const int index = RecordIndexOfRow(*shown_->model(), row);
    DelFileInfo* record = index >= 0 ? controller_.session().gcDelFileList.Get(size_t(index)) : nullptr;
    if (!record) return;
    ClearWorkFolders();
    if (IsClip(*record)) {
        playClip(*record);
        return;
    }
    QImage picture;
    QString caption;
    if (!loadPicture(row, &picture, &caption)) return;
    PreviewWindow view(window_);
    // The arrow keys go on to the next picture that shows, in the views'
    // order; the views' current file follows the preview.
    int shownRow = row;
    view.setPageTurner([this, &shownRow](int step, QImage* next, QString* nextCaption) {
        const int rows = shown_->model()->rowCount();
        for (int candidate = shownRow + step; candidate >= 0 && candidate < rows; candidate += step) {
            if (!loadPicture(candidate, next, nextCaption)) continue;
            shownRow = candidate;
            const QModelIndex index = shown_->model()->index(candidate, 0);
            shown_->setCurrentIndex(index, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
            return true;
        }
        return false;
    });
    view.Show(picture, caption);
}

std::string FoundFileCommands::extractToWorkFolder(const DelFileInfo& record, const char* failure) {
    ExtractRequest request;  // file mode into the work folder
    ExtractOutcome outcome = ExtractFoundFileWithProgress(controller_, window_, record, request, true);
    if (outcome.path.empty()) {
        // The short text, then which file and why.
        const std::string name = FoundFileColumnText(record, ColName);
        const std::string reason = outcome.reason.empty() ? std::string() : ": " + outcome.reason;
        if (outcome.result == ExtractCreateFailed || outcome.result == ExtractWriteFailed)
            ErrorBox(window_, "%s\n書き込みエラー\n%s%s", failure, name.c_str(), reason.c_str());
        else if (outcome.result == -2)
            ErrorBox(window_, "%s\n読み込みエラー\n%s%s", failure, name.c_str(), reason.c_str());
    }
    return outcome.path;
}

void FoundFileCommands::playClip(const DelFileInfo& record) {
    if (!controller_.session().volume) return;
    const std::string path = extractToWorkFolder(record, "動画を再生できませんでした");
    if (path.empty()) return;
    // The copy stays in the work folder while the player has it; the next
    // open or the window's end clears it.
    if (!ShellOpen(QString::fromStdString(path)))
        ErrorBox(window_, "動画を再生できませんでした\n%s\n動画を再生するプログラムが見つかりません", path.c_str());
}

void FoundFileCommands::dumpRow(int row) {
    const int index = RecordIndexOfRow(*shown_->model(), row);
    DelFileInfo* record = index >= 0 ? controller_.session().gcDelFileList.Get(size_t(index)) : nullptr;
    if (!record || !controller_.session().volume) return;
    const uint32_t clusterSize = controller_.session().volume->clusterSize;
    const std::string path = extractToWorkFolder(*record, "プレビューを表示できませんでした");
    if (path.empty()) return;
    {
        HexDumpDialog dialog(window_);
        dialog.setFilePath(QString::fromStdString(path));
        dialog.setPageSize(int(clusterSize ? clusterSize : 512));
        dialog.exec();
    }
    std::error_code ignored;
    std::filesystem::remove(path, ignored);
}

void FoundFileCommands::openSaveFolder() { SaveDialog::OpenSaveFolder(controller_); }

void FoundFileCommands::save() { SaveFoundFiles(window_, controller_, shown_); }

}  // namespace veld
