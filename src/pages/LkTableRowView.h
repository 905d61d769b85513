#pragma once

#include <QStyledItemDelegate>

// Draws a list row with the client's own selection: a rounded #CADEFA band inset 25 points left
// and right, instead of the platform's highlight; with the style "none", no selection at all.
class LkTableRowView : public QStyledItemDelegate
{
    Q_OBJECT

public:
    enum class SelectionHighlightStyle { regular, none };

    explicit LkTableRowView(QObject *parent = nullptr);

    void setSelectionHighlightStyle(SelectionHighlightStyle style) { m_style = style; }
    SelectionHighlightStyle selectionHighlightStyle() const { return m_style; }

    // The band a selected row of these bounds gets; empty with the style "none".
    QRectF selectionRect(const QRectF &rowBounds) const;

    void paint(QPainter *painter,
               const QStyleOptionViewItem &option,
               const QModelIndex &index) const override;

private:
    SelectionHighlightStyle m_style = SelectionHighlightStyle::regular;
};
