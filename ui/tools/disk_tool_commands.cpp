#include "ui/tools/disk_tool_commands.h"

#include <QDate>
#include <QFileInfo>
#include <QMessageBox>
#include <memory>

#include "base/settings.h"
#include "base/trace.h"
#include "tools/disk_erase.h"
#include "tools/disk_image.h"
#include "tools/disk_restore.h"
#include "ui/interface_wait.h"
#include "ui/picture_loader.h"
#include "ui/search/sel_drive_dlg.h"
#include "ui/search_controller.h"
#include "ui/tools/erase_confirm_dialog.h"
#include "ui/tools/disk_tool_dialog.h"
#include "ui/system_error_text.h"
#include "ui/unsaved_files_question.h"

namespace veld {
namespace {

DiskToolChooser gChooser;
WriteTargetRules gRules;

const char kImageFilter[] = "ディスクイメージ (*.img)";

// What a command works with: the window's search and the owner of its dialogs.
struct DiskToolContext {
    SearchController& controller;
    QWidget* owner;
};

// The drive selection of one command; false when it was not confirmed.
bool ChooseDrive(DiskToolKind kind, const DiskToolContext& context, DiskToolChoice* choice) {
    if (gChooser) return gChooser(kind, choice);
    CSelDriveDlg drive(context.owner);
    drive.session = &context.controller.session();
    drive.hideHardDisks = true;
    switch (kind) {
        case DiskToolSave:
            drive.caption = QStringLiteral("ディスクのイメージを保存");
            drive.messageText =
                QStringLiteral("ディスクのイメージを保存します。イメージを読み取るディスクを選択してください。");
            drive.selectLabel = QStringLiteral("保存(&S)");
            drive.picture = Picture::DiskImageDrive;
            drive.askFileOnSelect = true;
            drive.openInsteadOfSave = false;
            // An image file may be the source too: copied, or the volume
            // taken out of a whole-card image.
            drive.imageButton = true;
            break;
        case DiskToolRestore:
            drive.caption = QStringLiteral("ディスクのイメージからメモリカードに書き込み");
            drive.messageText = QStringLiteral(
                "ディスクのイメージをメモリカードに書き込みします。現在のメモリカードの内容は上書きされますので"
                "ご注意ください。書き込み先のメモリカードを選択してください");
            drive.selectLabel = QStringLiteral("選択(&S)");
            drive.picture = Picture::DiskImageDrive;
            drive.askFileOnSelect = true;
            drive.openInsteadOfSave = true;
            break;
        case DiskToolErase:
            drive.caption = QStringLiteral("完全消去");
            drive.messageText =
                QStringLiteral("指定したディスクの全領域を消去します。消去後は検索を行っても、復活できません");
            drive.selectLabel = QStringLiteral("消去する");
            drive.picture = Picture::EraseDrive;
            break;
    }
    if (kind != DiskToolErase) {
        drive.fileFolder = QString::fromStdString(ReadIniString("Config", "Dir", UserDocumentsFolder()));
        drive.fileFilter = QString::fromUtf8(kImageFilter);
    }
    if (drive.exec() != QDialog::Accepted) return false;
    if (!drive.choseDrive) {
        if (kind != DiskToolSave || drive.imagePath.isEmpty()) return false;
        // The source is an image file; the new image's name is asked next.
        choice->sourceImage = drive.imagePath.toStdString();
        const QFileInfo source(drive.imagePath);
        const QString proposed = QStringLiteral("%1-%2.img")
                                     .arg(source.completeBaseName(), QDate::currentDate().toString(QStringLiteral("yyyyMMdd")));
        const QString target = CSelDriveDlg::ChooseImageFile(context.owner, drive.fileFolder, drive.fileFilter, proposed, false);
        if (target.isEmpty()) return false;
        choice->imagePath = target.toStdString();
        return true;
    }
    choice->letter = drive.chosenLetter();
    for (const auto& row : drive.rows())
        if (row.letter == choice->letter) choice->devicePath = row.devicePath.toStdString();
    choice->imagePath = drive.imagePath.toStdString();
    return !choice->devicePath.empty();
}

// The shared start of the image commands (steps after the selection): the
// results are discarded (found files not saved yet only when the user says
// so), the path gets ".img", its folder is remembered. "" when the results
// are kept or the path names no file (nothing else happens then).
std::string PrepareImagePath(const DiskToolContext& context, const DiskToolChoice& choice, const QString& then) {
    if (!MayDropUnsavedFiles(context.controller, context.owner, QStringLiteral("検索結果を消して%1しますか？").arg(then)))
        return {};
    context.controller.clearResults();
    const std::string path = ImageFilePath(choice.imagePath);
    if (path.empty()) return {};
    WriteIniString("Config", "Dir", ImageFolderOf(path).c_str());
    return path;
}

void ShowOpenFailure(const DiskJob& job, const std::string& what) {
    // The short text, then what could not be opened and why.
    std::string text = WithJapaneseReasons(job.OpenFailureText()).toStdString();
    if (text.empty()) text = what + ": 開けません";
    if (text.rfind(DiskToolOpenErrorText(), 0) != 0) text = std::string(DiskToolOpenErrorText()) + "\n" + text;
    ErrorBox(nullptr, "%s", text.c_str());
    MessageBoxText("%s", DiskToolAbortedText());
}

void RunDialog(DiskToolDialog& dialog) {
    if (dialog.exec() != QDialog::Accepted) MessageBoxText("%s", DiskToolAbortedText());
}

}  // namespace

void SetDiskToolChooserForTest(DiskToolChooser chooser) { gChooser = std::move(chooser); }
void SetWriteTargetRulesForTest(const WriteTargetRules& rules) { gRules = rules; }

std::string ImageFolderOf(const std::string& path) {
    const size_t slash = path.rfind('/');
    if (slash == std::string::npos) return path;
    return slash == 0 ? std::string("/") : path.substr(0, slash);
}

void RunSaveDiskImage(SearchController& controller, QWidget* owner) {
    const DiskToolContext context{controller, owner};
    GreyedCommands greyed(controller);
    DiskToolChoice choice;
    if (!ChooseDrive(DiskToolSave, context, &choice)) return;
    const std::string path = PrepareImagePath(context, choice, QStringLiteral("ディスクイメージを保存"));
    if (path.empty()) return;

    // The save-file dialog has asked about replacing the name as chosen; the
    // name with ".img" appended is another file, asked about here.
    const bool confirmedName = path == choice.imagePath;
    const std::string source = choice.sourceImage.empty() ? choice.devicePath : choice.sourceImage;
    auto job = std::make_unique<DiskImageJob>();
    // A card may be opened through UDisks2, which waits for a password.
    int code = 0;
    RunWhileInterfacePaints([&] { code = job->Open(0, source, path, confirmedName); });
    if (code == DiskOpenFileExists) {
        if (!AskYesNo(context.owner, QStringLiteral("%1 はすでにあります。\n上書きしますか？")
                                         .arg(QString::fromStdString(path)))) {
            MessageBoxText("%s", DiskToolAbortedText());
            return;
        }
        job = std::make_unique<DiskImageJob>();
        RunWhileInterfacePaints([&] { code = job->Open(0, source, path, true); });
    }
    if (code != DiskOpenOk) {
        ShowOpenFailure(*job, source);
        return;
    }
    SaveDiskDialog dialog(std::move(job), context.owner);
    RunDialog(dialog);
}

void RunRestoreDiskImage(SearchController& controller, QWidget* owner) {
    const DiskToolContext context{controller, owner};
    GreyedCommands greyed(controller);
    DiskToolChoice choice;
    if (!ChooseDrive(DiskToolRestore, context, &choice)) return;
    const std::string path = PrepareImagePath(context, choice, QStringLiteral("ディスクイメージをカードに書き込み"));
    if (path.empty()) return;

    // The open step checks the target (removable, not mounted) and that the
    // image is exactly its size; nothing is written yet.
    auto job = std::make_unique<DiskRestoreJob>();
    int code = 0;
    RunWhileInterfacePaints([&] { code = job->Open(path, 0, choice.devicePath, gRules); });
    if (code != DiskOpenOk) {
        ShowOpenFailure(*job, choice.devicePath);
        return;
    }
    const QString question =
        QStringLiteral("次のメモリカードの内容はすべて上書きされます。\n%1\n\nイメージ: %2\n\n書き込みますか？")
            .arg(QString::fromStdString(WriteTargetSummary(job->Target())), QString::fromStdString(path));
    if (!AskYesNo(context.owner, question)) {
        MessageBoxText("%s", DiskToolAbortedText());
        return;
    }
    RestoreDiskDialog dialog(std::move(job), context.owner);
    RunDialog(dialog);
}

void RunCompleteErase(SearchController& controller, QWidget* owner) {
    const DiskToolContext context{controller, owner};
    GreyedCommands greyed(controller);
    DiskToolChoice choice;
    if (!ChooseDrive(DiskToolErase, context, &choice)) return;

    // A card that may not be written is refused before the question.
    WriteTarget target;
    std::string message;
    if (!LocateWriteTarget(0, choice.devicePath, gRules, &target, &message)) {
        ErrorBox(nullptr, "%s\n%s", DiskToolOpenErrorText(), message.c_str());
        return;
    }
    if (CheckWriteTarget(target, gRules, &message) != DiskOpenOk) {
        ErrorBox(nullptr, "%s", message.c_str());
        return;
    }

    EraseConfirmDialog confirm(DelDiskQuestionText(), QString::fromStdString(WriteTargetSummary(target)), context.owner);
    if (confirm.exec() != QDialog::Accepted) return;

    auto job = std::make_unique<DiskEraseJob>();
    int code = 0;
    RunWhileInterfacePaints(
        [&] { code = job->Open(0, choice.devicePath, confirm.pentagon() ? EraseDod : ErasePlain, gRules); });
    if (code != DiskOpenOk) {
        ShowOpenFailure(*job, choice.devicePath);
        return;
    }
    EraseDiskDialog dialog(std::move(job), context.owner);
    RunDialog(dialog);
}

}  // namespace veld
