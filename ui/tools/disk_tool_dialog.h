// The modal progress dialog of the disk tools: SaveDiskDialog (card -> image
// file), RestoreDiskDialog (image file -> card) and EraseDiskDialog (complete
// erase). Each drives one DiskJob whose open step the caller has run (and,
// for the writing tools, had confirmed): the dialog starts the worker, polls
// its cells every 100 ms - the "%d/%d" counter, the phase line, the bitmap
// bar - and ends with OK when the job completed, Cancel otherwise.
//
// Cancel (the button, Escape, the close box) asks the worker to stop after
// its current chunk and waits up to 2000 ms for it. A worker held longer by
// a blocked device call keeps the dialog open ("中止しています"): the device,
// the file and the buffers are released only once it has ended, and the
// interface never blocks on it.
#pragma once

#include <QString>
#include <memory>

#include "tools/disk_job.h"
#include "ui/progress_dialog.h"

class QLabel;
class QTimer;

namespace veld {

class DiskToolDialog : public ProgressDialog {
    Q_OBJECT
public:
    // Control numbers of the dialog template.
    enum Item { ItemStatus = 1034, ItemBar = 1036, ItemCounter = 1037, ItemPhase = 1038, ItemCancel = 1039 };
    static constexpr int kTimerMs = 100;
    static constexpr int kCancelWaitMs = 2000;

    // The job's open step must have succeeded.
    DiskToolDialog(std::unique_ptr<DiskJob> job, const QString& caption, const QString& status,
                 QWidget* parent = nullptr);
    ~DiskToolDialog() override;

    // Starts the worker and runs the dialog modally. When no worker can be
    // started: "オープンエラー", everything released, Rejected.
    int exec() override;

    // The job's result code once the dialog has ended.
    int jobResult() const { return result_; }
    DiskJob& job() { return *job_; }

    // Inspection (tests).
    QString statusText() const;
    QString counterText() const;
    QString phaseText() const;
    bool cancelling() const { return cancelling_; }

public slots:
    // The Cancel button (and Escape, and the close box).
    void onCancel();

private:
    void build(const QString& caption, const QString& status);
    void poll();
    void finishJob();

    std::unique_ptr<DiskJob> job_;
    QTimer* timer_ = nullptr;
    bool inTick_ = false;
    bool cancelling_ = false;
    int result_ = DiskToolCancelled;
    QLabel* status_ = nullptr;
    QLabel* counter_ = nullptr;
    QLabel* phase_ = nullptr;
};

// Disk image creation: caption "ディスクイメージの作成".
class SaveDiskDialog : public DiskToolDialog {
    Q_OBJECT
public:
    explicit SaveDiskDialog(std::unique_ptr<DiskJob> job, QWidget* parent = nullptr);
};

// Disk image writing: caption "ディスクイメージの書き込み".
class RestoreDiskDialog : public DiskToolDialog {
    Q_OBJECT
public:
    explicit RestoreDiskDialog(std::unique_ptr<DiskJob> job, QWidget* parent = nullptr);
};

// Complete erase: caption "完全消去".
class EraseDiskDialog : public DiskToolDialog {
    Q_OBJECT
public:
    explicit EraseDiskDialog(std::unique_ptr<DiskJob> job, QWidget* parent = nullptr);
};

// The phase line under the bar: what the worker does now.
QString DiskPhaseText(const DiskJobCells& cells);

}  // namespace veld
