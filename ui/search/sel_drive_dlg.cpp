#include "ui/search/sel_drive_dlg.h"

#include <QDate>
#include <algorithm>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QFrame>
#include <QHeaderView>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QShowEvent>
#include <QTimer>
#include <QTreeWidget>
#include <cerrno>
#include <cstring>

#include "base/format_text.h"
#include "base/settings.h"
#include "platform/qt/udisks2_client.h"
#include "platform/raw_device.h"
#include "ui/dialog_units.h"
#include "ui/picture_loader.h"
#include "volume/boot_sector_kind.h"
#include "volume/disk_volume.h"

namespace veld {

namespace {

CSelDriveDlg::DriveLister gLister;
CSelDriveDlg::FileChooser gChooser;

// Window layout in dialog units (x, y, width, height).
constexpr int kWidth = 319, kHeight = 190;
constexpr int kPicture[4] = {9, 6, 53, 157};
constexpr int kMessage[4] = {71, 7, 246, 20};
constexpr int kList[4] = {83, 37, 218, 118};
constexpr int kImageButton[4] = {206, 138, 96, 17};
constexpr int kRefreshButton[4] = {83, 138, 50, 17};
constexpr int kSelect[4] = {127, 166, 54, 18};
constexpr int kCancel[4] = {202, 166, 54, 18};
constexpr int kSeparatorTop[3] = {71, 30, 246};
constexpr int kSeparatorBottom[3] = {71, 160, 246};
constexpr int kImageButtonListCut = 32;  // pixels the list gives up for the buttons under it

const char kDefaultCaption[] = "削除ファイル検索";
const char kDefaultMessage[] = "検索するドライブをリストから選択して、検索開始を押してください";
const char kDefaultSelect[] = "選択(&S)";
const char kImageFilter[] = "ディスクイメージ (*.img)";
const char kAllFilesFilter[] = "すべてのファイル (*)";

QRect Place(const DialogUnits& du, const int r[4]) { return du.rect(r[0], r[1], r[2], r[3]); }

// A Qt filter list from a caller's filter text, always offering all files
// too, since images are not always named *.img.
QString FilterWithAllFiles(const QString& filter) {
    QString base = filter.isEmpty() ? QString::fromUtf8(kImageFilter) : filter;
    if (base.contains(QLatin1String("(*)"))) return base;
    return base + QStringLiteral(";;") + QString::fromUtf8(kAllFilesFilter);
}

// The volume layer's name of a file system, "不明" when it knows none.
QString NameOrUnknown(const std::string& name) {
    return name.empty() ? QStringLiteral("不明") : QString::fromStdString(name);
}

}  // namespace

CSelDriveDlg::CSelDriveDlg(QWidget* parent) : QDialog(parent) {}

CSelDriveDlg::~CSelDriveDlg() { reopenSearchVolume(); }

void CSelDriveDlg::SetDriveListerForTest(DriveLister lister) { gLister = std::move(lister); }
void CSelDriveDlg::SetFileChooserForTest(FileChooser chooser) { gChooser = std::move(chooser); }

char CSelDriveDlg::chosenLetter() const {
    if (!choseDrive || driveText.isEmpty()) return 0;
    return char(driveText.at(0).toUpper().toLatin1());
}

QString CSelDriveDlg::FileSystemNameOf(const uint8_t* sector, size_t size) {
    if (!sector || size < 512) return QStringLiteral("不明");
    return NameOrUnknown(veld::FileSystemNameOf(std::span<const uint8_t>(sector, 512)));
}

CSelDriveDlg::DriveRow CSelDriveDlg::ProbeDrive(const RemovableDrive& drive) {
    DriveRow row;
    row.letter = drive.letter;
    row.name = QString::fromUtf8(drive.displayName).left(100);
    row.devicePath = QString::fromUtf8(drive.devicePath);
    if (drive.sizeBytes > 0) row.capacity = QString::fromUtf8(FormatSizeText(drive.sizeBytes));
    // What UDisks2 read, until the first sector says otherwise.
    row.fileSystem = drive.fileSystem.empty() ? QStringLiteral("不明") : QString::fromStdString(drive.fileSystem);

    // Listing asks for no password: only what this user may open is opened.
    errno = 0;
    std::unique_ptr<RawDevice> device = OpenRawPath(drive.devicePath, false, DeviceAccess::DirectOnly);
    if (!device) {
        if (drive.fromService) {
            // The disk service has read the medium and opens it when the card is chosen.
            row.geometry = drive.sizeBytes > 0;
            return row;
        }
        row.denied = (errno == EACCES || errno == EPERM);
        return row;
    }
    const int64_t size = device->Size();
    row.geometry = size > 0;
    if (row.capacity.isEmpty() && size > 0) row.capacity = QString::fromUtf8(FormatSizeText(size));
    row.fileSystem = NameOrUnknown(SourceFileSystemName(*device, true));
    return row;
}

bool CSelDriveDlg::ShouldList(const DriveRow& row) {
    const bool knownFs = row.fileSystem.startsWith(QLatin1String("FAT"), Qt::CaseInsensitive) ||
                         row.fileSystem.startsWith(QLatin1String("exFAT"), Qt::CaseInsensitive) ||
                         row.fileSystem.startsWith(QLatin1String("NTFS"), Qt::CaseInsensitive);
    return (!row.capacity.isEmpty() && knownFs) || (!row.name.isEmpty() && row.geometry);
}

QString CSelDriveDlg::ProposedImageName(char letter) {
    // "%cドライブ-%8.8s.img": the letter and the year, month and day.
    return QStringLiteral("%1ドライブ-%2.img")
        .arg(QChar::fromLatin1(letter))
        .arg(QDate::currentDate().toString(QStringLiteral("yyyyMMdd")));
}

void CSelDriveDlg::prepare() { build(); }

void CSelDriveDlg::build() {
    if (built_) return;
    built_ = true;
    // The search volume's handle stays closed while the drives are queried.
    if (session && session->volume) DiskIO_CloseHandle(*session->volume);

    setFont(DialogFont());
    const DialogUnits du = DialogUnitsOf(font());
    setFixedSize(du.size(kWidth, kHeight));
    setWindowTitle(caption.isEmpty() ? QString::fromUtf8(kDefaultCaption) : caption);

    picture_ = new QLabel(this);
    picture_->setGeometry(Place(du, kPicture));
    picture_->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    picture_->setAutoFillBackground(true);
    QPalette pal = picture_->palette();
    pal.setColor(QPalette::Window, Qt::white);
    picture_->setPalette(pal);
    QImage image;
    if (LoadPicture(picture, &image)) {
        // Drawn at the top left on white; a picture larger than the area
        // (or one much smaller, with a large dialog font) is fitted to it.
        const QSize area = picture_->size();
        if (image.width() > area.width() || image.height() > area.height() || image.width() < area.width() * 3 / 4)
            image = image.scaled(area, Qt::KeepAspectRatio, Qt::SmoothTransformation);
        picture_->setPixmap(QPixmap::fromImage(image));
    } else {
        picture_->hide();
    }

    message_ = new QLabel(messageText.isEmpty() ? QString::fromUtf8(kDefaultMessage) : messageText, this);
    message_->setGeometry(Place(du, kMessage));
    message_->setWordWrap(true);
    message_->setAlignment(Qt::AlignLeft | Qt::AlignTop);

    for (const int* sep : {kSeparatorTop, kSeparatorBottom}) {
        auto* line = new QFrame(this);
        line->setFrameStyle(QFrame::HLine | QFrame::Sunken);
        line->setGeometry(QRect(du.point(sep[0], sep[1]), QSize(du.x(sep[2]), 2)));
    }

    list_ = new QTreeWidget(this);
    list_->setObjectName(QStringLiteral("driveList"));
    QRect listRect = Place(du, kList);
    // The list gives up its bottom for the buttons under it (refresh, and
    // the image button when shown), and never runs under them when the
    // dialog font is taller than the template's.
    const int buttonTop = Place(du, kImageButton).top();
    listRect.setHeight(listRect.height() - kImageButtonListCut);
    if (listRect.bottom() >= buttonTop - 4) listRect.setBottom(buttonTop - 5);
    list_->setGeometry(listRect);
    list_->setRootIsDecorated(false);
    list_->setItemsExpandable(false);
    list_->setUniformRowHeights(true);
    list_->setSelectionMode(QAbstractItemView::SingleSelection);
    list_->setSelectionBehavior(QAbstractItemView::SelectRows);
    list_->setHeaderLabels({QStringLiteral("ドライブ名"), QStringLiteral("容量"), QStringLiteral("種別")});
    list_->header()->setStretchLastSection(false);
    list_->setColumnWidth(0, 200);
    list_->setColumnWidth(1, 100);
    list_->setColumnWidth(2, 50);

    imageBtn_ = new QPushButton(QStringLiteral("ディスクイメージを選択する"), this);
    imageBtn_->setGeometry(Place(du, kImageButton));
    imageBtn_->setAutoDefault(false);
    imageBtn_->setVisible(imageButton);
    connect(imageBtn_, &QPushButton::clicked, this, &CSelDriveDlg::onImageButton);
    // A card put in after the dialog opened is listed without closing it.
    refresh_ = new QPushButton(QStringLiteral("更新(&U)"), this);
    refresh_->setObjectName(QStringLiteral("refreshDrives"));
    refresh_->setGeometry(Place(du, kRefreshButton));
    refresh_->setAutoDefault(false);
    refresh_->setToolTip(QStringLiteral("カードリーダーとカードを調べ直します"));
    connect(refresh_, &QPushButton::clicked, this, &CSelDriveDlg::refresh);
    // Over an empty list: why it is empty and what to do. It fills the
    // list's inside, which gets its size only when the dialog first shows
    // (eventFilter).
    emptyNote_ = new QLabel(list_->viewport());
    list_->viewport()->installEventFilter(this);
    emptyNote_->setObjectName(QStringLiteral("emptyListNote"));
    emptyNote_->setWordWrap(true);
    emptyNote_->setAlignment(Qt::AlignCenter);
    emptyNote_->setContentsMargins(8, 8, 8, 8);
    emptyNote_->setText(
        imageButton ? QStringLiteral("カードリーダーが見つかりません。カードをカードリーダーに入れて［更新］を"
                                     "押してください。ディスクイメージを使うときは［ディスクイメージを選択する］を"
                                     "押してください。")
                    : QStringLiteral("カードリーダーが見つかりません。カードをカードリーダーに入れて［更新］を"
                                     "押してください。"));

    select_ = new QPushButton(selectLabel.isEmpty() ? QString::fromUtf8(kDefaultSelect) : selectLabel, this);
    select_->setGeometry(Place(du, kSelect));
    select_->setDefault(true);
    connect(select_, &QPushButton::clicked, this, &CSelDriveDlg::onSelect);
    cancel_ = new QPushButton(QStringLiteral("キャンセル(&C)"), this);
    cancel_->setGeometry(Place(du, kCancel));
    cancel_->setAutoDefault(false);
    connect(cancel_, &QPushButton::clicked, this, &CSelDriveDlg::reject);

    fitMessage();
    fillList();
    showEmptyNote();
    select_->setEnabled(!list_->selectedItems().isEmpty());
    connect(list_, &QTreeWidget::itemSelectionChanged, this,
            [this] { select_->setEnabled(!list_->selectedItems().isEmpty()); });
    connect(list_, &QTreeWidget::itemDoubleClicked, this, [this] { onSelect(); });
}

void CSelDriveDlg::fitMessage() {
    // A message longer than the template's two lines (the write-back
    // warning) takes the lines it needs; everything under it moves down and
    // the dialog grows by as much.
    const int grow = message_->heightForWidth(message_->width()) - message_->height();
    if (grow <= 0) return;
    const int below = message_->geometry().bottom();
    for (QWidget* child : findChildren<QWidget*>(Qt::FindDirectChildrenOnly))
        if (child != message_ && child != picture_ && child->y() > below) child->move(child->x(), child->y() + grow);
    message_->resize(message_->width(), message_->height() + grow);
    picture_->resize(picture_->width(), picture_->height() + grow);
    setFixedSize(width(), height() + grow);
}

void CSelDriveDlg::showEmptyNote() {
    emptyNote_->setGeometry(list_->viewport()->rect());
    emptyNote_->setVisible(rows_.empty());
}

bool CSelDriveDlg::eventFilter(QObject* watched, QEvent* event) {
    // The list's inside takes its final size while the dialog first shows,
    // at times without a resize event of its own: its show says so too.
    if (list_ && watched == list_->viewport() && (event->type() == QEvent::Resize || event->type() == QEvent::Show))
        emptyNote_->setGeometry(list_->viewport()->rect());
    return QDialog::eventFilter(watched, event);
}

void CSelDriveDlg::refresh() {
    const QString chosen = list_->currentItem() ? QString(QChar::fromLatin1(char(list_->currentItem()->data(0, Qt::UserRole).toInt())))
                                                : QString();
    if (!chosen.isEmpty()) driveText = chosen;
    list_->clear();
    rows_.clear();
    permissionNote_.clear();
    fillList();
    showEmptyNote();
    select_->setEnabled(!list_->selectedItems().isEmpty());
}

void CSelDriveDlg::fillList() {
    std::vector<RemovableDrive> drives;
    if (gLister) {
        drives = gLister();
    } else {
        drives = ListRemovableDrives();
        ApplyServiceView(drives, UDisks2DriveView());
    }
    const QChar wanted = driveText.isEmpty() ? QChar() : driveText.at(0).toUpper();
    QTreeWidgetItem* preselect = nullptr;
    QStringList denied;
    // Letters A to Z in order; every device the platform lists is removable,
    // so hiding hard disks never removes one of them.
    std::sort(drives.begin(), drives.end(),
              [](const RemovableDrive& a, const RemovableDrive& b) { return a.letter < b.letter; });
    for (const RemovableDrive& drive : drives) {
        if (DriveNumberOfLetter(drive.letter) < 0) continue;
        DriveRow row = ProbeDrive(drive);
        row.letter = char(QChar::fromLatin1(drive.letter).toUpper().toLatin1());
        if (row.denied) denied << (row.name.isEmpty() ? row.devicePath : row.devicePath + " (" + row.name + ")");
        if (!ShouldList(row)) continue;
        if (row.name.isEmpty()) row.name = QStringLiteral("ドライブ %1:").arg(QChar::fromLatin1(row.letter));
        auto* item = new QTreeWidgetItem(list_, {row.name, row.capacity, row.fileSystem});
        item->setData(0, Qt::UserRole, int(row.letter));
        rows_.push_back(row);
        if (!wanted.isNull() && wanted == QChar::fromLatin1(row.letter)) preselect = item;
    }
    if (preselect) list_->setCurrentItem(preselect);
    if (!denied.isEmpty()) {
        // Without the desktop's disk service nobody can open the reader for the user.
        permissionNote_ = QStringLiteral(
                              "次のカードリーダーを開く権限がありません。\n%1\n\n"
                              "デスクトップのディスク管理サービス (UDisks2、udisks2 パッケージ) があれば、"
                              "カードを選んだときにパスワードを確かめてから読み取ります。"
                              "udisks2 をインストールしてから、Veld を起動し直してください。")
                              .arg(denied.join(QLatin1Char('\n')));
    }
}

void CSelDriveDlg::setVisible(bool visible) {
    // The controls must exist before the window shows, or they stay hidden.
    if (visible) build();
    QDialog::setVisible(visible);
}

void CSelDriveDlg::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (!permissionNote_.isEmpty() && !noteShown_) {
        noteShown_ = true;
        // Shown beside the dialog without blocking it: the image button and
        // the listed drives stay usable.
        QTimer::singleShot(0, this, [this] {
            auto* box = new QMessageBox(QMessageBox::Warning, windowTitle(), permissionNote_, QMessageBox::Ok, this);
            box->setAttribute(Qt::WA_DeleteOnClose);
            box->open();
        });
    }
}

QString CSelDriveDlg::chooseFile(const QString& folder, const QString& filter, const QString& proposedName,
                                 bool open) {
    return ChooseImageFile(this, folder, filter, proposedName, open);
}

QString CSelDriveDlg::ChooseImageFile(QWidget* parent, const QString& folder, const QString& filter,
                                      const QString& proposedName, bool open) {
    if (gChooser) return gChooser(folder, filter, proposedName, open);
    if (open) return QFileDialog::getOpenFileName(parent, QString(), folder, FilterWithAllFiles(filter));
    QString start = proposedName.isEmpty() ? folder : QDir(folder).filePath(proposedName);
    return QFileDialog::getSaveFileName(parent, QString(), start, FilterWithAllFiles(filter));
}

void CSelDriveDlg::onSelect() {
    QList<QTreeWidgetItem*> selected = list_ ? list_->selectedItems() : QList<QTreeWidgetItem*>{};
    if (selected.isEmpty()) return;
    const char letter = char(selected.first()->data(0, Qt::UserRole).toInt());
    driveText = QStringLiteral("%1:\\").arg(QChar::fromLatin1(letter));
    if (askFileOnSelect) {
        QString path = chooseFile(fileFolder, FilterWithAllFiles(fileFilter),
                                  openInsteadOfSave ? QString() : ProposedImageName(letter), openInsteadOfSave);
        if (path.isEmpty()) return;  // the dialog stays open
        imagePath = path;
    }
    choseDrive = true;
    reopenSearchVolume();
    accept();
}

void CSelDriveDlg::onImageButton() {
    const std::string documents = UserDocumentsFolder();
    QString folder = QString::fromUtf8(ReadIniString("Config", "Dir", documents));
    QString path = chooseFile(folder, FilterWithAllFiles(QString()), QString(), true);
    if (path.isEmpty()) return;  // the dialog stays open
    const QString chosenFolder = QFileInfo(path).absolutePath();
    WriteIniString("Config", "Dir", chosenFolder.toUtf8().constData());
    imagePath = path;
    choseDrive = false;
    reopenSearchVolume();
    accept();
}

void CSelDriveDlg::reject() {
    reopenSearchVolume();
    QDialog::reject();
}

void CSelDriveDlg::reopenSearchVolume() {
    if (reopened_ || !built_) return;
    reopened_ = true;
    if (session && session->volume) DiskIO_Reopen(*session->volume);
}

}  // namespace veld
