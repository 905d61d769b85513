#include "FocusRing.h"

#include <QApplication>
#include <QFocusEvent>
#include <QPainter>

namespace {

constexpr int margin = 3;
const QColor ink(0x3B, 0x79, 0xE0);

bool byKeyboard(Qt::FocusReason reason)
{
    return reason == Qt::TabFocusReason || reason == Qt::BacktabFocusReason
           || reason == Qt::ShortcutFocusReason;
}

} // namespace

FocusRing::FocusRing(QWidget *view)
    : QWidget(view)
{
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setFocusPolicy(Qt::NoFocus);
    hide();
    qApp->installEventFilter(this);
}

bool FocusRing::eventFilter(QObject *watched, QEvent *event)
{
    switch (event->type()) {
    case QEvent::FocusIn: {
        auto *widget = qobject_cast<QWidget *>(watched);
        if (widget && parentWidget()->isAncestorOf(widget))
            follow(byKeyboard(static_cast<QFocusEvent *>(event)->reason()) ? widget : nullptr);
        break;
    }
    case QEvent::MouseButtonPress:
        follow(nullptr);
        break;
    case QEvent::Move:
    case QEvent::Resize:
    case QEvent::Show:
    case QEvent::Hide:
        if (watched == m_target)
            place();
        break;
    default:
        break;
    }
    return QWidget::eventFilter(watched, event);
}

void FocusRing::follow(QWidget *target)
{
    m_target = target;
    place();
}

void FocusRing::place()
{
    if (!m_target || !m_target->isVisible()) {
        hide();
        return;
    }
    const QRect frame(m_target->mapTo(parentWidget(), QPoint(0, 0)), m_target->size());
    setGeometry(frame.adjusted(-margin, -margin, margin, margin));
    raise();
    show();
}

void FocusRing::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(ink, 2));
    painter.setBrush(Qt::NoBrush);
    painter.drawRoundedRect(QRectF(rect()).adjusted(1, 1, -1, -1), 4, 4);
}
