#pragma once

#include <QString>

class QCheckBox;
class QPushButton;
class QWidget;

// The small text controls the panel and the pages share. The caller places them.

// A borderless text button in a colour, left-aligned, optionally underlined like a web link.
QPushButton *makeLinkButton(QWidget *parent,
                            const QString &title,
                            const char *colour,
                            bool underline);

// A checkbox in the pages' grey, size 12, whose box shows ticked or not, and that never takes
// the keyboard focus.
QCheckBox *makeCheckbox(QWidget *parent, const QString &title);

// Ends any text editing, as a click elsewhere in the window does: the edited field commits its
// text and gives up the keyboard focus.
void endEditing();
