#include "ui/main/save_dialog.h"

#include <QCheckBox>
#include <QFileDialog>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QItemSelectionModel>
#include <QLabel>
#include <QLocale>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <sys/stat.h>

#include "base/format_text.h"
#include "base/settings.h"
#include "base/trace.h"
#include "search/extraction.h"
#include "search/found_file_columns.h"
#include "search/save_target.h"
#include "ui/dialog_units.h"
#include "ui/extract_with_progress.h"
#include "ui/found_file_model.h"
#include "ui/message_boxes.h"
#include "ui/picture_loader.h"
#include "ui/search_controller.h"
#include "ui/shell_open.h"
#include "ui/system_error_text.h"

namespace veld {

namespace {

SaveDialog::FolderPicker gPicker;

// At most this many failed files are named in the message box.
constexpr size_t kFailuresShown = 10;

std::string Printf(const char* format, int a, int b = 0) {
    char text[256];
    std::snprintf(text, sizeof text, format, a, b);
    return text;
}

}  // namespace

SaveDialog::SaveDialog(QWidget* parent, SearchController& controller, QItemSelectionModel* shown)
    : QDialog(parent), controller_(controller), shown_(shown) {
    setObjectName(QStringLiteral("saveDialog"));
    setWindowTitle(QStringLiteral("保存"));
    setFont(DialogFont());
    build();
}

SaveDialog::~SaveDialog() = default;

void SaveDialog::SetFolderPickerForTest(FolderPicker picker) { gPicker = std::move(picker); }

void SaveDialog::build() {
    DialogUnits du = DialogUnitsOf(font());

    // The picture area: white, picture 169 at its top-left corner.
    picture_ = new QLabel;
    picture_->setObjectName(QStringLiteral("savePicture"));
    picture_->setAutoFillBackground(true);
    QPalette white = picture_->palette();
    white.setColor(QPalette::Window, Qt::white);
    picture_->setPalette(white);
    picture_->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    QImage artwork;
    if (LoadPicture(Picture::Save, &artwork)) picture_->setPixmap(QPixmap::fromImage(artwork));
    picture_->setFixedWidth(artwork.isNull() ? du.x(54) : artwork.width());

    auto* heading = new QLabel(QStringLiteral("検索で見つかったファイルを保存します"));

    auto* which = new QGroupBox(QStringLiteral("保存するファイル"));
    all_ = new QRadioButton(QStringLiteral("全てのファイル"));
    selected_ = new QRadioButton(QStringLiteral("選択したファイル"));
    // What each choice means, beside it: how many files, how many bytes.
    allCount_ = new QLabel;
    allCount_->setObjectName(QStringLiteral("allCount"));
    allCount_->setToolTip(QStringLiteral("左の一覧で選んだフォルダと絞り込みで表示されているファイルの数です"));
    selectedCount_ = new QLabel;
    selectedCount_->setObjectName(QStringLiteral("selectedCount"));
    folders_ = new QCheckBox(QStringLiteral("フォルダも復元"));
    auto* whichLayout = new QGridLayout(which);
    whichLayout->addWidget(all_, 0, 0);
    whichLayout->addWidget(allCount_, 0, 1);
    whichLayout->addWidget(selected_, 1, 0);
    whichLayout->addWidget(selectedCount_, 1, 1);
    whichLayout->addWidget(folders_, 2, 0, 1, 2);
    whichLayout->setColumnStretch(1, 1);

    auto* where = new QGroupBox(QStringLiteral("保存先"));
    folderEdit_ = new QPlainTextEdit;
    folderEdit_->setReadOnly(true);
    folderEdit_->setFixedHeight(du.y(24));
    browse_ = new QPushButton(QStringLiteral("参照(&R)"));
    auto* whereLayout = new QHBoxLayout(where);
    whereLayout->addWidget(folderEdit_, 1);
    whereLayout->addWidget(browse_, 0, Qt::AlignTop);

    save_ = new QPushButton(QStringLiteral("保存(&S)"));
    save_->setDefault(true);
    cancel_ = new QPushButton(QStringLiteral("キャンセル(&C)"));
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(save_);
    buttons->addWidget(cancel_);

    auto* right = new QVBoxLayout;
    right->addWidget(heading);
    right->addWidget(which);
    right->addWidget(where);
    right->addStretch(1);
    right->addLayout(buttons);

    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, du.x(7), du.y(7));
    layout->addWidget(picture_);
    layout->addLayout(right, 1);
    resize(du.size(260, 172).expandedTo(sizeHint()));

    connect(browse_, &QPushButton::clicked, this, &SaveDialog::onBrowse);
    connect(save_, &QPushButton::clicked, this, &SaveDialog::onSave);
    connect(cancel_, &QPushButton::clicked, this, &QDialog::reject);
}

void SaveDialog::setTargetFolder(const QString& folder) {
    folder_ = folder;
    folderEdit_->setPlainText(folder);
}

int SaveDialog::saveMode() const { return selected_->isChecked() ? 1 : 0; }

bool SaveDialog::recreateFolders() const { return folders_->isChecked(); }

void SaveDialog::loadSettings() {
    setTargetFolder(QString::fromStdString(ReadIniString("Config", "SaveDir", UserDocumentsFolder())));
    int folderFlag = ReadIniInt("Config", "SaveDirFlag", 1);
    int mode = ReadIniInt("Config", "SaveMode", 0);
    bool anySelected = shown_->hasSelection();
    selected_->setEnabled(anySelected);
    if (!anySelected) mode = 0;
    (mode == 1 ? selected_ : all_)->setChecked(true);
    folders_->setChecked(folderFlag != 0);
    showCounts();
}

QString FileCountText(int files, uint64_t bytes) {
    return QStringLiteral("%1 個 (%2)")
        .arg(QLocale(QLocale::English).toString(files), QString::fromStdString(FormatSizeText(bytes)));
}

void SaveDialog::showCounts() {
    auto bytesOf = [this](const std::vector<int>& records) {
        uint64_t total = 0;
        for (int index : records)
            if (const DelFileInfo* record = index >= 0 ? controller_.session().gcDelFileList.Get(size_t(index)) : nullptr)
                total += std::min(record->fileSize, UINT64_MAX - total);
        return total;
    };
    const std::vector<int> all = RecordsInRowOrder(*shown_->model());
    const std::vector<int> chosen = SelectedRecords(*shown_);
    allCount_->setText(FileCountText(int(all.size()), bytesOf(all)));
    selectedCount_->setText(FileCountText(int(chosen.size()), bytesOf(chosen)));
    selectedCount_->setEnabled(!chosen.empty());
}

int SaveDialog::exec() {
    loadSettings();
    if (shown_->model()->rowCount() == 0) {
        MessageBoxText("保存するファイルがありません");
        setResult(Rejected);
        return Rejected;
    }
    return QDialog::exec();
}

void SaveDialog::onBrowse() {
    QString start = folder_;
    QString chosen;
    if (gPicker) {
        chosen = gPicker(this, start);
    } else {
        chosen = QFileDialog::getExistingDirectory(this, QStringLiteral("画像ファイルを保存するフォルダを選択してください"),
                                                   start);
    }
    if (!chosen.isEmpty()) setTargetFolder(chosen);
}

void SaveDialog::onSave() {
    // A folder that cannot be made or written is said before anything else;
    // the dialog stays open for another choice.
    const std::string folder = folder_.toStdString();
    const std::string problem = SaveFolderProblem(folder);
    if (!problem.empty()) {
        ErrorBox(this, "保存先フォルダを使用できません\n%s\n%s", folder.c_str(), problem.c_str());
        return;
    }
    if (!writingFarMoreThanTheCardAccepted()) return;
    const int mode = saveMode();
    const bool keep = recreateFolders();
    WriteIniInt("Config", "SaveDirFlag", keep ? 1 : 0);
    WriteIniInt("Config", "SaveMode", mode);
    WriteIniString("Config", "SaveDir", folder.c_str());
    writeFiles();
    accept();
}

bool SaveDialog::writingFarMoreThanTheCardAccepted() {
    DiskVolume* volume = controller_.session().volume.get();
    if (!volume) return true;
    const std::vector<int> records = saveMode() == 1 ? SelectedRecords(*shown_) : RecordsInRowOrder(*shown_->model());
    uint64_t total = 0;
    for (int index : records)
        if (const DelFileInfo* record = index >= 0 ? controller_.session().gcDelFileList.Get(size_t(index)) : nullptr)
            total += std::min(SaveByteCount(*volume, *record), UINT64_MAX - total);
    const uint64_t card = CardByteCount(*volume);
    if (card == 0 || total / kSaveCardFactor <= card) return true;
    return AskYesNo(this, QStringLiteral("保存するファイルは合計 %1 で、カードの容量 %2 の %3 倍です。\n"
                                         "同じクラスタを指すファイルが多く、同じデータが何度も書き込まれます。\n"
                                         "保存しますか？")
                              .arg(QString::fromStdString(FormatSizeText(total)),
                                   QString::fromStdString(FormatSizeText(card)), QString::number(total / card)));
}

void SaveDialog::writeFiles() {
    saved_ = 0;
    failed_ = 0;
    savedPaths_.clear();
    std::vector<int> records = saveMode() == 1 ? SelectedRecords(*shown_) : RecordsInRowOrder(*shown_->model());
    std::vector<std::string> failures;  // "name: reason" of the files not saved
    bool cancelled = false;
    for (int index : records) {
        DelFileInfo* record = index >= 0 ? controller_.session().gcDelFileList.Get(size_t(index)) : nullptr;
        if (!record) continue;
        // The extraction creates each file new: a name that is taken, also by
        // a file of this save, gets a number.
        ExtractRequest request;
        request.targetFolder = folder_.toStdString();
        request.keepFolders = recreateFolders();
        ExtractOutcome outcome = ExtractFoundFileWithProgress(controller_, this, *record, request, true);
        if (outcome.result == ExtractCancelled) {
            cancelled = true;
            break;
        }
        if (outcome.result != ExtractOk || outcome.path.empty()) {
            ++failed_;
            std::string reason = outcome.reason.empty() ? ExtractResultText(outcome.result) : outcome.reason;
            failures.push_back(FoundFileColumnText(*record, ColName) + ": " + reason);
            continue;
        }
        savedPaths_.push_back(outcome.path);
        ++saved_;
    }

    controller_.reportSaved(folder_, saved_, failed_, cancelled);
    if (failed_ > 0) {
        std::string list;
        for (size_t i = 0; i < failures.size() && i < kFailuresShown; ++i) list += "\n" + failures[i];
        if (failures.size() > kFailuresShown) list += Printf("\nほか %d 個", int(failures.size() - kFailuresShown));
        ErrorBox(this, "保存できなかったファイルがあります(%d)\n保存先: %s%s", failed_, folder_.toUtf8().constData(),
                 list.c_str());
    }
}

void SaveDialog::OpenSaveFolder(SearchController& controller) {
    OpenFolderWithDesktop(controller, QString::fromStdString(ReadIniString("Config", "SaveDir", UserDocumentsFolder())));
}

void OpenFolderWithDesktop(SearchController& controller, const QString& folder) {
    const std::string path = folder.toStdString();
    struct stat st {};
    const int found = ::stat(path.c_str(), &st);
    const int error = found == 0 ? 0 : errno;
    const bool exists = found == 0 && S_ISDIR(st.st_mode);
    if (exists && ShellOpen(folder)) return;
    controller.showStatus(0, QStringLiteral("保存先フォルダを開けませんでした: %1").arg(folder));
    if (!exists)
        ErrorBox(nullptr, "保存先フォルダを開けませんでした\n%s\n%s", path.c_str(),
                 error == ENOENT || found == 0 ? "フォルダがありません"
                                               : WithJapaneseReasons(std::strerror(error)).toUtf8().constData());
    else
        ErrorBox(nullptr, "保存先フォルダを開けませんでした\n%s\nファイルマネージャを起動できません", path.c_str());
}

int SaveFoundFiles(QWidget* parent, SearchController& controller, QItemSelectionModel* shown) {
    GreyedCommands greyed(controller);
    SaveDialog dialog(parent, controller, shown);
    return dialog.exec();
}

}  // namespace veld
