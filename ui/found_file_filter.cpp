#include "ui/found_file_filter.h"

#include "search/found_file_columns.h"
#include "ui/found_file_model.h"

namespace veld {

bool DisplayFilter::NodeTakes(const DelFileInfo& record) const {
    if (!record.listed) return false;
    switch (node) {
    case NodeAll: return true;
    case NodePictures: return record.isImage == 1;
    case NodeOthers: return record.isImage == 0;
    case NodePictureExtension:
    case NodeOtherExtension: return record.extension == extension;
    default: return false;
    }
}

bool DisplayFilter::Passes(const DelFileInfo& record) const {
    return NodeTakes(record) && (stateGroups & GroupBit(StateLookOf(record).group)) &&
           (kinds & GroupBit(KindGroupOf(record)));
}

FoundFileFilter::FoundFileFilter(FoundFileModel* files, QObject* parent)
    : QSortFilterProxyModel(parent), files_(files) {
    // Emptied before the proxy hears of the reset: after the found files are
    // cleared, the same record numbers stand for other files.
    connect(files, &QAbstractItemModel::modelAboutToBeReset, this, [this] { traits_.clear(); });
    setSourceModel(files);
}

void FoundFileFilter::setFilter(const DisplayFilter& filter) {
    if (filter == filter_) return;
    // The refill starts from registration order (the reset empties the
    // selection and lets the views start again from the top); a sort the
    // views showed is made again over the new rows, so that their order
    // stays the one the sort bar names.
    const int column = sortColumn();
    const Qt::SortOrder order = sortOrder();
    unsort();
    beginResetModel();
    filter_ = filter;
    endResetModel();
    if (column >= 0) sort(column, order);
}

void FoundFileFilter::unsort() {
    if (sortColumn() >= 0) QSortFilterProxyModel::sort(-1);
}

int FoundFileFilter::recordOfRow(int row) const { return RecordIndexOfRow(*this, row); }

const DelFileInfo* FoundFileFilter::recordAt(int sourceRow) const {
    const int record = files_->recordOfRow(sourceRow);
    return record >= 0 ? files_->session()->gcDelFileList.Get(size_t(record)) : nullptr;
}

FoundFileFilter::Traits FoundFileFilter::traitsOf(const DelFileInfo& record) const {
    const size_t index = size_t(record.index);
    if (index >= traits_.size()) traits_.resize(index + 1, 0);
    uint8_t& made = traits_[index];
    if (!made)
        made = uint8_t(0x80 | unsigned(KindGroupOf(record)) << 2 | unsigned(StateLookOf(record).group));
    return {StateGroup(made & 3), KindGroup((made >> 2) & 3)};
}

bool FoundFileFilter::filterAcceptsRow(int sourceRow, const QModelIndex&) const {
    const DelFileInfo* info = recordAt(sourceRow);
    if (!info || !filter_.NodeTakes(*info)) return false;
    const Traits traits = traitsOf(*info);
    return (filter_.stateGroups & GroupBit(traits.group)) && (filter_.kinds & GroupBit(traits.kind));
}

FilterCounts FoundFileFilter::counts() const {
    FilterCounts counts;
    const int rows = files_->rowCount();
    for (int row = 0; row < rows; ++row) {
        const DelFileInfo* info = recordAt(row);
        if (!info || !filter_.NodeTakes(*info)) continue;
        const Traits traits = traitsOf(*info);
        if (filter_.kinds & GroupBit(traits.kind)) ++counts.states[int(traits.group)];
        if (filter_.stateGroups & GroupBit(traits.group)) ++counts.kinds[int(traits.kind)];
    }
    return counts;
}

std::string FoundFileFilter::keyOf(int sourceRow, int column) const {
    const DelFileInfo* info = recordAt(sourceRow);
    return info ? FoundFileSortKey(*info, column) : std::string();
}

void FoundFileFilter::sort(int column, Qt::SortOrder order) {
    if (column < 0 || column >= FoundFileColumnCount) {
        QSortFilterProxyModel::sort(-1, Qt::AscendingOrder);
        return;
    }
    // Each shown file's key is made once, not at every comparison.
    keys_.assign(size_t(files_->rowCount()), std::string());
    for (int row = 0; row < rowCount(); ++row) {
        const int source = mapToSource(index(row, 0)).row();
        if (source >= 0) keys_[size_t(source)] = keyOf(source, column);
    }
    QSortFilterProxyModel::sort(column, order);
    keys_.clear();
}

bool FoundFileFilter::lessThan(const QModelIndex& left, const QModelIndex& right) const {
    // Keys compare byte by byte as unsigned characters (std::string's compare).
    const size_t a = size_t(left.row()), b = size_t(right.row());
    if (a < keys_.size() && b < keys_.size()) return keys_[a] < keys_[b];
    // A file added while sorted is placed by keys made on the spot.
    return keyOf(left.row(), left.column()) < keyOf(right.row(), right.column());
}

}  // namespace veld
