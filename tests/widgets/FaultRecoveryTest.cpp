#include "ConsoleFixture.h"

#include "console/ConnectButton.h"
#include "console/ConsoleHomeView.h"
#include "platform/SystemVPNService.h"
#include "shell/AppDelegate.h"
#include "shell/MainWindowController.h"

#include "ProviderProcesses.h"

#include <QAction>
#include <QApplication>
#include <QPushButton>

#include <csignal>

using namespace Platform::VPNStatus;

namespace {

bool idleView(NodesInfoVC &console)
{
    return !console.mainWorkView()->startProxyButton()->isHidden()
           && console.connectButton()->isHidden();
}

} // namespace

TEST_F(ConsoleFixture, ABackendThatGoesAwayIsToldAndUsedAgainWhenItReturns)
{
    signIn();
    console().show();
    ASSERT_TRUE(pumpUntil(*queue, [&] {
        return defaults.value(UserDefaultsCacheKeys::serverId).has_value();
    }));

    backend.stop();
    press(ConsoleTag::start);
    ASSERT_TRUE(pumpUntil(*queue, [&] { return !lastToast().empty(); }));
    EXPECT_EQ(lastToast(), "加载失败，请稍候重试");
    EXPECT_TRUE(idleView(console()));
    EXPECT_TRUE(extensions->requests.empty());
    // Still signed in: a backend that cannot be reached is no reason to forget the user.
    EXPECT_TRUE(defaults.value(UserDefaultsCacheKeys::userInfo).has_value());

    // Back again, the next press goes through, without a restart of anything.
    backend.start();
    console().toastWC()->close();
    press(ConsoleTag::start);
    ASSERT_TRUE(pumpUntil(*queue, [&] { return !extensions->requests.empty(); }));
    EXPECT_FALSE(console().toastWC() && console().toastWC()->isVisible());
}

TEST_F(ConsoleFixture, ABurstOfStatusesLeavesTheViewsConsistentAndNothingBehind)
{
    tunnel->stopVPN(); // loads the saved configuration, whose status the burst changes
    queue->runUntilIdle();
    AppDelegate delegate(*tunnel);
    delegate.applicationDidFinishLaunching();
    queue->runUntilIdle();
    NodesInfoVC *shown = delegate.mainWC()->mainVC();
    const auto settle = [&] {
        queue->runUntilIdle();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    };
    settle();
    const qsizetype windowsBefore = QApplication::topLevelWidgets().size();
    const qsizetype objectsBefore = shown->findChildren<QObject *>().size();

    const int cycle[] = {connecting, connected, disconnecting, disconnected};
    for (int i = 0; i < 10000; ++i) {
        connection()->setStatus(cycle[i % 4]);
        if (i % 100 == 99)
            settle();
    }
    connection()->setStatus(connecting);
    connection()->setStatus(connected);
    settle();

    EXPECT_EQ(shown->lastVpnStatus(), connected);
    EXPECT_EQ(delegate.lastVpnState(), connected);
    EXPECT_FALSE(shown->connectButton()->isHidden());
    EXPECT_TRUE(shown->mainWorkView()->startProxyButton()->isHidden());
    EXPECT_EQ(delegate.switchLabel()->text(), QStringLiteral("Proxy: On"));
    EXPECT_EQ(delegate.statusIconName(), QStringLiteral("vpnstate_on"));
    // Toasts were replaced, not piled up, and the console made nothing that stayed.
    EXPECT_LE(QApplication::topLevelWidgets().size(), windowsBefore + 2);
    EXPECT_LE(shown->findChildren<QObject *>().size(), objectsBefore + 2);
}

namespace {

// The console with the real tunnel control: the reference provider from the built bundle,
// installed and run as its own process inside a temporary home.
class RealTunnelTest : public testing::Test
{
protected:
    RealTunnelTest()
    {
        home.setVariable("ORVANE_API_BASE_URLS", backend.asEveryBaseUrl());
        delegate.applicationDidFinishLaunching();
        queue->runUntilIdle();
    }

    ~RealTunnelTest() override { killProcessesRunningFrom(home.root()); }

    TemporaryHome home;
    InstalledManualQueue queue;
    LogRecorder log;
    RunningBackend backend{home.root() / "backend"};
    UserDefaults defaults = UserDefaults::standard();
    Platform::SystemVPNService::Paths paths = *Platform::SystemVPNService::standardPaths();
    std::shared_ptr<VPNTunnelManager> tunnel = VPNTunnelManager::create(
        {std::make_shared<Platform::SystemVPNService>(paths),
         std::make_shared<Platform::LocalSystemExtensionManager>(ORVANE_REFERENCE_BUNDLE_DIR,
                                                                 paths.installedExtensions),
         ORVANE_REFERENCE_BUNDLE_DIR,
         true});
    AppDelegate delegate{*tunnel};
};

} // namespace

TEST_F(RealTunnelTest, AProviderKilledWhileConnectedReturnsConsoleAndMenuToIdle)
{
    defaults.set(UserDefaultsCacheKeys::apiToken, backend.signIn("demo@orvane.test", "demo123456"));
    defaults.set(UserDefaultsCacheKeys::userInfo, {{"user_name", "demo@orvane.test"}});
    NodesInfoVC *console = delegate.mainWC()->mainVC();
    console->onTapButtonWithSender(ConsoleTag::start);
    ASSERT_TRUE(pumpUntil(
        *queue, [&] { return console->lastVpnStatus() == connected; }, 60));
    EXPECT_EQ(delegate.switchLabel()->text(), QStringLiteral("Proxy: On"));
    const auto providers = processesRunningFrom(home.root());
    ASSERT_EQ(providers.size(), 1u);

    ::kill(providers[0], SIGKILL);
    ASSERT_TRUE(pumpUntil(
        *queue, [&] { return idleView(*console); }, 60));
    EXPECT_EQ(console->lastVpnStatus(), disconnected);
    queue->runUntilIdle();
    EXPECT_EQ(delegate.switchLabel()->text(), QStringLiteral("Proxy: Off"));
    EXPECT_EQ(delegate.statusIconName(), QStringLiteral("vpnstate_off"));
    EXPECT_TRUE(delegate.toggleRunning()->isEnabled());
}
