#include "TextFieldShortcuts.h"

#include <QApplication>
#include <QKeyEvent>
#include <QLineEdit>

TextFieldShortcuts::TextFieldShortcuts(QObject *parent)
    : QObject(parent)
{ }

void TextFieldShortcuts::install()
{
    static TextFieldShortcuts *installed = nullptr;
    if (installed)
        return;
    installed = new TextFieldShortcuts(qApp);
    qApp->installEventFilter(installed);
}

bool TextFieldShortcuts::eventFilter(QObject *watched, QEvent *event)
{
    const bool shortcut = event->type() == QEvent::ShortcutOverride
                          || event->type() == QEvent::KeyPress;
    auto *field = qobject_cast<QLineEdit *>(watched);
    if (!shortcut || !field)
        return false;
    const auto *key = static_cast<QKeyEvent *>(event);
    if (key->modifiers() != Qt::ControlModifier)
        return false;
    switch (key->key()) {
    case Qt::Key_A:
    case Qt::Key_C:
    case Qt::Key_V:
    case Qt::Key_X:
        break;
    default:
        return false;
    }
    // Claim the key before any application shortcut can, then act when it is pressed.
    if (event->type() == QEvent::ShortcutOverride) {
        event->accept();
        return true;
    }
    switch (key->key()) {
    case Qt::Key_A:
        field->selectAll();
        break;
    case Qt::Key_C:
        field->copy();
        break;
    case Qt::Key_V:
        field->paste();
        break;
    default:
        field->cut();
        break;
    }
    return true;
}
