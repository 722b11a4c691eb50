// The left pane: the found files grouped into pictures and others, and under
// them one node per file extension. The selected node is the display filter
// of the views; the tree is rebuilt when the results are cleared and when a
// search has finished. Under the tree, boxes narrow what the views show to
// some states (良, 一部, 破損, 上書き) and kinds (画像, 動画, その他), each
// with the number of files it stands for.
#pragma once

#include <QWidget>
#include <string>

class QCheckBox;
class QTabWidget;
class QTimer;
class QTreeWidget;
class QTreeWidgetItem;

namespace veld {

class FoundFileFilter;
class SearchController;

// The filter extension an extension node's text selects: the text between
// the leading "." and the last " [", trimmed and upper-cased, three blanks
// when that is empty; "" when the text has no " [".
std::string FilterExtensionOfNodeText(const std::string& text);

// The tree pane: the controller's found files by kind and extension; its
// selection is the filter's node.
class FoundFileTree : public QWidget {
    Q_OBJECT
public:
    FoundFileTree(SearchController& controller, FoundFileFilter& filter, QWidget* parent = nullptr);

    // Deletes all nodes and builds them again from the found count and the
    // extension tally; selects the root and sets the filter to "all".
    void Rebuild();
    // Puts the single tab "検索結果" back.
    void SetTabTitle();

    QTreeWidget* tree() const { return tree_; }
    // The filter boxes: by state group and by kind (found_file_states.h).
    QCheckBox* stateBox(int group) const { return stateBoxes_[group]; }
    QCheckBox* kindBox(int kind) const { return kindBoxes_[kind]; }
    // Brings the numbers beside the boxes up to date at once.
    void updateCounts();
    QTabWidget* tab() const { return tab_; }
    QTreeWidgetItem* rootNode() const;
    // The pane width that shows every label whole (the root, the groups and
    // the open branches) with a count of up to four digits.
    int preferredWidth() const;

private:
    void onSelectionChanged();
    QWidget* makeFilterBoxes();
    void onBoxToggled();
    void showFilterOnBoxes();

    SearchController& controller_;
    FoundFileFilter& filter_;
    QTabWidget* tab_ = nullptr;
    QWidget* page_ = nullptr;
    QTreeWidget* tree_ = nullptr;
    QCheckBox* stateBoxes_[4] = {};
    QCheckBox* kindBoxes_[3] = {};
    // Coalesces the count updates of files arriving during a search.
    QTimer* countTimer_ = nullptr;
    bool rebuilding_ = false;
};

}  // namespace veld
