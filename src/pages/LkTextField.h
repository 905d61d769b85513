#pragma once

#include <QColor>
#include <QLineEdit>

// A text field whose caret has a colour of its own (insertColor), set when the field takes
// focus.
class LkTextField : public QLineEdit
{
    Q_OBJECT

public:
    explicit LkTextField(QWidget *parent = nullptr);

    void setInsertColor(const QColor &color) { m_insertColor = color; }
    QColor insertColor() const { return m_insertColor; }
    // The caret colour in use: insertColor from the moment the field took focus.
    QColor caretColor() const { return m_caretColor; }

protected:
    void focusInEvent(QFocusEvent *event) override;
    void paintEvent(QPaintEvent *event) override;

private:
    QColor m_insertColor;
    QColor m_caretColor;
};
