#include "ui/thumbs/thumbnail_pane.h"

#include <QVBoxLayout>

#include "ui/search_controller.h"
#include "ui/thumbs/thumbnail_sort_bar.h"
#include "ui/thumbs/thumbnail_grid.h"

namespace veld {

ThumbnailPane::ThumbnailPane(SearchController& controller, QItemSelectionModel* shown, QWidget* parent)
    : QWidget(parent) {
    setObjectName(QStringLiteral("thumbnailPane"));
    grid_ = new ThumbnailGrid(controller, shown);
    bar_ = new ThumbnailSortBar;
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(bar_);
    layout->addWidget(grid_, 1);
    connect(bar_, &ThumbnailSortBar::sortRequested, grid_, &ThumbnailGrid::SortThumbnails);
    connect(&controller, &SearchController::commandsEnabledChanged, bar_, &QWidget::setEnabled);
    bar_->setEnabled(controller.commandsEnabled());
}

}  // namespace veld
