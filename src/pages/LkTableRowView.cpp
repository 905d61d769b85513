#include "LkTableRowView.h"

#include "ColorWithHex.h"

#include <QPainter>
#include <QPainterPath>

LkTableRowView::LkTableRowView(QObject *parent)
    : QStyledItemDelegate(parent)
{ }

QRectF LkTableRowView::selectionRect(const QRectF &rowBounds) const
{
    if (m_style == SelectionHighlightStyle::none)
        return {};
    return rowBounds.adjusted(25, 0, -25, 0);
}

void LkTableRowView::paint(QPainter *painter,
                           const QStyleOptionViewItem &option,
                           const QModelIndex &index) const
{
    QStyleOptionViewItem plain = option;
    const bool selected = option.state & QStyle::State_Selected;
    plain.state &= ~QStyle::State_Selected; // the platform's highlight is never drawn
    if (selected && m_style != SelectionHighlightStyle::none) {
        QPainterPath band;
        band.addRoundedRect(selectionRect(option.rect), 3, 3);
        painter->save();
        painter->setRenderHint(QPainter::Antialiasing);
        painter->fillPath(band, colorWithHex(QStringLiteral("#CADEFA")));
        painter->restore();
    }
    QStyledItemDelegate::paint(painter, plain, index);
}
