// The thumbnail pane of the right side: the sort bar on top with the zoom
// slider beside it, the grid below. The sort bar is greyed with the window's
// commands; the grid and the slider stay usable.
#pragma once

#include <QWidget>

class QItemSelectionModel;
class QSlider;

namespace veld {

class ThumbnailSortBar;
class ThumbnailGrid;
class SearchController;

class ThumbnailPane : public QWidget {
    Q_OBJECT
public:
    // shown: the views' selection over the rows they show.
    ThumbnailPane(SearchController& controller, QItemSelectionModel* shown, QWidget* parent = nullptr);

    ThumbnailGrid* grid() const { return grid_; }
    ThumbnailSortBar* sortBar() const { return bar_; }
    // The size of the grid's cells.
    QSlider* zoomSlider() const { return zoom_; }

private:
    ThumbnailGrid* grid_ = nullptr;
    ThumbnailSortBar* bar_ = nullptr;
    QSlider* zoom_ = nullptr;
};

}  // namespace veld
