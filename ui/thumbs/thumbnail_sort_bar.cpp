#include "ui/thumbs/thumbnail_sort_bar.h"

#include <QComboBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QToolButton>

#include "ui/thumbs/thumb_pictures.h"

namespace veld {

ThumbnailSortBar::ThumbnailSortBar(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("thumbSortBar"));
    label_ = new QLabel(QStringLiteral("並べ替え"));
    label_->setFocusPolicy(Qt::StrongFocus);
    keys_ = new QComboBox;
    keys_->setObjectName(QStringLiteral("sortKeys"));
    // In the order of the list's columns: the index is the column.
    for (const char* key : {"ファイル名", "種類", "サイズ", "フォルダ", "日付", "状態", "位置", "大きさ", "モデル名",
                            "ＧＰＳ", "備考"})
        keys_->addItem(QString::fromUtf8(key));
    keys_->setCurrentIndex(-1);
    keys_->setSizeAdjustPolicy(QComboBox::AdjustToContents);
    directionButton_ = new QToolButton;
    directionButton_->setObjectName(QStringLiteral("sortDirection"));
    directionButton_->setIcon(QIcon(ThumbPixmap(GridPicture::SortAscending)));
    directionButton_->setToolTip(QStringLiteral("昇順"));

    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(4, 2, 4, 2);
    layout->addWidget(label_);
    layout->addWidget(keys_);
    layout->addWidget(directionButton_);
    layout->addStretch(1);

    connect(keys_, qOverload<int>(&QComboBox::activated), this, [this] { emit sortRequested(sortKey(), direction_); });
    connect(directionButton_, &QToolButton::clicked, this, &ThumbnailSortBar::toggleDirection);
}

int ThumbnailSortBar::sortKey() const { return keys_->currentIndex(); }

void ThumbnailSortBar::toggleDirection() {
    direction_ = direction_ ? 0 : 1;
    directionButton_->setIcon(QIcon(ThumbPixmap(direction_ ? GridPicture::SortAscending : GridPicture::SortDescending)));
    directionButton_->setToolTip(direction_ ? QStringLiteral("昇順") : QStringLiteral("降順"));
    // Key -1 (none chosen yet) sorts nothing.
    emit sortRequested(sortKey(), direction_);
    label_->setFocus();
}

}  // namespace veld
