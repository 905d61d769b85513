#include "LkTextField.h"

#include <QPainter>
#include <QProxyStyle>

namespace {

// Hides the platform's caret so the field can draw its own in its own colour.
class NoCaretStyle : public QProxyStyle
{
public:
    int pixelMetric(PixelMetric metric,
                    const QStyleOption *option = nullptr,
                    const QWidget *widget = nullptr) const override
    {
        if (metric == PM_TextCursorWidth)
            return 0;
        return QProxyStyle::pixelMetric(metric, option, widget);
    }
};

} // namespace

LkTextField::LkTextField(QWidget *parent)
    : QLineEdit(parent)
{
    auto *style = new NoCaretStyle;
    style->setParent(this);
    setStyle(style);
    m_caretColor = palette().color(QPalette::Text);
}

void LkTextField::focusInEvent(QFocusEvent *event)
{
    QLineEdit::focusInEvent(event);
    if (hasFocus() && m_insertColor.isValid())
        m_caretColor = m_insertColor;
}

void LkTextField::paintEvent(QPaintEvent *event)
{
    QLineEdit::paintEvent(event);
    if (!hasFocus() || hasSelectedText())
        return;
    QPainter painter(this);
    const QRect caret = cursorRect();
    painter.fillRect(QRect(caret.center().x(), caret.top(), 1, caret.height()), m_caretColor);
}
