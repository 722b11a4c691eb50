// The disk map: the shown found files as a grid of small 32 x 32 cells, in
// the order of their position on the card (start cluster), each with a
// picture of its kind and its name; the pointer's item is named in a tool
// tip. Its selection is the one all views share.
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
    static constexpr int kCellWidth = 32;
    static constexpr int kCellHeight = 32;

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

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void scrollContentsBy(int dx, int dy) override;
    void showEvent(QShowEvent* event) override;

private:
    void setSelectionModel(QItemSelectionModel* selection);
    void rebuild();
    void mapRows();
    void updateScrollRange();
    QModelIndex indexOfItem(int item) const;
    QString nameOf(int item) const;

    SearchSession* session_;
    QPointer<QItemSelectionModel> selection_;
    std::vector<int> items_;
    QHash<int, int> rowOfRecord_;
    int top_ = 0, maxTop_ = 0, page_ = 1;
    int anchor_ = -1;
    QString hover_;
    bool stale_ = false;  // rows were added while the map was hidden
};

}  // namespace veld
