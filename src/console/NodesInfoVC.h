#pragma once

#include "ToastWindowController.h"

#include "api/ConsoleRequests.h"
#include "pages/PageHost.h"

#include <QPointer>
#include <QWidget>

#include <functional>
#include <optional>
#include <string>

class CancelTapView;
class ConnectButton;
class ConsoleHomeView;
class ConsolePageContainer;
class ConsoleTitleBar;
class LoginAlertView;
class NodePageView;
class UserAccountPage;
class VPNTunnelManager;

// The console: the main window's only view. It owns the title bar, the home view with the start
// control, and the page container; dispatches every control by its tag; runs the connect flow
// with its checks; follows the tunnel's status; loads what it shows from the service; and hosts
// the sign-in panel and the pages. Used on the main thread.
class NodesInfoVC
    : public QWidget
    , public ConsoleRequests::Screen
    , public PageHost
{
    Q_OBJECT

public:
    static constexpr int viewWidth = 920;
    static constexpr int viewHeight = 580;

    explicit NodesInfoVC(VPNTunnelManager &tunnel, QWidget *parent = nullptr);
    ~NodesInfoVC() override;

    // Every tagged control's action.
    void onTapButtonWithSender(int tag);

    void onVpnStatusChange(int status);
    void beginConnect();
    void nodeSelected(const std::optional<std::string> &name,
                      const std::optional<std::string> &message);
    void refreshModeSelection();
    void showLoginPanel();
    void loginPanelFinished(const std::string &result);

    void showPage(int index);
    void moveToolbarMarker(int index);
    void installRoutePage();
    void installUserPage();
    void showLoginTips();
    void hideLoginTips();

    // The console's requests, which keep its failover counter requsetCount.
    ConsoleRequests &requests() { return m_requests; }
    void loadUserInfo(ConsoleRequests::UserInfoCompletion completion = {});
    void loadPublicSetting();
    void loadServiceInfo(ConsoleRequests::ServiceCompletion completion);
    void loadSubscribeNodeList();
    void loadNodeNames();

    // ConsoleRequests::Screen and PageHost
    void showToast(const std::string &message) override;
    void showRemainingTraffic(const std::string &text) override;
    void stopTunnelIfActive() override;
    void refreshAccountInfo() override { refreshAccountInfo(false); }
    void refreshAccountInfo(bool stopTunnel) override;

    int lastVpnStatus() const { return m_lastVpnStatus; }
    bool isLoadedView() const { return m_isLoadedView; }
    bool pagerouteLoaded() const { return m_pagerouteLoaded; }
    bool pageuserLoaded() const { return m_pageuserLoaded; }
    ToastWindowController *toastWC() const { return m_toastWC; }
    ConsoleTitleBar *titleBar() const { return m_titleBar; }
    ConsoleHomeView *mainWorkView() const { return m_mainWorkView; }
    // The pages' container with their toolbar, built on first use.
    ConsolePageContainer *otherWorkView();
    ConnectButton *connectButton() const;
    // The sign-in panel while it is open.
    LoginAlertView *loginPanel() const;
    NodePageView *routePage() const { return m_pageViewRoute; }
    UserAccountPage *userPage() const { return m_pageViewUser; }

signals:
    // The title bar's close and minimise buttons ask the window that hosts the console.
    void closeRequested();
    void minimiseRequested();

protected:
    void showEvent(QShowEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;

private:
    void viewDidLoad();
    void viewWillAppear();
    void viewDidAppear();
    void returnHome();
    // The user's record, then the service; on its success the subscription's nodes, and (on
    // returning home) the node names in any case.
    void loadUserThenService(bool thenNodeNames);
    // After a sign-in: the new user's traffic and subscription, quietly.
    void loadSignedInService();
    void setMode(const char *mode);
    void activationRequested(bool ok);
    void showIdleView();
    void showBusyView(int code);
    // Where the keyboard focus goes on the home view: the control that starts or stops the tunnel.
    QWidget *homeFocusTarget();
    // The provider's reason for the tunnel going down, if it gave one: a failed connect, or a
    // lost connection once it had been up.
    void showDisconnectReason();
    void leaveHome(int pageIndex);

    VPNTunnelManager &m_tunnel;
    ConsoleRequests m_requests{*this};
    int m_lastVpnStatus = 0;
    bool m_preparingConnect = false; // between the start press and the tunnel's first progress
    bool m_tunnelWasUp = false;      // connected since the tunnel last went down
    unsigned m_connectAttempt = 0;   // moves on with every connect begun or abandoned
    bool m_pagerouteLoaded = false;
    bool m_pageuserLoaded = false;
    bool m_isLoadedView = false;
    QPointer<ToastWindowController> m_toastWC;
    ConsoleTitleBar *m_titleBar = nullptr;
    ConsoleHomeView *m_mainWorkView = nullptr;
    ConsolePageContainer *m_otherWorkView = nullptr;
    QPointer<CancelTapView> m_loginCover; // holds the sign-in panel while it is open
    NodePageView *m_pageViewRoute = nullptr;
    UserAccountPage *m_pageViewUser = nullptr;
};
