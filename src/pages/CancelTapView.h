#pragma once

#include <QWidget>

// Covers what lies behind it and swallows every click, so only what sits on top of it can be
// used (the dimmed area around the sign-in panel).
class CancelTapView : public QWidget
{
    Q_OBJECT

public:
    explicit CancelTapView(QWidget *parent = nullptr);

protected:
    void mousePressEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void mouseDoubleClickEvent(QMouseEvent *event) override;
};
