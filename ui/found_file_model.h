// The found files of a search as a table model: one row per found file handed
// to the views, in the order the search registered them (the row holds the
// record's index in the session's gcDelFileList); the eleven cells are the
// texts of search/found_file_columns.h, made when a view asks for them. The
// views show it through the display filter (found_file_filter.h), which also
// sorts; the helpers below read the records of any model whose rows carry a
// record index.
#pragma once

#include <QAbstractTableModel>
#include <vector>

#include "finder/search_session.h"

class QAbstractItemModel;
class QItemSelectionModel;

namespace veld {

// Item data role of a row: the record's index in the session's gcDelFileList.
constexpr int kRecordRole = Qt::UserRole;

class FoundFileModel : public QAbstractTableModel {
    Q_OBJECT
public:
    explicit FoundFileModel(SearchSession* session, QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

    SearchSession* session() const { return session_; }
    // The record index of a row, or -1.
    int recordOfRow(int row) const;
    const std::vector<int>& rows() const { return rows_; }

    // Removes every row.
    void clear();
    // Puts these records in as the rows, in this order.
    void setRows(std::vector<int> records);
    // Appends one row.
    void appendRow(int record);

private:
    SearchSession* session_;
    std::vector<int> rows_;
};

// The record index a row of the model stands for (its kRecordRole), or -1.
int RecordIndexOfRow(const QAbstractItemModel& model, int row);
// The selected rows, top to bottom. Read from the selection's ranges:
// QItemSelectionModel::selectedRows tests every row against every range,
// which takes minutes for thousands of scattered rows.
std::vector<int> SelectedRows(const QItemSelectionModel& selection);
// The record indices of the selected rows, top to bottom.
std::vector<int> SelectedRecords(const QItemSelectionModel& selection);
// The record indices of all rows, top to bottom.
std::vector<int> RecordsInRowOrder(const QAbstractItemModel& model);

}  // namespace veld
