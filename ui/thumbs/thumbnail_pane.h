// The thumbnail pane of the right side: the sort bar on top, the grid below.
// The sort bar is greyed with the window's commands; the grid stays usable.
#pragma once

#include <QWidget>

class QItemSelectionModel;

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

private:
    ThumbnailGrid* grid_ = nullptr;
    ThumbnailSortBar* bar_ = nullptr;
};

}  // namespace veld
