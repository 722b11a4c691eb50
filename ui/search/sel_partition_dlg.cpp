#include "ui/search/sel_partition_dlg.h"

#include <QDialogButtonBox>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "base/format_text.h"
#include "ui/dialog_units.h"
#include "volume/disk_volume.h"

namespace veld {

namespace {

// What the partition holds, as the drive list names file systems; the
// table's own type text when its first sector is no boot sector.
QString ContentText(const Partition& p) {
    switch (p.content) {
        case BootSectorKind::Fat: return QStringLiteral("FAT");
        case BootSectorKind::Exfat: return QStringLiteral("exFAT");
        case BootSectorKind::Ntfs: return QStringLiteral("NTFS");
        case BootSectorKind::None: break;
    }
    return QString::fromUtf8(p.type);
}

}  // namespace

QStringList CSelPartitionDlg::RowTexts(const Partition& p) {
    return {QString::number(p.index), QString::fromUtf8(FormatSizeText(int64_t(p.offset))),
            QString::fromUtf8(FormatSizeText(int64_t(p.size))), ContentText(p)};
}

CSelPartitionDlg::CSelPartitionDlg(std::vector<Partition> partitions, int preselected, QWidget* parent)
    : QDialog(parent), partitions_(std::move(partitions)), chosen_(preselected) {
    setFont(DialogFont());
    setWindowTitle(QStringLiteral("パーティションの選択"));
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(new QLabel(QStringLiteral("このディスクイメージには複数のパーティションがあります。\n"
                                                "検索するパーティションを選択してください"),
                                 this));

    list_ = new QTreeWidget(this);
    list_->setRootIsDecorated(false);
    list_->setItemsExpandable(false);
    list_->setUniformRowHeights(true);
    list_->setSelectionMode(QAbstractItemView::SingleSelection);
    list_->setSelectionBehavior(QAbstractItemView::SelectRows);
    list_->setHeaderLabels({QStringLiteral("番号"), QStringLiteral("開始位置"), QStringLiteral("サイズ"),
                            QStringLiteral("種類")});
    list_->header()->setStretchLastSection(true);
    const DialogUnits du = DialogUnitsOf(font());
    list_->setColumnWidth(0, du.x(24));
    list_->setColumnWidth(1, du.x(50));
    list_->setColumnWidth(2, du.x(50));
    list_->setMinimumSize(du.size(230, 70));
    for (const Partition& p : partitions_) {
        auto* item = new QTreeWidgetItem(list_, RowTexts(p));
        item->setData(0, Qt::UserRole, p.index);
        item->setTextAlignment(1, Qt::AlignRight | Qt::AlignVCenter);
        item->setTextAlignment(2, Qt::AlignRight | Qt::AlignVCenter);
        if (p.index == preselected) list_->setCurrentItem(item);
    }
    layout->addWidget(list_);

    auto* buttons = new QDialogButtonBox(this);
    ok_ = buttons->addButton(QStringLiteral("OK"), QDialogButtonBox::AcceptRole);
    buttons->addButton(QStringLiteral("キャンセル"), QDialogButtonBox::RejectRole);
    ok_->setDefault(true);
    ok_->setEnabled(list_->currentItem() != nullptr);
    connect(ok_, &QPushButton::clicked, this, &CSelPartitionDlg::onOk);
    connect(buttons, &QDialogButtonBox::rejected, this, &CSelPartitionDlg::reject);
    connect(list_, &QTreeWidget::itemSelectionChanged, this,
            [this] { ok_->setEnabled(!list_->selectedItems().isEmpty()); });
    connect(list_, &QTreeWidget::itemDoubleClicked, this, [this] { onOk(); });
    layout->addWidget(buttons);
}

void CSelPartitionDlg::onOk() {
    const QList<QTreeWidgetItem*> selected = list_->selectedItems();
    if (selected.isEmpty()) return;
    chosen_ = selected.first()->data(0, Qt::UserRole).toInt();
    accept();
}

bool AskPartitionToSearch(QWidget* parent, const std::string& imagePath, int* partition) {
    *partition = kPartitionAuto;
    // An image that cannot be opened is left to the options dialog, which says so.
    std::unique_ptr<DiskVolume> volume = DiskIO_Open(imagePath, 0, kPartitionAuto);
    if (!volume || volume->partitionIndex == 0) return true;
    int usable = 0;
    for (const Partition& p : volume->partitions) usable += HoldsSearchableVolume(p) ? 1 : 0;
    if (usable < 2) return true;
    CSelPartitionDlg dialog(volume->partitions, volume->partitionIndex, parent);
    volume.reset();  // the image is not kept open while the user chooses
    if (dialog.exec() != QDialog::Accepted) return false;
    *partition = dialog.chosenPartition();
    return true;
}

}  // namespace veld
