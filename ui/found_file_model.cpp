#include "ui/found_file_model.h"

#include <QItemSelectionModel>

#include <algorithm>

#include "search/found_file_columns.h"

namespace veld {

FoundFileModel::FoundFileModel(SearchSession* session, QObject* parent)
    : QAbstractTableModel(parent), session_(session) {}

int FoundFileModel::rowCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : int(rows_.size()); }

int FoundFileModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : FoundFileColumnCount;
}

int FoundFileModel::recordOfRow(int row) const { return row >= 0 && size_t(row) < rows_.size() ? rows_[row] : -1; }

QVariant FoundFileModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= int(rows_.size())) return {};
    const int record = rows_[size_t(index.row())];
    switch (role) {
    case Qt::DisplayRole: {
        // A stored record stays where it is until the found files are
        // cleared; past their end (rows not yet cleared) Get answers null.
        const DelFileInfo* info = session_->gcDelFileList.Get(size_t(record));
        return info ? QString::fromStdString(FoundFileColumnText(*info, index.column())) : QString();
    }
    case Qt::TextAlignmentRole:
        if (FoundFileColumnAt(index.column()).alignRight) return int(Qt::AlignRight | Qt::AlignVCenter);
        return {};
    case kRecordRole: return record;
    default: return {};
    }
}

QVariant FoundFileModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || section < 0 || section >= FoundFileColumnCount) return {};
    const FoundFileColumnInfo& info = FoundFileColumnAt(section);
    if (role == Qt::DisplayRole) return QString::fromUtf8(info.heading);
    if (role == Qt::TextAlignmentRole)
        return int((info.alignRight ? Qt::AlignRight : Qt::AlignLeft) | Qt::AlignVCenter);
    return {};
}

Qt::ItemFlags FoundFileModel::flags(const QModelIndex& index) const {
    return index.isValid() ? Qt::ItemIsSelectable | Qt::ItemIsEnabled : Qt::NoItemFlags;
}

void FoundFileModel::clear() {
    beginResetModel();
    rows_.clear();
    endResetModel();
}

void FoundFileModel::setRows(std::vector<int> records) {
    beginResetModel();
    rows_ = std::move(records);
    endResetModel();
}

void FoundFileModel::appendRow(int record) {
    const int row = int(rows_.size());
    beginInsertRows(QModelIndex(), row, row);
    rows_.push_back(record);
    endInsertRows();
}

int RecordIndexOfRow(const QAbstractItemModel& model, int row) {
    const QModelIndex index = model.index(row, 0);
    return index.isValid() ? index.data(kRecordRole).toInt() : -1;
}

std::vector<int> SelectedRows(const QItemSelectionModel& selection) {
    // Rows are selected whole, so a range names whole rows.
    std::vector<int> rows;
    for (const QItemSelectionRange& range : selection.selection())
        for (int row = range.top(); row <= range.bottom(); ++row) rows.push_back(row);
    std::sort(rows.begin(), rows.end());
    rows.erase(std::unique(rows.begin(), rows.end()), rows.end());
    return rows;
}

std::vector<int> SelectedRecords(const QItemSelectionModel& selection) {
    std::vector<int> records;
    const QAbstractItemModel* model = selection.model();
    if (!model) return records;
    for (int row : SelectedRows(selection)) records.push_back(RecordIndexOfRow(*model, row));
    return records;
}

std::vector<int> RecordsInRowOrder(const QAbstractItemModel& model) {
    std::vector<int> records;
    const int rows = model.rowCount();
    records.reserve(size_t(rows));
    for (int row = 0; row < rows; ++row) records.push_back(RecordIndexOfRow(model, row));
    return records;
}

}  // namespace veld
