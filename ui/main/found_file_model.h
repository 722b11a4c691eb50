// The rows of the found-file list as a table model: each row is the index of
// a found file in the session's gcDelFileList, in the order the list shows
// them; the eleven cells are the texts of search/found_file_columns.h,
// computed when a view asks for them. Sorting reorders the rows and carries
// the selection and the current row along.
#pragma once

#include <QAbstractTableModel>
#include <vector>

#include "finder/search_session.h"

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

    // The record index of a row, or -1.
    int recordOfRow(int row) const;
    const std::vector<int>& rows() const { return rows_; }

    // Removes every row.
    void clear();
    // Puts these records in as the rows, in this order.
    void setRows(std::vector<int> records);
    // Appends one row.
    void appendRow(int record);
    // Orders the rows by the column's sort key, compared byte by byte as
    // unsigned characters; rows with equal keys keep their order. descending
    // turns the comparison round.
    void sortRows(int column, bool descending);

private:
    SearchSession* session_;
    std::vector<int> rows_;
};

}  // namespace veld
