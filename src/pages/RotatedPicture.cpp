#include "RotatedPicture.h"

#include <QMouseEvent>
#include <QPainter>

namespace {

// Qt's animations tick about every 16 ms. Every other tick is enough for a smooth turn, and each
// repaint also repaints what lies under and over the picture.
constexpr qint64 frameMilliseconds = 25;

} // namespace

RotatedPicture::RotatedPicture(QWidget *parent)
    : QWidget(parent)
{
    setAttribute(Qt::WA_TranslucentBackground);
}

void RotatedPicture::setPicture(const QPixmap &picture)
{
    m_picture = picture;
    update();
}

void RotatedPicture::startTurning(
    const QString &key, qreal from, qreal to, int milliseconds, bool autoreverse)
{
    stopTurning();
    m_key = key;
    m_angle = from;
    m_animation = new QVariantAnimation(this);
    if (autoreverse) {
        m_animation->setDuration(2 * milliseconds);
        m_animation->setKeyValueAt(0, from);
        m_animation->setKeyValueAt(0.5, to);
        m_animation->setKeyValueAt(1, from);
    } else {
        m_animation->setDuration(milliseconds);
        m_animation->setStartValue(from);
        m_animation->setEndValue(to);
    }
    m_animation->setLoopCount(-1);
    connect(m_animation, &QVariantAnimation::valueChanged, this, [this](const QVariant &value) {
        m_angle = value.toReal();
        if (m_lastFrame.isValid() && m_lastFrame.elapsed() < frameMilliseconds)
            return;
        m_lastFrame.start();
        update();
    });
    if (isVisible())
        m_animation->start();
    update();
}

void RotatedPicture::stopTurning()
{
    delete m_animation;
    m_animation = nullptr;
    m_key.clear();
    m_angle = 0;
    update();
}

void RotatedPicture::paintEvent(QPaintEvent *)
{
    if (m_picture.isNull())
        return;
    QPainter painter(this);
    // The pictures have transparent margins, so their turned edges need no antialiasing. With it,
    // the raster engine would split every frame between this thread and its thread pool.
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    const QPointF pivot(width() * m_pivot.x(), height() * m_pivot.y());
    painter.translate(pivot);
    painter.rotate(m_angle);
    painter.translate(-pivot);
    painter.drawPixmap(rect(), m_picture);
}

void RotatedPicture::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    if (!m_animation)
        return;
    if (m_animation->state() == QAbstractAnimation::Paused)
        m_animation->resume();
    else if (m_animation->state() == QAbstractAnimation::Stopped)
        m_animation->start();
}

void RotatedPicture::hideEvent(QHideEvent *event)
{
    QWidget::hideEvent(event);
    if (m_animation && m_animation->state() == QAbstractAnimation::Running)
        m_animation->pause();
}

void RotatedPicture::mouseReleaseEvent(QMouseEvent *event)
{
    if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint()))
        emit clicked();
}
