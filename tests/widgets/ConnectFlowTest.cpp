#include "ConsoleFixture.h"

#include "console/ConnectButton.h"
#include "console/ConsoleHomeView.h"

#include "platform/NotificationCenter.h"

#include "LoopbackServer.h"

#include <QLabel>
#include <QPushButton>

#include <chrono>

namespace {

class ConnectFlowTest : public ConsoleFixture
{
protected:
    bool startButtonVisible() { return !console().mainWorkView()->startProxyButton()->isHidden(); }
    bool widgetVisible() { return !console().connectButton()->isHidden(); }

    // Presses start and waits until the connect flow has an answer from the backend.
    void pressStart()
    {
        press(ConsoleTag::start);
        pumpUntil(*queue, [&] { return !lastToast().empty() || !extensions->requests.empty(); });
    }
};

} // namespace

TEST_F(ConnectFlowTest, NotSignedInStopsAtOnce)
{
    press(ConsoleTag::start);
    EXPECT_EQ(lastToast(), "请先登录再使用");
    EXPECT_TRUE(startButtonVisible());
    EXPECT_FALSE(widgetVisible());
}

TEST_F(ConnectFlowTest, EachGateEndsInItsMessageAndTheIdleView)
{
    signIn();
    const std::vector<std::pair<nlohmann::json, std::string>> gates = {
        {{{"service_status", false}}, "会员已到期，请前往订阅续费！"},
        {{{"service_status", nullptr}, {"sub_status", false}}, "流量已超标，请前往订阅续费！"},
        {{{"sub_status", nullptr}, {"sub_uuid", nullptr}}, "subuuid.is.null"},
        {{{"has_service", false}}, "未找到订阅服务，请前往订阅"},
    };
    for (const auto &[members, message] : gates) {
        nlohmann::json body = members;
        body["email"] = "demo@orvane.test";
        backend.admin("POST", "/_dev/users", body);
        // Slow enough that the preparing look can be seen before the answer arrives.
        backend.admin("POST",
                      "/_dev/faults",
                      {{"path", KvApi::serviceListPath},
                       {"kind", "delay"},
                       {"delay_ms", 200},
                       {"times", 1}});
        if (console().toastWC())
            console().toastWC()->close();
        press(ConsoleTag::start);
        EXPECT_TRUE(widgetVisible()); // preparing while the service is asked
        EXPECT_EQ(console().connectButton()->subLabel()->text(),
                  QStringLiteral("加载配置,请稍候..."));
        ASSERT_TRUE(pumpUntil(*queue, [&] { return !lastToast().empty(); })) << message;
        EXPECT_EQ(lastToast(), message);
        EXPECT_TRUE(startButtonVisible()) << message;
        EXPECT_FALSE(widgetVisible()) << message;
        EXPECT_TRUE(extensions->requests.empty());
    }

    // No base answers at all.
    home.setVariable("ORVANE_API_BASE_URLS",
                     "http://127.0.0.1:1 http://127.0.0.1:1 http://127.0.0.1:1");
    defaults.remove(UserDefaultsCacheKeys::lastOkHost);
    console().toastWC()->close();
    press(ConsoleTag::start);
    ASSERT_TRUE(pumpUntil(*queue, [&] { return !lastToast().empty(); }));
    EXPECT_EQ(lastToast(), "加载失败，请稍候重试");
    EXPECT_TRUE(startButtonVisible());
}

TEST_F(ConnectFlowTest, APassingServiceAsksForActivationAndItsRefusalIsShown)
{
    signIn();
    pressStart();
    ASSERT_EQ(extensions->requests.size(), 1u);
    EXPECT_TRUE(widgetVisible());

    // The system's answer comes later; here the start it leads to is refused.
    connection()->startRefusal = Platform::VPNErrors::configurationDisabled();
    extensions->finish(Platform::SystemExtensionRequestResult::completed);
    pumpUntil(*queue, [&] { return !lastToast().empty(); });
    EXPECT_EQ(lastToast(), "启动VPN隧道失败：VPN配置已停用。");
    EXPECT_TRUE(startButtonVisible());

    // An extension missing from the bundle means no request at all.
    std::filesystem::remove_all(bundle);
    console().toastWC()->close();
    pressStart();
    pumpUntil(*queue, [&] { return !lastToast().empty(); });
    EXPECT_EQ(lastToast(), "！！！请求系统激活失败");
    EXPECT_EQ(extensions->requests.size(), 1u);
    EXPECT_TRUE(startButtonVisible());
}

TEST_F(ConnectFlowTest, AStartFailureReportLeavesAConnectedViewAlone)
{
    report(Platform::VPNStatus::connected);
    Platform::NotificationCenter::defaultCenter().post(NOTIFY_VPNActivation_Failed,
                                                       std::string("启动失败了"));
    EXPECT_EQ(lastToast(), "启动失败了");
    EXPECT_TRUE(widgetVisible());

    report(Platform::VPNStatus::disconnected);
    report(Platform::VPNStatus::connecting);
    Platform::NotificationCenter::defaultCenter().post(NOTIFY_VPNActivation_Failed,
                                                       std::string("又失败了"));
    EXPECT_EQ(lastToast(), "又失败了");
    EXPECT_TRUE(startButtonVisible());
    EXPECT_FALSE(widgetVisible());

    // An object that is not text is no report.
    Platform::NotificationCenter::defaultCenter().post(NOTIFY_VPNActivation_Failed, 5);
    EXPECT_EQ(lastToast(), "又失败了");
}

TEST_F(ConnectFlowTest, TheFirstStatusOfANewConfigurationDoesNotCancelTheConnect)
{
    signIn();
    pressStart();
    ASSERT_TRUE(widgetVisible());
    report(Platform::VPNStatus::disconnected); // the configuration made by this connect, loaded
    EXPECT_TRUE(widgetVisible());
    report(Platform::VPNStatus::connecting);
    EXPECT_TRUE(widgetVisible());
    EXPECT_EQ(console().connectButton()->subLabel()->text(), QStringLiteral("开始连接..."));
}

TEST_F(ConnectFlowTest, StartStopsARunningTunnelAndTheGatesStopItToo)
{
    signIn();
    tunnel->stopVPN(); // adopts the saved configuration
    queue->runUntilIdle();
    const int stopsBefore = connection()->stops;

    report(Platform::VPNStatus::connected);
    press(ConsoleTag::start);
    EXPECT_EQ(connection()->stops, stopsBefore + 1);

    report(Platform::VPNStatus::reasserting);
    press(ConsoleTag::start); // 4 and 5: nothing to do
    EXPECT_EQ(connection()->stops, stopsBefore + 1);

    report(Platform::VPNStatus::connected);
    backend.admin("POST", "/_dev/users", {{"email", "demo@orvane.test"}, {"service_status", false}});
    bool completed = false;
    console().loadServiceInfo([&](bool, const std::string &) { completed = true; });
    ASSERT_TRUE(pumpUntil(*queue, [&] { return completed; }));
    EXPECT_EQ(connection()->stops, stopsBefore + 2);
}

// Signing out while the service is still asked abandons the connect: the view is idle at once,
// no tunnel starts, and the late answer stores nothing of the old account.
TEST_F(ConnectFlowTest, SigningOutAbandonsTheConnectAndItsLateAnswer)
{
    signIn();
    backend.admin("POST",
                  "/_dev/faults",
                  {{"path", KvApi::serviceListPath}, {"kind", "delay"}, {"delay_ms", 300}});
    press(ConsoleTag::start);
    ASSERT_TRUE(widgetVisible());
    NetWorkTool::clearSession(); // what the account page's sign-out does, then:
    console().refreshAccountInfo(true);
    EXPECT_TRUE(startButtonVisible());
    EXPECT_FALSE(widgetVisible());

    const auto answered = [&] {
        const auto lines = log.printed();
        return std::any_of(lines.begin(), lines.end(), [](const std::string &line) {
            return line.find(KvApi::serviceListPath) != std::string::npos;
        });
    };
    ASSERT_TRUE(pumpUntil(*queue, answered));
    queue->runUntilIdle();
    EXPECT_TRUE(extensions->requests.empty());
    EXPECT_TRUE(startButtonVisible());
    EXPECT_FALSE(defaults.value(UserDefaultsCacheKeys::serverId));
    EXPECT_FALSE(defaults.value(UserDefaultsCacheKeys::lastAmount));
    EXPECT_FALSE(QaroShared::shared().value(QaroShared::subUuidKey));
}

// The built-in bases take connections and never answer, and the pinned one is among them; the
// service's list has a working base after them. Signed in, the console loads the user and the
// service and connects within seconds: each silent base costs a head start, not an exchange.
TEST_F(ConnectFlowTest, SilentBuiltInBasesCostSecondsNotMinutes)
{
    SilentServer silent[3];
    home.setVariable("ORVANE_API_BASE_URLS",
                     silent[0].origin() + " " + silent[1].origin() + " " + silent[2].origin());
    defaults.set(UserDefaultsCacheKeys::backupUrls,
                 Platform::PropertyValue::array(
                     {silent[0].origin(), silent[1].origin(), silent[2].origin(), backend.origin()}));
    defaults.set(UserDefaultsCacheKeys::lastOkHost, silent[0].origin());
    signIn();
    backend.takeRequests();

    const auto start = std::chrono::steady_clock::now();
    console().show();
    press(ConsoleTag::start);
    ASSERT_TRUE(pumpUntil(
        *queue, [&] { return !extensions->requests.empty(); }, 10, true))
        << lastToast();
    extensions->finish(Platform::SystemExtensionRequestResult::completed);
    ASSERT_TRUE(pumpUntil(
        *queue, [&] { return !connection()->starts.empty(); }, 10, true));
    report(Platform::VPNStatus::connected);
    const auto asked = [&] {
        std::vector<std::string> paths;
        for (const auto &request : backend.takeRequests())
            paths.push_back(request.value("path", ""));
        return paths;
    }();
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start)
                               .count();
    EXPECT_LT(seconds, 10);
    EXPECT_TRUE(widgetVisible());
    EXPECT_EQ(defaults.string(UserDefaultsCacheKeys::lastOkHost), backend.origin());
    for (const char *path : {KvApi::userInfoPath, KvApi::serviceListPath})
        EXPECT_NE(std::find(asked.begin(), asked.end(), path), asked.end()) << path;
}
