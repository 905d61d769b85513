#pragma once

#include <QObject>

// The editing shortcuts of every text field of the application: Ctrl+A selects all, Ctrl+C
// copies, Ctrl+V pastes, Ctrl+X cuts, whatever the field or the platform's key bindings. Other
// keys are left to the field. Installed once on the application.
class TextFieldShortcuts : public QObject
{
    Q_OBJECT

public:
    explicit TextFieldShortcuts(QObject *parent = nullptr);

    static void install();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
};
