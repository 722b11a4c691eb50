#include "ui/thumbs/file_drag.h"

#include <QCoreApplication>
#include <QDrag>
#include <QPointer>
#include <QTimer>
#include <QUrl>
#include <QWidget>

#include <algorithm>
#include <cctype>
#include <set>

#include "base/trace.h"
#include "search/extraction.h"
#include "search/saved_file_names.h"
#include "search/work_folders.h"
#include "ui/thumbs/thumb_pictures.h"

namespace veld {

namespace {

const QString kUriList = QStringLiteral("text/uri-list");
// GNOME's file managers read the action from it ("copy" and the URLs).
const QString kGnomeFiles = QStringLiteral("x-special/gnome-copied-files");

std::string BaseName(const DelFileInfo& record) {
    const bool useName = record.name && !record.name->empty();
    return SafeFileName(useName ? *record.name : ShortNameOf(record));
}

std::string Folded(std::string s) {
    for (char& c : s) c = char(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

}  // namespace

std::string DropFailureText(const QStringList& names) {
    // A long list is cut so the box still fits on the screen.
    constexpr int kNamesShown = 20;
    QString text = QStringLiteral("次のファイルをドロップ先へ書き出せませんでした。\n");
    for (qsizetype i = 0; i < names.size() && i < kNamesShown; ++i) text += QStringLiteral("\n") + names[i];
    if (names.size() > kNamesShown)
        text += QStringLiteral("\nほか %1 個").arg(names.size() - kNamesShown);
    return text.toStdString();
}

std::vector<std::string> DragFileNames(const std::vector<const DelFileInfo*>& records) {
    std::vector<std::string> names;
    std::set<std::string> taken;
    for (const DelFileInfo* record : records) {
        const std::string base = record ? BaseName(*record) : std::string("_");
        std::string name = base;
        for (int n = 1; n <= kMaxNameNumber; ++n) {
            name = NumberedName(base, n, kDefaultNameMax, true);
            if (!taken.count(Folded(name))) break;
        }
        taken.insert(Folded(name));
        names.push_back(name);
    }
    return names;
}

FileDragData::Identity FileDragData::IdentityOf(const DelFileInfo* record) {
    if (!record) return {};
    return {record->fileSize, record->startCluster, record->name.value_or(std::string())};
}

bool FileDragData::SameIdentity(const Identity& a, const Identity& b) {
    return a.size == b.size && a.start == b.start && a.name == b.name;
}

FileDragData::FileDragData(SearchSession* session, std::vector<int> records, std::string folder)
    : session_(session), records_(std::move(records)), folder_(std::move(folder)) {
    while (folder_.size() > 1 && folder_.back() == '/') folder_.pop_back();
    std::vector<const DelFileInfo*> dragged;
    for (int index : records_) dragged.push_back(session_->gcDelFileList.Get(size_t(index)));
    for (const DelFileInfo* record : dragged) identities_.push_back(IdentityOf(record));
    names_ = DragFileNames(dragged);
}

QStringList FileDragData::formats() const { return {kUriList, kGnomeFiles}; }

bool FileDragData::hasFormat(const QString& mimeType) const { return formats().contains(mimeType); }

QStringList FileDragData::plannedPaths() const {
    QStringList paths;
    for (const std::string& name : names_)
        paths << QString::fromStdString(folder_ + "/" + name);
    return paths;
}

void FileDragData::render() const {
    if (rendered_) return;
    rendered_ = true;
    ++extractions_;
    std::vector<const DelFileInfo*> records;
    for (int index : records_) records.push_back(session_->gcDelFileList.Get(size_t(index)));
    const std::vector<std::string>& names = names_;
    // A search running now reads the volume from its own thread, and one
    // that ran since the drag began has put other files at these places.
    const bool searching = session_->runningState.load() != 0;
    if (!session_->volume && !searching) return;
    if (!searching) MakeFolderPath(folder_);
    for (size_t i = 0; i < records.size(); ++i) {
        if (searching || !records[i] || !SameIdentity(IdentityOf(records[i]), identities_[i])) {
            failures_ << QString::fromStdString(names[i]);
            TraceLine("ERROR drag: %s not extracted: the search results changed", names[i].c_str());
            continue;
        }
        ExtractRequest request;
        request.targetFolder = "";  // the work folder: an older file of the name is replaced
        request.fileName = names[i];
        ExtractOutcome outcome = ExtractFoundFile(*session_->volume, *records[i], request);
        if (outcome.result == ExtractOk && !outcome.path.empty()) {
            urls_ << QUrl::fromLocalFile(QString::fromStdString(outcome.path));
        } else {
            failures_ << QString::fromStdString(names[i]);
            TraceLine("ERROR drag: %s not extracted: %s", names[i].c_str(), outcome.reason.c_str());
        }
    }
    if (failures_.isEmpty()) return;
    // Told once the drop is over: the target may be asking from inside the
    // drag's own event loop, where a modal box must not open.
    const std::string text = DropFailureText(failures_);
    QTimer::singleShot(0, QCoreApplication::instance(), [text] { ErrorBox(nullptr, "%s", text.c_str()); });
}

QVariant FileDragData::retrieveData(const QString& mimeType, QMetaType type) const {
    if (mimeType != kUriList && mimeType != kGnomeFiles) return {};
    render();
    if (urls_.isEmpty()) return {};
    QByteArray text = mimeType == kGnomeFiles ? QByteArrayLiteral("copy") : QByteArray();
    for (const QUrl& url : urls_) {
        if (!text.isEmpty()) text += mimeType == kGnomeFiles ? "\n" : "";
        text += url.toEncoded();
        if (mimeType == kUriList) text += "\r\n";
    }
    if (mimeType == kUriList && type.id() != QMetaType::QByteArray) {
        QVariantList list;
        for (const QUrl& url : urls_) list << url;
        return list;
    }
    return text;
}

Qt::DropAction StartFileDrag(QWidget* source, SearchSession* session, const std::vector<int>& records) {
    if (records.empty() || !session) return Qt::IgnoreAction;
    auto* data = new FileDragData(session, records, WorkFolderPath());
    auto* drag = new QDrag(source);
    drag->setMimeData(data);
    if (const DelFileInfo* first = session->gcDelFileList.Get(size_t(records.front()))) {
        const QString name = QString::fromStdString(first->name ? *first->name : ShortNameOf(*first));
        drag->setPixmap(TypeIconForName(name).pixmap(32, 32));
    }
    const Qt::DropAction action = drag->exec(Qt::CopyAction, Qt::CopyAction);
    // A target in another process asks for the files after the drop, when
    // the drag has returned here: the data stays until the next drag (or
    // until the source window goes).
    static QPointer<QDrag> lastDrag;
    if (lastDrag) lastDrag->deleteLater();
    lastDrag = drag;
    return action;
}

}  // namespace veld
