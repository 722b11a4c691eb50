// The thumbnail pane of the right side: the sort bar on top, the grid below.
// The sort bar is greyed with the window's commands; the grid stays usable.
#pragma once

#include <QWidget>

class QItemSelectionModel;

namespace veld {

class CThumDlgBar2;
class CThumListWnd2;
class SearchController;

class CThumListView : public QWidget {
    Q_OBJECT
public:
    // shown: the views' selection over the rows they show.
    CThumListView(SearchController& controller, QItemSelectionModel* shown, QWidget* parent = nullptr);

    CThumListWnd2* grid() const { return grid_; }
    CThumDlgBar2* sortBar() const { return bar_; }

private:
    CThumListWnd2* grid_ = nullptr;
    CThumDlgBar2* bar_ = nullptr;
};

}  // namespace veld
