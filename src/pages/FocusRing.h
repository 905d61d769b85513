#pragma once

#include <QPointer>
#include <QWidget>

// The keyboard focus made visible: a rounded frame drawn over whichever control of the view
// the keyboard moved the focus to. The view's controls are drawn without a focus frame of their
// own, so the ring is what keyboard users follow. A click hides it; mouse use looks as before.
class FocusRing : public QWidget
{
    Q_OBJECT

public:
    // Follows the focus among the descendants of the view, which becomes the ring's parent.
    explicit FocusRing(QWidget *view);

    QWidget *target() const { return m_target; }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
    void paintEvent(QPaintEvent *event) override;

private:
    void follow(QWidget *target);
    void place();

    QPointer<QWidget> m_target;
};
