#include "ConsoleTitleBar.h"

#include "ConsoleTags.h"

#include "pages/ImageLibrary.h"
#include "pages/PixelFont.h"
#include "pages/RotatedPicture.h"
#include "pages/WindowDrag.h"
#include "platform/Bundle.h"

#include <QLabel>
#include <QMouseEvent>

namespace {

constexpr int consoleWidth = 920;
constexpr int closeLeft = consoleWidth - 17 - 13;
constexpr int minimiseLeft = closeLeft - 30;
constexpr int visitorLeft = minimiseLeft - 17 - 20;
constexpr int accountBackLeft = visitorLeft - 33 - 146;
constexpr int mergeLeft = accountBackLeft - 17 - 75;
constexpr int expireLeft = mergeLeft - 17 - 65;
constexpr int loginLeft = visitorLeft - 33 - 58;
constexpr int tipsWidth = 119;
constexpr int tipsHeight = 41;

} // namespace

ConsoleTitleBar::ConsoleTitleBar(TapHandler tap, QWidget *parent)
    : QWidget(parent)
    , m_tap(std::move(tap))
{
    setGeometry(0, 0, consoleWidth, barHeight);
}

QPushButton *ConsoleTitleBar::makeInfoButton(const QString &image, const QString &title, int width)
{
    auto *button = new QPushButton(this);
    button->setFlat(true);
    button->setFocusPolicy(Qt::NoFocus);
    button->setIcon(ImageLibrary::icon(image, QSize(13, 13)));
    button->setIconSize(QSize(13, 13));
    button->setText(title);
    setPixelFont(button, 11);
    button->setStyleSheet(QStringLiteral("QPushButton { border: none; background: transparent; "
                                         "color: #A3B2BA; text-align: left; }"));
    button->resize(width, 13);
    return button;
}

QWidget *ConsoleTitleBar::accountBack()
{
    if (!m_accountBack) {
        auto *back = new QLabel(this);
        back->setPixmap(ImageLibrary::pixmap(QStringLiteral("titlebar_userback"), QSize(146, 26)));
        back->setGeometry(accountBackLeft, 3, 146, 26);
        m_accountBack = back;
    }
    return m_accountBack;
}

QPushButton *ConsoleTitleBar::accountButton()
{
    if (!m_accountButton) {
        m_accountButton = makeTaggedButton(accountBack(),
                                           ConsoleTag::account,
                                           m_tap,
                                           QStringLiteral("titlebar_user"),
                                           QSize(16, 16));
        m_accountButton->setText(QStringLiteral("----"));
        setPixelFont(m_accountButton, 11);
        m_accountButton->setStyleSheet(
            m_accountButton->styleSheet()
            + QStringLiteral("QPushButton { color: rgb(202, 206, 209); }"));
        m_accountButton->setGeometry(5, 3, 136, 20);
    }
    return m_accountButton;
}

QPushButton *ConsoleTitleBar::mergeButton()
{
    if (!m_mergeButton) {
        m_mergeButton = makeInfoButton(QStringLiteral("titlebar_merge"),
                                       QStringLiteral("---.--"),
                                       75);
        m_mergeButton->move(mergeLeft, 10);
    }
    return m_mergeButton;
}

QPushButton *ConsoleTitleBar::expireButton()
{
    if (!m_expireButton) {
        m_expireButton = makeInfoButton(QStringLiteral("titlebar_expiretime"),
                                        QStringLiteral("---天"),
                                        65);
        m_expireButton->move(expireLeft, 10);
        m_expireButton->hide();
    }
    return m_expireButton;
}

QPushButton *ConsoleTitleBar::loginButton()
{
    if (!m_loginButton) {
        m_loginButton = makeTaggedButton(this, ConsoleTag::signIn, m_tap);
        m_loginButton->setText(QStringLiteral("登录"));
        setPixelFont(m_loginButton, 14);
        m_loginButton->setStyleSheet(
            QStringLiteral("QPushButton { color: white; background-color: #78A9ED; border: none; "
                           "border-radius: 12px; }"));
        m_loginButton->setGeometry(loginLeft, 4, 58, 24);
    }
    return m_loginButton;
}

RotatedPicture *ConsoleTitleBar::tips()
{
    if (!m_tips) {
        m_tips = new RotatedPicture(this);
        m_tips->setPicture(ImageLibrary::pixmap(QStringLiteral("titlebar_login_tips"),
                                                QSize(tipsWidth, tipsHeight)));
        m_tips->setProperty("tag", ConsoleTag::signInTips);
        m_tips->setCursor(Qt::PointingHandCursor);
        connect(m_tips, &RotatedPicture::clicked, this, [this] { m_tap(ConsoleTag::signInTips); });
    }
    return m_tips;
}

QPushButton *ConsoleTitleBar::versionButton()
{
    if (!m_versionButton) {
        m_versionButton = new QPushButton(this);
        m_versionButton->setFlat(true);
        m_versionButton->setFocusPolicy(Qt::NoFocus);
        m_versionButton->setStyleSheet(
            QStringLiteral("QPushButton { border: none; background: transparent; color: #A3B2BA; "
                           "text-align: left; }"));
        setPixelFont(m_versionButton, 9);
        m_versionButton->setText(QStringLiteral("ver ") + versionText(Platform::Bundle::main()));
    }
    return m_versionButton;
}

void ConsoleTitleBar::build()
{
    // In reading order, left to right, which is the order Tab visits them in.
    accountButton();
    mergeButton();
    expireButton();
    loginButton();
    tips();

    // Pictures only: screen readers read these names instead.
    struct PictureButton
    {
        int tag;
        const char *image;
        QRect frame;
        const char *name;
    };
    const PictureButton pictureButtons[] = {
        {ConsoleTag::customerService, "titlebar_visitor", QRect(visitorLeft, 7, 20, 20), "联系客服"},
        {ConsoleTag::minimise, "titlebar_min", QRect(minimiseLeft, 10, 13, 13), "最小化"},
        {ConsoleTag::close, "titlebar_close", QRect(closeLeft, 10, 13, 13), "关闭"},
    };
    for (const PictureButton &picture : pictureButtons) {
        QPushButton *button = makeTaggedButton(this,
                                               picture.tag,
                                               m_tap,
                                               QLatin1String(picture.image),
                                               picture.frame.size());
        button->setGeometry(picture.frame);
        button->setAccessibleName(QString::fromUtf8(picture.name));
    }

    auto *logo = new QLabel(this);
    logo->setPixmap(ImageLibrary::pixmap(QStringLiteral("titlebar_logo"), QSize(104, 26)));
    logo->setGeometry(10, 10, 104, 26);
    // The version sits inside the logo's frame, below it: (20, -6) from the logo's bottom left.
    versionButton()->setGeometry(10 + 20, 10 + 26 + 6 - 11, 60, 11);
}

void ConsoleTitleBar::showLoginTips()
{
    RotatedPicture *hint = tips();
    hint->show();
    hint->stopTurning();
    // Beside the sign-in button, pointing at it, swinging 5 degrees each way about its point.
    hint->setGeometry(loginButton()->x() - tipsWidth, 0, tipsWidth, tipsHeight);
    hint->setPivot(QPointF(1.0, 0.5));
    hint->startTurning(QStringLiteral("tips.roate"), -5, 5, 750, true);
}

void ConsoleTitleBar::hideLoginTips()
{
    RotatedPicture *hint = tips();
    hint->stopTurning();
    hint->setGeometry(loginButton()->x() - tipsWidth, 0, tipsWidth, tipsHeight);
    loginButton()->hide();
    hint->hide();
}

QString ConsoleTitleBar::versionText(const Platform::Bundle &bundle)
{
    if (!bundle.shortVersion() && !bundle.version() && !bundle.identifier()
        && !bundle.executableName())
        return QStringLiteral("1.2.0");
    return QString::fromStdString(bundle.shortVersion().value_or("1.2")) + QLatin1Char('.')
           + QString::fromStdString(bundle.version().value_or("0"));
}

void ConsoleTitleBar::mousePressEvent(QMouseEvent *event)
{
    if (!WindowDrag::begin(this, event))
        QWidget::mousePressEvent(event);
}
