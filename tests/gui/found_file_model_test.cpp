// The found files as the views show them, on their own: the model tester's
// rules through filling, appending, filtering, sorting and clearing, and a
// sort that must carry the selection and the current row along with their
// records.
#include <QAbstractItemModelTester>
#include <QItemSelectionModel>
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "finder/search_session.h"
#include "search/found_file_columns.h"
#include "ui/found_file_filter.h"
#include "ui/found_file_model.h"

namespace veld {
namespace {

// Records 0..5 with these sizes; two share a size, so the sort's stability
// shows. Records 1 and 4 are texts, the others pictures.
void AddRecords(SearchSession& session) {
    const uint32_t sizes[] = {300, 100, 500, 100, 400, 200};
    for (int i = 0; i < 6; ++i) {
        DelFileInfo r;
        r.index = i;
        const bool text = i == 1 || i == 4;
        r.name = "FILE" + std::to_string(i) + (text ? ".TXT" : ".JPG");
        r.extension = text ? "TXT" : "JPG";
        r.isImage = text ? 0 : 1;
        r.listed = 1;
        r.fileSize = sizes[i];
        session.gcDelFileList.Add(std::move(r));
    }
}

TEST(FoundFileModel, KeepsTheModelRulesFiltersAndSortsStably) {
    SearchSession session;
    AddRecords(session);
    FoundFileModel files(&session);
    FoundFileFilter shown(&files);
    QAbstractItemModelTester fileRules(&files, QAbstractItemModelTester::FailureReportingMode::Fatal);
    QAbstractItemModelTester shownRules(&shown, QAbstractItemModelTester::FailureReportingMode::Fatal);

    files.setRows({0, 1, 2, 3});
    files.appendRow(4);
    files.appendRow(5);
    ASSERT_EQ(shown.rowCount(), 6);
    EXPECT_EQ(shown.columnCount(), FoundFileColumnCount);
    EXPECT_EQ(shown.index(2, ColName).data().toString(), QStringLiteral("FILE2.JPG"));
    EXPECT_EQ(shown.index(2, ColSize).data(kRecordRole).toInt(), 2);
    EXPECT_EQ(shown.headerData(ColSize, Qt::Horizontal).toString(),
              QString::fromUtf8(FoundFileColumnAt(ColSize).heading));
    EXPECT_EQ(shown.index(0, ColSize).data(Qt::TextAlignmentRole).toInt(), int(Qt::AlignRight | Qt::AlignVCenter));

    shown.sort(ColSize, Qt::DescendingOrder);
    EXPECT_EQ(RecordsInRowOrder(shown), (std::vector<int>{2, 4, 0, 5, 1, 3}));  // equal sizes keep their order
    shown.sort(ColSize, Qt::AscendingOrder);
    EXPECT_EQ(RecordsInRowOrder(shown), (std::vector<int>{1, 3, 5, 0, 4, 2}));

    // A filter is a refill, sorted as before (unsorted: in registration
    // order); the texts' extension node takes only them.
    DisplayFilter texts;
    texts.node = NodeOtherExtension;
    texts.extension = "TXT";
    shown.setFilter(texts);
    EXPECT_EQ(RecordsInRowOrder(shown), (std::vector<int>{1, 4}));
    DisplayFilter pictures;
    pictures.node = NodePictures;
    shown.setFilter(pictures);
    EXPECT_EQ(RecordsInRowOrder(shown), (std::vector<int>{3, 5, 0, 2}));
    shown.unsort();
    EXPECT_EQ(RecordsInRowOrder(shown), (std::vector<int>{0, 2, 3, 5}));
    // A file found now joins the shown ones only when it passes.
    DelFileInfo late;
    late.index = 6;
    late.listed = 1;
    late.isImage = 1;
    session.gcDelFileList.Add(std::move(late));
    files.appendRow(6);
    EXPECT_EQ(RecordsInRowOrder(shown), (std::vector<int>{0, 2, 3, 5, 6}));
    files.clear();
    EXPECT_EQ(shown.rowCount(), 0);
}

TEST(FoundFileModel, SortingCarriesTheSelectionAndTheCurrentRow) {
    SearchSession session;
    AddRecords(session);
    FoundFileModel files(&session);
    FoundFileFilter shown(&files);
    files.setRows({0, 1, 2, 3, 4, 5});
    QItemSelectionModel selection(&shown);
    for (int row : {1, 4})
        selection.select(shown.index(row, 0), QItemSelectionModel::Select | QItemSelectionModel::Rows);
    selection.setCurrentIndex(shown.index(2, 0), QItemSelectionModel::NoUpdate);

    shown.sort(ColSize, Qt::DescendingOrder);
    std::vector<int> selected = SelectedRecords(selection);
    std::sort(selected.begin(), selected.end());
    EXPECT_EQ(selected, (std::vector<int>{1, 4}));
    EXPECT_EQ(shown.recordOfRow(selection.currentIndex().row()), 2);
    // Whole rows stay selected: every cell of a selected record's row.
    const std::vector<int> order = RecordsInRowOrder(shown);
    const int row = int(std::find(order.begin(), order.end(), 4) - order.begin());
    for (int c = 0; c < FoundFileColumnCount; ++c) EXPECT_TRUE(selection.isSelected(shown.index(row, c))) << c;
}

}  // namespace
}  // namespace veld
