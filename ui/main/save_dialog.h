// The save dialog: all found files the views show or the selected ones, the
// target folder and whether the found files' folders are recreated below it.
// Beside each choice stand the number of files and bytes it means (all
// files: what the tree and its filters show). The choices persist in
// [Config] SaveMode, SaveDirFlag and SaveDir. After saving, the controller
// hears how many files went into which folder (the window's status bar and
// the wizard name it and offer to open it), and an error box names the files
// that failed, with the reason.
#pragma once

#include <QDialog>
#include <QString>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

class QCheckBox;
class QLabel;
class QPlainTextEdit;
class QPushButton;
class QItemSelectionModel;
class QRadioButton;

namespace veld {

class SearchController;

// The save dialog: which found files are saved, and where.
class SaveDialog : public QDialog {
    Q_OBJECT
public:
    // shown: the views' selection over the rows they show.
    SaveDialog(QWidget* parent, SearchController& controller, QItemSelectionModel* shown);
    ~SaveDialog() override;

    // Loads the settings; with no rows shows "保存するファイルがありません"
    // and returns Rejected without showing the dialog.
    int exec() override;

    // The values of the controls.
    int saveMode() const;
    bool recreateFolders() const;
    QString targetFolder() const { return folder_; }
    void setTargetFolder(const QString& folder);

    // How many files the last save wrote, and how many failed.
    int savedCount() const { return saved_; }
    int failedCount() const { return failed_; }
    // The paths written by the last save, in writing order.
    const std::vector<std::string>& savedPaths() const { return savedPaths_; }

    // Opens the folder of the last save ([Config] SaveDir) with the desktop;
    // says so in the status bar and a message box when that fails.
    static void OpenSaveFolder(SearchController& controller);

    // The counts beside the two choices: "4,016 個 (1.2Gﾊﾞｲﾄ)".
    QLabel* allCountLabel() const { return allCount_; }
    QLabel* selectedCountLabel() const { return selectedCount_; }

    // Tests replace the folder picker: the function gets the starting
    // folder and returns the chosen one ("" for cancel).
    using FolderPicker = std::function<QString(QWidget* parent, const QString& start)>;
    static void SetFolderPickerForTest(FolderPicker picker);

    // Inspection (tests).
    QRadioButton* allButton() const { return all_; }
    QRadioButton* selectedButton() const { return selected_; }
    QCheckBox* foldersCheck() const { return folders_; }
    QPlainTextEdit* folderField() const { return folderEdit_; }
    QPushButton* browseButton() const { return browse_; }
    QPushButton* saveButton() const { return save_; }
    QPushButton* cancelButton() const { return cancel_; }

public slots:
    void onBrowse();
    void onSave();

private:
    void build();
    // Saving far more than the card holds is said first; false when the
    // user then does not want it.
    bool writingFarMoreThanTheCardAccepted();
    void loadSettings();
    void showCounts();
    void writeFiles();

    SearchController& controller_;
    QItemSelectionModel* shown_;
    QString folder_;
    int saved_ = 0;
    int failed_ = 0;
    std::vector<std::string> savedPaths_;

    QLabel* picture_ = nullptr;
    QRadioButton* all_ = nullptr;
    QRadioButton* selected_ = nullptr;
    QLabel* allCount_ = nullptr;
    QLabel* selectedCount_ = nullptr;
    QCheckBox* folders_ = nullptr;
    QPlainTextEdit* folderEdit_ = nullptr;
    QPushButton* browse_ = nullptr;
    QPushButton* save_ = nullptr;
    QPushButton* cancel_ = nullptr;
};

// The save command of the window, the wizard and the context menu: the dialog
// over the shown files, with the window's commands greyed while it is open.
// Its exec() result.
int SaveFoundFiles(QWidget* parent, SearchController& controller, QItemSelectionModel* shown);

// Opens a folder with the desktop's file manager; when that cannot be done,
// says why in the status bar and an error box naming the folder.
void OpenFolderWithDesktop(SearchController& controller, const QString& folder);

// "4,016 個 (1.2Gﾊﾞｲﾄ)": a number of files and their total size.
QString FileCountText(int files, uint64_t bytes);

}  // namespace veld
