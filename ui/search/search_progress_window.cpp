#include "ui/search/search_progress_window.h"

#include <QFrame>
#include <QGuiApplication>
#include <QLabel>
#include <QPushButton>
#include <QScreen>

#include "ui/bitmap_progress_bar.h"
#include "ui/dialog_units.h"
#include "ui/search_controller.h"

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

}  // namespace

SearchProgressWindow::SearchProgressWindow(SearchController& controller, QWidget* parent) : ProgressDialog(parent) {
    setModal(false);
    setWindowTitle(QStringLiteral("Title"));
    for (QLabel*& line : lines_) {
        line = new QLabel(this);
        line->setTextFormat(Qt::PlainText);
        line->setWordWrap(false);
    }
    lines_[0]->setAlignment(Qt::AlignHCenter | Qt::AlignVCenter);
    for (QLabel*& sep : separators_) {
        sep = new QLabel(this);
        sep->setFrameStyle(QFrame::HLine | QFrame::Sunken);
    }
    connect(&controller, &SearchController::progressText, this, &SearchProgressWindow::setLine);
    connect(&controller, &SearchController::progressPercent, this, &SearchProgressWindow::takePercent);
    connect(this, &ProgressDialog::cancelRequested, &controller, &SearchController::requestCancel);
    connect(&controller, &SearchController::searchFinished, this, [this] {
        stopSpinner();
        hide();
        deleteLater();
    });
}

void SearchProgressWindow::layoutControls(bool compact) {
    const DialogUnits du = DialogUnitsOf(font());
    if (compact) {
        lines_[0]->setGeometry(du.rect(kCompactFirst));
        spinner()->setGeometry(du.rect(kCompactSpinner));
        lines_[1]->setGeometry(du.rect(kCompactSecond));
        lines_[2]->setGeometry(du.rect(kCompactThird));
        bar()->hide();
        cancelButton()->hide();
        for (QLabel* sep : separators_) sep->hide();
        setFixedSize(du.size(kCompactArea[2], kCompactArea[3]));
        return;
    }
    lines_[0]->setGeometry(du.rect(kFirstLine));
    spinner()->setGeometry(du.rect(kSpinner));
    lines_[1]->setGeometry(du.rect(kSecondLine));
    lines_[2]->setGeometry(du.rect(kThirdLine));
    // The bar frame's rectangle is the bar; the widget adds one pixel on each
    // side for the outline. Bar width = frame width + 1.
    bar()->setGeometry(du.rect(kBarFrame).adjusted(-1, -1, 2, 1));
    cancelButton()->setGeometry(du.rect(kButton));
    separators_[0]->setGeometry(QRect(du.point(kSeparator1[0], kSeparator1[1]), QSize(du.x(kSeparatorWidth), 2)));
    separators_[1]->setGeometry(QRect(du.point(kSeparator2[0], kSeparator2[1]), QSize(du.x(kSeparatorWidth), 2)));
    bar()->show();
    cancelButton()->show();
    for (QLabel* sep : separators_) sep->show();
    setFixedSize(du.size(kWindowWidth, kWindowHeight));
}

void SearchProgressWindow::Open(const QString& caption, const QString& firstLine, const QString& buttonLabel) {
    setWindowTitle(caption);
    lines_[0]->setText(firstLine);
    cancelButton()->setText(buttonLabel);
    setPercent(0);
    layoutControls(buttonLabel.isEmpty());

    QWidget* owner = parentWidget();
    if (QScreen* screen = owner ? owner->screen() : QGuiApplication::primaryScreen()) {
        QRect area = screen->availableGeometry();
        move(area.center() - QPoint(width() / 2, height() / 2));
    }
    startSpinner();
    showNormal();
    bringToFront();
}

void SearchProgressWindow::setLine(int line, const QString& text) {
    if (line < 1 || line > 3) return;
    if (line == 1) left_.Heading(text.toStdString(), clock_());
    if (line == 2) {
        detail_ = text;
        showDetail();
        return;
    }
    lines_[line - 1]->setText(text);
}

void SearchProgressWindow::takePercent(int percent) {
    setPercent(percent);
    left_.Percent(percent, clock_());
    showDetail();
}

void SearchProgressWindow::showDetail() {
    const int64_t seconds = left_.SecondsLeft(clock_());
    lines_[1]->setText(seconds < 0 ? detail_
                                   : QStringLiteral("%1  %2").arg(detail_, QString::fromStdString(TimeLeftText(seconds))));
}

void SearchProgressWindow::tick() {
    ProgressDialog::tick();
    showDetail();
}

QString SearchProgressWindow::lineText(int line) const {
    if (line < 1 || line > 3) return {};
    return lines_[line - 1]->text();
}

void SearchProgressWindow::bringToFront() {
    raise();
    activateWindow();
}

}  // namespace veld
