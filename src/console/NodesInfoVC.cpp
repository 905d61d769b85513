#include "NodesInfoVC.h"

#include "ConnectButton.h"
#include "ConsoleHomeView.h"
#include "ConsolePageContainer.h"
#include "ConsoleTags.h"
#include "ConsoleTitleBar.h"
#include "ToastWindowController.h"

#include "api/NetWorkTool.h"
#include "api/QaroShared.h"
#include "api/UserDefaults.h"
#include "api/UserDefaultsCacheKeys.h"
#include "api/UserInfo.h"
#include "pages/CancelTapView.h"
#include "pages/EnterKeyActivation.h"
#include "pages/FocusRing.h"
#include "pages/LkTextField.h"
#include "pages/LoginAlertView.h"
#include "pages/NodePageView.h"
#include "pages/PageControls.h"
#include "pages/RotatedPicture.h"
#include "pages/UserAccountPage.h"
#include "pages/WindowDrag.h"
#include "platform/Dispatch.h"
#include "platform/Log.h"
#include "platform/NotificationCenter.h"
#include "tunnel/VPNTunnelManager.h"

#include <QMouseEvent>
#include <QRadioButton>
#include <QToolButton>

namespace {

using Platform::VPNStatus::connected;
using Platform::VPNStatus::connecting;
using Platform::VPNStatus::disconnecting;
using Platform::VPNStatus::invalid;

// An account without a subscription is told so when it tries to connect, not on every return
// to the home view.
constexpr const char noSubscription[] = "未找到订阅服务，请前往订阅";

} // namespace

NodesInfoVC::NodesInfoVC(VPNTunnelManager &tunnel, QWidget *parent)
    : QWidget(parent)
    , m_tunnel(tunnel)
{
    setFixedSize(viewWidth, viewHeight);
    setAttribute(Qt::WA_StyledBackground);
    setStyleSheet(QStringLiteral("NodesInfoVC { background-color: white; }"));
    viewDidLoad();
}

NodesInfoVC::~NodesInfoVC()
{
    Platform::NotificationCenter::defaultCenter().removeObserver(this);
}

void NodesInfoVC::viewDidLoad()
{
    const TapHandler tap = [this](int tag) {
        onTapButtonWithSender(tag);
    };
    // Built first, so Tab reaches its controls first; kept above the views it heads.
    m_titleBar = new ConsoleTitleBar(tap, this);
    m_titleBar->build();

    m_mainWorkView = new ConsoleHomeView(tap, m_tunnel, this);
    m_mainWorkView->setGeometry(rect());
    m_mainWorkView->build();
    m_mainWorkView->stackUnder(m_titleBar);
    // The page container waits for the first page opened: otherWorkView().

    new FocusRing(this);
    new EnterKeyActivation(this);

    m_mainWorkView->nodeRemarkLabel()->setText(
        NodePageView::nodeTitle(QaroShared::shared().string(QaroShared::nodeNameKey).value_or("")));
    showIdleView();
    refreshModeSelection();
    refreshAccountInfo(false);

    auto &center = Platform::NotificationCenter::defaultCenter();
    center.addObserver(this,
                       NOTIFY_VPNActivation_Failed,
                       Platform::NotificationCenter::Delivery::MainQueue,
                       [this](const Platform::Notification &notification) {
                           const auto *text = std::any_cast<std::string>(&notification.object);
                           if (!text)
                               return;
                           showToast(*text);
                           if (m_lastVpnStatus != connected)
                               showIdleView();
                       });
    center.addObserver(this,
                       NOTIFY_UPDATE_RUNNING_MODE_MENU,
                       Platform::NotificationCenter::Delivery::MainQueue,
                       [this](const Platform::Notification &) { refreshModeSelection(); });
}

void NodesInfoVC::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    viewWillAppear();
    viewDidAppear();
}

void NodesInfoVC::viewWillAppear()
{
    if (m_isLoadedView)
        return;
    m_tunnel.sendMessageToProvider("Hello");
    loadPublicSetting();
}

void NodesInfoVC::viewDidAppear()
{
    if (m_isLoadedView)
        return;
    loadUserThenService(false);
    m_isLoadedView = true;
}

void NodesInfoVC::returnHome()
{
    refreshAccountInfo(false);
    loadUserThenService(true);
}

void NodesInfoVC::loadUserThenService(bool thenNodeNames)
{
    QPointer<NodesInfoVC> self(this);
    loadUserInfo([self, thenNodeNames](const std::optional<KvNetWorkError> &) {
        if (!self)
            return;
        self->refreshAccountInfo(false);
        self->loadServiceInfo([self, thenNodeNames](bool ok, const std::string &message) {
            if (!self)
                return;
            if (ok)
                self->loadSubscribeNodeList();
            else if (!message.empty() && message != noSubscription)
                self->showToast(message);
            if (thenNodeNames)
                self->loadNodeNames();
        });
    });
}

void NodesInfoVC::loadSignedInService()
{
    // Without this the new user's traffic and subscription would wait for the next return home.
    // The membership messages are left to that return and to the connect flow, so that they do
    // not cover the sign-in's own.
    QPointer<NodesInfoVC> self(this);
    loadServiceInfo([self](bool ok, const std::string &) {
        if (!self)
            return;
        if (ok)
            self->loadSubscribeNodeList();
        if (self->m_pageViewUser)
            self->m_pageViewUser->refreshAccount();
    });
}

void NodesInfoVC::mousePressEvent(QMouseEvent *event)
{
    endEditing();
    if (!WindowDrag::begin(this, event))
        QWidget::mousePressEvent(event);
}

ConnectButton *NodesInfoVC::connectButton() const
{
    return m_mainWorkView->connectButton();
}

void NodesInfoVC::onTapButtonWithSender(int tag)
{
    endEditing();
    switch (tag) {
    case ConsoleTag::close:
        emit closeRequested();
        return;
    case ConsoleTag::minimise:
        emit minimiseRequested();
        return;
    case ConsoleTag::customerService:
        NetWorkTool::openInBrowser(KvApi::serviceChatUrl());
        return;
    case ConsoleTag::signIn:
    case ConsoleTag::signInTips:
        showLoginPanel();
        return;
    case ConsoleTag::account: {
        QPointer<NodesInfoVC> self(this);
        loadUserInfo([self](const std::optional<KvNetWorkError> &) {
            if (self)
                self->refreshAccountInfo(false);
        });
        return;
    }
    case ConsoleTag::start:
        Platform::Log::print("VPNTunnelManager.shared.vpnStatus:"
                             + std::to_string(m_tunnel.vpnStatus())
                             + ",lastStatus:" + std::to_string(m_lastVpnStatus));
        if (m_tunnel.vpnStatus() > Platform::VPNStatus::disconnected)
            stopTunnelIfActive();
        else
            beginConnect();
        return;
    case ConsoleTag::nodeLine:
        leaveHome(ConsolePage::route);
        return;
    case ConsoleTag::ruleMode:
        setMode("rule");
        return;
    case ConsoleTag::globalMode:
        setMode("global");
        return;
    default:
        if (tag > ConsoleTag::homeTab && tag <= ConsoleTag::userTab)
            leaveHome(tag - ConsoleTag::homeTab);
        else if (tag >= ConsoleTag::toolbarHome && tag <= ConsoleTag::toolbarPastLast)
            showPage(tag - ConsoleTag::toolbarHome);
        return;
    }
}

void NodesInfoVC::leaveHome(int pageIndex)
{
    otherWorkView()->show();
    m_titleBar->raise();
    showPage(pageIndex);
    passFocus(m_mainWorkView, otherWorkView()->toolbarButton(ConsoleTag::toolbarHome + pageIndex));
    m_mainWorkView->hide();
}

void NodesInfoVC::setMode(const char *mode)
{
    QaroShared::shared().setValue(QaroShared::tunModeKey, std::string(mode));
    Platform::NotificationCenter::defaultCenter().post(NOTIFY_UPDATE_RUNNING_MODE_MENU);
}

void NodesInfoVC::refreshModeSelection()
{
    const std::string mode = QaroShared::shared().tunMode();
    m_mainWorkView->modeButton(mode == "rule" ? ConsoleTag::ruleMode : ConsoleTag::globalMode)
        ->setChecked(true);
}

void NodesInfoVC::stopTunnelIfActive()
{
    ::stopTunnelIfActive(m_tunnel);
}

void NodesInfoVC::showIdleView()
{
    m_preparingConnect = false;
    m_mainWorkView->startProxyButton()->show();
    passFocus(connectButton(), m_mainWorkView->startProxyButton());
    connectButton()->changeConnectState(ConnectButton::idle);
}

void NodesInfoVC::showBusyView(int code)
{
    connectButton()->changeConnectState(code);
    passFocus(m_mainWorkView->startProxyButton(), connectButton()->earthImge());
    m_mainWorkView->startProxyButton()->hide();
}

QWidget *NodesInfoVC::homeFocusTarget()
{
    QPushButton *start = m_mainWorkView->startProxyButton();
    return start->isVisibleTo(this) ? static_cast<QWidget *>(start) : connectButton()->earthImge();
}

void NodesInfoVC::beginConnect()
{
    // The window and the tray may both ask; one connect at a time, and none while one runs.
    const int status = m_tunnel.vpnStatus();
    if (m_preparingConnect || (status >= connecting && status <= Platform::VPNStatus::reasserting))
        return;
    refreshAccountInfo(false);
    if (!UserInfo::stored()) {
        showToast("请先登录再使用");
        return;
    }
    showBusyView(ConnectButton::preparing);
    m_preparingConnect = true;
    const unsigned attempt = ++m_connectAttempt;
    QPointer<NodesInfoVC> self(this);
    loadServiceInfo([self, attempt](bool ok, const std::string &message) {
        if (!self || attempt != self->m_connectAttempt)
            return; // abandoned: the user signed out meanwhile
        if (!ok) {
            if (!message.empty())
                self->showToast(message);
            self->showIdleView();
            return;
        }
        self->m_tunnel.activateSystemExtension([self](bool submitted) {
            Platform::mainQueue().async([self, submitted] {
                if (self)
                    self->activationRequested(submitted);
            });
        });
    });
}

void NodesInfoVC::activationRequested(bool ok)
{
    if (ok)
        return; // progress now arrives as status reports
    showToast("！！！请求系统激活失败");
    showIdleView();
}

void NodesInfoVC::onVpnStatusChange(int status)
{
    Platform::Log::print("onVpnStatusChange:" + std::to_string(status));
    if (status == connected || status == Platform::VPNStatus::reasserting)
        m_tunnelWasUp = true;
    switch (status) {
    case Platform::VPNStatus::invalid:
    case Platform::VPNStatus::disconnected:
        // A configuration made by this very connect reports itself down once it is loaded; that
        // first report does not end the connect in progress.
        if (status != m_lastVpnStatus && !(m_preparingConnect && m_lastVpnStatus == invalid)) {
            showDisconnectReason();
            showIdleView();
            m_tunnelWasUp = false;
        }
        break;
    case connecting:
        m_preparingConnect = false;
        m_mainWorkView->startProxyButton()->hide();
        if (m_lastVpnStatus != connecting)
            connectButton()->changeConnectState(ConnectButton::connecting);
        break;
    case connected:
        if (m_lastVpnStatus != connected) {
            showBusyView(ConnectButton::connected);
            const auto uuid = QaroShared::shared().string(QaroShared::subUuidKey);
            m_tunnel.sendMessageToProvider("subuuid." + uuid.value_or(""));
        }
        break;
    case disconnecting:
        if (m_lastVpnStatus != disconnecting)
            showBusyView(ConnectButton::disconnecting);
        break;
    default:
        Platform::Log::print("onVpnStatusChange.unknow:" + std::to_string(status));
        break;
    }
    m_lastVpnStatus = status;
}

void NodesInfoVC::showDisconnectReason()
{
    // Called on the change into a down status only, so a repeated report shows nothing again.
    const auto reason = m_tunnel.lastDisconnectReason();
    if (!reason)
        return;
    showToast((m_tunnelWasUp ? "连接已断开：" : "连接失败：") + *reason);
}

void NodesInfoVC::nodeSelected(const std::optional<std::string> &name,
                               const std::optional<std::string> &message)
{
    if (name) {
        m_mainWorkView->nodeRemarkLabel()->setText(NodePageView::nodeTitle(*name));
        QaroShared::shared().setValue(QaroShared::nodeNameKey, *name);
        if (m_lastVpnStatus == connected)
            m_tunnel.sendMessageToProvider("switchNode." + *name);
    }
    if (message)
        showToast(*message);
}

void NodesInfoVC::showToast(const std::string &message)
{
    if (m_toastWC)
        m_toastWC->close();
    // One message at a time: piled up, neither could be read.
    if (ToastWindowController *other = ToastWindowController::onScreen())
        other->close();
    m_toastWC = ToastWindowController::present(QString::fromStdString(message), this);
}

void NodesInfoVC::showRemainingTraffic(const std::string &text)
{
    m_titleBar->mergeButton()->setText(QString::fromStdString(text));
}

void NodesInfoVC::refreshAccountInfo(bool stopTunnel)
{
    const auto record = UserInfo::stored();
    if (record) {
        if (const auto name = record->find("user_name"); name != record->end() && name->is_string())
            m_titleBar->accountButton()->setText(QString::fromStdString(name->get<std::string>()));
        // What this account has, or the empty form: never what the last account had.
        const auto expiry = UserInfo::expiry(*record);
        m_titleBar->expireButton()->setText(expiry && expiry->days ? QString::number(*expiry->days)
                                                                         + QStringLiteral("天")
                                                                   : QStringLiteral("---天"));
        const auto traffic = UserDefaults::standard().string(UserDefaultsCacheKeys::lastAmount);
        m_titleBar->mergeButton()->setText(traffic ? QString::fromStdString(*traffic)
                                                   : QStringLiteral("---.--"));
        hideLoginTips();
    } else {
        showLoginTips();
        if (m_preparingConnect) {
            ++m_connectAttempt; // the connect was for a user who has gone
            showIdleView();
        }
    }
    const bool signedIn = record.has_value();
    m_titleBar->accountBack()->setVisible(signedIn);
    m_titleBar->mergeButton()->setVisible(signedIn);
    m_titleBar->expireButton()->setVisible(signedIn);
    m_titleBar->loginButton()->setVisible(!signedIn);
    if (stopTunnel)
        stopTunnelIfActive();
}

void NodesInfoVC::showLoginTips()
{
    m_titleBar->showLoginTips();
}

void NodesInfoVC::hideLoginTips()
{
    m_titleBar->hideLoginTips();
}

void NodesInfoVC::showLoginPanel()
{
    if (m_loginCover) {
        m_loginCover->raise();
        return;
    }
    m_loginCover = new CancelTapView(this);
    m_loginCover->setStyleSheet(
        QStringLiteral("CancelTapView { background-color: rgba(206, 206, 206, 191); }"));
    m_loginCover->setGeometry(rect());
    auto *panel = new LoginAlertView(m_loginCover);
    panel->setGeometry(width() / 2 - 195, height() / 2 - 210, 390, 420);
    panel->setSuperVC(this);
    panel->buildPanel();
    panel->valuebackBlock = [this](const std::string &result) {
        loginPanelFinished(result);
    };
    m_loginCover->show();
    m_loginCover->raise();
    panel->accountField()->setFocus(Qt::OtherFocusReason);
}

LoginAlertView *NodesInfoVC::loginPanel() const
{
    return m_loginCover ? m_loginCover->findChild<LoginAlertView *>() : nullptr;
}

void NodesInfoVC::loginPanelFinished(const std::string &result)
{
    // The panel reports from inside its own handlers, so it goes once they have returned.
    if (m_loginCover) {
        passFocus(m_loginCover, homeFocusTarget());
        m_loginCover->hide();
        m_loginCover->deleteLater();
        m_loginCover = nullptr;
    }
    refreshAccountInfo(false);
    if (m_pageViewUser)
        m_pageViewUser->refreshAccount();
    if (result == "Account" || result == "Register")
        loadSignedInService();
    if (result == "Account")
        showToast("登录成功！");
    else if (result == "Register")
        showToast("注册成功！将为您自动登录..");
}

void NodesInfoVC::showPage(int index)
{
    if (index > ConsolePage::home) {
        moveToolbarMarker(index);
        if (m_pageViewRoute)
            m_pageViewRoute->hide();
        if (m_pageViewUser)
            m_pageViewUser->hide();
    }
    switch (index) {
    case ConsolePage::home:
        m_mainWorkView->show();
        passFocus(otherWorkView(), homeFocusTarget());
        otherWorkView()->hide();
        returnHome();
        return;
    case ConsolePage::route:
        otherWorkView()->setBoldTitle(ConsoleTag::toolbarRoute);
        if (!m_pagerouteLoaded)
            installRoutePage();
        m_pageViewRoute->show();
        m_pageViewRoute->raise();
        return;
    case ConsolePage::user:
        otherWorkView()->setBoldTitle(ConsoleTag::toolbarUser);
        if (m_pageuserLoaded)
            m_pageViewUser->refreshAccount();
        else
            installUserPage();
        loadUserInfo([page = QPointer<UserAccountPage>(m_pageViewUser)](const auto &) {
            if (page)
                page->refreshAccount();
        });
        m_pageViewUser->show();
        m_pageViewUser->raise();
        return;
    default:
        return;
    }
}

ConsolePageContainer *NodesInfoVC::otherWorkView()
{
    // Built on first use, so start-up builds and draws only what the home view shows.
    if (!m_otherWorkView) {
        m_otherWorkView = new ConsolePageContainer([this](int tag) { onTapButtonWithSender(tag); },
                                                   this);
        m_otherWorkView->setGeometry(rect());
        m_otherWorkView->build();
        m_otherWorkView->hide();
        m_otherWorkView->stackUnder(m_titleBar);
    }
    return m_otherWorkView;
}

void NodesInfoVC::moveToolbarMarker(int index)
{
    otherWorkView()->moveMarker(index);
}

void NodesInfoVC::installRoutePage()
{
    m_pagerouteLoaded = true;
    m_pageViewRoute = new NodePageView(otherWorkView());
    m_pageViewRoute->setGeometry(otherWorkView()->pageFrame());
    m_pageViewRoute->setSuperVC(this);
    m_pageViewRoute->buildPage();
    m_pageViewRoute->nodeStateChangeBlock =
        [console = QPointer<NodesInfoVC>(this)](const std::optional<std::string> &name,
                                                const std::optional<std::string> &message) {
            Platform::mainQueue().async([console, name, message] {
                if (console)
                    console->nodeSelected(name, message);
            });
        };
}

void NodesInfoVC::installUserPage()
{
    m_pageuserLoaded = true;
    m_pageViewUser = new UserAccountPage(otherWorkView());
    m_pageViewUser->setGeometry(otherWorkView()->pageFrame());
    m_pageViewUser->setSuperVC(this);
    m_pageViewUser->buildPage();
    m_pageViewUser->setStyleSheet(QStringLiteral("UserAccountPage { background-color: #F6F6F6; }"));
}

void NodesInfoVC::loadUserInfo(ConsoleRequests::UserInfoCompletion completion)
{
    m_requests.loadUserInfo(std::move(completion));
}

void NodesInfoVC::loadPublicSetting()
{
    m_requests.loadPublicSetting();
}

void NodesInfoVC::loadServiceInfo(ConsoleRequests::ServiceCompletion completion)
{
    m_requests.loadServiceInfo(std::move(completion));
}

void NodesInfoVC::loadSubscribeNodeList()
{
    m_requests.loadSubscribeNodeList();
}

void NodesInfoVC::loadNodeNames()
{
    m_requests.loadNodeNames();
}
