#include "WindowDrag.h"

#include <QMouseEvent>
#include <QWidget>
#include <QWindow>

namespace WindowDrag {

namespace {

std::function<bool(QWindow *)> &systemMove()
{
    static std::function<bool(QWindow *)> move;
    return move;
}

} // namespace

bool begin(QWidget *widget, QMouseEvent *event)
{
    if (event->button() != Qt::LeftButton)
        return false;
    QWindow *window = widget->window()->windowHandle();
    if (!window)
        return false;
    // The window manager moves the window, so the drag feels native and respects its rules.
    return systemMove() ? systemMove()(window) : window->startSystemMove();
}

void setSystemMove(std::function<bool(QWindow *)> move)
{
    systemMove() = std::move(move);
}

} // namespace WindowDrag
