#include "ImageButton.h"

#include "ImageLibrary.h"

#include <QPainter>

ImageButton::ImageButton(const QString &image, const QString &title, QWidget *parent)
    : QPushButton(title, parent)
    , m_image(image)
{
    setFlat(true);
    setFocusPolicy(Qt::TabFocus);
    setCursor(Qt::PointingHandCursor);
}

void ImageButton::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.setOpacity(isEnabled() ? 1.0 : 0.5);
    painter.drawPixmap(rect(), ImageLibrary::pixmap(m_image, size()));
    painter.setPen(m_titleColor);
    painter.setFont(font());
    painter.drawText(rect(), Qt::AlignCenter, text());
}
