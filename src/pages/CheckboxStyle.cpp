#include "CheckboxStyle.h"

#include <QPainter>
#include <QPainterPath>
#include <QStyleOption>

namespace {

const QColor grey(0x66, 0x66, 0x66);

} // namespace

void CheckboxStyle::drawPrimitive(PrimitiveElement element,
                                  const QStyleOption *option,
                                  QPainter *painter,
                                  const QWidget *widget) const
{
    if (element != PE_IndicatorCheckBox) {
        QProxyStyle::drawPrimitive(element, option, painter, widget);
        return;
    }
    const bool ticked = option->state & (State_On | State_NoChange);
    const QColor ink = option->state & State_Enabled ? grey : grey.lighter(160);
    const QRectF box = QRectF(option->rect).adjusted(0.5, 0.5, -0.5, -0.5);
    painter->save();
    painter->setRenderHint(QPainter::Antialiasing);
    painter->setPen(QPen(ink, 1));
    painter->setBrush(ticked ? ink : QColor(Qt::white));
    painter->drawRoundedRect(box, 2, 2);
    if (ticked) {
        QPainterPath tick;
        tick.moveTo(box.left() + box.width() * 0.22, box.top() + box.height() * 0.52);
        tick.lineTo(box.left() + box.width() * 0.42, box.top() + box.height() * 0.72);
        tick.lineTo(box.left() + box.width() * 0.78, box.top() + box.height() * 0.30);
        QPen pen(Qt::white, box.width() / 7);
        pen.setCapStyle(Qt::RoundCap);
        pen.setJoinStyle(Qt::RoundJoin);
        painter->setPen(pen);
        painter->setBrush(Qt::NoBrush);
        painter->drawPath(tick);
    }
    painter->restore();
}

int CheckboxStyle::pixelMetric(PixelMetric metric,
                               const QStyleOption *option,
                               const QWidget *widget) const
{
    if (metric == PM_IndicatorWidth || metric == PM_IndicatorHeight)
        return boxSize;
    return QProxyStyle::pixelMetric(metric, option, widget);
}
