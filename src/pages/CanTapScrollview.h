#pragma once

#include <QScrollArea>

// A scroll view whose background, pressed and dragged, moves the window.
class CanTapScrollview : public QScrollArea
{
    Q_OBJECT

public:
    explicit CanTapScrollview(QWidget *parent = nullptr);

protected:
    bool viewportEvent(QEvent *event) override;
};
