#include "ui/thumbs/thumb_list_view.h"

#include <QVBoxLayout>

#include "ui/search_controller.h"
#include "ui/thumbs/thumb_dlg_bar.h"
#include "ui/thumbs/thumb_list_wnd.h"

namespace veld {

CThumListView::CThumListView(SearchController& controller, QItemSelectionModel* shown, QWidget* parent)
    : QWidget(parent) {
    setObjectName(QStringLiteral("thumbnailPane"));
    grid_ = new CThumListWnd2(controller, shown);
    bar_ = new CThumDlgBar2;
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(bar_);
    layout->addWidget(grid_, 1);
    connect(bar_, &CThumDlgBar2::sortRequested, grid_, &CThumListWnd2::SortThumbnails);
    connect(&controller, &SearchController::commandsEnabledChanged, bar_, &QWidget::setEnabled);
    bar_->setEnabled(controller.commandsEnabled());
}

}  // namespace veld
