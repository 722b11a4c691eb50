#include "ui/search/search_progress_window.h"

#include <QCloseEvent>
#include <QFrame>
#include <QGuiApplication>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QTimer>
#include <algorithm>

#include "ui/bitmap_progress_bar.h"
#include "ui/dialog_units.h"
#include "ui/posted_message.h"

namespace veld {

namespace {

// Window layout in dialog units (x, y, width, height).
constexpr int kWindowWidth = 243, kWindowHeight = 139;
constexpr int kFirstLine[4] = {2, 8, 237, 9};
constexpr int kSpinner[4] = {113, 27, 16, 11};
constexpr int kBarFrame[4] = {7, 42, 228, 10};
constexpr int kSecondLine[4] = {2, 63, 237, 9};
constexpr int kThirdLine[4] = {2, 83, 237, 9};
constexpr int kCompactArea[4] = {25, 78, 186, 35};
constexpr int kButton[4] = {91, 112, 59, 19};
constexpr int kSeparator1[2] = {2, 23};
constexpr int kSeparator2[2] = {2, 99};
constexpr int kSeparatorWidth = 237;

// Without a button the window is only as large as the compact area; the
// three lines and the spinner are stacked inside it.
constexpr int kCompactFirst[4] = {2, 3, 160, 9};
constexpr int kCompactSpinner[4] = {166, 2, 16, 11};
constexpr int kCompactSecond[4] = {2, 14, 182, 9};
constexpr int kCompactThird[4] = {2, 25, 182, 9};

QRect Place(const DialogUnits& du, const int r[4]) { return du.rect(r[0], r[1], r[2], r[3]); }

}  // namespace

CSearchProgress::CSearchProgress(QWidget* parent) : QDialog(parent) {
    build();
}

CSearchProgress::~CSearchProgress() {
    if (reports_) reports_->Attach(nullptr);
    // Serialise with a SetLine/SetPercent that may still be inside this
    // object on the worker thread.
    std::lock_guard<std::mutex> lock(mutex_);
}

void CSearchProgress::build() {
    setFont(DialogFont());
    setModal(false);
    setWindowTitle(QStringLiteral("Title"));
    for (QLabel*& line : lines_) {
        line = new QLabel(this);
        line->setTextFormat(Qt::PlainText);
        line->setWordWrap(false);
    }
    lines_[0]->setAlignment(Qt::AlignHCenter | Qt::AlignVCenter);
    spinner_ = new QLabel(this);
    spinner_->setAlignment(Qt::AlignCenter);
    spinner_->setText(SpinnerText(0));
    bar_ = new BitmapProgressBar(this);
    for (QLabel*& sep : separators_) {
        sep = new QLabel(this);
        sep->setFrameStyle(QFrame::HLine | QFrame::Sunken);
    }
    button_ = new QPushButton(this);
    button_->setAutoDefault(false);
    connect(button_, &QPushButton::clicked, this, &CSearchProgress::onCancel);
    timer_ = new QTimer(this);
    timer_->setInterval(500);
    connect(timer_, &QTimer::timeout, this, &CSearchProgress::tick);
}

void CSearchProgress::layoutControls() {
    const DialogUnits du = DialogUnitsOf(font());
    if (compact_) {
        lines_[0]->setGeometry(Place(du, kCompactFirst));
        spinner_->setGeometry(Place(du, kCompactSpinner));
        lines_[1]->setGeometry(Place(du, kCompactSecond));
        lines_[2]->setGeometry(Place(du, kCompactThird));
        bar_->hide();
        button_->hide();
        for (QLabel* sep : separators_) sep->hide();
        setFixedSize(du.size(kCompactArea[2], kCompactArea[3]));
        return;
    }
    lines_[0]->setGeometry(Place(du, kFirstLine));
    spinner_->setGeometry(Place(du, kSpinner));
    lines_[1]->setGeometry(Place(du, kSecondLine));
    lines_[2]->setGeometry(Place(du, kThirdLine));
    // The bar frame's rectangle is the bar; the widget adds one pixel on each
    // side for the outline. Bar width = frame width + 1.
    QRect frame = Place(du, kBarFrame);
    bar_->setGeometry(frame.adjusted(-1, -1, 2, 1));
    button_->setGeometry(Place(du, kButton));
    separators_[0]->setGeometry(QRect(du.point(kSeparator1[0], kSeparator1[1]), QSize(du.x(kSeparatorWidth), 2)));
    separators_[1]->setGeometry(QRect(du.point(kSeparator2[0], kSeparator2[1]), QSize(du.x(kSeparatorWidth), 2)));
    bar_->show();
    button_->show();
    for (QLabel* sep : separators_) sep->show();
    setFixedSize(du.size(kWindowWidth, kWindowHeight));
}

void CSearchProgress::Open(QWidget* parent, const QString& caption, const QString& firstLine,
                           const QString& buttonLabel, SearchProgress* reports) {
    caption_ = caption;
    firstLine_ = firstLine;
    buttonLabel_ = buttonLabel;
    owner_ = parent;
    if (parent && parentWidget() != parent) setParent(parent, windowFlags() | Qt::Dialog);
    compact_ = buttonLabel.isEmpty();

    setWindowTitle(caption_);
    lines_[0]->setText(firstLine_);
    button_->setText(buttonLabel_);
    bar_->setPercent(0);
    {
        std::lock_guard<std::mutex> lock(mutex_);
        pendingPercent_ = 0;
        percentDirty_ = false;
    }
    layoutControls();

    if (QScreen* screen = parent ? parent->screen() : QGuiApplication::primaryScreen()) {
        QRect area = screen->availableGeometry();
        move(area.center() - QPoint(width() / 2, height() / 2));
    }
    step_ = 0;
    activatedOnce_ = false;
    timer_->start();
    showNormal();
    raise();
    activateWindow();
    if (reports_ && reports_ != reports) reports_->Attach(nullptr);
    reports_ = reports;
    if (reports_) reports_->Attach(this);
}

void CSearchProgress::SetLine(int line, const std::string& text) { SetLine(line, QString::fromUtf8(text)); }

void CSearchProgress::SetLine(int line, const QString& text) {
    if (line < 1 || line > 3) return;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        pendingLines_[line - 1] = text;
        lineDirty_[line - 1] = true;
    }
    scheduleApply();
}

void CSearchProgress::SetPercent(int percent) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        pendingPercent_ = std::clamp(percent, 0, 100);
        percentDirty_ = true;
    }
    scheduleApply();
}

void CSearchProgress::scheduleApply() {
    // One queued update covers any number of reports made before it runs.
    if (applyScheduled_.exchange(true)) return;
    QMetaObject::invokeMethod(this, [this] { applyPending(); }, Qt::QueuedConnection);
}

void CSearchProgress::applyPending() {
    applyScheduled_.store(false);
    QString texts[3];
    bool dirty[3];
    int percent = 0;
    bool percentDirty = false;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        for (int i = 0; i < 3; ++i) {
            dirty[i] = lineDirty_[i];
            lineDirty_[i] = false;
            if (dirty[i]) texts[i] = pendingLines_[i];
        }
        percentDirty = percentDirty_;
        percentDirty_ = false;
        percent = pendingPercent_;
    }
    for (int i = 0; i < 3; ++i)
        if (dirty[i] && lines_[i]) lines_[i]->setText(texts[i]);
    if (percentDirty && bar_) bar_->setPercent(percent);
}

void CSearchProgress::tick() {
    spinner_->setText(SpinnerText(step_));
    step_ = (step_ + 1) % 8;
    if (!activatedOnce_) {
        activatedOnce_ = true;
        if (!isActiveWindow()) activateWindow();
    }
}

void CSearchProgress::onCancel() {
    if (QWidget* owner = owner_.data())
        QCoreApplication::postEvent(owner, new PostedMessage(MsgProgressCancel, -1, 0));
}

void CSearchProgress::reject() { onCancel(); }

void CSearchProgress::closeEvent(QCloseEvent* event) {
    // The user's close box asks for a cancel; a close by the program (the
    // application shutting down) goes through.
    if (!event->spontaneous()) {
        QDialog::closeEvent(event);
        return;
    }
    event->ignore();
    onCancel();
}

bool CSearchProgress::event(QEvent* event) {
    if (int(event->type()) == kActivateMessage) {
        raise();
        activateWindow();
        return true;
    }
    return QDialog::event(event);
}

QString CSearchProgress::lineText(int line) const {
    if (line < 1 || line > 3) return {};
    return lines_[line - 1]->text();
}

QString CSearchProgress::spinnerText() const { return spinner_->text(); }
int CSearchProgress::percent() const { return bar_->percent(); }
bool CSearchProgress::buttonShown() const { return !button_->isHidden(); }
bool CSearchProgress::barShown() const { return !bar_->isHidden(); }

}  // namespace veld
