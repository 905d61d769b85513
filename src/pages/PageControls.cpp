#include "PageControls.h"

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
    check->setStyleSheet(QStringLiteral("QCheckBox { color: #666666; background: transparent; }"));
    return check;
}

void endEditing()
{
    if (QWidget *focused = QApplication::focusWidget())
        focused->clearFocus();
}
