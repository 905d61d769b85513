#pragma once

#include <QAccessible>
#include <QLatin1String>
#include <QString>

// Makes screen readers see every Widget through an Interface of ours (constructed from the
// widget) instead of Qt's generic one. Safe to call on every construction: it installs once.
template<typename Widget, typename Interface>
void installAccessibleInterface()
{
    static const bool installed = [] {
        QAccessible::installFactory(
            [](const QString &className, QObject *object) -> QAccessibleInterface * {
                if (className != QLatin1String(Widget::staticMetaObject.className()))
                    return nullptr;
                auto *widget = qobject_cast<Widget *>(object);
                return widget ? new Interface(widget) : nullptr;
            });
        return true;
    }();
    Q_UNUSED(installed)
}
