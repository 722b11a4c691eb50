// What the result views show: the found files of a FoundFileModel that pass
// the display filter (the node chosen in the tree), in the order the search
// registered them or sorted by a column. The list, the thumbnail grid and the
// disk map all show this one model and share one selection over it.
//
// Changing the filter is a refill: the views start again from the top with
// nothing selected, in registration order. Sorting reorders the rows and
// carries the selection and the current row along with their files.
#pragma once

#include <QSortFilterProxyModel>
#include <string>
#include <vector>

#include "finder/del_file_info.h"

namespace veld {

class FoundFileModel;

// The nodes of the found-file tree, which are the filter's choices.
enum FilterNode : int {
    NodeAll = 1,
    NodePictures = 10,
    NodeOthers = 11,
    NodePictureExtension = 20,
    NodeOtherExtension = 21,
};

struct DisplayFilter {
    int node = NodeAll;
    // For an extension node: the extension in upper case, or three blanks
    // for the files without one.
    std::string extension;

    // Whether a record is shown: it is listed, and the node takes it.
    bool Passes(const DelFileInfo& record) const;
    bool operator==(const DisplayFilter&) const = default;
};

class FoundFileFilter : public QSortFilterProxyModel {
    Q_OBJECT
public:
    explicit FoundFileFilter(FoundFileModel* files, QObject* parent = nullptr);

    const DisplayFilter& filter() const { return filter_; }
    // Refills the views with the files that pass this filter; one equal to
    // the current filter changes nothing.
    void setFilter(const DisplayFilter& filter);
    // Back to registration order (nothing when not sorted).
    void unsort();

    // The record index of a row, or -1.
    int recordOfRow(int row) const;

    // Orders the rows by the column's sort key (search/found_file_columns.h),
    // compared byte by byte as unsigned characters; rows with equal keys keep
    // their order. A column out of range restores registration order.
    void sort(int column, Qt::SortOrder order = Qt::AscendingOrder) override;

protected:
    bool filterAcceptsRow(int sourceRow, const QModelIndex& sourceParent) const override;
    bool lessThan(const QModelIndex& left, const QModelIndex& right) const override;

private:
    std::string keyOf(int sourceRow, int column) const;

    FoundFileModel* files_;
    DisplayFilter filter_;
    // While a sort runs: the key of each shown file, by its source row.
    std::vector<std::string> keys_;
};

}  // namespace veld
