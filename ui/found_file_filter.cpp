#include "ui/found_file_filter.h"

#include "search/found_file_columns.h"
#include "ui/found_file_model.h"

namespace veld {

bool DisplayFilter::Passes(const DelFileInfo& record) const {
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

FoundFileFilter::FoundFileFilter(FoundFileModel* files, QObject* parent)
    : QSortFilterProxyModel(parent), files_(files) {
    setSourceModel(files);
}

void FoundFileFilter::setFilter(const DisplayFilter& filter) {
    if (filter == filter_) return;
    // The refill starts from registration order; the reset empties the
    // selection and lets the views start again from the top.
    unsort();
    beginResetModel();
    filter_ = filter;
    endResetModel();
}

void FoundFileFilter::unsort() {
    if (sortColumn() >= 0) QSortFilterProxyModel::sort(-1);
}

int FoundFileFilter::recordOfRow(int row) const { return RecordIndexOfRow(*this, row); }

bool FoundFileFilter::filterAcceptsRow(int sourceRow, const QModelIndex&) const {
    const int record = files_->recordOfRow(sourceRow);
    const DelFileInfo* info = record >= 0 ? files_->session()->gcDelFileList.Get(size_t(record)) : nullptr;
    return info && filter_.Passes(*info);
}

std::string FoundFileFilter::keyOf(int sourceRow, int column) const {
    const int record = files_->recordOfRow(sourceRow);
    const DelFileInfo* info = record >= 0 ? files_->session()->gcDelFileList.Get(size_t(record)) : nullptr;
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
