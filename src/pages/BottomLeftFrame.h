#pragma once

#include <QRect>
#include <QRectF>

// The client's layouts give frames with the origin at the bottom left of the parent; Qt places
// widgets from the top left. This is the one place that converts.
inline QRect bottomLeftFrame(const QRectF &frame, qreal parentHeight)
{
    return QRectF(frame.x(),
                  parentHeight - frame.y() - frame.height(),
                  frame.width(),
                  frame.height())
        .toRect();
}
