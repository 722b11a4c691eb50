#include "ui/thumbs/disk_map_view.h"

#include <QMouseEvent>
#include <QPainter>
#include <QScrollBar>
#include <QToolTip>

#include <algorithm>
#include <optional>

#include "base/bitmap_utils.h"
#include "base/file_name_kind.h"
#include "search/found_file_columns.h"
#include "ui/found_file_model.h"
#include "ui/search_controller.h"
#include "ui/thumbs/thumb_pictures.h"

namespace veld {

DiskMapView::DiskMapView(SearchController& controller, QItemSelectionModel* shown, QWidget* parent)
    : QAbstractScrollArea(parent), session_(&controller.session()) {
    setObjectName(QStringLiteral("diskMap"));
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    viewport()->setMouseTracking(true);
    QFont font(QStringLiteral("ＭＳ Ｐゴシック"));
    font.setPixelSize(12);
    setFont(font);
    verticalScrollBar()->setSingleStep(1);
    setSelectionModel(shown);
}

void DiskMapView::setSelectionModel(QItemSelectionModel* selection) {
    if (selection_) {
        disconnect(selection_, nullptr, this, nullptr);
        if (selection_->model()) disconnect(selection_->model(), nullptr, this, nullptr);
    }
    selection_ = selection;
    if (!selection) return;
    connect(selection, &QItemSelectionModel::selectionChanged, this, [this] { viewport()->update(); });
    if (QAbstractItemModel* model = selection->model()) {
        connect(model, &QAbstractItemModel::modelReset, this, &DiskMapView::rebuild);
        // Rows arrive one by one during a search: the map sorts them again
        // only when it is shown.
        connect(model, &QAbstractItemModel::rowsInserted, this, [this] {
            if (isVisible()) rebuild();
            else stale_ = true;
        });
        // Sorting moves rows, not items: only the way back changes.
        connect(model, &QAbstractItemModel::layoutChanged, this, [this] {
            mapRows();
            viewport()->update();
        });
    }
    rebuild();
}

void DiskMapView::mapRows() {
    rowOfRecord_.clear();
    QAbstractItemModel* model = selection_ ? selection_->model() : nullptr;
    if (!model) return;
    for (int row = 0; row < model->rowCount(); ++row)
        rowOfRecord_.insert(RecordIndexOfRow(*model, row), row);
}

void DiskMapView::showEvent(QShowEvent* event) {
    QAbstractScrollArea::showEvent(event);
    if (stale_) rebuild();
}

void DiskMapView::rebuild() {
    stale_ = false;
    items_.clear();
    mapRows();
    for (auto it = rowOfRecord_.cbegin(); it != rowOfRecord_.cend(); ++it) items_.push_back(it.key());
    // Card order: by start cluster, then by registration.
    std::vector<std::pair<uint32_t, int>> keyed;
    keyed.reserve(items_.size());
    for (int record : items_) {
        const DelFileInfo* info = session_->gcDelFileList.Get(size_t(record));
        keyed.emplace_back(info ? info->startCluster : 0u, record);
    }
    std::sort(keyed.begin(), keyed.end());
    for (size_t i = 0; i < keyed.size(); ++i) items_[i] = keyed[i].second;
    if (anchor_ >= itemCount()) anchor_ = -1;
    updateScrollRange();
    viewport()->update();
}

void DiskMapView::Reset() {
    rebuild();
    anchor_ = -1;
    top_ = 0;
    verticalScrollBar()->setValue(0);
    viewport()->update();
}

int DiskMapView::columns() const { return std::max(1, viewport()->width() / kCellWidth); }

int DiskMapView::visibleRows() const {
    return std::max(1, (viewport()->height() + kCellHeight / 2) / kCellHeight);
}

void DiskMapView::updateScrollRange() {
    const int cols = columns();
    maxTop_ = std::max(0, (itemCount() + cols - 1) / cols - visibleRows());
    page_ = std::max(1, maxTop_ / 10);
    QScrollBar* bar = verticalScrollBar();
    const QSignalBlocker quiet(bar);
    bar->setRange(0, maxTop_);
    bar->setPageStep(page_);
    top_ = std::min(top_, maxTop_);
    bar->setValue(top_);
}

void DiskMapView::scrollContentsBy(int, int) {
    const int position = std::clamp(verticalScrollBar()->value(), 0, maxTop_);
    if (position == top_) return;
    top_ = position;
    viewport()->update();
}

void DiskMapView::resizeEvent(QResizeEvent* event) {
    QAbstractScrollArea::resizeEvent(event);
    updateScrollRange();
}

QRect DiskMapView::pictureBox(int item) const {
    const int cols = columns();
    const int x = (item % cols) * kCellWidth;
    const int y = (item / cols - top_) * kCellHeight;
    const int w = kCellWidth * 8 / 10, h = kCellHeight * 7 / 10;
    return QRect(x + (kCellWidth - w) / 2, y + 5, w, h);
}

int DiskMapView::ItemAt(const QPoint& point) const {
    if (point.x() < 0 || point.y() < 0) return -1;
    const int column = point.x() / kCellWidth;
    if (column >= columns()) return -1;
    const int item = column + columns() * (point.y() / kCellHeight + top_);
    return item < itemCount() ? item : -1;
}

QModelIndex DiskMapView::indexOfItem(int item) const {
    if (item < 0 || item >= itemCount() || !selection_ || !selection_->model()) return {};
    auto it = rowOfRecord_.constFind(items_[size_t(item)]);
    return it == rowOfRecord_.constEnd() ? QModelIndex() : selection_->model()->index(*it, 0);
}

bool DiskMapView::isItemSelected(int item) const {
    const QModelIndex index = indexOfItem(item);
    return index.isValid() && selection_->isRowSelected(index.row(), QModelIndex());
}

QString DiskMapView::nameOf(int item) const {
    const DelFileInfo* info =
        item >= 0 && item < itemCount() ? session_->gcDelFileList.Get(size_t(items_[size_t(item)])) : nullptr;
    return info ? QString::fromStdString(FoundFileColumnText(*info, 0)) : QStringLiteral("no name");
}

void DiskMapView::paintEvent(QPaintEvent*) {
    QPainter painter(viewport());
    painter.fillRect(viewport()->rect(), Qt::white);
    painter.setFont(font());
    const int cols = columns();
    const int first = top_ * cols;
    const int end = std::min(itemCount(), first + (visibleRows() + 1) * cols);
    for (int item = first; item < end; ++item) {
        const QRect box = pictureBox(item);
        painter.fillRect(box, Qt::white);
        const QString name = nameOf(item);
        std::optional<GridPicture> picture;
        switch (ClassifyFileName(name.toStdString())) {
        case KindPicture: picture = GridPicture::ThumbnailFailed; break;  // the picture kind's image
        case KindMovie:
        case KindSound: picture = GridPicture::MapMovie; break;
        case KindArchive: picture = GridPicture::MapArchive; break;
        default: break;
        }
        if (picture) {
            const QPixmap& pixmap = ThumbPixmap(*picture);
            const FittedRect fit = FitRectangle(pixmap.width(), pixmap.height(), box.width(), box.height());
            const QRect target(box.left() + fit.x, box.top() + fit.y, fit.width, fit.height);
            painter.drawPixmap(target, pixmap);
            painter.setPen(QColor(128, 128, 128));
            painter.drawRect(target.adjusted(0, 0, -1, -1));
        }
        // The name 10 pixels under the box, cut to the cell.
        painter.setPen(Qt::black);
        painter.setClipRect(QRect(box.left() - 3, box.bottom() + 1, kCellWidth - 5, kCellHeight));
        painter.drawText(QPoint(box.left() - 3, box.bottom() + 10), name);
        painter.setClipping(false);
    }
    painter.setPen(QPen(QColor(10, 10, 200), 2));
    painter.setBrush(Qt::NoBrush);
    for (int item = first; item < end; ++item)
        if (isItemSelected(item)) painter.drawRect(pictureBox(item).adjusted(-2, -2, 2, 2));
}

void DiskMapView::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton || !selection_) return;
    const int item = ItemAt(event->position().toPoint());
    const QModelIndex index = indexOfItem(item);
    const auto rows = QItemSelectionModel::Rows;
    if (event->modifiers() & Qt::ControlModifier) {
        if (!index.isValid()) return;
        selection_->select(index, (isItemSelected(item) ? QItemSelectionModel::Deselect : QItemSelectionModel::Select) |
                                      rows);
        anchor_ = item;
    } else if (event->modifiers() & Qt::ShiftModifier) {
        if (!index.isValid()) return;
        QItemSelection range;
        const int from = anchor_ < 0 ? item : anchor_;
        for (int i = std::min(from, item); i <= std::max(from, item); ++i) {
            const QModelIndex each = indexOfItem(i);
            if (each.isValid()) range.select(each, each);
        }
        selection_->select(range, QItemSelectionModel::Select | rows);
    } else {
        selection_->clearSelection();
        if (index.isValid()) {
            selection_->select(index, QItemSelectionModel::Select | rows);
            anchor_ = item;
        }
    }
}

void DiskMapView::mouseMoveEvent(QMouseEvent* event) {
    const int item = ItemAt(event->position().toPoint());
    hover_ = item >= 0 ? nameOf(item) : QString();
    viewport()->setToolTip(hover_);
}

}  // namespace veld
