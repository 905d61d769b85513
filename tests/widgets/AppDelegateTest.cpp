#include "ConsoleFixture.h"

#include "console/ConsoleHomeView.h"
#include "shell/AppDelegate.h"
#include "shell/MainWindowController.h"

#include <QAction>
#include <QCoreApplication>
#include <QMenu>
#include <QRadioButton>

namespace {

using namespace Platform::VPNStatus;

class AppDelegateTest : public ConsoleFixture
{
protected:
    AppDelegateTest()
    {
        tunnel->stopVPN();
        queue->runUntilIdle();
        delegate.applicationDidFinishLaunching();
        queue->runUntilIdle();
    }

    // The tunnel's statuses in turn, as the tunnel manager hands them to the delegate; the
    // toasts they raised.
    std::vector<std::string> toastsFor(std::initializer_list<int> statuses)
    {
        std::vector<std::string> toasts;
        for (const int status : statuses) {
            QPointer<ToastWindowController> before = delegate.toastW();
            connection()->setStatus(status);
            queue->runUntilIdle();
            if (delegate.toastW() && delegate.toastW() != before)
                toasts.push_back(delegate.toastW()->message().toStdString());
        }
        return toasts;
    }

    AppDelegate delegate{*tunnel};
};

} // namespace

TEST_F(AppDelegateTest, ToastsNeverPileUp)
{
    using Toasts = std::vector<std::string>;
    NodesInfoVC *console = delegate.mainWC()->mainVC();
    ASSERT_EQ(toastsFor({connecting, connected}), Toasts{"Proxy: On"});
    ToastWindowController *status = delegate.toastW();
    ASSERT_TRUE(status->isVisible());

    // A console message replaces the status toast...
    console->showToast("会员已到期，请前往订阅续费！");
    EXPECT_FALSE(status->isVisible());
    EXPECT_EQ(ToastWindowController::onScreen(), console->toastWC());
    // ...and the status that follows does not cover it.
    EXPECT_EQ(toastsFor({disconnecting, disconnected}), Toasts{});
    EXPECT_EQ(ToastWindowController::onScreen(), console->toastWC());

    // Once it has gone, status toasts show again.
    console->toastWC()->close();
    EXPECT_EQ(toastsFor({connecting, connected}), Toasts{"Proxy: On"});
}

TEST_F(AppDelegateTest, OnAndOffToastsFollowTheTunnel)
{
    using Toasts = std::vector<std::string>;
    EXPECT_EQ(toastsFor({disconnected}), Toasts{});
    EXPECT_EQ(toastsFor({connected}), Toasts{"Proxy: On"}); // found running at start-up
    EXPECT_EQ(toastsFor({disconnecting, disconnected}), Toasts{"Proxy: Off"});
    EXPECT_EQ(toastsFor({disconnected, disconnected}), Toasts{});
    EXPECT_EQ(toastsFor({connecting, disconnected}), Toasts{"Proxy: Off"}); // a start that failed
    EXPECT_EQ(toastsFor({connecting, connected, connected}), Toasts{"Proxy: On"});
    EXPECT_EQ(delegate.lastVpnState(), connected);
    // The console hears every status as well.
    EXPECT_EQ(delegate.mainWC()->mainVC()->lastVpnStatus(), connected);
}

TEST_F(AppDelegateTest, TheMenuFollowsTheStatus)
{
    const auto menuFor = [&](int status) {
        connection()->setStatus(status);
        queue->runUntilIdle();
        return std::make_tuple(delegate.switchLabel()->text(),
                               delegate.toggleRunning()->text(),
                               delegate.toggleRunning()->isEnabled(),
                               delegate.statusIconName());
    };
    using Menu = std::tuple<QString, QString, bool, QString>;
    EXPECT_EQ(menuFor(disconnected), Menu("Proxy: Off", "Turn Proxy On", true, "vpnstate_off"));
    EXPECT_EQ(menuFor(connecting), Menu("代理：连接中...", "正在连接", false, "vpnstate_off"));
    EXPECT_EQ(menuFor(connected), Menu("Proxy: On", "Turn Proxy Off", true, "vpnstate_on"));
    EXPECT_EQ(menuFor(reasserting), Menu("Proxy: On", "Turn Proxy Off", true, "vpnstate_on"));
    EXPECT_EQ(menuFor(disconnecting), Menu("代理：正在断开...", "正在断开", false, "vpnstate_on"));
    EXPECT_EQ(menuFor(invalid), Menu("Proxy: Off", "Turn Proxy On", true, "vpnstate_off"));
}

TEST_F(AppDelegateTest, ThePowerItemConnectsOrStops)
{
    delegate.powerSwitch(); // disconnected: the console's connect flow, which wants a sign-in
    ToastWindowController *toast = delegate.mainWC()->mainVC()->toastWC();
    ASSERT_TRUE(toast);
    EXPECT_EQ(toast->message(), QStringLiteral("请先登录再使用"));

    connection()->setStatus(connected);
    queue->runUntilIdle();
    const int stops = connection()->stops;
    delegate.powerSwitch();
    EXPECT_EQ(connection()->stops, stops + 1);
    connection()->setStatus(disconnecting);
    queue->runUntilIdle();
    delegate.powerSwitch();
    EXPECT_EQ(connection()->stops, stops + 1);
}

TEST_F(AppDelegateTest, TheRoutingModeIsTheSameInTheMenuAndTheConsole)
{
    QRadioButton *consoleGlobal = delegate.mainWC()->mainVC()->mainWorkView()->modeButton(
        ConsoleTag::globalMode);
    // From launch, before the tunnel has said anything.
    EXPECT_TRUE(delegate.pacItem()->isChecked());

    consoleGlobal->click();
    queue->runUntilIdle();
    EXPECT_TRUE(delegate.globalItem()->isChecked());
    EXPECT_FALSE(delegate.pacItem()->isChecked());

    connection()->setStatus(connected);
    queue->runUntilIdle();
    delegate.pacMode();
    queue->runUntilIdle();
    EXPECT_TRUE(
        delegate.mainWC()->mainVC()->mainWorkView()->modeButton(ConsoleTag::ruleMode)->isChecked());
    EXPECT_EQ(connection()->messages.back(), "tunMode.rule");

    // A stored mode that is neither leaves both menu items unticked.
    QaroShared::shared().setValue(QaroShared::tunModeKey, std::string("smart"));
    delegate.refreshRunModeMenu();
    EXPECT_FALSE(delegate.pacItem()->isChecked());
    EXPECT_FALSE(delegate.globalItem()->isChecked());
}

TEST_F(AppDelegateTest, ReopeningAlwaysBringsTheWindowBack)
{
    MainWindowController *window = delegate.mainWC();
    EXPECT_EQ(window->windowTitle(), QStringLiteral("QaroMac"));
    EXPECT_EQ(window->size(), QSize(920, 580));
    EXPECT_TRUE(window->windowFlags() & Qt::FramelessWindowHint);
    EXPECT_EQ(window->minimumSize(), window->maximumSize());

    // Only the console's own button closes it; the window manager's request is refused.
    EXPECT_FALSE(window->close());
    EXPECT_TRUE(window->isVisible());
    window->closeWindow();
    EXPECT_FALSE(window->isVisible());

    EXPECT_TRUE(delegate.applicationShouldHandleReopen());
    EXPECT_TRUE(window->isVisible());
    EXPECT_EQ(delegate.mainWC(), window); // the same window comes back
}

// The tray's power item and the window's start control at once make one connect, which goes
// on undisturbed.
TEST_F(AppDelegateTest, TrayAndWindowConnectingTogetherMakeOneConnect)
{
    signIn();
    backend.admin("POST",
                  "/_dev/faults",
                  {{"path", KvApi::serviceListPath}, {"kind", "delay"}, {"delay_ms", 200}});
    NodesInfoVC *console = delegate.mainWC()->mainVC();
    connection()->setStatus(disconnected);
    queue->runUntilIdle();
    delegate.powerSwitch();
    console->onTapButtonWithSender(ConsoleTag::start);
    ASSERT_TRUE(pumpUntil(*queue, [&] { return !extensions->requests.empty(); }));
    pumpUntil(
        *queue, [&] { return extensions->requests.size() > 1; }, 1);
    EXPECT_EQ(extensions->requests.size(), 1u);
    EXPECT_FALSE(console->toastWC());
    EXPECT_TRUE(console->mainWorkView()->startProxyButton()->isHidden());
}
