#include "ui/clipped_text_tip.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QHelpEvent>
#include <QStyle>
#include <QToolTip>

namespace veld {

int CellTextMargins(const QWidget* view) {
    const QStyle* style = view ? view->style() : QApplication::style();
    // Styles draw item text inset by the focus frame margin plus one pixel.
    return 2 * (style->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, view) + 1);
}

bool ClippedTextTipDelegate::textClipped(const QStyleOptionViewItem& option, const QModelIndex& index) const {
    QStyleOptionViewItem cell(option);
    initStyleOption(&cell, index);
    if (cell.text.isEmpty()) return false;
    const QWidget* widget = cell.widget;
    const QStyle* style = widget ? widget->style() : QApplication::style();
    const QRect textRect = style->subElementRect(QStyle::SE_ItemViewItemText, &cell, widget);
    const int room = textRect.width() - CellTextMargins(widget);
    return QFontMetrics(cell.font).horizontalAdvance(cell.text) > room;
}

bool ClippedTextTipDelegate::helpEvent(QHelpEvent* event, QAbstractItemView* view,
                                       const QStyleOptionViewItem& option, const QModelIndex& index) {
    // A tool tip of the model's own wins; otherwise only clipped text gets one.
    if (event && event->type() == QEvent::ToolTip && index.isValid() &&
        index.data(Qt::ToolTipRole).toString().isEmpty() && textClipped(option, index)) {
        QToolTip::showText(event->globalPos(), index.data(Qt::DisplayRole).toString(), view,
                           view ? view->visualRect(index) : QRect());
        return true;
    }
    return QStyledItemDelegate::helpEvent(event, view, option, index);
}

}  // namespace veld
