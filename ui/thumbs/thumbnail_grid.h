// The thumbnail grid: one 100 x 100 cell per row of the shown found files, in
// their order, each a picture box with the file's name under it. The grid has
// no selection of its own: it reads and changes the views' shared selection
// model, so every view always shows the same chosen files. A file in any
// state but good carries a badge of its state's colour; the pointer's cell
// names its state in a tool tip. The cells can be enlarged (setCellSize,
// Ctrl+wheel) up to pictures of 256 pixels, whose thumbnails are then made
// again at that size. The keyboard moves and selects like a file window.
// Thumbnails the search did not make (past its limit, or still queued when it
// was cancelled) are made here on demand, a few per timer tick and only for
// cells that were drawn: a tick reads their bytes from the volume, a worker
// thread decodes them, and the interface thread takes the thumbnails back. The number of thumbnails held stays bounded however many
// files there are.
#pragma once

#include <QAbstractScrollArea>
#include <QBasicTimer>
#include <QElapsedTimer>
#include <QItemSelectionModel>
#include <QPointer>
#include <QCache>
#include <QImage>
#include <QThreadPool>
#include <deque>
#include <memory>
#include <unordered_set>
#include <vector>

#include "finder/search_session.h"

namespace veld {

class SearchController;

class ThumbnailGrid : public QAbstractScrollArea {
    Q_OBJECT
public:
    // The cell size at first and the smallest; the cells are square.
    static constexpr int kCellWidth = 100;
    static constexpr int kCellHeight = 100;
    // The largest cell: a picture box of 256 pixels.
    static constexpr int kMaxCellSize = 320;
    static constexpr int kTimerMs = 50;
    static constexpr int kThumbnailsPerTick = 10;
    // A tick makes no thumbnail that would, at its pace so far, end past this
    // time, so that large pictures never hold up the interface for long.
    static constexpr int kTickBudgetMs = 50;
    // Thumbnails held through the session's ThumbnailQueue: at least this
    // many, so a card whose search made few thumbnails still shows its
    // pictures (see heldBound()).
    static constexpr int kMinHeldThumbnails = 200;

    // shown: the views' selection; its model gives the rows (record index in
    // kRecordRole), its selection is the grid's.
    ThumbnailGrid(SearchController& controller, QItemSelectionModel* shown, QWidget* parent = nullptr);
    ~ThumbnailGrid() override;

    // Shows the rows of another selection's model.
    void setSelectionModel(QItemSelectionModel* selection);
    QItemSelectionModel* selectionModel() const { return selection_; }

    // Sorts the rows by a key (a list column; direction 1 ascending, 0
    // descending) and redraws; key -1 does nothing.
    void SortThumbnails(int key, int direction);
    // Empties the load queue and redraws the visible cells.
    void RedrawThumbnails();

    // The cell's edge in pixels (kCellWidth .. kMaxCellSize); a change keeps
    // the current cell (else the first one shown) in view.
    int cellSize() const { return cell_; }
    void setCellSize(int size);

    // Geometry from the grid's outer size (frame and scroll bar included).
    int columns() const;
    int visibleRows() const;
    int cellCount() const;
    int topRow() const { return topRow_; }
    int maxTopRow() const;
    int pageStep() const { return pageStep_; }
    void setTopRow(int row);
    // The cell a point of the viewport hits, or -1 (the margins between the
    // picture boxes hit nothing).
    int HitCell(const QPoint& point) const;
    // The picture box of a cell in viewport coordinates (also for cells out of view).
    QRect pictureBox(int cell) const;
    bool isCellVisible(int cell) const;
    // The cell the keyboard is on (the selection's current row), or -1.
    int currentCell() const;
    // What the tool tip over a cell says: its name and state.
    QString cellToolTip(int cell) const;

    // The list row (and record) a cell shows.
    int recordOfCell(int cell) const;
    DelFileInfo* RecordOfCell(int cell) const;
    bool isCellSelected(int cell) const;
    int anchorCell() const { return anchor_; }

    // One tick of the timer: a pending open, else up to ten thumbnails of
    // the load queue, read and handed to the decoding threads (none while the
    // last ones are still being decoded). Returns the number handed over;
    // thumbnailsMade tells when they are back.
    int TimerTick();
    // Thumbnails are being decoded (or their delivery is queued).
    bool decoding() const { return bool(batch_); }
    size_t loadQueueSize() const { return loadQueue_.size(); }
    // Records of the load queue, oldest first.
    std::vector<int> loadQueue() const { return {loadQueue_.begin(), loadQueue_.end()}; }
    int pendingOpen() const { return pendingOpen_; }
    bool timerRunning() const { return timer_.isActive(); }
    // The most thumbnails the grid lets the session hold.
    int heldBound() const;
    // The larger thumbnail made for a record at the current cell size, or
    // a null image.
    QImage largeThumbnail(int record) const;

signals:
    // After the thumbnails of a tick came back from decoding (benchmarks and tests).
    void thumbnailsMade(int count);
    void cellSizeChanged(int size);
    // A double click on a cell, taken on the next tick (the row it shows).
    void openRequested(int row);
    // The right button over the grid, at a global point.
    void contextMenuRequested(const QPoint& global);

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    bool viewportEvent(QEvent* event) override;
    void timerEvent(QTimerEvent* event) override;
    void scrollContentsBy(int dx, int dy) override;

private:
    void onRowsReset();
    void onRowsInserted(int first, int last);
    void onResultsCleared();
    void onSearchFinished();
    void startDrag();
    void updateScrollRange();
    void drawCell(QPainter& painter, int cell);
    void drawPicture(QPainter& painter, const QRect& box, DelFileInfo& record);
    void drawBadge(QPainter& painter, const QRect& box, const DelFileInfo& record);
    void queueIfNeeded(DelFileInfo& record);
    // The edge of the larger thumbnail the current size wants (0: none).
    int largeEdge() const;
    void moveCurrent(int cell, Qt::KeyboardModifiers modifiers);
    void scrollToCell(int cell);
    struct DecodeBatch;
    void decodeBatch(std::shared_ptr<DecodeBatch> batch);
    void takeDecoded(const std::shared_ptr<DecodeBatch>& batch);
    void releaseOldestThumbnails();
    void redrawRecord(int record);
    QModelIndex indexOfCell(int cell) const;
    void selectOnly(int cell);
    void setCellSelected(int cell, bool selected);
    void selectRange(int from, int to, bool select);
    void updateBand(const QPoint& point, Qt::KeyboardModifiers modifiers);
    int rowsOfCells() const;
    bool makingAllowed() const;

    SearchController& controller_;
    SearchSession* session_;
    QPointer<QItemSelectionModel> selection_;
    int cell_ = kCellWidth;
    int topRow_ = 0;
    int maxTopRow_ = 0;
    int pageStep_ = 1;
    std::deque<int> loadQueue_;
    // Records whose larger thumbnail is wanted, and those made (by record
    // and edge; the cost is their pixels).
    std::deque<int> largeQueue_;
    QCache<qint64, QImage> large_{64 << 20 >> 2};
    bool inTick_ = false;
    int pendingOpen_ = -1;
    int anchor_ = -1;
    bool anchorSelects_ = true;
    bool dragPending_ = false;
    bool banding_ = false;
    QPoint bandStart_, bandEnd_;
    QPoint pressPoint_;
    int pressCell_ = -1;
    QBasicTimer timer_;
    // Records whose thumbnail was released to keep the bound.
    std::unordered_set<int> released_;
    int registrationHeld_ = 0;
    // The batch handed to the decoding threads, until it comes back.
    std::shared_ptr<DecodeBatch> batch_;
    // Counts the times the found files were emptied: a batch read before
    // that has nothing to give back.
    int generation_ = 0;
    // Last member: destroyed first, it waits for the running decodes, which
    // only touch their batch.
    QThreadPool decoder_;
};

}  // namespace veld
