#include "EnterKeyActivation.h"

#include <QAbstractButton>
#include <QApplication>
#include <QKeyEvent>

EnterKeyActivation::EnterKeyActivation(QWidget *view)
    : QObject(view)
    , m_view(view)
{
    qApp->installEventFilter(this);
}

bool EnterKeyActivation::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() != QEvent::KeyPress)
        return false;
    const auto *key = static_cast<QKeyEvent *>(event);
    if (key->key() != Qt::Key_Return && key->key() != Qt::Key_Enter)
        return false;
    auto *button = qobject_cast<QAbstractButton *>(watched);
    if (!button || !button->hasFocus() || !m_view->isAncestorOf(button))
        return false;
    if (!key->isAutoRepeat() && button->isEnabled())
        button->click();
    return true;
}
