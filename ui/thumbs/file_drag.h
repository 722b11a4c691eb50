// Drag-and-drop export: the selected found files leave the grid as a list of
// file URLs in the image work folder (~VELDTMP). Nothing is extracted when the
// drag starts: the files are written when the drop target asks for the list
// (the drop), so a cancelled drag (Escape) writes nothing. Copy is the only
// action offered.
#pragma once

#include <QMimeData>
#include <QStringList>
#include <QUrl>
#include <functional>
#include <string>
#include <vector>

#include "finder/search_session.h"

class QWidget;

namespace veld {

// The file names the dragged records get in the work folder, in order: the
// record's name made safe, and for the second and later records of the same
// name (compared without regard to case, as many drop targets do) the
// " (2)", " (3)" ... number saving uses.
std::vector<std::string> DragFileNames(const std::vector<const DelFileInfo*>& records);

// The message telling which dragged files could not be written for a drop.
std::string DropFailureText(const QStringList& names);

// The data offered by a drag. The file list is made on the first request for
// it: every record is extracted into the folder under its drag name, and
// only the files written are listed. Files that could not be written are
// named in an error box after the drop.
class FileDragData : public QMimeData {
    Q_OBJECT
public:
    FileDragData(SearchSession* session, std::vector<int> records, std::string folder);

    bool hasFiles() const { return !records_.empty(); }
    QStringList formats() const override;
    bool hasFormat(const QString& mimeType) const override;
    // The paths the drop will name (before the files exist).
    QStringList plannedPaths() const;
    // How many times the files were extracted (0 until a drop asked).
    int extractions() const { return extractions_; }
    // The names of records that could not be extracted at the drop.
    const QStringList& failures() const { return failures_; }

protected:
    QVariant retrieveData(const QString& mimeType, QMetaType type) const override;

private:
    void render() const;

    SearchSession* session_;
    std::vector<int> records_;
    // What each record was when the drag started: a target may ask after the
    // drop, by when a new search can have put other files at those places.
    struct Identity {
        uint64_t size = 0;
        uint64_t start = 0;
        std::string name;
    };
    std::vector<Identity> identities_;
    std::vector<std::string> names_;  // the names planned when the drag began
    static Identity IdentityOf(const DelFileInfo* record);
    static bool SameIdentity(const Identity& a, const Identity& b);
    std::string folder_;
    mutable bool rendered_ = false;
    mutable QList<QUrl> urls_;
    mutable QStringList failures_;
    mutable int extractions_ = 0;
};

// Runs the drag of the given records from a widget (modal until the drop or
// the cancel). Returns the data source's outcome: the action taken.
Qt::DropAction StartFileDrag(QWidget* source, SearchSession* session, const std::vector<int>& records);

}  // namespace veld
