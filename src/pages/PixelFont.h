#pragma once

#include <QWidget>

// Sizes are given in points of the client's layout, which are Qt's pixels.
inline void setPixelFont(QWidget *widget, int pixels, bool bold = false)
{
    QFont font = widget->font();
    font.setPixelSize(pixels);
    font.setBold(bold);
    widget->setFont(font);
}
