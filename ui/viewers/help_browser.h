// The help page shown inside Veld, for a desktop without a browser or a
// program that opens files: a window with the page, its links followed in
// place (web addresses are offered to the desktop).
#pragma once

#include <QDialog>
#include <QString>

class QTextBrowser;

namespace veld {

class HelpBrowser : public QDialog {
    Q_OBJECT
public:
    explicit HelpBrowser(QWidget* parent = nullptr);

    // Shows the page (a local HTML file); false when it cannot be read.
    bool ShowPage(const QString& path);
    QTextBrowser* browser() const { return browser_; }

private:
    QTextBrowser* browser_ = nullptr;
};

}  // namespace veld
