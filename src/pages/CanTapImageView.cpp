#include "CanTapImageView.h"

#include "WindowDrag.h"

#include <QMouseEvent>

CanTapImageView::CanTapImageView(QWidget *parent)
    : QLabel(parent)
{
    setScaledContents(true);
}

void CanTapImageView::mousePressEvent(QMouseEvent *event)
{
    if (!WindowDrag::begin(this, event))
        QLabel::mousePressEvent(event);
}
