#include "ui/progress_dialog.h"

#include <QCloseEvent>
#include <QLabel>
#include <QPushButton>
#include <QTimer>

#include "ui/bitmap_progress_bar.h"
#include "ui/dialog_units.h"

namespace veld {

QString SpinnerText(int step) {
    static const char* const kSteps[8] = {"／", "－", "＼", "｜", "／", "－", "＼", "｜"};
    return QString::fromUtf8(kSteps[((step % 8) + 8) % 8]);
}

ProgressDialog::ProgressDialog(QWidget* parent) : QDialog(parent) {
    setFont(DialogFont());
    setWindowFlag(Qt::WindowContextHelpButtonHint, false);
    bar_ = new BitmapProgressBar(this);
    button_ = new QPushButton(this);
    button_->setAutoDefault(false);
    connect(button_, &QPushButton::clicked, this, &ProgressDialog::reject);
    spinner_ = new QLabel(SpinnerText(0), this);
    spinner_->setAlignment(Qt::AlignCenter);
    spinner_->hide();
    spinnerTimer_ = new QTimer(this);
    spinnerTimer_->setInterval(500);
    connect(spinnerTimer_, &QTimer::timeout, this, &ProgressDialog::tick);
}

void ProgressDialog::setPercent(int percent) { bar_->setPercent(percent); }
int ProgressDialog::percent() const { return bar_->percent(); }
bool ProgressDialog::barShown() const { return !bar_->isHidden(); }
bool ProgressDialog::buttonShown() const { return !button_->isHidden(); }
QString ProgressDialog::spinnerText() const { return spinner_->text(); }

void ProgressDialog::setWorkOver() { workOver_ = true; }

void ProgressDialog::startSpinner() {
    step_ = 0;
    activatedOnce_ = false;
    spinner_->setText(SpinnerText(0));
    spinner_->show();
    spinnerTimer_->start();
}

void ProgressDialog::stopSpinner() { spinnerTimer_->stop(); }

void ProgressDialog::tick() {
    spinner_->setText(SpinnerText(step_));
    step_ = (step_ + 1) % 8;
    if (!activatedOnce_) {
        activatedOnce_ = true;
        if (!isActiveWindow()) activateWindow();
    }
}

void ProgressDialog::reject() {
    if (workOver_)
        QDialog::reject();
    else
        emit cancelRequested();
}

void ProgressDialog::closeEvent(QCloseEvent* event) {
    if (!event->spontaneous() || workOver_) {
        QDialog::closeEvent(event);
        return;
    }
    event->ignore();
    emit cancelRequested();
}

}  // namespace veld
