// What the result views show: the found files of a FoundFileModel that pass
// the display filter (the node chosen in the tree), in the order the search
// registered them or sorted by a column. The list, the thumbnail grid and the
// disk map all show this one model and share one selection over it.
//
// Changing the filter is a refill: the views start again from the top with
// nothing selected, in the order they were sorted by (registration order
// when they were not). Sorting reorders the rows and carries the selection
// and the current row along with their files.
#pragma once

#include <QSortFilterProxyModel>
#include <string>
#include <vector>

#include "finder/del_file_info.h"
#include "ui/found_file_states.h"

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

constexpr unsigned kAllStateGroups = (1u << kStateGroupCount) - 1;
constexpr unsigned kAllKindGroups = (1u << kKindGroupCount) - 1;
constexpr unsigned GroupBit(StateGroup group) { return 1u << unsigned(group); }
constexpr unsigned GroupBit(KindGroup kind) { return 1u << unsigned(kind); }

struct DisplayFilter {
    int node = NodeAll;
    // For an extension node: the extension in upper case, or three blanks
    // for the files without one.
    std::string extension;
    // The state groups and kinds shown (bits by GroupBit); all at first.
    unsigned stateGroups = kAllStateGroups;
    unsigned kinds = kAllKindGroups;

    // Whether the node takes a record (the tree's choice alone).
    bool NodeTakes(const DelFileInfo& record) const;
    // Whether a record is shown: it is listed, the node takes it, and its
    // state group and kind are among those chosen.
    bool Passes(const DelFileInfo& record) const;
    bool operator==(const DisplayFilter&) const = default;
};

// How many files of the tree's node are in each state group and kind. A
// group's count follows the kinds chosen and a kind's the groups chosen, so
// each number says what ticking that box would show.
struct FilterCounts {
    int states[kStateGroupCount] = {};
    int kinds[kKindGroupCount] = {};
};

class FoundFileFilter : public QSortFilterProxyModel {
    Q_OBJECT
public:
    explicit FoundFileFilter(FoundFileModel* files, QObject* parent = nullptr);

    const DisplayFilter& filter() const { return filter_; }
    // Refills the views with the files that pass this filter, sorted as
    // before; one equal to the current filter changes nothing.
    void setFilter(const DisplayFilter& filter);
    // Back to registration order (nothing when not sorted).
    void unsort();

    // The record index of a row, or -1.
    int recordOfRow(int row) const;
    // The counts beside the filter's boxes, over every found file.
    FilterCounts counts() const;

    // Orders the rows by the column's sort key (search/found_file_columns.h),
    // compared byte by byte as unsigned characters; rows with equal keys keep
    // their order. A column out of range restores registration order.
    void sort(int column, Qt::SortOrder order = Qt::AscendingOrder) override;

protected:
    bool filterAcceptsRow(int sourceRow, const QModelIndex& sourceParent) const override;
    bool lessThan(const QModelIndex& left, const QModelIndex& right) const override;

private:
    std::string keyOf(int sourceRow, int column) const;
    const DelFileInfo* recordAt(int sourceRow) const;
    // A record's state group and kind, made once per record.
    struct Traits {
        StateGroup group;
        KindGroup kind;
    };
    Traits traitsOf(const DelFileInfo& record) const;

    FoundFileModel* files_;
    DisplayFilter filter_;
    // While a sort runs: the key of each shown file, by its source row.
    std::vector<std::string> keys_;
    // By record index: 0 not made yet, else 0x80 | kind << 2 | group.
    mutable std::vector<uint8_t> traits_;
};

}  // namespace veld
