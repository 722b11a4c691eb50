// The list pane of the right side: one row per found file the views show,
// eleven columns (search/found_file_columns.h), sorting by a header click and
// the column widths kept in the settings. A view over the controller's shown
// files, so that tens of thousands of rows fill, sort and select at once. Its
// selection is the one all views share; opening a file and the context menu
// are asked of whoever handles found-file commands.
#pragma once

#include <QTreeView>
#include <vector>

#include "finder/del_file_info.h"

class QItemSelectionModel;

namespace veld {

class SearchController;

class FoundFileList : public QTreeView {
    Q_OBJECT
public:
    // shown: the selection over the rows to show (its model is the rows).
    FoundFileList(SearchController& controller, QItemSelectionModel* shown, QWidget* parent = nullptr);
    // Stores the column widths (-1 for a column at its default width).
    ~FoundFileList() override;

    // The width a column gets when none is stored: its built-in width scaled
    // to the font, at least wide enough for the heading and, for the date,
    // picture size and GPS columns, for their longest text.
    int DefaultColumnWidth(int column) const;

    // Sorts by a column as a header click does: the column's direction flag
    // decides, then turns round.
    void SortByColumn(int column);
    // The direction flag of a column (0: the next sort is descending); all
    // flags go back to 0 whenever the rows change.
    int sortFlag(int column) const;

    // The rows: indices into the session's gcDelFileList, in row order.
    std::vector<int> rowRecords() const;
    std::vector<int> selectedRecords() const;
    int shownRowCount() const;
    // The record of a row (in the list's order), or null.
    DelFileInfo* RecordOfRow(int row) const;
    // The text a cell shows.
    QString cellText(int row, int column) const;
    bool isShownRowSelected(int row) const;
    // Adds the row to the selection, or takes it out.
    void setRowSelected(int row, bool selected);
    // The rectangle of a row in the viewport.
    QRect rowRect(int row) const;

signals:
    // A double click on a row.
    void openRequested(int row);
    // The right button over the list, at a global point.
    void contextMenuRequested(const QPoint& global);

protected:
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    // Enter (or Return) opens the current row, as a double click does.
    void keyPressEvent(QKeyEvent* event) override;

private:
    void clearSortFlags();

    SearchController& controller_;
    // One per column; the remarks sort by their text like the others.
    int sortFlags_[11] = {};
};

}  // namespace veld
