#include "tunnel/VPNTunnelManager.h"

#include "api/NetWorkTool.h"
#include "api/QaroShared.h"
#include "api/UserDefaults.h"
#include "api/UserDefaultsCacheKeys.h"

#include "InstalledManualQueue.h"
#include "LogRecorder.h"
#include "ScriptedSystemExtensionManager.h"
#include "ScriptedVPNService.h"
#include "TemporaryHome.h"

#include <gtest/gtest.h>

using Platform::VPNStatus::connected;
using Platform::VPNStatus::disconnected;
using Platform::VPNStatus::disconnecting;
using Lines = std::vector<std::string>;
using Outcome = std::pair<bool, std::optional<std::string>>;

namespace {

class VPNTunnelManagerTest : public testing::Test
{
protected:
    VPNTunnelManagerTest()
    {
        home.setVariable("ORVANE_TUNNEL_HOST_URL", "https://fourth.example");
        manager->setOnVpnStatusChange([this](int status) { reported.push_back(status); });
    }

    Outcome start()
    {
        std::optional<Outcome> outcome;
        manager->startVPN([&](bool ok, const auto &message) { outcome = Outcome{ok, message}; });
        queue->runUntilIdle();
        return outcome.value_or(Outcome{false, "<no completion>"});
    }

    TemporaryHome home;
    InstalledManualQueue queue;
    LogRecorder log;
    std::shared_ptr<ScriptedVPNService> service = std::make_shared<ScriptedVPNService>();
    std::shared_ptr<ScriptedSystemExtensionManager> extensions
        = std::make_shared<ScriptedSystemExtensionManager>();
    std::shared_ptr<VPNTunnelManager> manager = VPNTunnelManager::create(
        {service, extensions, home.root() / "OrvaneVPN.app", true});
    std::vector<int> reported;
};

} // namespace

TEST_F(VPNTunnelManagerTest, WithNoConfigurationOneIsCreatedSavedReloadedAndStarted)
{
    QaroShared::shared().setValue(QaroShared::subUuidKey, std::string("5f0c1d2e-secret-a1b2"));
    EXPECT_EQ(start(), Outcome(true, std::nullopt));

    ASSERT_EQ(service->saved.size(), 1u);
    EXPECT_EQ(service->saves, 1);
    EXPECT_EQ(service->reloads, 1);
    const auto &saved = *service->saved[0];
    ASSERT_TRUE(saved.protocolConfiguration);
    EXPECT_EQ(saved.protocolConfiguration->providerBundleIdentifier, "com.qaromac.wv.sysne");
    EXPECT_EQ(saved.protocolConfiguration->serverAddress, "127.0.0.1");
    EXPECT_FALSE(saved.protocolConfiguration->disconnectOnSleep);
    EXPECT_EQ(saved.protocolConfiguration->providerConfiguration, Platform::PropertyValue::object());
    EXPECT_EQ(saved.localizedDescription, "QaroMac.WvSysTun");
    EXPECT_TRUE(saved.isEnabled);
    EXPECT_FALSE(saved.isOnDemandEnabled);
    ASSERT_TRUE(manager->tunnelManager());
    EXPECT_EQ(manager->tunnelManager()->identifier(), saved.identifier());

    const auto connection = service->connectionOf(saved.identifier());
    ASSERT_EQ(connection->starts.size(), 1u);
    EXPECT_EQ(connection->starts[0],
              (Platform::VPNConnection::Options{{"subuuid", "5f0c1d2e-secret-a1b2"},
                                                {"host", "https://fourth.example"},
                                                {"nodeName", ""},
                                                {"tunMode", "rule"}}));
    EXPECT_EQ(manager->vpnStatus(), Platform::VPNStatus::connecting);
    EXPECT_TRUE(log.hasSystemMessage("VPN配置保存成功"));
    EXPECT_TRUE(log.hasSystemMessage("VPN配置重新加载成功"));
    bool startLogged = false;
    for (const auto &line : log.systemMessages()) {
        EXPECT_EQ(line.find("5f0c1d2e-secret-a1b2"), std::string::npos) << line;
        startLogged = startLogged || line.starts_with("-----开始启动VPN隧道:");
    }
    EXPECT_TRUE(startLogged);
}

TEST_F(VPNTunnelManagerTest, StartOptionsReadTheSharedValuesAtThatMoment)
{
    service->addSaved("a");
    UserDefaults::standard().set(UserDefaultsCacheKeys::lastOkHost, "http://127.0.0.1:47601");
    QaroShared::shared().setValue(QaroShared::tunModeKey, std::string("global"));
    QaroShared::shared().setValue(QaroShared::nodeNameKey, std::string("香港 01"));
    QaroShared::shared().setValue(QaroShared::subUuidKey, 42); // not text: counts as missing
    start();
    EXPECT_EQ(service->connectionOf("a")->starts.back(),
              (Platform::VPNConnection::Options{{"subuuid", ""},
                                                {"host", "http://127.0.0.1:47601"},
                                                {"nodeName", "香港 01"},
                                                {"tunMode", "global"}}));
}

TEST_F(VPNTunnelManagerTest, ADifferingConfigurationIsRewrittenKeepingWhatIsTheUsers)
{
    const std::vector<std::function<void(Platform::TunnelProviderManager &)>> differences = {
        [](auto &m) { m.protocolConfiguration->serverAddress = "10.0.0.1"; },
        [](auto &m) { m.protocolConfiguration->serverAddress.reset(); },
        [](auto &m) { m.protocolConfiguration->disconnectOnSleep = true; },
        [](auto &m) { m.localizedDescription = "Someone else's"; },
        [](auto &m) { m.isEnabled = false; },
    };
    for (std::size_t i = 0; i < differences.size(); ++i) {
        auto saved = service->addSaved("c" + std::to_string(i));
        saved->protocolConfiguration->providerConfiguration = Platform::PropertyValue(
            {{"kept", true}});
        saved->isOnDemandEnabled = true;
        differences[i](*saved);
        const int savesBefore = service->saves;
        EXPECT_TRUE(start().first) << i;
        EXPECT_EQ(service->saves, savesBefore + 1) << i;
        const auto &rewritten = *service->saved.back();
        EXPECT_EQ(rewritten.protocolConfiguration->serverAddress, "127.0.0.1");
        EXPECT_FALSE(rewritten.protocolConfiguration->disconnectOnSleep);
        EXPECT_EQ(rewritten.localizedDescription, "QaroMac.WvSysTun");
        EXPECT_TRUE(rewritten.isEnabled);
        EXPECT_EQ(rewritten.protocolConfiguration->providerConfiguration,
                  Platform::PropertyValue({{"kept", true}}));
        EXPECT_TRUE(rewritten.isOnDemandEnabled);
        service->saved.clear();
    }
}

TEST_F(VPNTunnelManagerTest, AMatchingConfigurationIsAdoptedWithoutASaveAndTheFirstMatchWins)
{
    auto other = service->addSaved("other-kind");
    other->protocolConfiguration->kind = Platform::VPNProtocol::Kind::other;
    service->addSaved("no-protocol")->protocolConfiguration.reset();
    service->addSaved("other-provider")->protocolConfiguration->providerBundleIdentifier
        = "com.example.other";
    service->addSaved("no-identifier")->protocolConfiguration->providerBundleIdentifier.reset();
    service->addSaved("first");
    service->addSaved("second");

    EXPECT_EQ(start(), Outcome(true, std::nullopt));
    EXPECT_EQ(service->saves, 0);
    EXPECT_EQ(manager->tunnelManager()->identifier(), "first");
    EXPECT_EQ(service->connectionOf("first")->starts.size(), 1u);
    EXPECT_TRUE(service->connectionOf("second")->starts.empty());
    EXPECT_TRUE(log.hasSystemMessage("找到已存在的VPN配置"));
}

TEST_F(VPNTunnelManagerTest, EveryConnectionsStatusIsFollowedAndNothingElse)
{
    Platform::NotificationCenter::defaultCenter().post(Platform::NEVPNStatusDidChange,
                                                       std::string("not a connection"));
    Platform::NotificationCenter::defaultCenter().post(Platform::NEVPNStatusDidChange);
    EXPECT_TRUE(reported.empty());
    EXPECT_EQ(manager->vpnStatus(), Platform::VPNStatus::invalid);

    service->connectionOf("x")->setStatus(connected);
    service->connectionOf("unrelated")->setStatus(disconnected);
    EXPECT_EQ(reported, (std::vector<int>{connected, disconnected}));
    EXPECT_EQ(manager->vpnStatus(), disconnected);
    EXPECT_TRUE(log.hasSystemMessage("VPN状态变更：已连接"));
    EXPECT_TRUE(log.hasSystemMessage("VPN状态变更：已断开"));
    EXPECT_EQ(VPNTunnelManager::statusName(4), "重连中");
    EXPECT_EQ(VPNTunnelManager::statusName(9), "未知状态");
}

TEST_F(VPNTunnelManagerTest, FailuresOnTheWayBecomeTheStartsMessage)
{
    service->loadAllError = Platform::VPNError{"NEConfigurationErrorDomain", 5, "读取失败"};
    EXPECT_EQ(start(), Outcome(false, "加载VPN配置列表失败：读取失败"));
    EXPECT_TRUE(log.hasSystemMessage("启动VPN失败：加载VPN配置列表失败：读取失败"));
    EXPECT_EQ(manager->vpnStatus(), Platform::VPNStatus::invalid);

    service->loadAllError.reset();
    service->saveError = Platform::VPNError{"NEConfigurationErrorDomain", 5, "写入失败"};
    EXPECT_EQ(
        start(),
        Outcome(false,
                "保存VPN配置失败：写入失败 | 错误域：NEConfigurationErrorDomain | 错误码：5"));

    // A failed reload after a good save is logged, and the start goes on.
    service->saveError.reset();
    service->reloadError = Platform::VPNError{"NEConfigurationErrorDomain", 4, "已过期"};
    EXPECT_EQ(start(), Outcome(true, std::nullopt));
    EXPECT_TRUE(log.hasSystemMessage("重新加载VPN配置失败（系统配置已保存）：已过期"));

    service->reloadError.reset();
    service->connectionOf(service->saved[0]->identifier())->startRefusal
        = Platform::VPNErrors::configurationDisabled();
    EXPECT_EQ(start(), Outcome(false, "启动VPN隧道失败：VPN配置已停用。"));
    EXPECT_EQ(manager->vpnStatus(), Platform::VPNStatus::invalid);

    // A manager that has gone answers for itself.
    std::optional<Outcome> outcome;
    manager->startVPN([&](bool ok, const auto &message) { outcome = Outcome{ok, message}; });
    manager.reset();
    queue->runUntilIdle();
    EXPECT_EQ(outcome, Outcome(false, "VPN管理器已释放"));
    EXPECT_TRUE(log.hasSystemMessage("VPN管理器已释放"));
}

TEST_F(VPNTunnelManagerTest, AStopSucceedsOnlyWhenTheProviderStoppedWithinHalfASecond)
{
    std::optional<Outcome> outcome;
    const auto stop = [&] {
        outcome.reset();
        manager->stopVPN([&](bool ok, const auto &message) { outcome = Outcome{ok, message}; });
        queue->runUntilIdle();
    };

    stop(); // nothing adopted, nothing saved
    EXPECT_EQ(outcome, Outcome(false, "未找到已加载的VPN配置"));

    service->addSaved("t");
    const auto connection = service->connectionOf("t");
    stop(); // a saved configuration is adopted for the stop
    EXPECT_FALSE(outcome);
    EXPECT_EQ(connection->stops, 1);
    EXPECT_EQ(manager->vpnStatus(), disconnecting);
    EXPECT_EQ(manager->tunnelManager()->identifier(), "t");
    queue->advance(0.3);
    connection->setStatus(disconnected);
    queue->advance(0.2);
    EXPECT_EQ(outcome, Outcome(true, std::nullopt));
    EXPECT_EQ(log.printed().back(), "doStop>停止VPN成功：1");

    stop();
    queue->advance(0.49);
    EXPECT_FALSE(outcome);
    queue->advance(0.01);
    EXPECT_EQ(outcome, Outcome(false, "停止VPN失败，当前状态：5"));
}

TEST_F(VPNTunnelManagerTest, ProviderMessagesGoOnlyToALiveSession)
{
    manager->sendMessageToProvider("Hello"); // no configuration at all
    queue->runUntilIdle();
    service->addSaved("t");
    const auto connection = service->connectionOf("t");
    manager->sendMessageToProvider("Hello"); // status invalid
    queue->runUntilIdle();
    EXPECT_TRUE(connection->messages.empty());
    EXPECT_TRUE(log.printed().empty());

    connection->setStatus(connected);
    connection->reply = "hello from the provider";
    manager->sendMessageToProvider("Hello");
    manager->sendMessageToProvider("subuuid.5f0c1d2e-secret-a1b2");
    queue->runUntilIdle();
    EXPECT_EQ(connection->messages, (Lines{"Hello", "subuuid.5f0c1d2e-secret-a1b2"}));
    EXPECT_EQ(log.printed(),
              (Lines{"Success to send a message[Hello], response=hello from the provider",
                     "Success to send a message[subuuid.5f0c****a1b2], response=hello from the "
                     "provider"}));

    connection->reply.reset(); // an empty reply prints nothing
    manager->sendMessageToProvider("tunMode.rule");
    queue->runUntilIdle();
    connection->sendRefusal = Platform::VPNErrors::connectionFailed();
    manager->sendMessageToProvider("tunMode.global");
    queue->runUntilIdle();
    EXPECT_EQ(log.printed().back(), "Failed to send a message to the provider");
    EXPECT_EQ(log.printed().size(), 3u);
}

TEST_F(VPNTunnelManagerTest, MessagesNeedAProviderSession)
{
    service->providerSessions = false;
    service->addSaved("plain");
    manager->sendMessageToProvider("Hello");
    queue->runUntilIdle();
    EXPECT_TRUE(log.printed().empty());
}

TEST(VPNTunnelManagerStart, TheStartCompletionReportsFailuresToTheConsole)
{
    InstalledManualQueue queue;
    LogRecorder log;
    std::vector<std::string> posted;
    int observer = 0;
    Platform::NotificationCenter::defaultCenter()
        .addObserver(&observer,
                     NOTIFY_VPNActivation_Failed,
                     Platform::NotificationCenter::Delivery::MainQueue,
                     [&](const Platform::Notification &note) {
                         posted.push_back(std::any_cast<std::string>(note.object));
                     });

    VPNTunnelManager::startCompletion(true, std::nullopt);
    VPNTunnelManager::startCompletion(false, std::nullopt);
    VPNTunnelManager::startCompletion(false, "启动VPN隧道失败：原因");
    Platform::NotificationCenter::defaultCenter().removeObserver(&observer);

    EXPECT_EQ(log.printed(),
              (Lines{"startVPN启动请求已成功发送！", "VPN启动失败：启动VPN隧道失败：原因"}));
    EXPECT_EQ(posted, Lines{"启动VPN隧道失败：原因"});
}
