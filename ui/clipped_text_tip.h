// Item views whose cells can be narrower than their text (the found-file list
// and tree): a cell whose text is cut off shows the whole text as its tool tip.
#pragma once

#include <QStyledItemDelegate>

namespace veld {

class ClippedTextTipDelegate : public QStyledItemDelegate {
    Q_OBJECT
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    // Whether the cell's text is wider than the room the style gives it in
    // the cell's rectangle (option.rect), so that it is drawn elided.
    bool textClipped(const QStyleOptionViewItem& option, const QModelIndex& index) const;

    bool helpEvent(QHelpEvent* event, QAbstractItemView* view, const QStyleOptionViewItem& option,
                   const QModelIndex& index) override;
};

// The horizontal room a style leaves around a cell's text, both sides together.
int CellTextMargins(const QWidget* view);

}  // namespace veld
