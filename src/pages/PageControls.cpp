#include "PageControls.h"

#include "AccessibleFactory.h"
#include "CheckboxStyle.h"
#include "PixelFont.h"

#include <QAccessibleWidget>
#include <QApplication>
#include <QCheckBox>
#include <QLineEdit>
#include <QPushButton>

namespace {

// An underlined text button opens a page or another form: screen readers call it a link.
class LinkButton final : public QPushButton
{
    Q_OBJECT

public:
    using QPushButton::QPushButton;
};

class LinkAccessible final : public QAccessibleWidget
{
public:
    explicit LinkAccessible(LinkButton *link)
        : QAccessibleWidget(link, QAccessible::Link)
    { }

    QString text(QAccessible::Text kind) const override
    {
        const QString text = QAccessibleWidget::text(kind);
        return kind == QAccessible::Name && text.isEmpty() ? link()->text() : text;
    }
    QStringList actionNames() const override { return {pressAction()}; }
    void doAction(const QString &action) override
    {
        if (action == pressAction())
            link()->click();
    }

private:
    QPushButton *link() const { return static_cast<QPushButton *>(widget()); }
};

} // namespace

QPushButton *makeLinkButton(QWidget *parent,
                            const QString &title,
                            const char *colour,
                            bool underline)
{
    installAccessibleInterface<LinkButton, LinkAccessible>();
    auto *button = underline ? new LinkButton(title, parent) : new QPushButton(title, parent);
    button->setFlat(true);
    button->setFocusPolicy(Qt::TabFocus);
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
    check->setFocusPolicy(Qt::TabFocus);
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
    // Only a text field gives the focus up: a button pressed from the keyboard keeps it, so the
    // next Tab goes on from there.
    if (auto *field = qobject_cast<QLineEdit *>(QApplication::focusWidget()))
        field->clearFocus();
}

void passFocus(QWidget *from, QWidget *to)
{
    QWidget *focused = from->window()->focusWidget();
    if (!focused || !(focused == from || from->isAncestorOf(focused)))
        return;
    if (to && to->isVisibleTo(to->window()) && to->isEnabled())
        to->setFocus(Qt::OtherFocusReason);
}

#include "PageControls.moc"
