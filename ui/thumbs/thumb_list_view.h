// The thumbnail pane of the right side: the sort bar on top, the grid below.
#pragma once

#include <QWidget>

#include "finder/search_session.h"

namespace veld {

class CThumDlgBar2;
class CThumListWnd2;

class CThumListView : public QWidget {
    Q_OBJECT
public:
    explicit CThumListView(SearchSession* session, QWidget* parent = nullptr);
    ~CThumListView() override;

    // The pane of the main window, or null.
    static CThumListView* Instance();

    CThumListWnd2* grid() const { return grid_; }
    CThumDlgBar2* sortBar() const { return bar_; }

    // Enables or greys the sort bar (the grid stays usable).
    void EnableThumbnails(bool enabled);

private:
    CThumListWnd2* grid_ = nullptr;
    CThumDlgBar2* bar_ = nullptr;
};

}  // namespace veld
