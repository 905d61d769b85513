#pragma once

#include <QElapsedTimer>
#include <QPixmap>
#include <QPointF>
#include <QVariantAnimation>
#include <QWidget>

// A picture, clickable, that can turn about a pivot given as a fraction of its size ((0.5, 0.5) is its
// centre, (1.0, 0.5) the middle of its right edge). At most one turning animation runs, under
// a name; it runs only while the picture is visible.
class RotatedPicture : public QWidget
{
    Q_OBJECT

public:
    explicit RotatedPicture(QWidget *parent = nullptr);

    void setPicture(const QPixmap &picture);
    void setPivot(const QPointF &pivot) { m_pivot = pivot; }

    // Turns from one angle to another (degrees, clockwise) over the duration, forever; with
    // autoreverse it swings back each time.
    void startTurning(const QString &key, qreal from, qreal to, int milliseconds, bool autoreverse);
    void stopTurning();

    QString animationKey() const { return m_key; }
    QVariantAnimation *animation() const { return m_animation; }
    qreal angle() const { return m_angle; }

signals:
    void clicked();

protected:
    void mouseReleaseEvent(QMouseEvent *event) override;
    void paintEvent(QPaintEvent *event) override;
    void showEvent(QShowEvent *event) override;
    void hideEvent(QHideEvent *event) override;

private:
    QPixmap m_picture;
    QPointF m_pivot{0.5, 0.5};
    qreal m_angle = 0;
    QString m_key;
    QVariantAnimation *m_animation = nullptr;
    QElapsedTimer m_lastFrame; // since the turn last repainted
};
