#pragma once

#include <QObject>

class QWidget;

// Enter and Return press the focused button of a view, as Space already does. Qt leaves Enter to
// a dialog's default button, and the console has no dialog.
class EnterKeyActivation : public QObject
{
    Q_OBJECT

public:
    // Serves the buttons among the view's descendants; the view owns it.
    explicit EnterKeyActivation(QWidget *view);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    QWidget *m_view;
};
