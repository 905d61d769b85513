#pragma once

class QMouseEvent;
class QWidget;

// Moving a frameless window by pressing on a view and dragging, as a title bar would.
namespace WindowDrag {

// Handles a press on the widget; returns whether a move of its window began.
bool begin(QWidget *widget, QMouseEvent *event);

} // namespace WindowDrag
