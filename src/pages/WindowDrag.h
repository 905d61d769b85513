#pragma once

#include <functional>

class QMouseEvent;
class QWidget;
class QWindow;

// Moving a frameless window by pressing on a view and dragging, as a title bar would.
namespace WindowDrag {

// Handles a press on the widget; returns whether a move of its window began.
bool begin(QWidget *widget, QMouseEvent *event);

// What asks the window system to move a window: QWindow::startSystemMove unless replaced. The
// widget tests replace it, as their offscreen platform moves no windows; an empty function puts
// the window system's back.
void setSystemMove(std::function<bool(QWindow *)> move);

} // namespace WindowDrag
