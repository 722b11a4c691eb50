#include "ui/tools/disk_tool_dialog.h"

#include <QLabel>
#include <QPushButton>
#include <QTimer>

#include "base/trace.h"
#include "ui/bitmap_progress_bar.h"
#include "ui/dialog_units.h"

namespace veld {
namespace {

// Layout in dialog units (x, y, width, height).
constexpr int kWidth = 243, kHeight = 96;
constexpr int kStatus[4] = {7, 8, 229, 9};
constexpr int kBar[4] = {7, 26, 229, 10};
constexpr int kCounter[4] = {7, 42, 229, 9};
constexpr int kPhase[4] = {7, 54, 229, 9};
constexpr int kCancel[4] = {92, 70, 59, 18};

QLabel* Label(QWidget* parent, int item, const DialogUnits& du, const int (&r)[4]) {
    auto* label = new QLabel(parent);
    label->setObjectName(QStringLiteral("item%1").arg(item));
    label->setGeometry(du.rect(r));
    return label;
}

}  // namespace

QString DiskPhaseText(const DiskJobCells& cells) {
    switch (cells.phase.load()) {
        case DiskPhaseErasing:
            if (cells.passCount.load() > 1)
                return QStringLiteral("消去中 (パス %1/%2)").arg(cells.pass.load()).arg(cells.passCount.load());
            return QStringLiteral("消去中");
        case DiskPhaseVerifying: return QStringLiteral("書き込んだ内容を確認中");
        default: return {};
    }
}

DiskToolDialog::DiskToolDialog(std::unique_ptr<DiskJob> job, const QString& caption, const QString& status,
                           QWidget* parent)
    : ProgressDialog(parent), job_(std::move(job)) {
    build(caption, status);
}

DiskToolDialog::~DiskToolDialog() {
    // However the dialog went, the worker has ended and everything is
    // released before the job goes (Finish waits for a worker still held).
    if (job_) job_->Finish();
}

void DiskToolDialog::build(const QString& caption, const QString& status) {
    setModal(true);
    setWindowTitle(caption);
    const DialogUnits du = DialogUnitsOf(font());
    setFixedSize(du.size(kWidth, kHeight));

    status_ = Label(this, ItemStatus, du, kStatus);
    status_->setText(status);
    bar()->setObjectName(QStringLiteral("item%1").arg(ItemBar));
    // One pixel around the bar for its outline.
    bar()->setGeometry(du.rect(kBar).adjusted(-1, -1, 1, 1));
    counter_ = Label(this, ItemCounter, du, kCounter);
    phase_ = Label(this, ItemPhase, du, kPhase);
    cancelButton()->setText(QStringLiteral("キャンセル"));
    cancelButton()->setObjectName(QStringLiteral("item%1").arg(ItemCancel));
    cancelButton()->setGeometry(du.rect(kCancel));
    cancelButton()->setDefault(true);
    connect(this, &ProgressDialog::cancelRequested, this, &DiskToolDialog::onCancel);

    timer_ = new QTimer(this);
    timer_->setInterval(kTimerMs);
    connect(timer_, &QTimer::timeout, this, &DiskToolDialog::poll);
}

int DiskToolDialog::exec() {
    if (!job_->Start()) {
        setWorkOver();
        result_ = job_->Finish();
        ErrorBox(this, "%s\n作業のスレッドを起動できません", DiskToolOpenErrorText());
        return Rejected;
    }
    timer_->start();
    return QDialog::exec();
}

QString DiskToolDialog::statusText() const { return status_->text(); }
QString DiskToolDialog::counterText() const { return counter_->text(); }
QString DiskToolDialog::phaseText() const { return phase_->text(); }

void DiskToolDialog::poll() {
    if (inTick_ || workOver()) return;
    inTick_ = true;
    const DiskJobCells& cells = job_->cells();
    counter_->setText(QString::fromStdString(DiskProgressCounterText(cells)));
    if (!cancelling_) phase_->setText(DiskPhaseText(cells));
    setPercent(DiskProgressPercent(cells));
    if (cells.running.load() == 0) finishJob();
    inTick_ = false;
}

void DiskToolDialog::finishJob() {
    setWorkOver();
    timer_->stop();
    result_ = job_->Finish();
    if (result_ == DiskToolOk) {
        MessageBoxText("%s", job_->OutcomeText().c_str());
        accept();
        return;
    }
    if (result_ != DiskToolCancelled) {
        // The tool's message, then where and why it failed.
        std::string text = job_->OutcomeText();
        const std::string detail = job_->DetailText();
        if (!detail.empty()) text += "\n" + detail;
        ErrorBox(this, "%s", text.c_str());
    }
    reject();
}

void DiskToolDialog::onCancel() {
    if (cancelling_) return;
    cancelling_ = true;
    cancelButton()->setEnabled(false);
    phase_->setText(QStringLiteral("中止しています"));
    job_->RequestCancel();
    // The worker stops after its current chunk; one blocked in a device call
    // is waited for by the timer, which ends the dialog once it is done.
    if (job_->WaitFinished(kCancelWaitMs)) poll();
}

SaveDiskDialog::SaveDiskDialog(std::unique_ptr<DiskJob> job, QWidget* parent)
    : DiskToolDialog(std::move(job), QStringLiteral("ディスクイメージの作成"),
                   QStringLiteral("ディスクイメージ作成中　しばらくお待ちください"), parent) {
    setObjectName(QStringLiteral("saveDiskDialog"));
}

RestoreDiskDialog::RestoreDiskDialog(std::unique_ptr<DiskJob> job, QWidget* parent)
    : DiskToolDialog(std::move(job), QStringLiteral("ディスクイメージの書き込み"),
                   QStringLiteral("ディスクイメージ書込中　しばらくお待ちください"), parent) {
    setObjectName(QStringLiteral("restoreDiskDialog"));
}

EraseDiskDialog::EraseDiskDialog(std::unique_ptr<DiskJob> job, QWidget* parent)
    : DiskToolDialog(std::move(job), QStringLiteral("完全消去"), QStringLiteral("消去中　しばらくお待ちください"),
                   parent) {
    setObjectName(QStringLiteral("eraseDiskDialog"));
}

}  // namespace veld
