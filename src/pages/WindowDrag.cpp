#include "WindowDrag.h"

#include <QMouseEvent>
#include <QWidget>
#include <QWindow>

namespace WindowDrag {

bool begin(QWidget *widget, QMouseEvent *event)
{
    if (event->button() != Qt::LeftButton)
        return false;
    QWindow *window = widget->window()->windowHandle();
    // The window manager moves the window, so the drag feels native and respects its rules.
    return window && window->startSystemMove();
}

} // namespace WindowDrag
