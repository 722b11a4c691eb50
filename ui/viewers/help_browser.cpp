#include "ui/viewers/help_browser.h"

#include <QFileInfo>
#include <QGuiApplication>
#include <QPushButton>
#include <QScreen>
#include <QTextBrowser>
#include <QUrl>
#include <QVBoxLayout>

#include "ui/dialog_units.h"
#include "ui/shell_open.h"

namespace veld {

HelpBrowser::HelpBrowser(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("helpBrowser"));
    setWindowTitle(QStringLiteral("Veld ヘルプ"));
    setFont(DialogFont());
    setModal(false);
    setAttribute(Qt::WA_DeleteOnClose);
    browser_ = new QTextBrowser;
    browser_->setObjectName(QStringLiteral("helpText"));
    browser_->setOpenLinks(true);
    browser_->setOpenExternalLinks(false);
    // Links within the page and to its neighbours stay here; others go to
    // the desktop, which may be able to open them after all.
    connect(browser_, &QTextBrowser::anchorClicked, this, [this](const QUrl& url) {
        if (!url.isLocalFile() && !url.isRelative() && url.scheme() != QLatin1String("qrc")) {
            browser_->setSource(browser_->source());
            ShellOpenUrl(url.toString());
        }
    });
    auto* close = new QPushButton(QStringLiteral("閉じる(&C)"));
    connect(close, &QPushButton::clicked, this, &QDialog::close);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(browser_, 1);
    layout->addWidget(close, 0, Qt::AlignRight);
    QSize size(ScaledWindowsPixels(760), ScaledWindowsPixels(620));
    if (QScreen* screen = QGuiApplication::primaryScreen()) size = size.boundedTo(screen->availableGeometry().size());
    resize(size);
}

bool HelpBrowser::ShowPage(const QString& path) {
    const QFileInfo page(path);
    if (!page.isReadable()) return false;
    browser_->setSearchPaths({page.absolutePath()});
    browser_->setSource(QUrl::fromLocalFile(page.absoluteFilePath()));
    return !browser_->document()->isEmpty();
}

}  // namespace veld
