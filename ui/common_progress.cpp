#include "ui/common_progress.h"

#include <QCloseEvent>
#include <QGuiApplication>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QTimer>

#include "ui/bitmap_progress_bar.h"
#include "ui/dialog_units.h"
#include "ui/posted_message.h"

namespace veld {

namespace {

CCommonProgress* gCurrent = nullptr;
int gAbort = 0;  // 1 once the user pressed Cancel

// Layout in dialog units (x, y, width, height).
constexpr int kDialogWidth = 220, kDialogHeight = 92;
constexpr int kFrame[4] = {0, 0, 220, 40};       // item 1045: message line and spinner
constexpr int kMessage[4] = {7, 6, 206, 18};     // item 1034
constexpr int kSpinner[4] = {102, 26, 16, 11};   // item 1044
constexpr int kBar[4] = {7, 44, 206, 10};        // item 1036
constexpr int kHint[4] = {7, 60, 206, 9};        // item 1054
constexpr int kButton[4] = {80, 70, 60, 17};     // item 1035

QRect Place(const DialogUnits& du, const int r[4]) { return du.rect(r[0], r[1], r[2], r[3]); }

void SendToOwner(QWidget* owner, int message, intptr_t wParam) {
    if (!owner) return;
    PostedMessage event(message, wParam, 0);
    QCoreApplication::sendEvent(owner, &event);
}

void PostToOwner(QWidget* owner, int message, intptr_t wParam) {
    if (owner) QCoreApplication::postEvent(owner, new PostedMessage(message, wParam, 0));
}

}  // namespace

CCommonProgress::CCommonProgress(QWidget* owner, const QString& caption, const QString& message,
                                 const QString& buttonText, bool mode)
    : QDialog(owner), owner_(owner), mode_(mode) {
    setModal(false);
    setAttribute(Qt::WA_DeleteOnClose, false);
    setFont(DialogFont());
    const DialogUnits du = DialogUnitsOf(font());

    message_ = new QLabel(this);
    message_->setTextFormat(Qt::PlainText);
    message_->setWordWrap(true);
    message_->setAlignment(Qt::AlignCenter);
    message_->setGeometry(Place(du, kMessage));
    spinner_ = new QLabel(SpinnerText(0), this);
    spinner_->setAlignment(Qt::AlignCenter);
    spinner_->setGeometry(Place(du, kSpinner));
    bar_ = new BitmapProgressBar(this);
    bar_->setGeometry(Place(du, kBar).adjusted(-1, -1, 2, 1));
    hint_ = new QLabel(QStringLiteral("ESCキーを押すとキャンセルします"), this);
    hint_->setAlignment(Qt::AlignCenter);
    hint_->setGeometry(Place(du, kHint));
    button_ = new QPushButton(this);
    button_->setAutoDefault(false);
    button_->setGeometry(Place(du, kButton));
    connect(button_, &QPushButton::clicked, this, &CCommonProgress::onCancel);

    if (mode_)
        button_->hide();
    else
        hint_->hide();
    setWindowTitle(caption);
    message_->setText(message);
    button_->setText(buttonText);
    if (buttonText.isEmpty()) {
        button_->hide();
        bar_->hide();
        setFixedSize(du.size(kFrame[2], kFrame[3]));
    } else {
        setFixedSize(du.size(kDialogWidth, kDialogHeight));
    }

    timer_ = new QTimer(this);
    timer_->setInterval(500);
    connect(timer_, &QTimer::timeout, this, &CCommonProgress::tick);
    timer_->start();
}

CCommonProgress::~CCommonProgress() {
    if (gCurrent == this) gCurrent = nullptr;
}

void CCommonProgress::Open(QWidget* owner, const QString& caption, const QString& message,
                           const QString& buttonText, bool mode) {
    if (gCurrent) Close();
    gAbort = 0;
    SendToOwner(owner, MsgCommonProgressState, 0);
    auto* dialog = new CCommonProgress(owner, caption, message, buttonText, mode);
    gCurrent = dialog;
    if (QScreen* screen = owner ? owner->screen() : QGuiApplication::primaryScreen()) {
        QRect area = screen->availableGeometry();
        dialog->move(area.center() - QPoint(dialog->width() / 2, dialog->height() / 2));
    }
    dialog->show();
}

void CCommonProgress::SetPercent(int percent) {
    if (gCurrent) gCurrent->bar_->setPercent(percent);
}

void CCommonProgress::SetStatusText(const QString& text) {
    if (!gCurrent) return;
    gCurrent->pendingStatus_ = text;
    gCurrent->hasPendingStatus_ = true;
}

void CCommonProgress::SetWorkFinished() {
    if (gCurrent) gCurrent->workFinished_ = true;
}

bool CCommonProgress::Cancelled() { return gCurrent && gAbort != 0; }

CCommonProgress* CCommonProgress::Current() { return gCurrent; }

void CCommonProgress::Close() {
    CCommonProgress* dialog = gCurrent;
    if (!dialog) return;
    gCurrent = nullptr;
    SendToOwner(dialog->owner_.data(), MsgCommonProgressState, 1);
    dialog->finishClose();
    // Close may be reached from the dialog's own button handler: delete once
    // control is back in the event loop.
    dialog->deleteLater();
}

void CCommonProgress::finishClose() {
    if (closed_) return;
    closed_ = true;
    timer_->stop();
    hide();
    PostToOwner(owner_.data(), MsgProgressCancel, 0);
}

void CCommonProgress::tick() {
    spinner_->setText(SpinnerText(step_));
    step_ = (step_ + 1) % 8;
    if (hasPendingStatus_) {
        message_->setText(pendingStatus_);
        pendingStatus_.clear();
        hasPendingStatus_ = false;
    }
    if (firstTick_) {
        firstTick_ = false;
        if (!isActiveWindow()) activateWindow();
    }
}

void CCommonProgress::onCancel() {
    if (workFinished_) {
        if (gCurrent == this) Close();
        return;
    }
    gAbort = 1;
    PostToOwner(owner_.data(), MsgProgressCancel, -1);
}

void CCommonProgress::reject() { onCancel(); }

void CCommonProgress::closeEvent(QCloseEvent* event) {
    if (!event->spontaneous() || closed_) {
        QDialog::closeEvent(event);
        return;
    }
    event->ignore();
    onCancel();
}

QString CCommonProgress::messageText() const { return message_->text(); }
QString CCommonProgress::spinnerText() const { return spinner_->text(); }
bool CCommonProgress::buttonShown() const { return !button_->isHidden(); }
bool CCommonProgress::barShown() const { return !bar_->isHidden(); }
bool CCommonProgress::hintShown() const { return !hint_->isHidden(); }
int CCommonProgress::percent() const { return bar_->percent(); }

}  // namespace veld
