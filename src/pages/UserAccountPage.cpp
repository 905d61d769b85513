#include "UserAccountPage.h"

#include "BottomLeftFrame.h"
#include "CanTapImageView.h"
#include "ImageButton.h"
#include "ImageLibrary.h"
#include "PageControls.h"
#include "PageHost.h"
#include "PixelFont.h"

#include "api/NetWorkTool.h"
#include "api/UserDefaults.h"
#include "api/UserDefaultsCacheKeys.h"
#include "api/UserInfo.h"
#include "platform/Bundle.h"
#include "tunnel/LoginServiceKit.h"

#include <QCheckBox>
#include <QLabel>
#include <QPushButton>

#include <chrono>

namespace {

constexpr const char signedOutBadge[] = "page_4_v_free_over@2x.png";
constexpr const char signedOutExpiry[] = "SVIP：----天";
constexpr const char signedOutExpiryDate[] = "到期时间：xxxx-xx-xx";
constexpr const char signedOutTraffic[] = "剩余流量：---.-- GB";

// "http://www.example.com:8080/" → "www.example.com"
QString hostName(const std::string &origin)
{
    QString host = QString::fromStdString(origin);
    if (const int scheme = host.indexOf(QStringLiteral("://")); scheme >= 0)
        host = host.mid(scheme + 3);
    host = host.section(QLatin1Char('/'), 0, 0);
    if (host.startsWith(QLatin1Char('[')))
        return host.section(QLatin1Char(']'), 0, 0) + QLatin1Char(']');
    return host.section(QLatin1Char(':'), 0, 0);
}

std::int64_t millisecondsSince1970()
{
    using namespace std::chrono;
    return duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count();
}

} // namespace

UserAccountPage::UserAccountPage(QWidget *parent)
    : LkPageView(parent)
{ }

std::optional<QString> UserAccountPage::badgeImageName(int days, std::int64_t level)
{
    if (days < 0)
        return QString::fromLatin1(level < 1 ? "page_4_v_free_over@2x.png"
                                             : "page_4_v_vip_over@2x.png");
    switch (level) {
    case 0:
        return QStringLiteral("page_4_v_free@2x.png");
    case 1:
        return QStringLiteral("page_4_v_vip@2x.png");
    case 2:
        return QStringLiteral("page_4_v_svip@2x.png");
    default:
        return std::nullopt;
    }
}

void UserAccountPage::buildPage()
{
    LkPageView::buildPage();
    toolbarTitleLabel()->setText(QStringLiteral("基本信息"));

    QWidget *info = box(QRectF(11, 247, 375, 157));
    auto *header = new CanTapImageView(info);
    header->setScaledContents(true);
    header->setPixmap(ImageLibrary::pixmap(QStringLiteral("page_4_header@2x.png"), {75, 74}));
    header->setGeometry(bottomLeftFrame(QRectF(67, 59, 75, 74), info->height()));
    m_superUserHeader = new CanTapImageView(info);
    m_superUserHeader->setScaledContents(true);
    m_superUserHeader->setGeometry(bottomLeftFrame(QRectF(69, 56, 71, 21), info->height()));
    setBadge(QString::fromLatin1(signedOutBadge));
    m_accountLabel = label(info, Qt::AlignCenter, QRectF(59, 29, 91, 20));
    m_accountLabel->setText(QStringLiteral("ID：----"));
    m_userLabel = label(info, Qt::AlignLeft | Qt::AlignVCenter, QRectF(173, 96, 200, 20));
    m_userLabel->setText(QStringLiteral("---@---"));
    auto *renew = new ImageButton(QStringLiteral("page_1_start_btn@2x.png"),
                                  QStringLiteral("续  费"),
                                  info);
    setPixelFont(renew, 16);
    renew->setProperty("tag", int(renewTag));
    renew->setGeometry(bottomLeftFrame(QRectF(173, 48, 138, 39), info->height()));
    connect(renew, &QPushButton::clicked, this, [this] { onTapButtonWithSender(renewTag); });

    QWidget *expiry = box(QRectF(389, 247, 259, 157));
    m_exprietimeBtn = imageTitle(expiry,
                                 QStringLiteral("page_4_expiretime@2x.png"),
                                 QRectF(66, 81, 135, 18));
    m_exprietimeBtn->setText(QString::fromUtf8(signedOutExpiry));
    m_expiretimeLabel = label(expiry, Qt::AlignCenter, QRectF(16, 56, 227, 15));
    m_expiretimeLabel->setText(QString::fromUtf8(signedOutExpiryDate));

    QWidget *traffic = box(QRectF(651, 247, 259, 157));
    m_mergeBtn = imageTitle(traffic, QStringLiteral("page_4_merge@2x.png"), QRectF(42, 81, 188, 20));
    m_mergeBtn->setText(QString::fromUtf8(signedOutTraffic));

    auto *accent = new QWidget(this);
    accent->setAttribute(Qt::WA_StyledBackground);
    accent->setStyleSheet(QStringLiteral("background-color: #558EE8;"));
    accent->setGeometry(bottomLeftFrame(QRectF(21, 194, 2, 15), height()));
    auto *heading = new QLabel(QStringLiteral("系统设置"), this);
    setPixelFont(heading, 14);
    heading->setStyleSheet(QStringLiteral("color: #3F3934;"));
    // Level with its accent mark, as the tool bar's title is.
    heading->setGeometry(bottomLeftFrame(QRectF(34, 194, 200, 16), height()));

    QWidget *settings = box(QRectF(11, 67, 899, 125));
    m_autolaunchButton = checkbox(settings, QStringLiteral("开机启动"), QRectF(64, 80, 80, 15));
    m_autolaunchButton->setChecked(
        LoginServiceKit::isLoginItem(Platform::Bundle::main().bundlePath().string()));
    m_autologinButton = checkbox(settings, QStringLiteral("自动登录"), QRectF(64, 32, 80, 15));
    m_autologinButton->setProperty("tag", int(autoLoginTag));
    connect(m_autologinButton, &QCheckBox::clicked, this, [this] {
        onTapButtonWithSender(autoLoginTag);
    });
    for (const auto &[title, tag, y] :
         {std::tuple{"保存设置", saveSettingsTag, 67}, std::tuple{"退出登录", signOutTag, 19}}) {
        auto *action = new ImageButton(QStringLiteral("page_4_btn_border@2x.png"),
                                       QString::fromUtf8(title),
                                       settings);
        action->setTitleColor(QColor(0x66, 0x66, 0x66));
        setPixelFont(action, 12);
        action->setProperty("tag", int(tag));
        action->setGeometry(bottomLeftFrame(QRectF(759, y, 133, 44), settings->height()));
        connect(action, &QPushButton::clicked, this, [this, tag] { onTapButtonWithSender(tag); });
    }

    link(QStringLiteral("常见问题"), questionsTag, QRectF(35, 6, 55, 15));
    link(QStringLiteral("关于我们"), aboutTag, QRectF(155, 6, 55, 15));
    link(QStringLiteral("官方网站：") + hostName(KvApi::officialSiteOrigin()),
         officialSiteTag,
         QRectF(274, 6, 180, 15));

    refreshAccount();
}

QWidget *UserAccountPage::box(const QRectF &frame)
{
    auto *view = new QWidget(this);
    view->setAttribute(Qt::WA_StyledBackground);
    view->setObjectName(QStringLiteral("box"));
    view->setStyleSheet(QStringLiteral("#box { background-color: white; border-radius: 3px; }"));
    view->setGeometry(bottomLeftFrame(frame, height()));
    return view;
}

QPushButton *UserAccountPage::link(const QString &title, int tag, const QRectF &frame)
{
    QPushButton *link = makeLinkButton(this, title, "#3B79E0", true);
    link->setProperty("tag", tag);
    link->setGeometry(bottomLeftFrame(frame, height()));
    connect(link, &QPushButton::clicked, this, [this, tag] { onTapButtonWithSender(tag); });
    return link;
}

QPushButton *UserAccountPage::imageTitle(QWidget *parent, const QString &image, const QRectF &frame)
{
    auto *view = new QPushButton(parent);
    view->setFlat(true);
    view->setFocusPolicy(Qt::NoFocus);
    view->setIcon(ImageLibrary::icon(image));
    view->setIconSize(ImageLibrary::pixmap(image).deviceIndependentSize().toSize());
    setPixelFont(view, 15);
    view->setStyleSheet(
        QStringLiteral("QPushButton { border: none; background: transparent; color: #303030; }"));
    view->setGeometry(bottomLeftFrame(frame, parent->height()));
    return view;
}

QLabel *UserAccountPage::label(QWidget *parent, Qt::Alignment alignment, const QRectF &frame)
{
    auto *text = new QLabel(parent);
    text->setTextFormat(Qt::PlainText); // the user's record comes from the service
    text->setAlignment(alignment);
    setPixelFont(text, 12);
    text->setStyleSheet(QStringLiteral("color: #666666; background: transparent;"));
    text->setGeometry(bottomLeftFrame(frame, parent->height()));
    return text;
}

QCheckBox *UserAccountPage::checkbox(QWidget *parent, const QString &title, const QRectF &frame)
{
    QCheckBox *check = makeCheckbox(parent, title);
    QRectF wide = frame;
    wide.setHeight(frame.height() + 4); // room for the box the style draws
    check->setGeometry(bottomLeftFrame(wide, parent->height()));
    return check;
}

void UserAccountPage::setBadge(const QString &image)
{
    m_badgeImage = image;
    m_superUserHeader->setPixmap(ImageLibrary::pixmap(image, m_superUserHeader->size()));
}

void UserAccountPage::refreshAccount()
{
    if (const auto record = UserInfo::stored())
        showRecord(*record);
    else
        showSignedOut();
    m_autologinButton->setChecked(
        UserDefaults::standard().value(UserDefaultsCacheKeys::lastAutoLogin).has_value());
}

void UserAccountPage::showSignedOut()
{
    m_accountLabel->setText(QStringLiteral("ID：----"));
    m_userLabel->setText(QStringLiteral("---@---"));
    setBadge(QString::fromLatin1(signedOutBadge));
    m_exprietimeBtn->setText(QString::fromUtf8(signedOutExpiry));
    m_expiretimeLabel->setText(QString::fromUtf8(signedOutExpiryDate));
    m_mergeBtn->setText(QString::fromUtf8(signedOutTraffic));
}

void UserAccountPage::showRecord(const Platform::PropertyValue &record)
{
    if (const auto id = record.find("id"); id != record.end() && id->is_number_integer())
        m_accountLabel->setText(QStringLiteral("ID：") + QString::number(id->get<std::int64_t>()));
    if (const auto name = record.find("user_name"); name != record.end() && name->is_string())
        m_userLabel->setText(QString::fromStdString(name->get<std::string>()));
    const auto levelEntry = record.find("member_level");
    const std::int64_t level = levelEntry != record.end() && levelEntry->is_number_integer()
                                   ? levelEntry->get<std::int64_t>()
                                   : 0;
    if (const auto expiry = UserInfo::expiry(record)) {
        if (expiry->days) {
            m_exprietimeBtn->setText(QStringLiteral("SVIP：") + QString::number(*expiry->days)
                                     + QStringLiteral("天"));
            m_expiretimeLabel->setText(QStringLiteral("到期时间：")
                                       + QString::fromStdString(expiry->display));
            if (const auto badge = badgeImageName(*expiry->days, level))
                setBadge(*badge);
        } else {
            // An expiry the client cannot read: say so rather than show a made-up count.
            m_exprietimeBtn->setText(QString::fromUtf8(signedOutExpiry));
            m_expiretimeLabel->setText(QString::fromUtf8(signedOutExpiryDate));
        }
    }
    if (const auto amount = UserDefaults::standard().string(UserDefaultsCacheKeys::lastAmount))
        m_mergeBtn->setText(QStringLiteral("剩余流量：") + QString::fromStdString(*amount));
}

void UserAccountPage::onTapButtonWithSender(int tag)
{
    endEditing();
    UserDefaults defaults = UserDefaults::standard();
    switch (tag) {
    case autoLoginTag:
        if (m_autologinButton->isChecked())
            defaults.set(UserDefaultsCacheKeys::lastAutoLogin, "true");
        else
            defaults.remove(UserDefaultsCacheKeys::lastAutoLogin);
        return;
    case renewTag:
        NetWorkTool::openInBrowser(
            KvApi::paymentPageUrl(defaults.string(UserDefaultsCacheKeys::apiToken),
                                  millisecondsSince1970()));
        return;
    case saveSettingsTag:
        setLaunchAtLogin(m_autolaunchButton->isChecked());
        return;
    case signOutTag:
        if (!UserInfo::stored() && superVC())
            superVC()->showToast("您尚未登录!");
        NetWorkTool::clearSession();
        refreshAccount();
        if (superVC())
            superVC()->refreshAccountInfo(true);
        return;
    default:
        NetWorkTool::openInBrowser(KvApi::officialSiteOrigin());
        return;
    }
}
