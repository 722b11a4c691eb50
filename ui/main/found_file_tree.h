// The left pane: the found files grouped into pictures and others, and under
// them one node per file extension. The selected node is the display filter
// that the list (and later the thumbnails) apply. RefreshResultViews is the
// one way a change of the search results reaches the views.
#pragma once

#include <QWidget>
#include <string>

#include "finder/del_file_info.h"
#include "finder/search_session.h"

class QTabWidget;
class QTreeWidget;
class QTreeWidgetItem;

namespace veld {

// Update codes of the result views.
enum ResultUpdate : int {
    UpdateFinished = 0,  // the search finished: rebuild everything
    UpdateCleared = 1,   // the results were cleared
    UpdateAdded = 2,     // one more found file
};

// Node codes, also the display filter's modes.
enum TreeNodeCode : int {
    NodeAll = 1,
    NodePictures = 10,
    NodeOthers = 11,
    NodePictureExtension = 20,
    NodeOtherExtension = 21,
};

// Codes 0 and 1 rebuild the tree first; then the list gets the same code and
// record.
void RefreshResultViews(int code, const DelFileInfo* record);
// Whether a record is shown under the current display filter.
bool RecordPassesFilter(const DelFileInfo& record);
// The display filter (mode = node code, extension for modes 20/21).
int DisplayFilterMode();
std::string DisplayFilterExtension();
// The filter extension an extension node's text selects: the text between
// the leading "." and the last " [", trimmed and upper-cased, three blanks
// when that is empty; "" when the text has no " [".
std::string FilterExtensionOfNodeText(const std::string& text);

// The tree pane: the session's found files by kind and extension; its selection filters the list.
class CWTreeDlgView : public QWidget {
    Q_OBJECT
public:
    // The tree groups the found files of the session.
    explicit CWTreeDlgView(SearchSession* session, QWidget* parent = nullptr);
    ~CWTreeDlgView() override;

    // The pane of the main window, or null.
    static CWTreeDlgView* Instance();

    // Deletes all nodes and builds them again from the found count and the
    // extension tally; selects the root and resets the filter to "all".
    void Rebuild();
    // Puts the single tab "検索結果" back.
    void SetTabTitle();

    QTreeWidget* tree() const { return tree_; }
    QTabWidget* tab() const { return tab_; }
    QTreeWidgetItem* rootNode() const;
    // The pane width that shows the root node whole with a count of up to
    // four digits.
    int preferredWidth() const;

private:
    void onSelectionChanged();

    SearchSession* session_;
    QTabWidget* tab_ = nullptr;
    QTreeWidget* tree_ = nullptr;
    bool rebuilding_ = false;
};

}  // namespace veld
