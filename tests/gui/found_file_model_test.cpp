// The found-file list's model on its own: the model tester's rules through
// filling, appending, sorting and clearing, and a sort that must carry the
// selection and the current row along with their records.
#include <QAbstractItemModelTester>
#include <QItemSelectionModel>
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "finder/search_session.h"
#include "search/found_file_columns.h"
#include "ui/main/found_file_model.h"

namespace veld {
namespace {

// Records 0..5 with these sizes; two share a size, so the sort's stability shows.
void AddRecords(SearchSession& session) {
    const uint32_t sizes[] = {300, 100, 500, 100, 400, 200};
    for (int i = 0; i < 6; ++i) {
        DelFileInfo r;
        r.index = i;
        r.name = "FILE" + std::to_string(i) + ".JPG";
        r.listed = 1;
        r.fileSize = sizes[i];
        session.gcDelFileList.Add(std::move(r));
    }
}

TEST(FoundFileModel, KeepsTheModelRulesAndSortsStably) {
    SearchSession session;
    AddRecords(session);
    FoundFileModel model(&session);
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::Fatal);

    model.setRows({0, 1, 2, 3});
    model.appendRow(4);
    model.appendRow(5);
    ASSERT_EQ(model.rowCount(), 6);
    EXPECT_EQ(model.columnCount(), FoundFileColumnCount);
    EXPECT_EQ(model.index(2, ColName).data().toString(), QStringLiteral("FILE2.JPG"));
    EXPECT_EQ(model.index(2, ColSize).data(kRecordRole).toInt(), 2);
    EXPECT_EQ(model.headerData(ColSize, Qt::Horizontal).toString(),
              QString::fromUtf8(FoundFileColumnAt(ColSize).heading));
    EXPECT_EQ(model.index(0, ColSize).data(Qt::TextAlignmentRole).toInt(), int(Qt::AlignRight | Qt::AlignVCenter));

    model.sortRows(ColSize, true);
    EXPECT_EQ(model.rows(), (std::vector<int>{2, 4, 0, 5, 1, 3}));  // equal sizes keep their order
    model.sortRows(ColSize, false);
    EXPECT_EQ(model.rows(), (std::vector<int>{1, 3, 5, 0, 4, 2}));
    model.clear();
    EXPECT_EQ(model.rowCount(), 0);
}

TEST(FoundFileModel, SortingCarriesTheSelectionAndTheCurrentRow) {
    SearchSession session;
    AddRecords(session);
    FoundFileModel model(&session);
    model.setRows({0, 1, 2, 3, 4, 5});
    QItemSelectionModel selection(&model);
    for (int row : {1, 4})
        selection.select(model.index(row, 0), QItemSelectionModel::Select | QItemSelectionModel::Rows);
    selection.setCurrentIndex(model.index(2, 0), QItemSelectionModel::NoUpdate);

    model.sortRows(ColSize, true);
    std::vector<int> selected;
    for (const QModelIndex& index : selection.selectedRows()) selected.push_back(model.recordOfRow(index.row()));
    std::sort(selected.begin(), selected.end());
    EXPECT_EQ(selected, (std::vector<int>{1, 4}));
    EXPECT_EQ(model.recordOfRow(selection.currentIndex().row()), 2);
    // Whole rows stay selected: every cell of a selected record's row.
    const int row = int(std::find(model.rows().begin(), model.rows().end(), 4) - model.rows().begin());
    for (int c = 0; c < FoundFileColumnCount; ++c) EXPECT_TRUE(selection.isSelected(model.index(row, c))) << c;
}

}  // namespace
}  // namespace veld
