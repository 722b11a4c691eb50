#include "ui/thumbs/disk_map_view.h"

#include <QHelpEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QScrollBar>
#include <QToolTip>

#include <algorithm>
#include <optional>

#include "base/bitmap_utils.h"
#include "base/file_name_kind.h"
#include "base/format_text.h"
#include "search/found_file_columns.h"
#include "ui/found_file_model.h"
#include "ui/found_file_states.h"
#include "ui/search_controller.h"
#include "ui/thumbs/thumb_pictures.h"

namespace veld {

namespace {

// The box in a cell: 80 % of the width, 60 % of the height, 4 pixels down;
// the name's line under it.
constexpr int kBoxTop = 4;
constexpr int kBoxWidth = DiskMapView::kCellWidth * 8 / 10;
constexpr int kBoxHeight = DiskMapView::kCellHeight * 6 / 10;
constexpr int kLabelGap = 2;
// The header: the legend line, the scale bar and its labels.
constexpr int kHeaderMargin = 4;
constexpr int kScaleBarHeight = 12;

QString PositionText(const DiskVolume* volume, uint64_t cluster) {
    if (!volume || volume->clusterSize == 0) return QString::number(cluster);
    const uint64_t bytes = volume->dataStart + (cluster >= 2 ? cluster - 2 : 0) * uint64_t(volume->clusterSize);
    return QString::fromStdString(FormatSizeText(bytes));
}

}  // namespace

// The legend and the scale, drawn in the margin above the grid.
class DiskMapView::Header : public QWidget {
public:
    explicit Header(DiskMapView* map) : QWidget(map), map_(map) {
        setObjectName(QStringLiteral("diskMapHeader"));
        QFont small = map->font();
        setFont(small);
    }
    int wantedHeight() const {
        const int line = fontMetrics().height();
        return kHeaderMargin + line + kHeaderMargin + kScaleBarHeight + 2 + line + kHeaderMargin;
    }
    // The scale bar's rectangle within the header.
    QRect barRect() const {
        const int line = fontMetrics().height();
        return QRect(kHeaderMargin, kHeaderMargin + line + kHeaderMargin, width() - 2 * kHeaderMargin,
                     kScaleBarHeight);
    }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        painter.fillRect(rect(), palette().window());
        const QFontMetrics metrics = fontMetrics();
        const int line = metrics.height();

        // Legend: a dot of each state group's colour, its name and count.
        int counts[kStateGroupCount] = {};
        for (int item = 0; item < map_->itemCount(); ++item)
            if (const DelFileInfo* record = map_->recordOf(item)) ++counts[int(StateLookOf(*record).group)];
        int x = kHeaderMargin;
        painter.setRenderHint(QPainter::Antialiasing);
        for (int group = 0; group < kStateGroupCount; ++group) {
            const QColor colour = StateGroupColour(StateGroup(group));
            painter.setPen(colour.darker(130));
            painter.setBrush(colour);
            painter.drawEllipse(QRectF(x, kHeaderMargin + (line - 10) / 2.0, 10, 10));
            x += 14;
            const QString text = QStringLiteral("%1 %2 (%3)")
                                     .arg(StateGroupName(StateGroup(group)), StateGroupPromise(StateGroup(group)))
                                     .arg(counts[group]);
            painter.setPen(palette().color(QPalette::WindowText));
            painter.drawText(QPoint(x, kHeaderMargin + metrics.ascent()), text);
            x += metrics.horizontalAdvance(text) + 14;
        }
        painter.setRenderHint(QPainter::Antialiasing, false);

        // Scale: the whole card, every file's position as a mark of its
        // colour, the part the grid shows as a darker band.
        const QRect bar = barRect();
        painter.setPen(Qt::NoPen);
        painter.fillRect(bar, QColor(235, 235, 235));
        const uint64_t end = map_->scaleEnd();
        auto xOf = [&](uint64_t cluster) {
            const uint64_t span = end > 2 ? end - 2 : 1;
            const uint64_t at = cluster > 2 ? std::min(cluster - 2, span) : 0;
            return bar.left() + int(double(at) / double(span) * (bar.width() - 1));
        };
        const int cols = map_->columns();
        const int first = map_->scrollPosition() * cols;
        const int last = std::min(map_->itemCount(), first + map_->visibleRows() * cols) - 1;
        if (first <= last) {
            const DelFileInfo* a = map_->recordOf(first);
            const DelFileInfo* b = map_->recordOf(last);
            if (a && b) {
                const int left = xOf(a->startCluster), right = xOf(b->startCluster);
                painter.fillRect(QRect(left, bar.top(), std::max(2, right - left + 1), bar.height()),
                                 QColor(180, 200, 230));
            }
        }
        for (int item = 0; item < map_->itemCount(); ++item)
            if (const DelFileInfo* record = map_->recordOf(item))
                painter.fillRect(QRect(xOf(record->startCluster), bar.top() + 2, 1, bar.height() - 4),
                                 QColor(StateLookOf(*record).colour));
        painter.setPen(QColor(120, 120, 120));
        painter.setBrush(Qt::NoBrush);
        painter.drawRect(bar.adjusted(0, 0, -1, -1));

        // The labels: the card's start, quarters and end, by byte position.
        painter.setPen(palette().color(QPalette::WindowText));
        const DiskVolume* volume = map_->session_->volume.get();
        const int labelTop = bar.bottom() + 2 + metrics.ascent();
        for (int quarter = 0; quarter <= 4; ++quarter) {
            const uint64_t cluster = 2 + (end > 2 ? (end - 2) * uint64_t(quarter) / 4 : 0);
            const QString text = quarter == 0 ? QStringLiteral("先頭") : PositionText(volume, cluster);
            const int at = xOf(cluster);
            painter.drawLine(at, bar.bottom(), at, bar.bottom() + 2);
            int left = at - metrics.horizontalAdvance(text) / 2;
            left = std::clamp(left, bar.left(), bar.right() - metrics.horizontalAdvance(text));
            painter.drawText(QPoint(left, labelTop), text);
        }
    }

private:
    DiskMapView* map_;
};

DiskMapView::DiskMapView(SearchController& controller, QItemSelectionModel* shown, QWidget* parent)
    : QAbstractScrollArea(parent), session_(&controller.session()) {
    setObjectName(QStringLiteral("diskMap"));
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    viewport()->setMouseTracking(true);
    QFont font(QStringLiteral("ＭＳ Ｐゴシック"));
    font.setPixelSize(11);
    setFont(font);
    verticalScrollBar()->setSingleStep(1);
    header_ = new Header(this);
    setViewportMargins(0, header_->wantedHeight(), 0, 0);
    setSelectionModel(shown);
}

QWidget* DiskMapView::header() const { return header_; }

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
    std::vector<std::pair<uint64_t, int>> keyed;
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
    header_->update();
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

uint64_t DiskMapView::scaleEnd() const {
    uint64_t end = session_->volume ? uint64_t(std::max<int64_t>(0, session_->volume->clusterCount)) + 1 : 2;
    for (int item = 0; item < itemCount(); ++item)
        if (const DelFileInfo* record = recordOf(item)) end = std::max(end, record->startCluster);
    return end;
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
    header_->update();
}

void DiskMapView::resizeEvent(QResizeEvent* event) {
    QAbstractScrollArea::resizeEvent(event);
    const QRect area = viewport()->geometry();
    header_->setGeometry(area.left(), frameWidth(), area.width(), header_->wantedHeight());
    updateScrollRange();
}

QRect DiskMapView::pictureBox(int item) const {
    const int cols = columns();
    const int x = (item % cols) * kCellWidth;
    const int y = (item / cols - top_) * kCellHeight;
    return QRect(x + (kCellWidth - kBoxWidth) / 2, y + kBoxTop, kBoxWidth, kBoxHeight);
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

const DelFileInfo* DiskMapView::recordOf(int item) const {
    return item >= 0 && item < itemCount() ? session_->gcDelFileList.Get(size_t(items_[size_t(item)])) : nullptr;
}

QString DiskMapView::nameOf(int item) const {
    const DelFileInfo* info = recordOf(item);
    return info ? QString::fromStdString(FoundFileColumnText(*info, 0)) : QStringLiteral("no name");
}

QString DiskMapView::labelOf(int item) const { return CutCellName(nameOf(item), fontMetrics(), kCellWidth - 4); }

QColor DiskMapView::colourOf(int item) const {
    const DelFileInfo* info = recordOf(item);
    return QColor(info ? StateLookOf(*info).colour : StateGroupColour(StateGroup::Damaged).rgb());
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
        // The box in a light tint of the state's colour, framed in it.
        const QColor colour = colourOf(item);
        QColor tint = colour;
        tint.setAlpha(70);
        painter.fillRect(box, Qt::white);
        painter.fillRect(box, tint);
        painter.setPen(QPen(colour, 2));
        painter.drawRect(box.adjusted(1, 1, -1, -1));
        std::optional<GridPicture> picture;
        switch (ClassifyFileName(nameOf(item).toStdString())) {
        case KindPicture: picture = GridPicture::MapPicture; break;
        case KindMovie:
        case KindSound: picture = GridPicture::MapMovie; break;
        case KindArchive: picture = GridPicture::MapArchive; break;
        default: break;
        }
        if (picture) {
            const QPixmap& pixmap = ThumbPixmap(*picture);
            const QRect room = box.adjusted(4, 4, -4, -4);
            const FittedRect fit = FitRectangle(pixmap.width(), pixmap.height(), room.width(), room.height());
            painter.drawPixmap(QRect(room.left() + fit.x, room.top() + fit.y, fit.width, fit.height), pixmap);
        }
        // The name under the box, cut with "..." to the cell's width.
        painter.setPen(Qt::black);
        const QRect label((item % cols) * kCellWidth + 2, box.bottom() + kLabelGap, kCellWidth - 4,
                          kCellHeight - kBoxTop - kBoxHeight - kLabelGap);
        painter.drawText(label, Qt::AlignHCenter | Qt::AlignTop, labelOf(item));
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
            selection_->setCurrentIndex(index, QItemSelectionModel::NoUpdate);
            anchor_ = item;
        }
    }
}

void DiskMapView::mouseMoveEvent(QMouseEvent* event) {
    const int item = ItemAt(event->position().toPoint());
    const DelFileInfo* record = recordOf(item);
    if (!record) {
        hover_.clear();
        viewport()->setToolTip(QString());
        return;
    }
    // The name, its state and what that promises, and where it lies.
    const StateLook& look = StateLookOf(*record);
    const QString state = QString::fromStdString(FoundFileStateText(*record));
    hover_ = QStringLiteral("%1\n状態: %2 (%3)\n%4\n位置: クラスタ %5 (%6)")
                 .arg(nameOf(item), state.isEmpty() ? QStringLiteral("不明") : state,
                      StateGroupName(look.group), QString::fromUtf8(look.explanation))
                 .arg(record->startCluster)
                 .arg(PositionText(session_->volume.get(), record->startCluster));
    viewport()->setToolTip(hover_);
}

}  // namespace veld
