#include "ui/main/found_file_list.h"

#include <QApplication>
#include <QFile>
#include <QHeaderView>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>

#include <algorithm>
#include <cstdio>
#include <filesystem>

#include "base/format_text.h"
#include "base/settings.h"
#include "base/trace.h"
#include "search/found_file_columns.h"
#include "search/work_folders.h"
#include "ui/clipped_text_tip.h"
#include "ui/common_progress.h"
#include "ui/dialog_units.h"
#include "ui/extract_with_progress.h"
#include "ui/main/found_file_tree.h"
#include "ui/main/main_frame.h"
#include "ui/main/save_dialog.h"
#include "ui/picture_loader.h"
#include "ui/shell_open.h"
#include "ui/thumbs/thumb_list_wnd.h"
#include "ui/viewers/hex_dump_dialog.h"
#include "ui/viewers/preview_window.h"

namespace veld {

namespace {

CWListView* gListPane = nullptr;

// The grid and the disk map find a row's record where the list keeps it.
static_assert(kRecordRole == kThumbRecordRole);

// Widths above this (and negative ones) are not kept.
constexpr int kMaxStoredWidth = 500;
// Lists longer than this use the progress display when refilled.
constexpr size_t kProgressRows = 51;

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

bool UiEnabled() {
    CMainFrame* frame = CMainFrame::Instance();
    return !frame || frame->uiEnabled();
}

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

CWListView::CWListView(SearchSession* session, QWidget* parent)
    : QTreeView(parent), session_(session), model_(new FoundFileModel(session, this)) {
    setObjectName(QStringLiteral("foundFileList"));
    setFont(QFont(QStringLiteral("ＭＳＰ ゴシック"), 10));
    setModel(model_);
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

    connect(header(), &QHeaderView::sectionClicked, this, &CWListView::onHeaderClicked);
    connect(this, &QWidget::customContextMenuRequested, this, &CWListView::onContextMenu);
    connect(selectionModel(), &QItemSelectionModel::selectionChanged, this, &CWListView::ShowSelectionStatus);
    gListPane = this;
}

CWListView::~CWListView() {
    for (int c = 0; c < FoundFileColumnCount; ++c) {
        int width = columnWidth(c);
        // A column left at its default is stored as "default", so that it
        // follows the font of the next start.
        if (width > kMaxStoredWidth || width < 0 || width == DefaultColumnWidth(c)) width = -1;
        WriteIniInt("Config", WidthKey(c).toStdString(), width);
    }
    if (gListPane == this) gListPane = nullptr;
}

CWListView* CWListView::Instance() { return gListPane; }

int CWListView::DefaultColumnWidth(int column) const {
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

void CWListView::clearSortFlags() { std::fill(std::begin(sortFlags_), std::end(sortFlags_), 0); }

int CWListView::sortFlag(int column) const { return column >= 0 && column < 10 ? sortFlags_[column] : 0; }

void CWListView::FillList(int code, const DelFileInfo* record, bool progressAllowed) {
    if (code == UpdateAdded) {
        // Rows are added one at a time only outside a refill, which already
        // takes every registered record.
        if (!record || refilling_ || !RecordPassesFilter(*record)) return;
        model_->appendRow(record->index);
        clearSortFlags();
        return;
    }
    ++generation_;
    // The selection goes first, as a change the status bar hears of.
    selectionModel()->clear();
    model_->clear();
    clearSortFlags();
    if (code != UpdateFinished) {
        refilling_ = false;
        return;
    }

    const unsigned generation = generation_;
    const size_t count = session_->gcDelFileList.Count();
    const bool progress = progressAllowed || count > kProgressRows;
    refilling_ = true;
    std::vector<int> rows;
    int lastPercent = -1;
    for (size_t i = 0; i < count; ++i) {
        if (progress) {
            if (CCommonProgress::Cancelled()) break;
            int percent = count > 1 ? int(double(i) / double(count - 1) * 90.0) : 0;
            if (percent % 5 == 0 && percent != lastPercent) {
                lastPercent = percent;
                CCommonProgress::SetPercent(percent);
                QCoreApplication::processEvents();
                // Another refill or a clear ran meanwhile: it owns the rows now.
                if (generation != generation_) return;
            }
        }
        DelFileInfo* entry = session_->gcDelFileList.Get(i);
        if (entry && RecordPassesFilter(*entry)) rows.push_back(entry->index);
    }
    // A cancelled refill shows the rows it took so far.
    model_->setRows(std::move(rows));
    refilling_ = false;
}

std::vector<int> CWListView::rowRecords() const { return model_->rows(); }

std::vector<int> CWListView::selectedRows() const {
    // From the selection's ranges: QItemSelectionModel::selectedRows tests
    // every row against every range, which takes minutes for thousands of
    // scattered rows. Rows are selected whole, so a range names whole rows.
    std::vector<int> rows;
    for (const QItemSelectionRange& range : selectionModel()->selection())
        for (int row = range.top(); row <= range.bottom(); ++row) rows.push_back(row);
    std::sort(rows.begin(), rows.end());
    rows.erase(std::unique(rows.begin(), rows.end()), rows.end());
    return rows;
}

std::vector<int> CWListView::selectedRecords() const {
    std::vector<int> records;
    for (int row : selectedRows()) records.push_back(model_->recordOfRow(row));
    return records;
}

DelFileInfo* CWListView::RecordOfRow(int row) const { return RecordAt(model_->recordOfRow(row)); }

DelFileInfo* CWListView::RecordAt(int index) const {
    return index >= 0 ? session_->gcDelFileList.Get(size_t(index)) : nullptr;
}

QString CWListView::cellText(int row, int column) const { return model_->index(row, column).data().toString(); }

bool CWListView::isRowSelected(int row) const { return selectionModel()->isRowSelected(row, QModelIndex()); }

void CWListView::setRowSelected(int row, bool selected) {
    const QModelIndex index = model_->index(row, 0);
    if (!index.isValid()) return;
    selectionModel()->select(index, (selected ? QItemSelectionModel::Select : QItemSelectionModel::Deselect) |
                                        QItemSelectionModel::Rows);
}

QRect CWListView::rowRect(int row) const {
    const QModelIndex first = model_->index(row, 0);
    const QModelIndex last = model_->index(row, FoundFileColumnCount - 1);
    return visualRect(first).united(visualRect(last));
}

void CWListView::ShowSelectionStatus() {
    CMainFrame* frame = CMainFrame::Instance();
    if (!frame) return;
    const std::vector<int> selected = selectedRows();
    if (selected.empty()) {
        frame->SetStatusText(1, QStringLiteral(" "));
        return;
    }
    // Damaged 64-bit sizes must not wrap the sum: it stops at the largest size.
    uint64_t total = 0;
    for (int row : selected)
        if (DelFileInfo* record = RecordOfRow(row)) total += std::min(record->fileSize, UINT64_MAX - total);
    char text[160];
    std::snprintf(text, sizeof text, "選択ファイル数=%d %s", int(selected.size()), FormatSizeText(total).c_str());
    frame->SetStatusText(1, QString::fromUtf8(text));
}

void CWListView::SortByColumn(int column) {
    if (column < 0 || column >= FoundFileColumnCount) return;
    const int flag = column < 10 ? sortFlags_[column] : 0;
    SortRows(column, flag != 0);
    if (column < 10) sortFlags_[column] = flag ? 0 : 1;
    // The thumbnails sort the same way (they show these rows).
    if (CThumListWnd2* grid = CThumListWnd2::Instance()) grid->SortThumbnails(column, flag);
}

void CWListView::SortRows(int column, bool ascending) {
    if (column < 0 || column >= FoundFileColumnCount) return;
    // The selection and the current row move with their rows; the current
    // cell is the row's first.
    model_->sortRows(column, !ascending);
    const QModelIndex current = currentIndex();
    if (current.isValid())
        selectionModel()->setCurrentIndex(model_->index(current.row(), 0), QItemSelectionModel::NoUpdate);
}

void CWListView::onHeaderClicked(int column) {
    if (!UiEnabled()) return;
    SortByColumn(column);
}

QMenu* CWListView::buildContextMenu(QWidget* parent) {
    auto* menu = new QMenu(parent);
    const int selected = int(selectedRows().size());
    // A command runs once the menu's own event handling is over: open and
    // dump let the event loop run while they extract, and the menu, deleted
    // when it closes, must not be in the middle of triggering the action then.
    auto add = [&](const QString& text, int command) {
        return menu->addAction(text, this, [this, command] {
            QMetaObject::invokeMethod(this, [this, command] { runCommand(command); }, Qt::QueuedConnection);
        });
    };
    add(QStringLiteral("開く(&O)"), CmdOpen)->setEnabled(selected == 1);
    menu->addSeparator();
    add(QStringLiteral("保存(&S)"), CmdSave)->setEnabled(rowCount() > 0);
    add(QStringLiteral("保存先フォルダを開く(&O)"), CmdOpenSaveFolder);
    menu->addSeparator();
    add(QStringLiteral("データダンプ表示(&D)"), CmdDataDump)->setEnabled(selected == 1);
    return menu;
}

void CWListView::onContextMenu(const QPoint& pos) {
    if (!UiEnabled()) return;
    QMenu* menu = buildContextMenu(this);
    menu->setAttribute(Qt::WA_DeleteOnClose);
    menu->popup(viewport()->mapToGlobal(pos));
}

void CWListView::runCommand(int command) {
    // "The first selected row" is the topmost one.
    const std::vector<int> selected = selectedRows();
    const int first = selected.empty() ? -1 : selected.front();
    switch (command) {
    case CmdOpen:
        if (first >= 0) openRecord(first);
        break;
    case CmdSave:
        if (CMainFrame* frame = CMainFrame::Instance()) frame->onSave();
        break;
    case CmdOpenSaveFolder: openSaveFolder(); break;
    case CmdDataDump:
        if (first >= 0) dumpRecord(first);
        break;
    default: break;
    }
}

void CWListView::mouseDoubleClickEvent(QMouseEvent* event) {
    QTreeView::mouseDoubleClickEvent(event);
    if (event->button() != Qt::LeftButton || !UiEnabled()) return;
    const QModelIndex index = indexAt(event->position().toPoint());
    if (index.isValid()) openRecord(index.row());
}

void CWListView::openRecord(int row) {
    DelFileInfo* record = RecordOfRow(row);
    if (!record) return;
    ClearWorkFolders();
    // Only pictures open; other files have no viewer here.
    if (record->isImage != 1) return;
    ExtractRequest request;
    request.toMemory = true;
    ExtractOutcome outcome =
        ExtractFoundFileWithProgress(CMainFrame::Instance(), session_->volume.get(), *record, request, true);
    if (outcome.memory.empty()) return;
    QByteArray bytes(reinterpret_cast<const char*>(outcome.memory.data()), qsizetype(outcome.memory.size()));
    // Shown upright as the camera's orientation tag says (portrait photos
    // are stored turned on their side).
    QImage picture = UprightPicture(LoadPictureBitmap(bytes), record->jpeg.orientation);
    if (picture.isNull()) return;
    QImage scaled = ScaleImageOnWhite(picture, kPreviewWidth, kPreviewHeight);
    CBmpViewSimple view(window());
    view.Show(scaled, QString::fromStdString(FoundFileColumnText(*record, 0)));
}

void CWListView::dumpRecord(int row) {
    DelFileInfo* record = RecordOfRow(row);
    if (!record || !session_->volume) return;
    const uint32_t clusterSize = session_->volume->clusterSize;
    ExtractRequest request;  // file mode into the work folder
    ExtractOutcome outcome =
        ExtractFoundFileWithProgress(CMainFrame::Instance(), session_->volume.get(), *record, request, true);
    if (outcome.path.empty()) {
        if (outcome.result == ExtractCreateFailed || outcome.result == ExtractWriteFailed)
            MessageBoxText("プレビューを表示できませんでした\n書き込みエラー");
        else if (outcome.result == -2) MessageBoxText("プレビューを表示できませんでした\n読み込みエラー");
        return;
    }
    {
        CDumpDlg dialog(window());
        dialog.setFilePath(QString::fromStdString(outcome.path));
        dialog.setPageSize(int(clusterSize ? clusterSize : 512));
        dialog.exec();
    }
    std::error_code ignored;
    std::filesystem::remove(outcome.path, ignored);
}

void CWListView::openSaveFolder() { CSaveDlg::OpenSaveFolder(); }

}  // namespace veld
