// The modeless window that shows a running search: a phase heading, a detail
// line (in the signature search followed by the time left, as the command
// line shows it), a line about the latest found file, the bitmap percentage
// bar, the turning spinner and a Cancel button.
//
// It follows the window's search controller: the lines and the bar show the
// engine's reports (the controller brings them from the worker thread), its
// Cancel asks the controller to stop the search, and once the search has
// finished it hides and goes.
#pragma once

#include <QString>
#include <functional>

#include "base/search_time_left.h"
#include "ui/progress_dialog.h"

class QLabel;

namespace veld {

class SearchController;

class SearchProgressWindow : public ProgressDialog {
    Q_OBJECT
public:
    SearchProgressWindow(SearchController& controller, QWidget* parent = nullptr);

    // Sets the texts, builds and shows the window centred on the screen and
    // starts the spinner. An empty button label gives the compact window
    // without bar and button.
    void Open(const QString& caption, const QString& firstLine, const QString& buttonLabel);

    // Line 1, 2 or 3; other numbers are ignored.
    void setLine(int line, const QString& text);
    QString lineText(int line) const;

    // The clock the time left is measured by (tests step one of their own).
    using Clock = SearchTimeLeft::Clock;
    void setClock(std::function<Clock::time_point()> clock) { clock_ = std::move(clock); }

public slots:
    // Raises and activates the window.
    void bringToFront();

protected:
    // The time left moves on between reports, with the spinner.
    void tick() override;

private:
    void layoutControls(bool compact);
    void takePercent(int percent);
    // Line 2: the engine's detail and, when known, the time left.
    void showDetail();

    QLabel* lines_[3] = {nullptr, nullptr, nullptr};
    QLabel* separators_[2] = {nullptr, nullptr};
    QString detail_;
    SearchTimeLeft left_;
    std::function<Clock::time_point()> clock_ = [] { return Clock::now(); };
};

}  // namespace veld
