#include "ImageRadioButton.h"

#include "AccessibleFactory.h"
#include "BottomLeftFrame.h"
#include "ImageLibrary.h"
#include "PageControls.h"
#include "PixelFont.h"

#include <QAccessibleWidget>
#include <QKeyEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QRadioButton>

namespace {

// The node as one control: its circle, padlock, flag and name are parts of it, not children.
class NodeAccessible : public QAccessibleWidget
{
public:
    explicit NodeAccessible(ImageRadioButton *node)
        : QAccessibleWidget(node, QAccessible::RadioButton)
    { }

    ImageRadioButton *node() const { return static_cast<ImageRadioButton *>(widget()); }

    QString text(QAccessible::Text kind) const override
    {
        if (kind != QAccessible::Name)
            return QAccessibleWidget::text(kind);
        return node()->isLocked() ? node()->title() + QStringLiteral("（已锁定）")
                                  : node()->title();
    }

    QAccessible::State state() const override
    {
        QAccessible::State state = QAccessibleWidget::state();
        state.checkable = true;
        state.checked = node()->isChecked();
        state.disabled = node()->isLocked();
        return state;
    }

    int childCount() const override { return 0; }
    QAccessibleInterface *child(int) const override { return nullptr; }
    int indexOfChild(const QAccessibleInterface *) const override { return -1; }

    QStringList actionNames() const override { return {pressAction()}; }
    void doAction(const QString &action) override
    {
        if (action == pressAction())
            node()->onTapButtonWithSender();
    }
};

} // namespace

ImageRadioButton::ImageRadioButton(QWidget *parent)
    : QWidget(parent)
{
    installAccessibleInterface<ImageRadioButton, NodeAccessible>();
    setCursor(Qt::PointingHandCursor);
    setFocusPolicy(Qt::TabFocus);
}

void ImageRadioButton::configure(const QRect &frame, const QString &title, const QString &flagImage)
{
    setGeometry(frame);
    const int w = frame.width();
    const int h = frame.height();

    m_radiobtn = new QRadioButton(this);
    m_radiobtn->setAutoExclusive(false);
    m_radiobtn->setFocusPolicy(Qt::NoFocus);
    m_radiobtn->setGeometry(0, 0, h, h);
    connect(m_radiobtn, &QRadioButton::clicked, this, [this] {
        m_radiobtn->setChecked(m_isChecked); // the item decides, not the circle
        onTapButtonWithSender();
    });
    m_lock = new QLabel(this);
    m_lock->setPixmap(ImageLibrary::pixmap(QStringLiteral("ic_country_lock"), QSize(h - 6, h - 6)));
    m_lock->setGeometry(3, 3, h - 6, h - 6);
    m_lock->setAttribute(Qt::WA_TransparentForMouseEvents);
    m_lock->hide();

    m_flagImgView = new QLabel(this);
    setFlagImage(flagImage);
    m_flagImgView->setGeometry(bottomLeftFrame(QRectF(h, h / 2.0 - 9, 22, 18), h));
    m_flagImgView->setAttribute(Qt::WA_TransparentForMouseEvents);

    m_titleLabel = new QLabel(this);
    m_titleLabel->setTextFormat(Qt::PlainText); // node names come from the service
    setTitle(title);
    setPixelFont(m_titleLabel, 13);
    m_titleLabel->setStyleSheet(QStringLiteral("color: #3F3934; background-color: #FCFCFC;"));
    m_titleLabel->setGeometry(bottomLeftFrame(QRectF(h + 24, h / 2.0 - 8, w - h - 26, 16), h));
    m_titleLabel->setAttribute(Qt::WA_TransparentForMouseEvents);
}

void ImageRadioButton::setTitle(const QString &title)
{
    m_titleLabel->setText(title);
}

void ImageRadioButton::setFlagImage(const QString &flagImage)
{
    m_flagImage = flagImage;
    // Flags are shown with slightly rounded corners.
    const QPixmap flag = ImageLibrary::pixmap(flagImage, QSize(22, 18));
    QPixmap rounded(flag.size());
    rounded.setDevicePixelRatio(flag.devicePixelRatio());
    rounded.fill(Qt::transparent);
    QPainter painter(&rounded);
    painter.setRenderHint(QPainter::Antialiasing);
    QPainterPath outline;
    outline.addRoundedRect(QRectF(QPointF(0, 0), flag.deviceIndependentSize()), 2, 2);
    painter.setClipPath(outline);
    painter.drawPixmap(0, 0, flag);
    painter.end();
    m_flagImgView->setPixmap(rounded);
}

QString ImageRadioButton::title() const
{
    return m_titleLabel ? m_titleLabel->text() : QString();
}

void ImageRadioButton::setItemState(State state)
{
    QAccessible::State changed;
    changed.checked = m_isChecked != (state == State::selected);
    changed.disabled = m_isLocked != (state == State::locked);
    m_isLocked = state == State::locked;
    m_isChecked = state == State::selected;
    m_radiobtn->setChecked(m_isChecked);
    m_radiobtn->setVisible(!m_isLocked);
    m_lock->setVisible(m_isLocked);
    if (changed.checked || changed.disabled) {
        QAccessibleStateChangeEvent event(this, changed);
        QAccessible::updateAccessibility(&event);
    }
}

void ImageRadioButton::mouseReleaseEvent(QMouseEvent *event)
{
    if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint()))
        onTapButtonWithSender();
}

void ImageRadioButton::keyPressEvent(QKeyEvent *event)
{
    switch (event->key()) {
    case Qt::Key_Space:
    case Qt::Key_Return:
    case Qt::Key_Enter:
        if (!event->isAutoRepeat())
            onTapButtonWithSender();
        return;
    case Qt::Key_Left:
    case Qt::Key_Right:
    case Qt::Key_Up:
    case Qt::Key_Down:
        if (ImageRadioButton *next = neighbour(Qt::Key(event->key())))
            next->setFocus(Qt::TabFocusReason); // a keyboard move, shown as one
        return;
    default:
        QWidget::keyPressEvent(event);
    }
}

ImageRadioButton *ImageRadioButton::neighbour(Qt::Key arrow) const
{
    const QPoint from = geometry().center();
    ImageRadioButton *nearest = nullptr;
    int nearestCost = 0;
    for (ImageRadioButton *other :
         parentWidget()->findChildren<ImageRadioButton *>(QString(), Qt::FindDirectChildrenOnly)) {
        if (other == this || !other->isVisible())
            continue;
        const QPoint d = other->geometry().center() - from;
        // How far along the arrow, and how far off its line.
        const int along = arrow == Qt::Key_Left    ? -d.x()
                          : arrow == Qt::Key_Right ? d.x()
                          : arrow == Qt::Key_Up    ? -d.y()
                                                   : d.y();
        const int across = arrow == Qt::Key_Left || arrow == Qt::Key_Right ? std::abs(d.y())
                                                                           : std::abs(d.x());
        if (along <= 0)
            continue;
        // Straying off the row or column costs more than distance along it.
        const int cost = along + 4 * across;
        if (!nearest || cost < nearestCost) {
            nearest = other;
            nearestCost = cost;
        }
    }
    return nearest;
}

void ImageRadioButton::onTapButtonWithSender()
{
    endEditing();
    if (m_isChecked)
        return;
    if (!m_isLocked)
        setItemState(State::selected);
    if (nodeTapBlock)
        nodeTapBlock(this, m_isLocked);
}
