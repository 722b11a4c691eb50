#include "ui/common_progress.h"

#include <QGuiApplication>
#include <QLabel>
#include <QPushButton>
#include <QScreen>

#include "ui/bitmap_progress_bar.h"
#include "ui/dialog_units.h"

namespace veld {

namespace {

// Layout in dialog units (x, y, width, height).
constexpr int kDialogWidth = 220, kDialogHeight = 92;
constexpr int kFrame[4] = {0, 0, 220, 40};       // item 1045: message line and spinner
constexpr int kMessage[4] = {7, 6, 206, 18};     // item 1034
constexpr int kSpinner[4] = {102, 26, 16, 11};   // item 1044
constexpr int kBar[4] = {7, 44, 206, 10};        // item 1036
constexpr int kHint[4] = {7, 60, 206, 9};        // item 1054
constexpr int kButton[4] = {80, 70, 60, 17};     // item 1035

}  // namespace

CommonProgress::CommonProgress(QWidget* owner, const QString& caption, const QString& message,
                               const QString& buttonText, bool escapeHint)
    : ProgressDialog(owner) {
    setModal(false);
    const DialogUnits du = DialogUnitsOf(font());

    message_ = new QLabel(this);
    message_->setTextFormat(Qt::PlainText);
    message_->setWordWrap(true);
    message_->setAlignment(Qt::AlignCenter);
    message_->setGeometry(du.rect(kMessage));
    spinner()->setGeometry(du.rect(kSpinner));
    bar()->setGeometry(du.rect(kBar).adjusted(-1, -1, 2, 1));
    hint_ = new QLabel(QStringLiteral("ESCキーを押すとキャンセルします"), this);
    hint_->setAlignment(Qt::AlignCenter);
    hint_->setGeometry(du.rect(kHint));
    cancelButton()->setGeometry(du.rect(kButton));

    if (escapeHint)
        cancelButton()->hide();
    else
        hint_->hide();
    setWindowTitle(caption);
    message_->setText(message);
    cancelButton()->setText(buttonText);
    if (buttonText.isEmpty()) {
        cancelButton()->hide();
        bar()->hide();
        setFixedSize(du.size(kFrame[2], kFrame[3]));
    } else {
        setFixedSize(du.size(kDialogWidth, kDialogHeight));
    }
    connect(this, &ProgressDialog::cancelRequested, this, [this] { cancelled_ = true; });

    if (QScreen* screen = owner ? owner->screen() : QGuiApplication::primaryScreen()) {
        QRect area = screen->availableGeometry();
        move(area.center() - QPoint(width() / 2, height() / 2));
    }
    startSpinner();
    show();
}

void CommonProgress::setStatusText(const QString& text) {
    pendingStatus_ = text;
    hasPendingStatus_ = true;
}

void CommonProgress::tick() {
    ProgressDialog::tick();
    if (hasPendingStatus_) {
        message_->setText(pendingStatus_);
        pendingStatus_.clear();
        hasPendingStatus_ = false;
    }
}

QString CommonProgress::messageText() const { return message_->text(); }
bool CommonProgress::hintShown() const { return !hint_->isHidden(); }

}  // namespace veld
