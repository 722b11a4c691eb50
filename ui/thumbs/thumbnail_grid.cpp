#include "ui/thumbs/thumbnail_grid.h"

#include <QApplication>
#include <QHelpEvent>
#include <QKeyEvent>
#include <QMetaObject>
#include <QMouseEvent>
#include <QResizeEvent>
#include <QToolTip>
#include <QWheelEvent>
#include <QPainter>
#include <QScrollBar>
#include <QStyle>
#include <QThread>

#include <algorithm>
#include <atomic>
#include <optional>
#include <utility>

#include "base/bitmap_utils.h"
#include "base/file_name_kind.h"
#include "base/trace.h"
#include "finder/found_file_thumbnail.h"
#include "search/found_file_columns.h"
#include "ui/found_file_model.h"
#include "ui/found_file_states.h"
#include "ui/picture_loader.h"
#include "ui/search_controller.h"
#include "ui/thumbs/file_drag.h"
#include "ui/thumbs/thumb_pictures.h"

namespace veld {

// Pictures read on the interface thread, decoded on the worker. A record is
// known again by its index and the fingerprint it had when it was read.
struct ThumbnailGrid::DecodeBatch {
    struct Item {
        int record = -1;
        uint64_t size = 0;
        uint64_t firstCluster = 0;
        std::optional<FoundFileBytes> bytes;  // none: no thumbnail to decode
        int edge = 0;  // 0: the record's own thumbnail; else a larger one of this edge
        DibPtr thumbnail;
    };
    std::vector<Item> items;
    int generation = 0;
};

namespace {

// The bytes a tick hands over at most (at least one picture is always taken).
constexpr size_t kBatchBytes = 32u << 20;

uint64_t FirstCluster(const DelFileInfo& record) { return record.clusterList.empty() ? 0 : record.clusterList.front(); }

// Cell layout in hundredths of the cell's edge (at 100 pixels, pixels): the
// picture box and the name.
constexpr int kBoxLeft = 10, kBoxTop = 5, kBoxWidth = 80, kBoxHeight = 70;
constexpr int kNameLeft = 5, kNameTop = 80, kNameWidth = 95;
// The part of a cell a click hits: 10 < x < 90 horizontally (edges
// included), 4 < y <= 92 vertically.
constexpr int kHitLeft = 10, kHitRight = 90, kHitTop = 4, kHitBottom = 92;
// Ctrl+wheel enlarges or shrinks the cells by this much per notch.
constexpr int kZoomStep = 20;
// The record thumbnails are 64 pixels: boxes wider than this get larger ones.
constexpr int kSmallThumbnailRoom = 96;

const QColor kBackground(220, 250, 220);
const QColor kSelectionColour(10, 10, 200);
const QColor kBandColour(30, 10, 20);

QString CellName(const DelFileInfo& record) { return QString::fromStdString(FoundFileColumnText(record, 0)); }

// Pictures by their name, and clips whose walk read their format: those get
// a thumbnail (a clip's first frame); other files show their type's icon.
bool HasThumbnailPicture(const DelFileInfo& record) {
    return ClassifyFileName(FoundFileColumnText(record, 0)) == KindPicture || record.media.format != 0;
}

}  // namespace

ThumbnailGrid::ThumbnailGrid(SearchController& controller, QItemSelectionModel* shown, QWidget* parent)
    : QAbstractScrollArea(parent), controller_(controller), session_(&controller.session()) {
    setObjectName(QStringLiteral("thumbnailGrid"));
    setFocusPolicy(Qt::StrongFocus);
    setFrameShape(QFrame::StyledPanel);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    viewport()->setAutoFillBackground(false);
    viewport()->setMouseTracking(false);
    QFont font(QStringLiteral("ＭＳ Ｐゴシック"));
    font.setPixelSize(12);
    setFont(font);
    verticalScrollBar()->setSingleStep(1);
    connect(&controller, &SearchController::resultsCleared, this, &ThumbnailGrid::onResultsCleared);
    connect(&controller, &SearchController::searchFinished, this, &ThumbnailGrid::onSearchFinished);
    setSelectionModel(shown);
}

ThumbnailGrid::~ThumbnailGrid() {
    // A decode still running only touches its own batch; its answer, queued
    // to this object, goes with it.
    decoder_.waitForDone();
}

void ThumbnailGrid::setSelectionModel(QItemSelectionModel* selection) {
    if (selection_) {
        disconnect(selection_, nullptr, this, nullptr);
        if (selection_->model()) disconnect(selection_->model(), nullptr, this, nullptr);
    }
    selection_ = selection;
    if (!selection) return;
    auto repaint = [this] { viewport()->update(); };
    connect(selection, &QItemSelectionModel::selectionChanged, this, repaint);
    connect(selection, &QItemSelectionModel::currentChanged, this, repaint);
    if (QAbstractItemModel* model = selection->model()) {
        // A sort moves the cells; a refill starts again from the top; a
        // found file added during a search is one more cell.
        connect(model, &QAbstractItemModel::layoutChanged, this, repaint);
        connect(model, &QAbstractItemModel::modelReset, this, &ThumbnailGrid::onRowsReset);
        connect(model, &QAbstractItemModel::rowsInserted, this,
                [this](const QModelIndex&, int first, int last) { onRowsInserted(first, last); });
    }
    updateScrollRange();
}

// ---------------------------------------------------------------------------
// Geometry

int ThumbnailGrid::columns() const { return std::max(1, width() / cell_); }

int ThumbnailGrid::visibleRows() const { return std::max(1, (cell_ / 2 + height()) / cell_); }

void ThumbnailGrid::setCellSize(int size) {
    size = std::clamp(size, int(kCellWidth), int(kMaxCellSize));
    if (size == cell_) return;
    // The cell the user works on stays in view.
    const int keep = currentCell() >= 0 ? currentCell() : topRow_ * columns();
    cell_ = size;
    largeQueue_.clear();
    updateScrollRange();
    scrollToCell(keep);
    RedrawThumbnails();
    emit cellSizeChanged(cell_);
}

int ThumbnailGrid::largeEdge() const {
    const int box = cell_ * kBoxWidth / 100;
    if (box <= kSmallThumbnailRoom) return 0;
    return box <= 128 ? 128 : 256;
}

int ThumbnailGrid::cellCount() const {
    return selection_ && selection_->model() ? selection_->model()->rowCount() : 0;
}

int ThumbnailGrid::maxTopRow() const { return std::max(0, rowsOfCells() - visibleRows()); }

int ThumbnailGrid::rowsOfCells() const {
    const int cols = columns();
    return (cellCount() + cols - 1) / cols;
}

void ThumbnailGrid::updateScrollRange() {
    maxTopRow_ = maxTopRow();
    pageStep_ = std::max(1, maxTopRow_ / 10);
    QScrollBar* bar = verticalScrollBar();
    const QSignalBlocker quiet(bar);
    bar->setRange(0, maxTopRow_);
    bar->setPageStep(pageStep_);
    if (topRow_ > maxTopRow_) topRow_ = maxTopRow_;
    bar->setValue(topRow_);
}

void ThumbnailGrid::setTopRow(int row) {
    // A hidden grid gets its resize event only when shown: the range follows
    // the size it has now.
    updateScrollRange();
    row = std::clamp(row, 0, maxTopRow_);
    verticalScrollBar()->setValue(row);
    if (row != topRow_) {
        topRow_ = row;
        viewport()->update();
    }
}

void ThumbnailGrid::scrollContentsBy(int, int) {
    // The scroll bar counts rows: line steps move one row, page steps the
    // page step, the thumb and Home/End set the row.
    const int row = std::clamp(verticalScrollBar()->value(), 0, maxTopRow_);
    if (row == topRow_) return;
    topRow_ = row;
    viewport()->update();
}

QRect ThumbnailGrid::pictureBox(int cell) const {
    const int cols = columns();
    const int column = cell % cols;
    const int row = cell / cols - topRow_;
    return QRect(cell_ * kBoxLeft / 100 + cell_ * column, cell_ * kBoxTop / 100 + cell_ * row,
                 cell_ * kBoxWidth / 100, cell_ * kBoxHeight / 100);
}

bool ThumbnailGrid::isCellVisible(int cell) const {
    if (cell < 0 || cell >= cellCount()) return false;
    const int row = cell / columns();
    return row >= topRow_ && row < topRow_ + visibleRows();
}

int ThumbnailGrid::HitCell(const QPoint& point) const {
    if (point.x() < 0 || point.y() < 0) return -1;
    const int cols = columns();
    const int column = point.x() / cell_;
    if (column >= cols) return -1;
    // Compared in hundredths of the cell, so that 100-pixel cells hit
    // exactly as the pixel rule says.
    const int dx = point.x() % cell_ * 100, dy = point.y() % cell_ * 100;
    if (dx < kHitLeft * cell_ || dx > kHitRight * cell_ || dy <= kHitTop * cell_ || dy > kHitBottom * cell_)
        return -1;
    const int cell = (topRow_ + point.y() / cell_) * cols + column;
    return cell < cellCount() ? cell : -1;
}

int ThumbnailGrid::currentCell() const {
    if (!selection_) return -1;
    const QModelIndex current = selection_->currentIndex();
    return current.isValid() && current.row() < cellCount() ? current.row() : -1;
}

QString ThumbnailGrid::cellToolTip(int cell) const {
    const DelFileInfo* record = RecordOfCell(cell);
    if (!record) return {};
    const QString state = QString::fromStdString(FoundFileStateText(*record));
    const StateLook& look = StateLookOf(*record);
    return QStringLiteral("%1\n状態: %2 (%3)\n%4")
        .arg(CellName(*record), state.isEmpty() ? QStringLiteral("不明") : state,
             StateGroupName(look.group), QString::fromUtf8(look.explanation));
}

// ---------------------------------------------------------------------------
// Rows and selection

QModelIndex ThumbnailGrid::indexOfCell(int cell) const {
    if (!selection_ || !selection_->model()) return {};
    return selection_->model()->index(cell, 0);
}

int ThumbnailGrid::recordOfCell(int cell) const {
    const QModelIndex index = indexOfCell(cell);
    return index.isValid() ? index.data(kRecordRole).toInt() : -1;
}

DelFileInfo* ThumbnailGrid::RecordOfCell(int cell) const {
    const int record = recordOfCell(cell);
    return record >= 0 ? session_->gcDelFileList.Get(size_t(record)) : nullptr;
}

bool ThumbnailGrid::isCellSelected(int cell) const {
    return selection_ && selection_->isRowSelected(cell, QModelIndex());
}

void ThumbnailGrid::selectOnly(int cell) {
    const QModelIndex index = indexOfCell(cell);
    if (!index.isValid()) return;
    selection_->select(index, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    selection_->setCurrentIndex(index, QItemSelectionModel::NoUpdate);
}

void ThumbnailGrid::setCellSelected(int cell, bool selected) {
    const QModelIndex index = indexOfCell(cell);
    if (!index.isValid()) return;
    selection_->select(index, (selected ? QItemSelectionModel::Select : QItemSelectionModel::Deselect) |
                                  QItemSelectionModel::Rows);
}

void ThumbnailGrid::selectRange(int from, int to, bool select) {
    const QModelIndex first = indexOfCell(std::min(from, to));
    const QModelIndex last = indexOfCell(std::max(from, to));
    if (!first.isValid() || !last.isValid()) return;
    selection_->select(QItemSelection(first, last),
                       (select ? QItemSelectionModel::Select : QItemSelectionModel::Deselect) |
                           QItemSelectionModel::Rows);
}

// ---------------------------------------------------------------------------
// Filling, sorting, redrawing

void ThumbnailGrid::onRowsInserted(int first, int last) {
    updateScrollRange();
    for (int cell = first; cell <= last; ++cell)
        if (isCellVisible(cell)) {
            const QRect box = pictureBox(cell);
            viewport()->update(QRect(box.left() - cell_ * kBoxLeft / 100, box.top() - cell_ * kBoxTop / 100, cell_, cell_));
        }
}

void ThumbnailGrid::onResultsCleared() {
    // A batch still being decoded belongs to records that are gone.
    released_.clear();
    large_.clear();
    largeQueue_.clear();
    ++generation_;
}

void ThumbnailGrid::onSearchFinished() {
    // A cancel stops the search's thumbnail workers before they decode what
    // is still queued: those pictures come back tried but without a
    // thumbnail. They are made on demand here, as for those past the
    // search's limit (a picture whose decode failed is simply tried again).
    if (!controller_.lastSearchCancelled()) return;
    bool again = false;
    session_->gcDelFileList.ForEach([&](DelFileInfo& record) {
        if (record.thumbnailTried && !record.thumbnail && !record.thumbnailPending) {
            record.thumbnailTried = 0;
            again = true;
        }
        return true;
    });
    if (again) RedrawThumbnails();
}

void ThumbnailGrid::onRowsReset() {
    if (!timer_.isActive()) timer_.start(kTimerMs, this);
    if (cellCount() == 0) {
        anchor_ = -1;
        anchorSelects_ = true;
    }
    updateScrollRange();
    topRow_ = 0;
    verticalScrollBar()->setValue(0);
    RedrawThumbnails();
}

void ThumbnailGrid::SortThumbnails(int key, int direction) {
    if (key == -1 || !selection_ || !selection_->model()) return;
    // Every view shows these rows: they all follow.
    selection_->model()->sort(key, direction ? Qt::AscendingOrder : Qt::DescendingOrder);
    viewport()->update();
}

void ThumbnailGrid::RedrawThumbnails() {
    loadQueue_.clear();
    largeQueue_.clear();
    viewport()->update();
}

// ---------------------------------------------------------------------------
// Drawing

void ThumbnailGrid::paintEvent(QPaintEvent*) {
    QPainter painter(viewport());
    painter.fillRect(viewport()->rect(), kBackground);
    painter.setFont(font());
    // Every paint draws all visible cells, so the load queues are rebuilt
    // from what is on screen now, in reading order.
    loadQueue_.clear();
    largeQueue_.clear();
    const int cols = columns();
    const int first = topRow_ * cols;
    const int end = std::min(cellCount(), first + (visibleRows() + 1) * cols);
    for (int cell = first; cell < end; ++cell) drawCell(painter, cell);
    // Selection frames: 3 pixels wide, 2 pixels outside the picture box.
    painter.setPen(QPen(kSelectionColour, 3));
    painter.setBrush(Qt::NoBrush);
    for (int cell = first; cell < end; ++cell)
        if (isCellSelected(cell)) painter.drawRect(pictureBox(cell).adjusted(-2, -2, 1, 1));
    // The keyboard's cell, while the grid has the focus.
    const int current = currentCell();
    if (hasFocus() && current >= first && current < end) {
        painter.setPen(QPen(Qt::black, 1, Qt::DotLine));
        painter.drawRect(pictureBox(current).adjusted(-5, -5, 4, 4));
    }
    if (banding_) {
        painter.setPen(QPen(kBandColour, 1, Qt::DotLine));
        painter.drawRect(QRect(bandStart_, bandEnd_).normalized());
    }
}

void ThumbnailGrid::drawCell(QPainter& painter, int cell) {
    DelFileInfo* record = RecordOfCell(cell);
    if (!record) return;
    const QRect box = pictureBox(cell);
    painter.fillRect(box, Qt::white);
    const int cellLeft = box.left() - cell_ * kBoxLeft / 100, cellTop = box.top() - cell_ * kBoxTop / 100;
    const QRect name(cellLeft + cell_ * kNameLeft / 100, cellTop + cell_ * kNameTop / 100, cell_ * kNameWidth / 100,
                     cell_ - cell_ * kNameTop / 100);
    painter.setPen(Qt::black);
    const QString text = CutCellName(CellName(*record), painter.fontMetrics(), name.width());
    painter.drawText(name, Qt::AlignLeft | Qt::AlignTop, text);
    drawPicture(painter, box, *record);
    drawBadge(painter, box, *record);
}

void ThumbnailGrid::drawBadge(QPainter& painter, const QRect& box, const DelFileInfo& record) {
    const StateLook& look = StateLookOf(record);
    if (look.group == StateGroup::Good) return;
    // A dot of the state's colour in the box's top right corner, with a
    // white rim so that it shows on any picture.
    const int size = std::max(14, cell_ / 7);
    const QRectF dot(box.right() - size - 1, box.top() + 2, size, size);
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(Qt::white, 2));
    painter.setBrush(QColor(look.colour));
    painter.drawEllipse(dot);
    painter.setPen(QPen(Qt::white, std::max(2, size / 7), Qt::SolidLine, Qt::RoundCap));
    const QPointF centre = dot.center();
    painter.drawLine(QPointF(centre.x(), dot.top() + size * 0.25), QPointF(centre.x(), dot.top() + size * 0.55));
    painter.drawPoint(QPointF(centre.x(), dot.top() + size * 0.75));
    painter.restore();
}

void ThumbnailGrid::queueIfNeeded(DelFileInfo& record) {
    if (std::find(loadQueue_.begin(), loadQueue_.end(), record.index) == loadQueue_.end())
        loadQueue_.push_back(record.index);
}

void ThumbnailGrid::drawPicture(QPainter& painter, const QRect& box, DelFileInfo& record) {
    const QColor frame(128, 128, 128);
    auto drawFitted = [&](const QImage& image) {
        const FittedRect fit = FitRectangle(image.width(), image.height(), box.width(), box.height());
        const QRect target(box.left() + fit.x, box.top() + fit.y, fit.width, fit.height);
        painter.drawImage(target, image);
        painter.setPen(frame);
        painter.drawRect(target.adjusted(0, 0, -1, -1));
    };
    auto drawIcon = [&] {
        const int size = QApplication::style()->pixelMetric(QStyle::PM_LargeIconSize);
        const QPixmap icon = TypeIconForName(CellName(record)).pixmap(size, size);
        const FittedRect fit = FitRectangle(icon.width(), icon.height(), std::min(size, box.width()),
                                            std::min(size, box.height()));
        const QRect target(box.center().x() - fit.width / 2, box.center().y() - fit.height / 2, fit.width,
                           fit.height);
        painter.drawPixmap(target, icon);
        painter.setPen(frame);
        painter.drawRect(target.adjusted(-1, -1, 0, 0));
    };
    if (!HasThumbnailPicture(record)) {
        drawIcon();
        return;
    }
    if (!record.thumbnailTried) {
        queueIfNeeded(record);
        drawFitted(ThumbPixmap(released_.count(record.index) ? GridPicture::ThumbnailReleased : GridPicture::ThumbnailNotMade).toImage());
        return;
    }
    if (record.thumbnail && record.thumbnail->width > 0 && record.thumbnail->height > 0) {
        // Enlarged cells show a thumbnail made at their size once it is there.
        if (const int edge = largeEdge()) {
            // A null image stands for one that could not be made.
            const QImage* large = large_.object(qint64(record.index) << 16 | edge);
            if (large && !large->isNull()) {
                drawFitted(*large);
                return;
            }
            if (!large && std::find(largeQueue_.begin(), largeQueue_.end(), record.index) == largeQueue_.end())
                largeQueue_.push_back(record.index);
        }
        drawFitted(ImageFromDib(*record.thumbnail));
        return;
    }
    if (record.state != StateComplete) {
        drawFitted(ThumbPixmap(GridPicture::ThumbnailFailed).toImage());
        return;
    }
    drawIcon();
}

QImage ThumbnailGrid::largeThumbnail(int record) const {
    const int edge = largeEdge();
    const QImage* large = edge ? large_.object(qint64(record) << 16 | edge) : nullptr;
    return large ? *large : QImage();
}

void ThumbnailGrid::redrawRecord(int record) {
    const int cols = columns();
    const int first = topRow_ * cols;
    const int end = std::min(cellCount(), first + visibleRows() * cols + cols);
    for (int cell = first; cell < end; ++cell)
        if (recordOfCell(cell) == record) viewport()->update(pictureBox(cell).adjusted(-3, -3, 3, 3));
}

// ---------------------------------------------------------------------------
// Making thumbnails

bool ThumbnailGrid::makingAllowed() const {
    // The volume is read by the search worker while it runs: thumbnails wait
    // for its end (the search makes its own meanwhile).
    return session_->volume && session_->runningState.load() == 0;
}

int ThumbnailGrid::heldBound() const {
    const int screen = 2 * columns() * (visibleRows() + 1);
    return std::max({int(session_->ThumbnailCount.load()), screen, kMinHeldThumbnails});
}

int ThumbnailGrid::TimerTick() {
    if (inTick_) return 0;
    inTick_ = true;
    if (pendingOpen_ >= 0) {
        const int record = pendingOpen_;
        pendingOpen_ = -1;
        // The cell that shows the record now (a sort may have moved it).
        for (int cell = 0; cell < cellCount(); ++cell)
            if (recordOfCell(cell) == record) {
                emit openRequested(cell);
                break;
            }
        inTick_ = false;
        return 0;
    }
    // One batch at a time: while it is decoded the queue waits, so a tick
    // still makes at most ten.
    if (batch_) {
        inTick_ = false;
        return 0;
    }
    auto batch = std::make_shared<DecodeBatch>();
    batch->generation = generation_;
    size_t bytes = 0;
    QElapsedTimer clock;
    clock.start();
    while (!loadQueue_.empty() && int(batch->items.size()) < kThumbnailsPerTick && bytes < kBatchBytes &&
           makingAllowed()) {
        // Another picture only when, at this tick's pace, reading it still
        // ends within the budget.
        const qint64 taken = qint64(batch->items.size());
        if (taken > 0 && clock.elapsed() * (taken + 1) / taken > kTickBudgetMs) break;
        const int index = loadQueue_.front();
        loadQueue_.pop_front();
        DelFileInfo* record = session_->gcDelFileList.Get(size_t(index));
        if (!record || record->thumbnailTried) continue;
        record->thumbnailTried = 1;
        released_.erase(index);
        DecodeBatch::Item item;
        item.record = index;
        item.size = record->fileSize;
        item.firstCluster = FirstCluster(*record);
        try {
            item.bytes = ReadFoundFileForThumbnail(*session_->volume, *record);
        } catch (...) {
            item.bytes.reset();
            TraceLine("ERROR thumbnail of found file %d: %s", index, CaughtExceptionText().c_str());
        }
        bytes += item.bytes ? item.bytes->size : 0;
        batch->items.push_back(std::move(item));
    }
    // Then the larger thumbnails of enlarged cells, from the same data.
    const int edge = largeEdge();
    while (edge && loadQueue_.empty() && !largeQueue_.empty() && int(batch->items.size()) < kThumbnailsPerTick &&
           bytes < kBatchBytes && makingAllowed()) {
        const qint64 taken = qint64(batch->items.size());
        if (taken > 0 && clock.elapsed() * (taken + 1) / taken > kTickBudgetMs) break;
        const int index = largeQueue_.front();
        largeQueue_.pop_front();
        DelFileInfo* record = session_->gcDelFileList.Get(size_t(index));
        if (!record || large_.contains(qint64(index) << 16 | edge)) continue;
        DecodeBatch::Item item;
        item.record = index;
        item.size = record->fileSize;
        item.firstCluster = FirstCluster(*record);
        item.edge = edge;
        try {
            item.bytes = ReadFoundFileForThumbnail(*session_->volume, *record);
        } catch (...) {
            item.bytes.reset();
        }
        bytes += item.bytes ? item.bytes->size : 0;
        batch->items.push_back(std::move(item));
    }
    inTick_ = false;
    if (batch->items.empty()) return 0;
    decodeBatch(batch);
    return int(batch->items.size());
}

void ThumbnailGrid::decodeBatch(std::shared_ptr<DecodeBatch> batch) {
    batch_ = batch;
    // The pictures of a batch are decoded on every core at once; the last
    // one done hands the batch back.
    decoder_.setMaxThreadCount(std::max(1, QThread::idealThreadCount()));
    auto left = std::make_shared<std::atomic<size_t>>(batch->items.size());
    for (size_t i = 0; i < batch->items.size(); ++i) {
        decoder_.start([this, batch, left, i] {
            DecodeBatch::Item& item = batch->items[i];
            if (item.bytes) {
                try {
                    item.thumbnail = item.edge ? DecodeFoundFileThumbnail(*item.bytes, item.edge)
                                               : DecodeFoundFileThumbnail(*item.bytes);
                } catch (...) {
                    item.thumbnail.reset();
                }
                item.bytes.reset();
            }
            if (--*left > 0) return;
            // Back on the interface thread; dropped with this object when it
            // is destroyed first (its destructor waits for the decoders).
            QMetaObject::invokeMethod(this, [this, batch] { takeDecoded(batch); }, Qt::QueuedConnection);
        });
    }
}

void ThumbnailGrid::takeDecoded(const std::shared_ptr<DecodeBatch>& batch) {
    if (batch_ == batch) batch_.reset();
    // The found files were emptied since: these records are gone.
    if (batch->generation != generation_) return;
    int made = 0;
    for (DecodeBatch::Item& item : batch->items) {
        DelFileInfo* record = session_->gcDelFileList.Get(size_t(item.record));
        if (!record || record->fileSize != item.size || FirstCluster(*record) != item.firstCluster) continue;
        if (item.edge) {
            // A larger thumbnail is the grid's own; the record keeps its small one.
            auto* image = item.thumbnail && item.thumbnail->width > 0 && item.thumbnail->height > 0
                              ? new QImage(ImageFromDib(*item.thumbnail))
                              : new QImage();
            large_.insert(qint64(item.record) << 16 | item.edge, image,
                          std::max<qsizetype>(1, qsizetype(image->width()) * image->height()));
            redrawRecord(item.record);
            continue;
        }
        record->thumbnail = item.thumbnail;
        if (item.thumbnail) {
            session_->ThumbnailQueue.Add(item.record);
            ++made;
        }
        redrawRecord(item.record);
    }
    if (made) releaseOldestThumbnails();
    emit thumbnailsMade(int(batch->items.size()));
}

void ThumbnailGrid::releaseOldestThumbnails() {
    // The oldest thumbnails go first; their cells show placeholder 191 and
    // make them again when they are drawn.
    const size_t bound = size_t(heldBound());
    while (session_->ThumbnailQueue.Count() > bound) {
        std::optional<int32_t> oldest = session_->ThumbnailQueue.CopyAt(0);
        session_->ThumbnailQueue.RemoveAt(0);
        if (!oldest) break;
        DelFileInfo* record = session_->gcDelFileList.Get(size_t(*oldest));
        if (!record) continue;
        if (record->thumbnail) {
            record->thumbnail.reset();
            released_.insert(*oldest);
        }
        record->thumbnailTried = 0;
        redrawRecord(*oldest);
    }
}

void ThumbnailGrid::timerEvent(QTimerEvent* event) {
    if (event->timerId() != timer_.timerId()) {
        QAbstractScrollArea::timerEvent(event);
        return;
    }
    TimerTick();
}

// ---------------------------------------------------------------------------
// Mouse

void ThumbnailGrid::mousePressEvent(QMouseEvent* event) {
    const QPoint point = event->position().toPoint();
    const int cell = HitCell(point);
    const Qt::KeyboardModifiers mods = event->modifiers();
    const bool ctrl = mods & Qt::ControlModifier;
    const bool shift = mods & Qt::ShiftModifier;
    if (event->button() == Qt::RightButton) {
        // As in a file window: the menu acts on the cell under the pointer.
        if (cell >= 0 && !isCellSelected(cell)) selectOnly(cell);
        return;
    }
    if (event->button() != Qt::LeftButton || !selection_) return;
    bandStart_ = bandEnd_ = point;
    pressPoint_ = point;
    pressCell_ = cell;
    if (cell >= 0) {
        if (ctrl && !shift) {
            const bool was = isCellSelected(cell);
            setCellSelected(cell, !was);
            anchorSelects_ = !was;
            anchor_ = cell;
        } else if (!ctrl && !shift) {
            if (!isCellSelected(cell)) {
                selectOnly(cell);
                anchor_ = cell;
                anchorSelects_ = true;
            }
            dragPending_ = true;
        } else {
            setCellSelected(cell, true);
            selectRange(anchor_ < 0 ? 0 : anchor_, cell, anchorSelects_);
        }
        return;
    }
    if (!ctrl && !shift) selection_->clearSelection();
    banding_ = true;
}

void ThumbnailGrid::updateBand(const QPoint& point, Qt::KeyboardModifiers modifiers) {
    bandEnd_ = point;
    const QRect band = QRect(bandStart_, bandEnd_).normalized();
    QItemSelection chosen;
    const int cols = columns();
    const int first = topRow_ * cols;
    const int end = std::min(cellCount(), first + visibleRows() * cols);
    for (int cell = first; cell < end; ++cell) {
        const QRect box = pictureBox(cell);
        const QPoint corners[] = {box.topLeft(), box.topRight(), box.bottomLeft(), box.bottomRight()};
        if (std::any_of(std::begin(corners), std::end(corners), [&](const QPoint& c) { return band.contains(c); })) {
            const QModelIndex index = indexOfCell(cell);
            chosen.select(index, index);
        }
    }
    const bool keep = modifiers & (Qt::ControlModifier | Qt::ShiftModifier);
    selection_->select(chosen, (keep ? QItemSelectionModel::Select : QItemSelectionModel::ClearAndSelect) |
                                   QItemSelectionModel::Rows);
    viewport()->update();
}

void ThumbnailGrid::mouseMoveEvent(QMouseEvent* event) {
    if (!(event->buttons() & Qt::LeftButton)) return;
    const QPoint point = event->position().toPoint();
    if (dragPending_) {
        if ((point - pressPoint_).manhattanLength() < QApplication::startDragDistance()) return;
        dragPending_ = false;
        startDrag();
        return;
    }
    if (banding_ && selection_) updateBand(point, event->modifiers());
}

void ThumbnailGrid::mouseReleaseEvent(QMouseEvent* event) {
    const QPoint point = event->position().toPoint();
    if (event->button() == Qt::RightButton) {
        if (controller_.commandsEnabled()) emit contextMenuRequested(viewport()->mapToGlobal(point + QPoint(0, 24)));
        return;
    }
    if (event->button() != Qt::LeftButton) return;
    if (dragPending_) {
        // No drag: a plain click on a selected cell chooses that cell alone.
        const int cell = HitCell(point) >= 0 ? HitCell(point) : pressCell_;
        if (cell >= 0) {
            selectOnly(cell);
            anchor_ = cell;
            anchorSelects_ = true;
        }
    }
    const bool wasBanding = banding_;
    dragPending_ = false;
    banding_ = false;
    if (wasBanding) viewport()->update();
}

void ThumbnailGrid::mouseDoubleClickEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) return;
    if (!controller_.commandsEnabled()) return;
    const int cell = HitCell(event->position().toPoint());
    if (cell >= 0) pendingOpen_ = recordOfCell(cell);
}

// ---------------------------------------------------------------------------
// Keyboard, wheel and tool tips

void ThumbnailGrid::scrollToCell(int cell) {
    if (cell < 0) return;
    const int row = cell / columns();
    if (row < topRow_)
        setTopRow(row);
    else if (row >= topRow_ + visibleRows())
        setTopRow(row - visibleRows() + 1);
}

void ThumbnailGrid::moveCurrent(int cell, Qt::KeyboardModifiers modifiers) {
    if (!selection_ || cellCount() == 0) return;
    cell = std::clamp(cell, 0, cellCount() - 1);
    const QModelIndex index = indexOfCell(cell);
    if (modifiers & Qt::ShiftModifier) {
        // From the anchor to here, as a Shift-click.
        const int from = anchor_ < 0 ? 0 : anchor_;
        selection_->setCurrentIndex(index, QItemSelectionModel::NoUpdate);
        selection_->select(QItemSelection(indexOfCell(std::min(from, cell)), indexOfCell(std::max(from, cell))),
                           QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    } else if (modifiers & Qt::ControlModifier) {
        // Ctrl moves without choosing; Ctrl+Space chooses.
        selection_->setCurrentIndex(index, QItemSelectionModel::NoUpdate);
    } else {
        selectOnly(cell);
        anchor_ = cell;
        anchorSelects_ = true;
    }
    scrollToCell(cell);
    viewport()->update();
}

void ThumbnailGrid::keyPressEvent(QKeyEvent* event) {
    if (!selection_ || cellCount() == 0) {
        QAbstractScrollArea::keyPressEvent(event);
        return;
    }
    const int current = currentCell();
    const int cols = columns();
    const int page = cols * visibleRows();
    const Qt::KeyboardModifiers mods = event->modifiers();
    if (event->matches(QKeySequence::SelectAll)) {
        selection_->select(QItemSelection(indexOfCell(0), indexOfCell(cellCount() - 1)),
                           QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
        return;
    }
    switch (event->key()) {
    case Qt::Key_Left: moveCurrent(current < 0 ? 0 : current - 1, mods); return;
    case Qt::Key_Right: moveCurrent(current < 0 ? 0 : current + 1, mods); return;
    case Qt::Key_Up: moveCurrent(current < 0 ? 0 : (current >= cols ? current - cols : current), mods); return;
    case Qt::Key_Down:
        moveCurrent(current < 0 ? 0 : (current + cols < cellCount() ? current + cols : current), mods);
        return;
    case Qt::Key_Home: moveCurrent(0, mods); return;
    case Qt::Key_End: moveCurrent(cellCount() - 1, mods); return;
    case Qt::Key_PageUp: moveCurrent(current < 0 ? 0 : current - page, mods); return;
    case Qt::Key_PageDown: moveCurrent(current < 0 ? 0 : current + page, mods); return;
    case Qt::Key_Space:
        if ((mods & Qt::ControlModifier) && current >= 0) {
            const bool was = isCellSelected(current);
            setCellSelected(current, !was);
            anchor_ = current;
            anchorSelects_ = !was;
            return;
        }
        break;
    case Qt::Key_Return:
    case Qt::Key_Enter:
        // Taken on the next tick, as a double click is.
        if (current >= 0 && controller_.commandsEnabled()) pendingOpen_ = recordOfCell(current);
        return;
    default: break;
    }
    QAbstractScrollArea::keyPressEvent(event);
}

void ThumbnailGrid::wheelEvent(QWheelEvent* event) {
    if (!(event->modifiers() & Qt::ControlModifier)) {
        QAbstractScrollArea::wheelEvent(event);
        return;
    }
    // Ctrl+wheel enlarges (away from the user) or shrinks the cells.
    const int notches = event->angleDelta().y() / 120;
    if (notches != 0) setCellSize(cell_ + notches * kZoomStep);
    event->accept();
}

bool ThumbnailGrid::viewportEvent(QEvent* event) {
    if (event->type() == QEvent::ToolTip) {
        auto* help = static_cast<QHelpEvent*>(event);
        const int cell = HitCell(help->pos());
        if (cell >= 0)
            QToolTip::showText(help->globalPos(), cellToolTip(cell), viewport(), pictureBox(cell));
        else
            QToolTip::hideText();
        return true;
    }
    return QAbstractScrollArea::viewportEvent(event);
}

void ThumbnailGrid::resizeEvent(QResizeEvent* event) {
    QAbstractScrollArea::resizeEvent(event);
    // What was in view stays there: the first cell shown, and the cell the
    // keyboard is on when it was shown. The window lays itself out again
    // right after a key chose a file (the line under the views explains
    // its state), so this also keeps what End or PageDown scrolled to.
    const QSize old = event->oldSize();
    const int oldColumns = std::max(1, old.width() / cell_);
    const int oldRows = std::max(1, (cell_ / 2 + old.height()) / cell_);
    const int first = old.isValid() ? topRow_ * oldColumns : 0;
    const int current = currentCell();
    const bool currentShown = old.isValid() && current >= 0 && current / oldColumns >= topRow_ &&
                              current / oldColumns < topRow_ + oldRows;
    updateScrollRange();
    topRow_ = std::min(first / columns(), maxTopRow_);
    verticalScrollBar()->setValue(topRow_);
    if (currentShown) scrollToCell(current);
    viewport()->update();
}

void ThumbnailGrid::startDrag() {
    // The volume is busy while a search or a tool runs.
    if (!controller_.commandsEnabled() || !selection_) return;
    StartFileDrag(this, session_, SelectedRecords(*selection_));
}

}  // namespace veld
