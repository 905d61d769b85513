#include "ImageRadioButton.h"

#include "BottomLeftFrame.h"
#include "ImageLibrary.h"
#include "PageControls.h"
#include "PixelFont.h"

#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QRadioButton>

ImageRadioButton::ImageRadioButton(QWidget *parent)
    : QWidget(parent)
{
    setCursor(Qt::PointingHandCursor);
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
    // The circle has no text of its own; a locked node shows a padlock in its place.
    m_radiobtn->setAccessibleName(title);
    m_lock->setAccessibleName(title + QStringLiteral("（已锁定）"));
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
    m_isLocked = state == State::locked;
    m_isChecked = state == State::selected;
    m_radiobtn->setChecked(m_isChecked);
    m_radiobtn->setVisible(!m_isLocked);
    m_lock->setVisible(m_isLocked);
}

void ImageRadioButton::mouseReleaseEvent(QMouseEvent *event)
{
    if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint()))
        onTapButtonWithSender();
}

void ImageRadioButton::onTapButtonWithSender()
{
    endEditing();
    if (m_isChecked)
        return;
    if (!m_isLocked) {
        m_radiobtn->setChecked(true);
        m_isChecked = true;
    }
    if (nodeTapBlock)
        nodeTapBlock(this, m_isLocked);
}
