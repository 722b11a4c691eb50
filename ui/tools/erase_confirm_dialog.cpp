#include "ui/tools/erase_confirm_dialog.h"

#include <QCheckBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "base/settings.h"
#include "ui/dialog_units.h"

namespace veld {

QString DelDiskQuestionText() {
    return QStringLiteral("[はい]を押すと消去します。\n消去後は検索を行っても、復活できません");
}

EraseConfirmDialog::EraseConfirmDialog(const QString& message, const QString& target, QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("eraseConfirmDialog"));
    setFont(DialogFont());
    setWindowTitle(QStringLiteral("完全消去の確認"));
    setWindowFlag(Qt::WindowContextHelpButtonHint, false);
    const DialogUnits du = DialogUnitsOf(font());

    message_ = new QLabel(message);
    message_->setObjectName(QStringLiteral("item%1").arg(ItemMessage));
    message_->setWordWrap(true);
    target_ = new QLabel(target);
    target_->setObjectName(QStringLiteral("eraseTarget"));
    target_->setWordWrap(true);
    QFont bold = target_->font();
    bold.setBold(true);
    target_->setFont(bold);

    pentagonBox_ = new QCheckBox(QStringLiteral("米国防省基準で削除"));
    pentagonBox_->setObjectName(QStringLiteral("item%1").arg(ItemPentagon));
    pentagonBox_->setChecked(ReadIniInt("Config", "DelPentagon", 0) != 0);
    fatEraseBox_ = new QCheckBox(QStringLiteral("ＦＡＴ削除"));
    fatEraseBox_->setObjectName(QStringLiteral("item%1").arg(ItemFatErase));
    fatEraseBox_->hide();

    start_ = new QPushButton(QStringLiteral("消去を開始"));
    start_->setObjectName(QStringLiteral("item%1").arg(ItemStart));
    cancel_ = new QPushButton(QStringLiteral("キャンセル(&C)"));
    cancel_->setObjectName(QStringLiteral("item%1").arg(ItemCancel));
    // Erasing is not what Enter should do by accident.
    cancel_->setDefault(true);
    connect(start_, &QPushButton::clicked, this, &EraseConfirmDialog::onStart);
    connect(cancel_, &QPushButton::clicked, this, &QDialog::reject);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(start_);
    buttons->addWidget(cancel_);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(message_);
    layout->addWidget(target_);
    layout->addWidget(pentagonBox_);
    layout->addWidget(fatEraseBox_);
    layout->addLayout(buttons);
    setMinimumWidth(du.x(220));
}

void EraseConfirmDialog::onStart() {
    pentagon_ = pentagonBox_->isChecked();
    WriteIniInt("Config", "DelPentagon", pentagon_ ? 1 : 0);
    fatErase_ = fatEraseBox_->isChecked();
    accept();
}

}  // namespace veld
