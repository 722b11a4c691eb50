#include "ui/search/search_start_dlg.h"

#include <QCheckBox>
#include <QEvent>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSlider>
#include <QStyle>
#include <algorithm>
#include <climits>

#include "base/settings.h"
#include "base/trace.h"
#include "ui/dialog_units.h"
#include "ui/interface_wait.h"
#include "ui/search/image_file_problem.h"
#include "ui/system_error_text.h"
#include "volume/boot_sector.h"
#include "volume/disk_volume.h"

namespace veld {

namespace {

// Window layout in dialog units (x, y, width, height).
constexpr int kWidth = 219, kHeight = 193;
constexpr int kHint[4] = {5, 5, 209, 10};
constexpr int kStart[4] = {51, 26, 54, 19};
constexpr int kCancel[4] = {113, 26, 54, 19};
constexpr int kOptionCheck[4] = {51, 48, 120, 10};
constexpr int kOptionsGroup[4] = {11, 68, 193, 116};
constexpr int kDetailCheck[4] = {34, 80, 150, 10};
constexpr int kRangeGroup[4] = {15, 100, 184, 40};
constexpr int kStartLabel[4] = {22, 110, 36, 9};
constexpr int kEndLabel[4] = {22, 125, 36, 9};
constexpr int kStartSlider[4] = {61, 108, 95, 15};
constexpr int kStartField[4] = {163, 107, 29, 14};
constexpr int kEndSlider[4] = {61, 123, 95, 15};
constexpr int kEndField[4] = {163, 123, 29, 14};
constexpr int kKindsGroup[4] = {16, 146, 182, 31};
constexpr int kPicturesCheck[4] = {30, 158, 150, 10};

// Sliders hold an int; larger cluster counts are shown scaled.
constexpr int64_t kSliderLimit = 1000000000;

QRect Place(const DialogUnits& du, const int r[4]) { return du.rect(r[0], r[1], r[2], r[3]); }

// Saves the search volume's device handle from being open while the
// dialog opens the source itself, and reopens it on every way out.
struct SearchHandlePause {
    explicit SearchHandlePause(SearchSession* session)
        : volume(session ? session->volume.get() : nullptr) {
        if (volume) DiskIO_CloseHandle(*volume);
    }
    ~SearchHandlePause() {
        if (volume) DiskIO_Reopen(*volume);
    }
    DiskVolume* volume;
};

}  // namespace

CSearchStartDlg::CSearchStartDlg(char driveLetter, const QString& imagePath, QWidget* parent,
                                 SearchSession* session, int partition)
    : QDialog(parent), letter_(driveLetter), imagePath_(imagePath) {
    options_.partition = partition;
    {
        SearchHandlePause pause(session);
        // A card this user may not open is opened through UDisks2, which may
        // wait for the password: the window keeps painting meanwhile.
        std::unique_ptr<DiskVolume> volume;
        std::string openError;
        RunWhileInterfacePaints([&] {
            volume = DiskIO_Open(imagePath.toStdString(), driveLetter, partition);
            if (!volume) openError = DiskIO_LastOpenError();
        });
        // The message names the source and the reason beside the short text.
        const QString source = imagePath.isEmpty() ? QStringLiteral("%1:").arg(QChar::fromLatin1(driveLetter)) : imagePath;
        if (!volume) {
            const QString reason = WithJapaneseReasons(openError);
            error_ = QStringLiteral("オープンエラー\n%1").arg(reason.isEmpty() ? source + QStringLiteral(": 開けません") : reason);
        } else if (const QString problem = imagePath.isEmpty() ? QString() : ImageFileProblem(imagePath, *volume);
                   !problem.isEmpty()) {
            error_ = QStringLiteral("読み込みデータエラー\n%1").arg(problem);
        } else if (volume->volumeKind == VolumeNone) {
            error_ = QStringLiteral("読み込みデータエラー\n%1: 最初のセクタを読み込めません").arg(source);
        } else if ((volume->volumeKind == VolumeFat16 || volume->volumeKind == VolumeFat32) &&
                   !HasBootMarker(volume->bootSector)) {
            error_ = QStringLiteral("読み込みデータエラー\n%1: ブートセクタの終わりの印 (55 AA) がありません").arg(source);
        } else {
            maximum_ = std::max<int64_t>(volume->clusterCount, minimum_);
        }
    }
    optionShown_ = ReadIniInt("SearchOption", "Option", 0) != 0;
    picturesOnly_ = ReadIniInt("SearchOption", "Pic", 0) != 0;
    detail_ = ReadIniInt("SearchOption", "SearchDetail", 1) != 0;
    start_ = minimum_;
    end_ = maximum_;
    scale_ = maximum_ > kSliderLimit ? (maximum_ + kSliderLimit - 1) / kSliderLimit : 1;
    options_.firstCluster = start_;
    options_.lastCluster = end_;
    options_.rangeOnly = 0;
    options_.flags = (picturesOnly_ ? SearchImagesOnly : 0) | (detail_ ? SearchDetailed : 0);
    if (!failed()) build();
}

CSearchStartDlg::~CSearchStartDlg() = default;

int CSearchStartDlg::exec() {
    if (failed()) {
        ErrorBox(parentWidget(), "%s", error_.toUtf8().constData());
        return QDialog::Rejected;
    }
    return QDialog::exec();
}

void CSearchStartDlg::build() {
    setFont(DialogFont());
    setWindowTitle(QStringLiteral("検索の開始"));
    const DialogUnits du = DialogUnitsOf(font());

    // Group boxes first, so the controls drawn over them stay on top.
    optionsGroup_ = new QGroupBox(QStringLiteral("検索オプション"), this);
    optionsGroup_->setGeometry(Place(du, kOptionsGroup));
    auto* rangeGroup = new QGroupBox(QStringLiteral("検索の範囲"), this);
    rangeGroup->setGeometry(Place(du, kRangeGroup));
    auto* kindsGroup = new QGroupBox(QStringLiteral("検索するファイルの種類"), this);
    kindsGroup->setGeometry(Place(du, kKindsGroup));

    auto* hint = new QLabel(QStringLiteral("[検索開始]ボタンを押すと検索を開始します"), this);
    hint->setGeometry(Place(du, kHint));
    startBtn_ = new QPushButton(QStringLiteral("検索開始(&S)"), this);
    startBtn_->setGeometry(Place(du, kStart));
    startBtn_->setDefault(true);
    connect(startBtn_, &QPushButton::clicked, this, &CSearchStartDlg::onStart);
    cancelBtn_ = new QPushButton(QStringLiteral("キャンセル(&C)"), this);
    cancelBtn_->setGeometry(Place(du, kCancel));
    cancelBtn_->setAutoDefault(false);
    connect(cancelBtn_, &QPushButton::clicked, this, &CSearchStartDlg::reject);

    optionCheck_ = new QCheckBox(QStringLiteral("オプション表示"), this);
    optionCheck_->setGeometry(Place(du, kOptionCheck));
    detailCheck_ = new QCheckBox(QStringLiteral("詳細な検索を行う"), this);
    detailCheck_->setGeometry(Place(du, kDetailCheck));
    picCheck_ = new QCheckBox(QStringLiteral("画像ファイルのみ"), this);
    picCheck_->setGeometry(Place(du, kPicturesCheck));

    auto* startLabel = new QLabel(QStringLiteral("開始"), this);
    startLabel->setGeometry(Place(du, kStartLabel));
    auto* endLabel = new QLabel(QStringLiteral("終了"), this);
    endLabel->setGeometry(Place(du, kEndLabel));
    const int sliderMin = sliderPosition(minimum_), sliderMax = sliderPosition(maximum_);
    for (QSlider** slider : {&startSlider_, &endSlider_}) {
        *slider = new QSlider(Qt::Horizontal, this);
        (*slider)->setRange(sliderMin, sliderMax);
        (*slider)->setPageStep(std::max(1, (sliderMax - sliderMin) / 10));
    }
    startSlider_->setGeometry(Place(du, kStartSlider));
    endSlider_->setGeometry(Place(du, kEndSlider));
    for (QLineEdit** field : {&startEdit_, &endEdit_}) {
        *field = new QLineEdit(this);
        (*field)->setAlignment(Qt::AlignRight);
        (*field)->setMaxLength(20);
        (*field)->installEventFilter(this);
        connect(*field, &QLineEdit::editingFinished, this, [this] { applyLayout(); });
    }
    startEdit_->setGeometry(Place(du, kStartField));
    endEdit_->setGeometry(Place(du, kEndField));

    fullHeight_ = du.y(kHeight);
    collapsedHeight_ = du.y(kOptionsGroup[1]);
    setFixedWidth(du.x(kWidth));

    // Values into the controls.
    updating_ = true;
    setSliderValue(startSlider_, start_);
    setSliderValue(endSlider_, end_);
    startEdit_->setText(QString::number(start_));
    endEdit_->setText(QString::number(end_));
    optionCheck_->setChecked(optionShown_);
    detailCheck_->setChecked(detail_);
    picCheck_->setChecked(picturesOnly_);
    updating_ = false;

    connect(optionCheck_, &QCheckBox::toggled, this, [this](bool on) {
        optionShown_ = on;
        applyLayout();
    });
    connect(detailCheck_, &QCheckBox::toggled, this, [this](bool on) { detail_ = on; });
    connect(picCheck_, &QCheckBox::toggled, this, [this](bool on) { picturesOnly_ = on; });
    connect(startSlider_, &QSlider::valueChanged, this, [this] { onSliderMoved(true); });
    connect(endSlider_, &QSlider::valueChanged, this, [this] { onSliderMoved(false); });

    applyLayout();
}

int CSearchStartDlg::sliderPosition(int64_t value) const {
    value = std::clamp(value, minimum_, maximum_);
    if (value == maximum_) return int((maximum_ + scale_ - 1) / scale_);
    return int(value / scale_);
}

int64_t CSearchStartDlg::sliderValue(int position) const {
    const int top = int((maximum_ + scale_ - 1) / scale_);
    if (position >= top) return maximum_;
    return std::clamp(int64_t(position) * scale_, minimum_, maximum_);
}

void CSearchStartDlg::setSliderValue(QSlider* slider, int64_t value) {
    const bool wasUpdating = updating_;
    updating_ = true;
    slider->setValue(sliderPosition(value));
    updating_ = wasUpdating;
}

int64_t CSearchStartDlg::fieldNumber(const QLineEdit* field) {
    // The leading decimal number of the field; 0 when there is none.
    const QString text = field->text().trimmed();
    int64_t value = 0;
    int i = 0;
    bool negative = false;
    if (i < text.size() && (text[i] == QLatin1Char('-') || text[i] == QLatin1Char('+'))) {
        negative = text[i] == QLatin1Char('-');
        ++i;
    }
    for (; i < text.size() && text[i].isDigit() && text[i].unicode() < 128; ++i) {
        if (value > (INT64_MAX - 9) / 10) break;  // far beyond any card
        value = value * 10 + (text[i].unicode() - '0');
    }
    return negative ? -value : value;
}

void CSearchStartDlg::applyLayout() {
    if (!startEdit_) return;
    setFixedHeight(optionShown_ ? fullHeight_ : collapsedHeight_);

    updating_ = true;
    int64_t start = fieldNumber(startEdit_);
    if (start > end_) start = end_;
    if (start < minimum_) start = minimum_;
    start_ = start;
    setSliderValue(startSlider_, start_);
    startEdit_->setText(QString::number(start_));

    int64_t end = fieldNumber(endEdit_);
    if (end < start_) end = start_;
    if (end > maximum_) end = maximum_;
    end_ = end;
    setSliderValue(endSlider_, end_);
    endEdit_->setText(QString::number(end_));
    updating_ = false;
}

void CSearchStartDlg::onSliderMoved(bool startMoved) {
    if (updating_) return;
    updating_ = true;
    QSlider* moved = startMoved ? startSlider_ : endSlider_;
    QSlider* other = startMoved ? endSlider_ : startSlider_;
    QLineEdit* movedField = startMoved ? startEdit_ : endEdit_;
    QLineEdit* otherField = startMoved ? endEdit_ : startEdit_;
    const int64_t value = sliderValue(moved->value());
    (startMoved ? start_ : end_) = value;
    movedField->setText(QString::number(value));
    if (fieldNumber(endEdit_) < fieldNumber(startEdit_)) {
        (startMoved ? end_ : start_) = value;
        other->setValue(moved->value());
        otherField->setText(QString::number(value));
    }
    updating_ = false;
}

bool CSearchStartDlg::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::FocusOut && (watched == startEdit_ || watched == endEdit_)) applyLayout();
    return QDialog::eventFilter(watched, event);
}

void CSearchStartDlg::onStart() {
    // A number typed into a field counts even when the field still has the
    // focus (the Return key starts the search at once).
    applyLayout();
    WriteIniInt("SearchOption", "Option", optionShown_ ? 1 : 0);
    WriteIniInt("SearchOption", "Pic", picturesOnly_ ? 1 : 0);
    WriteIniInt("SearchOption", "SearchDetail", detail_ ? 1 : 0);

    int64_t first = start_, last = end_;
    if (first > last) std::swap(first, last);
    options_.firstCluster = first;
    options_.lastCluster = last;
    options_.rangeOnly = (first == 2 && last == maximum_) ? 0 : 1;
    options_.flags = (picturesOnly_ ? SearchImagesOnly : 0) | (detail_ ? SearchDetailed : 0);
    accept();
}

}  // namespace veld
