#include "platform/qt/qt_platform_services.h"

#include <QDir>
#include <QLocale>
#include <QMimeDatabase>
#include <QStandardPaths>

#include "platform/platform_services.h"

namespace veld {
namespace {

std::optional<QMimeType> MimeOf(const std::string& ext) {
    static QMimeDatabase db;
    QMimeType type = db.mimeTypeForFile(QStringLiteral("temp.") + QString::fromStdString(ext), QMimeDatabase::MatchExtension);
    if (!type.isValid() || type.isDefault()) return std::nullopt;
    return type;
}

std::string WithSlash(QString folder) {
    if (!folder.endsWith('/')) folder += '/';
    return folder.toStdString();
}

}  // namespace

void InstallQtPlatformServices() {
    // Type names follow Qt's default locale: the interface is Japanese.
    QLocale::setDefault(QLocale(QLocale::Japanese, QLocale::Japan));
    PlatformServices s;
    s.typeName = [](const std::string& ext) -> std::optional<std::string> {
        auto type = MimeOf(ext);
        if (!type) return std::nullopt;
        QString comment = type->comment().trimmed();
        if (comment.isEmpty()) return std::nullopt;
        return comment.toStdString();
    };
    s.contentType = [](const std::string& ext) -> std::optional<std::string> {
        auto type = MimeOf(ext);
        if (!type) return std::nullopt;
        return type->name().toStdString();
    };
    s.documentsFolder = [] {
        return QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation).toStdString();
    };
    s.homeFolder = [] { return QDir::homePath().toStdString(); };
    s.configFolder = [] {
        return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation).toStdString();
    };
    s.tempFolder = [] { return WithSlash(QDir::tempPath()); };
    InstallPlatformServices(std::move(s));
}

}  // namespace veld
