#include "ui/main/found_file_list.h"

#include <QHeaderView>
#include <QItemSelectionModel>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>

#include <algorithm>

#include "base/settings.h"
#include "search/found_file_columns.h"
#include "ui/clipped_text_tip.h"
#include "ui/dialog_units.h"
#include "ui/found_file_model.h"
#include "ui/search_controller.h"

namespace veld {

namespace {

// Widths above this (and negative ones) are not kept.
constexpr int kMaxStoredWidth = 500;

// Even rows in a light cream with near-black text, odd rows in the window
// colours; thin grid lines between the cells; clipped text as a tool tip.
class RowDelegate : public ClippedTextTipDelegate {
public:
    using ClippedTextTipDelegate::ClippedTextTipDelegate;

protected:
    void initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const override {
        ClippedTextTipDelegate::initStyleOption(option, index);
        if (index.row() % 2 == 0) {
            option->backgroundBrush = QColor(248, 248, 240);
            option->palette.setColor(QPalette::Text, QColor(16, 16, 16));
        }
    }
    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override {
        ClippedTextTipDelegate::paint(painter, option, index);
        painter->save();
        painter->setPen(QColor(208, 208, 208));
        painter->drawLine(option.rect.bottomLeft(), option.rect.bottomRight());
        painter->drawLine(option.rect.topRight(), option.rect.bottomRight());
        painter->restore();
    }
};

QString WidthKey(int column) { return QStringLiteral("ListWidth%1").arg(column); }

// The widest text of the columns whose cells have a fixed format: their
// default width shows it whole.
QString WidestCellText(int column) {
    switch (column) {
    case ColDate: return QStringLiteral("0000/00/00 00:00:00");
    case ColPictureSize: return QStringLiteral("00000x00000");
    case ColGps: return QStringLiteral("N 00ﾟ 00.000' E000ﾟ 00.000'");
    default: return {};
    }
}

}  // namespace

FoundFileList::FoundFileList(SearchController& controller, QItemSelectionModel* shown, QWidget* parent)
    : QTreeView(parent), controller_(controller) {
    setObjectName(QStringLiteral("foundFileList"));
    setFont(QFont(QStringLiteral("ＭＳＰ ゴシック"), 10));
    setModel(shown->model());
    setSelectionModel(shown);
    setRootIsDecorated(false);
    setItemsExpandable(false);
    setUniformRowHeights(true);
    setAllColumnsShowFocus(true);
    setSelectionMode(QAbstractItemView::ExtendedSelection);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setAlternatingRowColors(false);
    setSortingEnabled(false);
    setItemDelegate(new RowDelegate(this));
    setContextMenuPolicy(Qt::CustomContextMenu);

    header()->setSectionsClickable(true);
    header()->setSectionsMovable(false);
    header()->setStretchLastSection(false);
    for (int c = 0; c < FoundFileColumnCount; ++c) {
        int width = ReadIniInt("Config", WidthKey(c).toStdString(), -1);
        if (width < 1) width = DefaultColumnWidth(c);
        setColumnWidth(c, width);
    }

    // A header click sorts only while the commands are available.
    connect(header(), &QHeaderView::sectionClicked, this, [this](int column) {
        if (controller_.commandsEnabled()) SortByColumn(column);
    });
    connect(this, &QWidget::customContextMenuRequested, this, [this](const QPoint& pos) {
        if (controller_.commandsEnabled()) emit contextMenuRequested(viewport()->mapToGlobal(pos));
    });
    // New rows and refills put every direction flag back; a sort does not.
    QAbstractItemModel* rows = model();
    connect(rows, &QAbstractItemModel::rowsInserted, this, &FoundFileList::clearSortFlags);
    connect(rows, &QAbstractItemModel::modelReset, this, &FoundFileList::clearSortFlags);
    // After a sort the current cell is its row's first.
    connect(rows, &QAbstractItemModel::layoutChanged, this, [this] {
        const QModelIndex current = currentIndex();
        if (current.isValid() && current.column() != 0)
            selectionModel()->setCurrentIndex(model()->index(current.row(), 0), QItemSelectionModel::NoUpdate);
    });
}

FoundFileList::~FoundFileList() {
    for (int c = 0; c < FoundFileColumnCount; ++c) {
        int width = columnWidth(c);
        // A column left at its default is stored as "default", so that it
        // follows the font of the next start.
        if (width > kMaxStoredWidth || width < 0 || width == DefaultColumnWidth(c)) width = -1;
        WriteIniInt("Config", WidthKey(c).toStdString(), width);
    }
}

int FoundFileList::DefaultColumnWidth(int column) const {
    if (column < 0 || column >= FoundFileColumnCount) return 0;
    // The built-in width was chosen for the Windows font: scale it by the
    // measured font, and never cut the heading or a fixed-format cell.
    int width = ScaledWindowsPixels(FoundFileColumnAt(column).width);
    width = std::max(width, header()->sectionSizeHint(column));
    const QString widest = WidestCellText(column);
    if (!widest.isEmpty())
        width = std::max(width, fontMetrics().horizontalAdvance(widest) + CellTextMargins(this) + 1);
    return width;
}

void FoundFileList::clearSortFlags() { std::fill(std::begin(sortFlags_), std::end(sortFlags_), 0); }

int FoundFileList::sortFlag(int column) const {
    return column >= 0 && column < FoundFileColumnCount ? sortFlags_[column] : 0;
}

std::vector<int> FoundFileList::rowRecords() const { return RecordsInRowOrder(*model()); }

std::vector<int> FoundFileList::selectedRecords() const { return SelectedRecords(*selectionModel()); }

int FoundFileList::shownRowCount() const { return model()->rowCount(); }

DelFileInfo* FoundFileList::RecordOfRow(int row) const {
    const int index = RecordIndexOfRow(*model(), row);
    return index >= 0 ? controller_.session().gcDelFileList.Get(size_t(index)) : nullptr;
}

QString FoundFileList::cellText(int row, int column) const { return model()->index(row, column).data().toString(); }

bool FoundFileList::isShownRowSelected(int row) const { return selectionModel()->isRowSelected(row, QModelIndex()); }

void FoundFileList::setRowSelected(int row, bool selected) {
    const QModelIndex index = model()->index(row, 0);
    if (!index.isValid()) return;
    selectionModel()->select(index, (selected ? QItemSelectionModel::Select : QItemSelectionModel::Deselect) |
                                        QItemSelectionModel::Rows);
}

QRect FoundFileList::rowRect(int row) const {
    const QModelIndex first = model()->index(row, 0);
    const QModelIndex last = model()->index(row, FoundFileColumnCount - 1);
    return visualRect(first).united(visualRect(last));
}

void FoundFileList::SortByColumn(int column) {
    if (column < 0 || column >= FoundFileColumnCount) return;
    const int flag = sortFlags_[column];
    // The grid and the disk map show these rows: they follow.
    model()->sort(column, flag ? Qt::AscendingOrder : Qt::DescendingOrder);
    sortFlags_[column] = flag ? 0 : 1;
}

void FoundFileList::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        const QModelIndex current = currentIndex();
        if (current.isValid() && controller_.commandsEnabled()) emit openRequested(current.row());
        return;
    }
    QTreeView::keyPressEvent(event);
}

void FoundFileList::mouseDoubleClickEvent(QMouseEvent* event) {
    QTreeView::mouseDoubleClickEvent(event);
    if (event->button() != Qt::LeftButton || !controller_.commandsEnabled()) return;
    const QModelIndex index = indexAt(event->position().toPoint());
    if (index.isValid()) emit openRequested(index.row());
}

}  // namespace veld
