// The dialog that starts a search once the source is chosen, and optionally
// restricts it: a cluster range (two sliders with number fields), image
// files only, and the detailed search that also examines clusters in use.
// Its result is the SearchOptions record of the search.
//
// Settings, section [SearchOption]: Option (the options part is shown,
// default 0), Pic (image files only, default 0), SearchDetail (default 1).
// The range is never stored; it starts as the whole volume every time.
//
// Cluster numbers are 64-bit. The sliders work on a scaled position when the
// volume has more clusters than an int can hold; the number fields always
// carry the exact value.
#pragma once

#include <QDialog>
#include <QString>
#include <cstdint>

#include "finder/search_session.h"

class QCheckBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QSlider;

namespace veld {

// The options dialog that starts a search: cluster range, pictures only, detailed search.
class CSearchStartDlg : public QDialog {
    Q_OBJECT
public:
    // Opens the source read-only to learn its cluster count, with the device
    // handle of the session's open source (if any) closed meanwhile. When
    // that fails, or an image file is no use to a search (empty, shorter
    // than a sector, text), failed() is true and exec() shows
    // "オープンエラー" (or "読み込みデータエラー") with the path and the
    // reason in Japanese, and returns Rejected.
    // partition: the partition of a partitioned source to search (its table
    // number), or kPartitionAuto; carried into options().
    CSearchStartDlg(char driveLetter, const QString& imagePath, QWidget* parent = nullptr,
                    SearchSession* session = nullptr, int partition = kPartitionAuto);
    ~CSearchStartDlg() override;

    SearchOptions options() const { return options_; }

    bool failed() const { return !error_.isEmpty(); }
    QString errorText() const { return error_; }
    int exec() override;

    // Inspection and control (tests).
    int64_t clusterCount() const { return maximum_; }
    int64_t startValue() const { return start_; }
    int64_t endValue() const { return end_; }
    QLineEdit* startField() const { return startEdit_; }
    QLineEdit* endField() const { return endEdit_; }
    QSlider* startSlider() const { return startSlider_; }
    QSlider* endSlider() const { return endSlider_; }
    QCheckBox* optionCheck() const { return optionCheck_; }
    QCheckBox* detailCheck() const { return detailCheck_; }
    QCheckBox* picturesCheck() const { return picCheck_; }
    QPushButton* startButton() const { return startBtn_; }
    int fullHeight() const { return fullHeight_; }
    int collapsedHeight() const { return collapsedHeight_; }
    // Runs the layout and clamping as when a number field loses the focus.
    void applyLayout();

public slots:
    void onStart();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void build();
    int sliderPosition(int64_t value) const;
    int64_t sliderValue(int position) const;
    void setSliderValue(QSlider* slider, int64_t value);
    void onSliderMoved(bool startMoved);
    static int64_t fieldNumber(const QLineEdit* field);

    char letter_ = 0;
    QString imagePath_;
    QString error_;
    int64_t minimum_ = 2;
    int64_t maximum_ = 2;
    int64_t start_ = 2;
    int64_t end_ = 2;
    int64_t scale_ = 1;  // clusters per slider step
    bool optionShown_ = false;
    bool picturesOnly_ = false;
    bool detail_ = true;
    int fullHeight_ = 0;
    int collapsedHeight_ = 0;
    bool updating_ = false;
    SearchOptions options_;

    QCheckBox* optionCheck_ = nullptr;
    QCheckBox* detailCheck_ = nullptr;
    QCheckBox* picCheck_ = nullptr;
    QGroupBox* optionsGroup_ = nullptr;
    QSlider* startSlider_ = nullptr;
    QSlider* endSlider_ = nullptr;
    QLineEdit* startEdit_ = nullptr;
    QLineEdit* endEdit_ = nullptr;
    QPushButton* startBtn_ = nullptr;
    QPushButton* cancelBtn_ = nullptr;
};

}  // namespace veld
