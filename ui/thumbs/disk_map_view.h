// The disk map: the shown found files as a grid of small cells, in the order
// of their position on the card (start cluster), each a box of its state's
// colour with a picture of its kind and its name cut to the cell. Above the
// grid a legend names the colours with their counts, and a scale shows the
// whole card with every file's position and the part the grid shows now.
// The pointer's item is named in a tool tip with its state and position. Its
// selection is the one all views share.
#pragma once

#include <QAbstractScrollArea>
#include <QHash>
#include <QItemSelectionModel>
#include <QPointer>
#include <vector>

#include "finder/search_session.h"

namespace veld {

class SearchController;

class DiskMapView : public QAbstractScrollArea {
    Q_OBJECT
public:
    // A cell holds the box and a line of name under it.
    static constexpr int kCellWidth = 64;
    static constexpr int kCellHeight = 60;

    // shown: the views' selection; its rows are the items (record index in
    // kRecordRole), its selection is the map's.
    DiskMapView(SearchController& controller, QItemSelectionModel* shown, QWidget* parent = nullptr);

    // Takes the rows again in card order and scrolls to the top.
    void Reset();

    int itemCount() const { return int(items_.size()); }
    // Record indices, in card order.
    const std::vector<int>& items() const { return items_; }
    int columns() const;
    int visibleRows() const;
    int scrollPosition() const { return top_; }
    int maxScroll() const { return maxTop_; }
    int pageStep() const { return page_; }
    // The item under a viewport point, or -1.
    int ItemAt(const QPoint& point) const;
    QRect pictureBox(int item) const;
    bool isItemSelected(int item) const;
    QString hoverText() const { return hover_; }
    // The name as drawn under an item's box (cut to fit the cell).
    QString labelOf(int item) const;
    // The colour an item's box is drawn in (its state's).
    QColor colourOf(int item) const;
    // The legend and scale above the grid.
    QWidget* header() const;
    // The clusters the scale spans: 2 up to the last cluster of the card.
    uint64_t scaleEnd() const;

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void scrollContentsBy(int dx, int dy) override;
    void showEvent(QShowEvent* event) override;

private:
    class Header;
    void setSelectionModel(QItemSelectionModel* selection);
    void rebuild();
    void mapRows();
    void updateScrollRange();
    QModelIndex indexOfItem(int item) const;
    const DelFileInfo* recordOf(int item) const;
    QString nameOf(int item) const;

    SearchSession* session_;
    QPointer<QItemSelectionModel> selection_;
    std::vector<int> items_;
    QHash<int, int> rowOfRecord_;
    int top_ = 0, maxTop_ = 0, page_ = 1;
    int anchor_ = -1;
    QString hover_;
    bool stale_ = false;  // rows were added while the map was hidden
    Header* header_ = nullptr;
};

}  // namespace veld
