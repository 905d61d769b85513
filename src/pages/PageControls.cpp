#include "PageControls.h"

#include "CheckboxStyle.h"
#include "PixelFont.h"

#include <QApplication>
#include <QCheckBox>
#include <QPushButton>

QPushButton *makeLinkButton(QWidget *parent,
                            const QString &title,
                            const char *colour,
                            bool underline)
{
    auto *button = new QPushButton(title, parent);
    button->setFlat(true);
    button->setFocusPolicy(Qt::NoFocus);
    button->setCursor(Qt::PointingHandCursor);
    setPixelFont(button, 12);
    QFont font = button->font();
    font.setUnderline(underline);
    button->setFont(font);
    button->setStyleSheet(QStringLiteral("QPushButton { border: none; background: transparent; "
                                         "color: %1; text-align: left; padding: 0; }")
                              .arg(QLatin1String(colour)));
    return button;
}

QCheckBox *makeCheckbox(QWidget *parent, const QString &title)
{
    auto *check = new QCheckBox(title, parent);
    check->setFocusPolicy(Qt::NoFocus);
    setPixelFont(check, 12);
    // Drawn by a style of its own rather than a style sheet, which would take over the box too.
    auto *style = new CheckboxStyle;
    style->setParent(check);
    check->setStyle(style);
    QPalette palette = check->palette();
    palette.setColor(QPalette::WindowText, QColor(0x66, 0x66, 0x66));
    check->setPalette(palette);
    return check;
}

void endEditing()
{
    if (QWidget *focused = QApplication::focusWidget())
        focused->clearFocus();
}
