#include "ui/main/found_file_model.h"

#include <algorithm>
#include <string>

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

void FoundFileModel::sortRows(int column, bool descending) {
    struct Row {
        std::string key;
        int record;
        int oldRow;
    };
    std::vector<Row> keyed;
    keyed.reserve(rows_.size());
    for (size_t i = 0; i < rows_.size(); ++i) {
        const DelFileInfo* info = session_->gcDelFileList.Get(size_t(rows_[i]));
        keyed.push_back({info ? FoundFileSortKey(*info, column) : std::string(), rows_[i], int(i)});
    }
    // Keys compare byte by byte as unsigned characters (std::string's compare).
    std::stable_sort(keyed.begin(), keyed.end(), [descending](const Row& a, const Row& b) {
        const int order = a.key.compare(b.key);
        return descending ? order > 0 : order < 0;
    });

    emit layoutAboutToBeChanged({}, QAbstractItemModel::VerticalSortHint);
    std::vector<int> newRowOf(rows_.size());
    for (size_t i = 0; i < keyed.size(); ++i) {
        newRowOf[size_t(keyed[i].oldRow)] = int(i);
        rows_[i] = keyed[i].record;
    }
    // The selection and the current row are persistent indexes: they move
    // with their rows.
    const QModelIndexList before = persistentIndexList();
    QModelIndexList after;
    after.reserve(before.size());
    for (const QModelIndex& index : before) after << this->index(newRowOf[size_t(index.row())], index.column());
    changePersistentIndexList(before, after);
    emit layoutChanged({}, QAbstractItemModel::VerticalSortHint);
}

}  // namespace veld
