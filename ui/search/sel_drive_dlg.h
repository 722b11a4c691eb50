// The modal dialog in which the user picks the source of a search or of a
// disk-image tool: a removable drive from the list, or a disk-image file.
//
// On Linux a "drive" is a removable block device (USB disk, SD/MMC reader)
// or a loop device over an image file, with the letter ListRemovableDrives
// gives it. The rows show the device's name, its capacity and the file
// system read from its first sector, or from the partition a search would
// open ("FAT12", "FAT16", "FAT32", "exFAT", "NTFS" or "不明"). A device is
// listed when it has a capacity and a known file system, or when it has a
// name and could be opened. Where UDisks2 knows a device, its names, size
// and file system are shown, and a device this user may not open is listed
// all the same: UDisks2 opens it once it is chosen. Devices that cannot be
// opened without the service are named in a note telling the user how to
// get access. "更新(&U)" lists the drives again; an empty list says why it is
// empty and what to do.
//
// While the dialog is open the search volume's device handle is closed; it is
// reopened on every way out.
#pragma once

#include <QDialog>
#include <QString>
#include <functional>
#include <vector>

#include "finder/search_session.h"
#include "platform/removable_drives.h"
#include "ui/picture_loader.h"

class QLabel;
class QPushButton;
class QTreeWidget;
class QMessageBox;

namespace veld {

// The source chooser: a removable drive or a disk image file.
class CSelDriveDlg : public QDialog {
    Q_OBJECT
public:
    explicit CSelDriveDlg(QWidget* parent = nullptr);
    ~CSelDriveDlg() override;

    // Set before exec(); "" keeps the template's text.
    QString caption;
    QString messageText;
    QString selectLabel;
    Picture picture = Picture::None;  // the artwork on the left
    bool hideHardDisks = true;
    bool imageButton = false;        // shows "ディスクイメージを選択する"
    bool askFileOnSelect = false;    // ask for an image file name after a drive
    bool openInsteadOfSave = false;  // with askFileOnSelect: open, not save
    QString fileFolder;
    QString fileFilter;
    // The search whose open source keeps its device handle closed while the
    // dialog runs (null: none).
    SearchSession* session = nullptr;
    // In: a drive whose row is preselected ("E:\" or "e"); out: "%c:\" of the
    // chosen drive.
    QString driveText;
    QString imagePath;               // out: the chosen (or named) file
    bool choseDrive = false;         // out: true for a drive row, false for a file

    // The chosen drive's letter, or 0.
    char chosenLetter() const;

    // Builds the window and fills the list from the members set so far;
    // exec() and show() do it on their own. Closes the search volume's
    // device handle until the dialog ends.
    void prepare();

    // One row as the dialog determined it.
    struct DriveRow {
        char letter = 0;
        QString name;
        QString capacity;      // "" when unknown
        QString fileSystem;    // "FAT12", "FAT16", "FAT32", "exFAT", "NTFS" or "不明"; a partitioned
                               // card's is that of the partition a search opens
        bool geometry = false; // the device opened (or UDisks2 read it) and reports a size
        bool denied = false;   // the device could not be opened for lack of permission
        QString devicePath;
    };
    // Applies the listing rule to one probed device.
    static bool ShouldList(const DriveRow& row);
    // Probes one device: capacity, first sector, open permission.
    static DriveRow ProbeDrive(const RemovableDrive& drive);
    // The file-system name of a first sector (as the volume layer tells it).
    static QString FileSystemNameOf(const uint8_t* sector, size_t size);

    // Tests replace the device list (an empty function restores the real one).
    using DriveLister = std::function<std::vector<RemovableDrive>()>;
    static void SetDriveListerForTest(DriveLister lister);
    // Tests replace the file dialogs: the function gets (folder, filter,
    // proposed name, open) and returns the chosen path, "" for cancel.
    using FileChooser = std::function<QString(const QString& folder, const QString& filter,
                                              const QString& proposedName, bool open)>;
    static void SetFileChooserForTest(FileChooser chooser);
    // The file dialogs the dialog uses (or the test's chooser): an image file
    // to open, or a name to save one under; "" when cancelled.
    static QString ChooseImageFile(QWidget* parent, const QString& folder, const QString& filter,
                                   const QString& proposedName, bool open);

    // Inspection (tests).
    QTreeWidget* driveList() const { return list_; }
    QPushButton* selectButton() const { return select_; }
    QPushButton* imageFileButton() const { return imageBtn_; }
    QPushButton* refreshButton() const { return refresh_; }
    // The note over an empty list: why it is empty and what to do.
    // The instructions over the list.
    QLabel* messageLabel() const { return message_; }
    QLabel* emptyListNote() const { return emptyNote_; }
    QLabel* pictureLabel() const { return picture_; }
    const std::vector<DriveRow>& rows() const { return rows_; }
    // The permission note ("" when every device could be opened).
    QString permissionNote() const { return permissionNote_; }

    // The default proposed image name: "%cドライブ-%8.8s.img" with today's date.
    static QString ProposedImageName(char letter);

    // Builds the window before it first shows (exec() and show() pass here).
    void setVisible(bool visible) override;

public slots:
    void onSelect();
    void onImageButton();
    // Lists the drives again (a card put in since), keeping the chosen row.
    void refresh();
    void reject() override;

protected:
    void showEvent(QShowEvent* event) override;
    // Keeps the note over an empty list as large as the list's inside.
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void build();
    void fillList();
    void showEmptyNote();
    void fitMessage();
    void reopenSearchVolume();
    QString chooseFile(const QString& folder, const QString& filter, const QString& proposedName, bool open);

    std::vector<DriveRow> rows_;   // the listed rows, in list order
    QString permissionNote_;
    bool built_ = false;
    bool reopened_ = false;
    bool noteShown_ = false;
    QLabel* picture_ = nullptr;
    QLabel* message_ = nullptr;
    QTreeWidget* list_ = nullptr;
    QPushButton* imageBtn_ = nullptr;
    QPushButton* refresh_ = nullptr;
    QLabel* emptyNote_ = nullptr;
    QPushButton* select_ = nullptr;
    QPushButton* cancel_ = nullptr;
};

}  // namespace veld
