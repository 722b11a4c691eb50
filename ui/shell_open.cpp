#include "ui/shell_open.h"

#include <QDesktopServices>
#include <QUrl>

#include "base/format_text.h"

namespace veld {
namespace {
ShellOpener gOpener;
}

void SetShellOpenerForTest(ShellOpener opener) { gOpener = std::move(opener); }

bool ShellOpen(const QString& path) {
    std::string trimmed = path.toStdString();
    TrimBlanks(trimmed);
    QString target = QString::fromStdString(trimmed);
    if (gOpener) return gOpener(target);
    return QDesktopServices::openUrl(QUrl::fromLocalFile(target));
}

bool ShellOpenUrl(const QString& url) {
    const QString target = url.trimmed();
    if (gOpener) return gOpener(target);
    const QUrl address = QUrl::fromUserInput(target);
    return address.isValid() && QDesktopServices::openUrl(address);
}

}  // namespace veld
