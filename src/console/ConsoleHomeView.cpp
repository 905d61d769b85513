#include "ConsoleHomeView.h"

#include "ConnectButton.h"
#include "ConsoleTags.h"

#include "pages/BottomLeftFrame.h"
#include "pages/ImageLibrary.h"
#include "pages/PixelFont.h"

#include <QButtonGroup>
#include <QLabel>
#include <QRadioButton>
#include <QToolButton>

namespace {

constexpr qreal viewHeight = 580;
constexpr qreal startBottom = 300; // the start button's origin, from the bottom

QLabel *picture(QWidget *parent, const QString &image, const QRectF &frame)
{
    auto *label = new QLabel(parent);
    label->setPixmap(ImageLibrary::pixmap(image, frame.size().toSize()));
    label->setGeometry(bottomLeftFrame(frame, viewHeight));
    label->setAttribute(Qt::WA_TransparentForMouseEvents);
    return label;
}

} // namespace

ConsoleHomeView::ConsoleHomeView(TapHandler tap, VPNTunnelManager &tunnel, QWidget *parent)
    : QWidget(parent)
    , m_tap(std::move(tap))
    , m_tunnel(tunnel)
{ }

QPushButton *ConsoleHomeView::startProxyButton()
{
    if (!m_startProxyButton) {
        m_startProxyButton = makeTaggedButton(this,
                                              ConsoleTag::start,
                                              m_tap,
                                              QStringLiteral("mainwork_start@2x.png"),
                                              QSize(202, 71));
        m_startProxyButton->setGeometry(
            bottomLeftFrame(QRectF(89, startBottom, 202, 71), viewHeight));
        // The words are part of the picture.
        m_startProxyButton->setAccessibleName(QStringLiteral("开始加速"));
    }
    return m_startProxyButton;
}

ConnectButton *ConsoleHomeView::connectButton()
{
    if (!m_connectButton) {
        m_connectButton = new ConnectButton(m_tunnel, this);
        m_connectButton->setGeometry(
            bottomLeftFrame(QRectF(89, startBottom - 81, 260, 88), viewHeight));
        m_connectButton->setupSubviews();
        m_connectButton->hide();
    }
    return m_connectButton;
}

QPushButton *ConsoleHomeView::nodeRemarkLabel()
{
    if (!m_nodeRemarkLabel) {
        m_nodeRemarkLabel = makeTaggedButton(this,
                                             ConsoleTag::nodeLine,
                                             m_tap,
                                             QStringLiteral("mainwork_route@2x.png"),
                                             QSize(13, 13));
        setPixelFont(m_nodeRemarkLabel, 11);
        m_nodeRemarkLabel->setStyleSheet(
            m_nodeRemarkLabel->styleSheet()
            + QStringLiteral("QPushButton { color: rgb(80, 137, 218); text-align: left; }"));
        m_nodeRemarkLabel->setGeometry(bottomLeftFrame(QRectF(110, 187, 250, 13), viewHeight));
    }
    return m_nodeRemarkLabel;
}

QRadioButton *ConsoleHomeView::modeButton(int tag)
{
    QRadioButton *&button = tag == ConsoleTag::ruleMode ? m_ruleButton : m_globalButton;
    if (!button) {
        button = new QRadioButton(tag == ConsoleTag::ruleMode ? QStringLiteral("智能模式")
                                                              : QStringLiteral("全局模式"),
                                  this);
        setPixelFont(button, 11);
        button->setFocusPolicy(Qt::TabFocus);
        button->setProperty("tag", tag);
        button->setGeometry(
            bottomLeftFrame(QRectF(tag == ConsoleTag::ruleMode ? 370 : 481, 185, 70, 16),
                            viewHeight));
        connect(button, &QRadioButton::clicked, this, [this, tag] { m_tap(tag); });
    }
    return button;
}

void ConsoleHomeView::build()
{
    picture(this,
            QStringLiteral("mainwork_back@2x.png"),
            QRectF(920 - 379, viewHeight - 386, 379, 386));
    picture(this, QStringLiteral("welcomeTips"), QRectF(95, 400, 253, 62));
    startProxyButton();
    connectButton();
    nodeRemarkLabel();
    auto *modes = new QButtonGroup(this);
    modes->setExclusive(true);
    modes->addButton(modeButton(ConsoleTag::ruleMode));
    modes->addButton(modeButton(ConsoleTag::globalMode));

    picture(this, QStringLiteral("mainwork_tabbar_back@2x.png"), QRectF(0, 0, 920, 100));
    const struct
    {
        int tag;
        const char *title;
        const char *image;
        QRectF frame;
        bool bold;
    } tabs[] = {
        {ConsoleTag::homeTab, "网络加速", "maintabbar_1_h@2x.png", QRectF(65, 55, 55, 80), true},
        {ConsoleTag::routeTab, "线路选择", "maintabbar_2_n@2x.png", QRectF(436, 56, 55, 59), false},
        {ConsoleTag::userTab, "会员中心", "maintabbar_5_n@2x.png", QRectF(804, 56, 55, 59), false},
    };
    for (const auto &tab : tabs) {
        auto *button = new QToolButton(this);
        button->setAutoRaise(true);
        button->setFocusPolicy(Qt::TabFocus);
        button->setCursor(Qt::PointingHandCursor);
        button->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
        button->setText(QString::fromUtf8(tab.title));
        button->setIcon(ImageLibrary::icon(QLatin1String(tab.image), QSize(36, 36)));
        button->setIconSize(QSize(36, 36));
        button->setStyleSheet(QStringLiteral(
            "QToolButton { border: none; background: transparent; color: #3F3934; }"));
        setPixelFont(button, 11, tab.bold);
        button->setProperty("tag", tab.tag);
        button->setGeometry(bottomLeftFrame(tab.frame, viewHeight));
        const int tag = tab.tag;
        connect(button, &QToolButton::clicked, this, [this, tag] { m_tap(tag); });
    }
}
