#pragma once

#include <QString>

class QCheckBox;
class QPushButton;
class QWidget;

// The small text controls the panel and the pages share. The caller places them.

// A borderless text button in a colour, left-aligned, optionally underlined like a web link.
// Reached with Tab, never focused by a click.
QPushButton *makeLinkButton(QWidget *parent,
                            const QString &title,
                            const char *colour,
                            bool underline);

// A checkbox in the pages' grey, size 12, whose box shows ticked or not. The keyboard reaches it
// with Tab; a click leaves the focus where it was, as the other page controls do.
QCheckBox *makeCheckbox(QWidget *parent, const QString &title);

// Ends any text editing, as a click elsewhere in the window does: the edited field commits its
// text and gives up the keyboard focus. A focused button keeps it.
void endEditing();

// Hands the keyboard focus from a control, or anything inside it, to the one taking its place,
// before the first is hidden; Qt would otherwise send it on to whatever comes next in the window.
void passFocus(QWidget *from, QWidget *to);
