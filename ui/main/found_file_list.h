// The list pane of the right side: one row per found file that passes the
// tree's display filter, eleven columns (search/found_file_columns.h), sorting
// by a header click, the selection summary in the status bar and the context
// menu (open, save, open the save folder, data dump). A view over a
// FoundFileModel, so that tens of thousands of rows fill, sort and select at
// once.
#pragma once

#include <QTreeView>
#include <vector>

#include "finder/del_file_info.h"
#include "finder/search_session.h"
#include "ui/main/found_file_model.h"

class QMenu;

namespace veld {

// The list pane: one row per found file of the session that passes the tree's filter.
class CWListView : public QTreeView {
    Q_OBJECT
public:
    // Command numbers of the context menu.
    enum Command { CmdOpen = 32836, CmdSave = 32837, CmdOpenSaveFolder = 32839, CmdDataDump = 32846 };

    // The list shows the found files of the session.
    explicit CWListView(SearchSession* session, QWidget* parent = nullptr);
    // Stores the column widths (-1 for a column at its default width).
    ~CWListView() override;

    static CWListView* Instance();

    SearchSession* session() const { return session_; }

    // The width a column gets when none is stored: its built-in width scaled
    // to the font, at least wide enough for the heading and, for the date,
    // picture size and GPS columns, for their longest text.
    int DefaultColumnWidth(int column) const;

    // Code 1 removes all rows; 2 appends the record's row when it passes the
    // filter; 0 refills from the found-file list (with the common progress
    // dialog's bar and Cancel when progress is allowed or the list is long).
    void FillList(int code, const DelFileInfo* record, bool progressAllowed);
    // Writes "選択ファイル数=%d %s" (or " ") to status pane 1.
    void ShowSelectionStatus();
    // Sorts by a column as a header click does (the direction flag decides).
    void SortByColumn(int column);
    // Sorts the rows by a column in a direction (the thumbnails' sort bar).
    void SortRows(int column, bool ascending);
    // The direction flag of a column (0: the next sort is descending).
    int sortFlag(int column) const;

    // The rows: indices into the session's gcDelFileList, in row order.
    std::vector<int> rowRecords() const;
    std::vector<int> selectedRecords() const;
    int rowCount() const { return model_->rowCount(); }
    // The record of a row (in the list's order), or null.
    DelFileInfo* RecordOfRow(int row) const;
    // The record at an index of gcDelFileList, or null.
    DelFileInfo* RecordAt(int index) const;
    // The text a cell shows.
    QString cellText(int row, int column) const;
    bool isRowSelected(int row) const;
    // Adds the row to the selection, or takes it out.
    void setRowSelected(int row, bool selected);
    // The rectangle of a row in the viewport.
    QRect rowRect(int row) const;
    FoundFileModel* foundFileModel() const { return model_; }

    // Builds the context menu with its items enabled as the selection allows.
    // Its items queue their command: it runs on the next turn of the event
    // loop, after the menu has closed.
    QMenu* buildContextMenu(QWidget* parent);
    // Runs one of the context commands.
    void runCommand(int command);

    // The commands behind the context menu, for a row.
    void openRecord(int row);
    void dumpRecord(int row);
    void openSaveFolder();

protected:
    void mouseDoubleClickEvent(QMouseEvent* event) override;

private:
    void onHeaderClicked(int column);
    void onContextMenu(const QPoint& pos);
    void clearSortFlags();
    // The selected rows, top to bottom.
    std::vector<int> selectedRows() const;

    SearchSession* session_;
    FoundFileModel* model_;
    int sortFlags_[10] = {};
    bool refilling_ = false;
    unsigned generation_ = 0;  // counts refills and clears
};

}  // namespace veld
