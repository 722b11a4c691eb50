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
#include "ui/viewers/hex_dump_dialog.h"
#include "ui/viewers/preview_window.h"

namespace veld {

namespace {

CWListView* gListPane = nullptr;

// Item data role of a row: the record's index in the session's gcDelFileList.
constexpr int kRecordRole = Qt::UserRole;
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

CWListView::CWListView(SearchSession* session, QWidget* parent) : QTreeWidget(parent), session_(session) {
    setObjectName(QStringLiteral("foundFileList"));
    setFont(QFont(QStringLiteral("ＭＳＰ ゴシック"), 10));
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

    setColumnCount(FoundFileColumnCount);
    QStringList headings;
    for (int c = 0; c < FoundFileColumnCount; ++c) headings << QString::fromUtf8(FoundFileColumnAt(c).heading);
    setHeaderLabels(headings);
    header()->setSectionsClickable(true);
    header()->setSectionsMovable(false);
    header()->setStretchLastSection(false);
    for (int c = 0; c < FoundFileColumnCount; ++c) {
        const FoundFileColumnInfo& info = FoundFileColumnAt(c);
        headerItem()->setTextAlignment(c, (info.alignRight ? Qt::AlignRight : Qt::AlignLeft) | Qt::AlignVCenter);
        int width = ReadIniInt("Config", WidthKey(c).toStdString(), -1);
        if (width < 1) width = DefaultColumnWidth(c);
        setColumnWidth(c, width);
    }

    connect(header(), &QHeaderView::sectionClicked, this, &CWListView::onHeaderClicked);
    connect(this, &QWidget::customContextMenuRequested, this, &CWListView::onContextMenu);
    connect(this, &QTreeWidget::itemSelectionChanged, this, &CWListView::ShowSelectionStatus);
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

void CWListView::appendRow(const DelFileInfo& record) {
    QStringList texts;
    for (int c = 0; c < FoundFileColumnCount; ++c) texts << QString::fromStdString(FoundFileColumnText(record, c));
    auto* item = new QTreeWidgetItem(texts);
    item->setData(0, kRecordRole, record.index);
    for (int c = 0; c < FoundFileColumnCount; ++c)
        if (FoundFileColumnAt(c).alignRight) item->setTextAlignment(c, Qt::AlignRight | Qt::AlignVCenter);
    addTopLevelItem(item);
}

void CWListView::FillList(int code, const DelFileInfo* record, bool progressAllowed) {
    if (code == UpdateAdded) {
        // Rows are added one at a time only outside a refill, which already
        // takes every registered record.
        if (!record || refilling_ || !RecordPassesFilter(*record)) return;
        appendRow(*record);
        clearSortFlags();
        return;
    }
    ++generation_;
    clear();
    clearSortFlags();
    if (code != UpdateFinished) {
        refilling_ = false;
        setUpdatesEnabled(true);
        return;
    }

    const unsigned generation = generation_;
    const size_t count = session_->gcDelFileList.Count();
    const bool progress = progressAllowed || count > kProgressRows;
    refilling_ = true;
    setUpdatesEnabled(false);
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
                if (generation != generation_) break;
            }
        }
        DelFileInfo* entry = session_->gcDelFileList.Get(i);
        if (entry && RecordPassesFilter(*entry)) appendRow(*entry);
    }
    if (generation == generation_) {
        refilling_ = false;
        setUpdatesEnabled(true);
    }
}

std::vector<int> CWListView::rowRecords() const {
    std::vector<int> records;
    for (int i = 0; i < topLevelItemCount(); ++i) records.push_back(topLevelItem(i)->data(0, kRecordRole).toInt());
    return records;
}

std::vector<int> CWListView::selectedRecords() const {
    std::vector<int> records;
    for (int i = 0; i < topLevelItemCount(); ++i)
        if (topLevelItem(i)->isSelected()) records.push_back(topLevelItem(i)->data(0, kRecordRole).toInt());
    return records;
}

DelFileInfo* CWListView::RecordOf(QTreeWidgetItem* item) const {
    if (!item) return nullptr;
    return RecordAt(item->data(0, kRecordRole).toInt());
}

DelFileInfo* CWListView::RecordAt(int index) const {
    return index >= 0 ? session_->gcDelFileList.Get(size_t(index)) : nullptr;
}

void CWListView::ShowSelectionStatus() {
    CMainFrame* frame = CMainFrame::Instance();
    if (!frame) return;
    std::vector<int> selected = selectedRecords();
    if (selected.empty()) {
        frame->SetStatusText(1, QStringLiteral(" "));
        return;
    }
    int64_t total = 0;
    for (int index : selected)
        if (DelFileInfo* record = RecordAt(index)) total += int64_t(record->size());
    char text[160];
    std::snprintf(text, sizeof text, "選択ファイル数=%d %s", int(selected.size()), FormatSizeText(total).c_str());
    frame->SetStatusText(1, QString::fromUtf8(text));
}

void CWListView::SortByColumn(int column) {
    if (column < 0 || column >= FoundFileColumnCount) return;
    const int flag = column < 10 ? sortFlags_[column] : 0;
    struct Row {
        std::string key;
        QTreeWidgetItem* item;
    };
    std::vector<Row> rows;
    QList<QTreeWidgetItem*> selected = selectedItems();
    QTreeWidgetItem* current = currentItem();
    while (topLevelItemCount() > 0) {
        QTreeWidgetItem* item = takeTopLevelItem(0);
        DelFileInfo* record = RecordOf(item);
        rows.push_back({record ? FoundFileSortKey(*record, column) : std::string(), item});
    }
    // Keys compare byte by byte as unsigned characters (std::string's compare).
    std::stable_sort(rows.begin(), rows.end(), [flag](const Row& a, const Row& b) {
        int order = a.key.compare(b.key);
        if (flag == 0) order = -order;
        return order < 0;
    });
    for (Row& row : rows) addTopLevelItem(row.item);
    for (QTreeWidgetItem* item : selected) item->setSelected(true);
    if (current) setCurrentItem(current, 0, QItemSelectionModel::NoUpdate);
    if (column < 10) sortFlags_[column] = flag ? 0 : 1;
}

void CWListView::onHeaderClicked(int column) {
    if (!UiEnabled()) return;
    SortByColumn(column);
}

QMenu* CWListView::buildContextMenu(QWidget* parent) {
    auto* menu = new QMenu(parent);
    const int selected = int(selectedItems().size());
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
    add(QStringLiteral("保存(&S)"), CmdSave)->setEnabled(topLevelItemCount() > 0);
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
    QList<QTreeWidgetItem*> selected = selectedItems();
    QTreeWidgetItem* first = nullptr;
    // "The first selected row" is the topmost one.
    for (int i = 0; i < topLevelItemCount() && !first; ++i)
        if (topLevelItem(i)->isSelected()) first = topLevelItem(i);
    switch (command) {
    case CmdOpen:
        if (first) openRecord(first);
        break;
    case CmdSave:
        if (CMainFrame* frame = CMainFrame::Instance()) frame->onSave();
        break;
    case CmdOpenSaveFolder: openSaveFolder(); break;
    case CmdDataDump:
        if (first) dumpRecord(first);
        break;
    default: break;
    }
}

void CWListView::mouseDoubleClickEvent(QMouseEvent* event) {
    QTreeWidget::mouseDoubleClickEvent(event);
    if (event->button() != Qt::LeftButton || !UiEnabled()) return;
    if (QTreeWidgetItem* item = itemAt(event->position().toPoint())) openRecord(item);
}

void CWListView::openRecord(QTreeWidgetItem* item) {
    DelFileInfo* record = RecordOf(item);
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

void CWListView::dumpRecord(QTreeWidgetItem* item) {
    DelFileInfo* record = RecordOf(item);
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
