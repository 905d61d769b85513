#include "CanTapScrollview.h"

#include "WindowDrag.h"

#include <QMouseEvent>

CanTapScrollview::CanTapScrollview(QWidget *parent)
    : QScrollArea(parent)
{
    setFrameShape(QFrame::NoFrame);
}

bool CanTapScrollview::viewportEvent(QEvent *event)
{
    if (event->type() == QEvent::MouseButtonPress
        && WindowDrag::begin(viewport(), static_cast<QMouseEvent *>(event)))
        return true;
    return QScrollArea::viewportEvent(event);
}
