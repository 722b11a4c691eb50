#include "ui/thumbs/thumbnail_pane.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QSlider>
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
    zoom_ = new QSlider(Qt::Horizontal);
    zoom_->setObjectName(QStringLiteral("thumbnailZoom"));
    zoom_->setRange(ThumbnailGrid::kCellWidth, ThumbnailGrid::kMaxCellSize);
    zoom_->setSingleStep(20);
    zoom_->setPageStep(60);
    zoom_->setValue(grid_->cellSize());
    zoom_->setMaximumWidth(160);
    zoom_->setToolTip(QStringLiteral("縮小画像の大きさ (Ctrl+ホイールでも変えられます)"));
    zoom_->setFocusPolicy(Qt::NoFocus);
    auto* zoomLabel = new QLabel(QStringLiteral("表示サイズ"));
    auto* top = new QHBoxLayout;
    top->setContentsMargins(0, 0, 6, 0);
    top->addWidget(bar_, 1);
    top->addWidget(zoomLabel);
    top->addWidget(zoom_);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addLayout(top);
    layout->addWidget(grid_, 1);
    connect(zoom_, &QSlider::valueChanged, grid_, &ThumbnailGrid::setCellSize);
    connect(grid_, &ThumbnailGrid::cellSizeChanged, zoom_, [this](int size) {
        const QSignalBlocker quiet(zoom_);
        zoom_->setValue(size);
    });
    connect(bar_, &ThumbnailSortBar::sortRequested, grid_, &ThumbnailGrid::SortThumbnails);
    connect(&controller, &SearchController::commandsEnabledChanged, bar_, &QWidget::setEnabled);
    bar_->setEnabled(controller.commandsEnabled());
}

}  // namespace veld
