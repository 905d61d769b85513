#include "ConnectButton.h"

#include "pages/BottomLeftFrame.h"
#include "pages/ImageLibrary.h"
#include "pages/PixelFont.h"
#include "pages/RotatedPicture.h"
#include "platform/Log.h"
#include "platform/VPNService.h"
#include "tunnel/VPNTunnelManager.h"

#include <QLabel>
#include <QPushButton>

namespace {

constexpr int controlHeight = 88;

QLabel *makeLabel(QWidget *parent, const QString &text, int pixels, bool bold, const char *colour)
{
    auto *label = new QLabel(text, parent);
    setPixelFont(label, pixels, bold);
    label->setStyleSheet(
        QStringLiteral("color: %1; background: transparent;").arg(QLatin1String(colour)));
    return label;
}

} // namespace

ConnectButton::ConnectButton(VPNTunnelManager &tunnel, QWidget *parent)
    : QWidget(parent)
    , m_tunnel(tunnel)
{ }

RotatedPicture *ConnectButton::startButton()
{
    if (!m_startButton) {
        m_startButton = new RotatedPicture(this);
        m_startButton->setPicture(
            ImageLibrary::pixmap(QStringLiteral("mainwork_startingback@2x.png"), QSize(88, 88)));
        m_startButton->setCursor(Qt::PointingHandCursor);
        connect(m_startButton, &RotatedPicture::clicked, this, [this] {
            onTapButtonWithSender(m_startButtonTag);
        });
    }
    return m_startButton;
}

QPushButton *ConnectButton::earthImge()
{
    if (!m_earthImge) {
        m_earthImge = new QPushButton(this);
        m_earthImge->setFlat(true);
        m_earthImge->setFocusPolicy(Qt::TabFocus);
        m_earthImge->setStyleSheet(
            QStringLiteral("QPushButton { border: none; background: transparent; }"));
        m_earthImge->setIcon(
            ImageLibrary::icon(QStringLiteral("mainwork_starting@2x.png"), QSize(68, 68)));
        m_earthImge->setIconSize(QSize(68, 68));
        m_earthImge->setProperty("tag", earthTag);
        connect(m_earthImge, &QPushButton::clicked, this, [this] {
            onTapButtonWithSender(earthTag);
        });
    }
    return m_earthImge;
}

QLabel *ConnectButton::titleLabel()
{
    if (!m_titleLabel)
        m_titleLabel = makeLabel(this, QStringLiteral("正在加速"), 30, true, "#303030");
    return m_titleLabel;
}

QLabel *ConnectButton::subLabel()
{
    if (!m_subLabel)
        m_subLabel = makeLabel(this, QStringLiteral("连接中,请稍候..."), 14, false, "#666666");
    return m_subLabel;
}

void ConnectButton::setupSubviews()
{
    startButton()->setGeometry(bottomLeftFrame(QRectF(0, 0, 88, 88), controlHeight));
    earthImge()->setGeometry(bottomLeftFrame(QRectF(10, 10, 68, 68), controlHeight));
    titleLabel()->setGeometry(bottomLeftFrame(QRectF(113, 43, 150, 34), controlHeight));
    subLabel()->setGeometry(bottomLeftFrame(QRectF(113, 11, 150, 16), controlHeight));
}

void ConnectButton::changeConnectState(int state)
{
    Platform::Log::print("changeConnectState:" + std::to_string(state));
    const auto setEarth = [this](const char *image, const QRectF &frame) {
        const QSize size = frame.size().toSize();
        earthImge()->setIcon(ImageLibrary::icon(QLatin1String(image), size));
        earthImge()->setIconSize(size);
        earthImge()->setGeometry(bottomLeftFrame(frame, controlHeight));
    };
    switch (state) {
    case connecting:
        titleLabel()->setText(QStringLiteral("正在加速"));
        subLabel()->setText(QStringLiteral("开始连接..."));
        return;
    case connected:
        show();
        titleLabel()->setText(QStringLiteral("已连接"));
        subLabel()->setText(QStringLiteral("点击断开"));
        setEarth("mainwork_stop@2x.png", QRectF(0, 0, 88, 88));
        // A picture: screen readers read what pressing it does.
        earthImge()->setAccessibleName(QStringLiteral("断开连接"));
        m_startButtonTag = ringConnected;
        startSpin(QStringLiteral("start.conntected"), 3600);
        return;
    case disconnecting:
    case preparing:
        show();
        titleLabel()->setText(QString::fromUtf8(state == disconnecting ? "正在断开" : "正在加速"));
        subLabel()->setText(QString::fromUtf8(state == disconnecting ? "开始断开，请稍候..."
                                                                     : "加载配置,请稍候..."));
        setEarth("mainwork_starting@2x.png", QRectF(10, 10, 68, 68));
        earthImge()->setAccessibleName(titleLabel()->text());
        m_startButtonTag = ringBusy;
        startSpin(QStringLiteral("start.conntecting"), 750);
        return;
    default:
        hide();
        startButton()->stopTurning();
        return;
    }
}

void ConnectButton::startSpin(const QString &key, int milliseconds)
{
    // Every call starts the turn again from angle 0; one clockwise turn per period.
    startButton()->setGeometry(bottomLeftFrame(QRectF(0, 0, 88, 88), controlHeight));
    startButton()->setPivot(QPointF(0.5, 0.5));
    startButton()->startTurning(key, 0, 360, milliseconds, false);
}

void ConnectButton::onTapButtonWithSender(int senderTag)
{
    if (senderTag < ringConnected)
        return;
    stopTunnelIfActive(m_tunnel);
}
