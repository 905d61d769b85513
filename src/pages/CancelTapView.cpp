#include "CancelTapView.h"

#include <QMouseEvent>

CancelTapView::CancelTapView(QWidget *parent)
    : QWidget(parent)
{
    setAttribute(Qt::WA_StyledBackground);
}

void CancelTapView::mousePressEvent(QMouseEvent *event)
{
    event->accept();
}

void CancelTapView::mouseReleaseEvent(QMouseEvent *event)
{
    event->accept();
}

void CancelTapView::mouseDoubleClickEvent(QMouseEvent *event)
{
    event->accept();
}
