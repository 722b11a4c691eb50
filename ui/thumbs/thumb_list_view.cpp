#include "ui/thumbs/thumb_list_view.h"

#include <QVBoxLayout>

#include "ui/thumbs/thumb_dlg_bar.h"
#include "ui/thumbs/thumb_list_wnd.h"

namespace veld {

namespace {
CThumListView* gThumbPane = nullptr;
}

CThumListView::CThumListView(SearchSession* session, QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("thumbnailPane"));
    grid_ = new CThumListWnd2(session);
    bar_ = new CThumDlgBar2(grid_);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(bar_);
    layout->addWidget(grid_, 1);
    gThumbPane = this;
}

CThumListView::~CThumListView() {
    if (gThumbPane == this) gThumbPane = nullptr;
}

CThumListView* CThumListView::Instance() { return gThumbPane; }

void CThumListView::EnableThumbnails(bool enabled) { bar_->setEnabled(enabled); }

}  // namespace veld
