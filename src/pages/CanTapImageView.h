#pragma once

#include <QLabel>

// A picture on which pressing the mouse and dragging moves the window.
class CanTapImageView : public QLabel
{
    Q_OBJECT

public:
    explicit CanTapImageView(QWidget *parent = nullptr);

protected:
    void mousePressEvent(QMouseEvent *event) override;
};
