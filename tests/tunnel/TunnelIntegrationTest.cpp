#include "tunnel/VPNTunnelManager.h"

#include "api/QaroShared.h"

#include "platform/SystemVPNService.h"

#include "InstalledManualQueue.h"
#include "LogRecorder.h"
#include "ProviderProcesses.h"
#include "TemporaryHome.h"

#include <gtest/gtest.h>

#include <csignal>
#include <fstream>
#include <iterator>

using Platform::VPNStatus::connected;
using Platform::VPNStatus::connecting;
using Platform::VPNStatus::disconnected;

namespace {

constexpr const char subscription[] = "5f0c1d2e-aaaa-bbbb-cccc-a1b2c3d4e5f6";

std::string readFile(const std::filesystem::path &path)
{
    std::ifstream stream(path);
    return std::string(std::istreambuf_iterator<char>(stream), {});
}

// The application's tunnel control on this system's real stand-ins, with the reference
// provider from the built bundle, all inside a temporary home.
class TunnelIntegrationTest : public testing::Test
{
protected:
    TunnelIntegrationTest() { makeManager(); }

    ~TunnelIntegrationTest() override
    {
        manager.reset();
        service.reset();
        killProcessesRunningFrom(home.root());
    }

    void makeManager()
    {
        service = std::make_shared<Platform::SystemVPNService>(paths);
        manager = VPNTunnelManager::create(
            {service,
             std::make_shared<Platform::LocalSystemExtensionManager>(ORVANE_BUNDLE_DIR,
                                                                     paths.installedExtensions),
             ORVANE_BUNDLE_DIR,
             true});
        statuses.clear();
        manager->setOnVpnStatusChange([this](int status) { statuses.push_back(status); });
    }

    bool reported(int status) const
    {
        return std::find(statuses.begin(), statuses.end(), status) != statuses.end();
    }

    bool printedStartingWith(const std::string &prefix, std::size_t times = 1) const
    {
        const auto lines = log.printed();
        return std::size_t(std::count_if(lines.begin(),
                                         lines.end(),
                                         [&](const auto &line) { return line.starts_with(prefix); }))
               >= times;
    }

    // Another run of the app beside this one, on the same files.
    std::shared_ptr<VPNTunnelManager> anotherRun()
    {
        return VPNTunnelManager::create(
            {std::make_shared<Platform::SystemVPNService>(paths),
             std::make_shared<Platform::LocalSystemExtensionManager>(ORVANE_BUNDLE_DIR,
                                                                     paths.installedExtensions),
             ORVANE_BUNDLE_DIR,
             true});
    }

    static int ownStatus(const VPNTunnelManager &run)
    {
        return run.tunnelManager() ? run.tunnelManager()->connection()->status() : -1;
    }

    TemporaryHome home;
    InstalledManualQueue queue;
    LogRecorder log;
    Platform::SystemVPNService::Paths paths = *Platform::SystemVPNService::standardPaths();
    std::shared_ptr<Platform::SystemVPNService> service;
    std::shared_ptr<VPNTunnelManager> manager;
    std::vector<int> statuses;
};

} // namespace

TEST_F(TunnelIntegrationTest, TheProviderIsInstalledStartedTalkedToStoppedAndFoundAgain)
{
    QaroShared::shared().setValue(QaroShared::subUuidKey, std::string(subscription));
    QaroShared::shared().setValue(QaroShared::nodeNameKey, std::string("香港 01"));

    std::optional<bool> submitted;
    manager->activateSystemExtension([&](bool result) { submitted = result; });
    EXPECT_EQ(submitted, true);
    ASSERT_TRUE(queue->runUntil([&] { return reported(connected); }, 20));
    // Loading the new configuration reports its tunnel down; the start then reports 2 and 3.
    EXPECT_EQ(statuses, (std::vector<int>{disconnected, connecting, connected}));
    EXPECT_TRUE(std::filesystem::exists(
        paths.installedExtensions
        / "com.qaromac.wv.sysne.systemextension/Contents/bin/reference-provider"));

    // The options travelled on a pipe: not on the command line, not in clear in any log.
    const auto providers = processesRunningFrom(home.root());
    ASSERT_EQ(providers.size(), 1u);
    const std::string commandLine = readFile("/proc/" + std::to_string(providers[0]) + "/cmdline");
    EXPECT_EQ(commandLine.find(subscription), std::string::npos);
    EXPECT_EQ(commandLine.find("香港"), std::string::npos);
    const std::string providerLog = readFile(home.dataHome() / "group.com.qaromac.wv"
                                             / "reference-provider.log");
    EXPECT_NE(providerLog.find("香港 01"), std::string::npos) << providerLog;
    EXPECT_EQ(providerLog.find(subscription), std::string::npos);

    manager->sendMessageToProvider("Hello");
    EXPECT_TRUE(queue->runUntil(
        [&] { return printedStartingWith("Success to send a message[Hello], response="); }));

    std::optional<std::pair<bool, std::optional<std::string>>> stopped;
    manager->stopVPN([&](bool ok, const auto &message) { stopped = {ok, message}; });
    ASSERT_TRUE(queue->runUntil([&] { return manager->vpnStatus() == disconnected; }));
    queue->advance(0.5);
    ASSERT_TRUE(stopped);
    EXPECT_EQ(*stopped, std::make_pair(true, std::optional<std::string>()));
    ASSERT_TRUE(queue->runUntil([&] { return processesRunningFrom(home.root()).empty(); }));

    // Started again, the tunnel outlives the application and is found by its next run.
    manager->startVPN(VPNTunnelManager::startCompletion);
    ASSERT_TRUE(queue->runUntil([&] { return manager->vpnStatus() == connected; }, 20));
    manager.reset();
    service.reset();
    makeManager();
    // The first message of the new run reaches the provider: the load waits for its status.
    manager->sendMessageToProvider("Hello");
    ASSERT_TRUE(queue->runUntil(
        [&] { return printedStartingWith("Success to send a message[Hello], response=", 2); }));
    EXPECT_EQ(statuses, std::vector<int>{connected});

    // A provider that dies without a word reads as disconnected.
    for (const pid_t pid : processesRunningFrom(home.root()))
        ::kill(pid, SIGKILL);
    ASSERT_TRUE(queue->runUntil([&] { return reported(disconnected); }, 20));
    EXPECT_EQ(manager->vpnStatus(), disconnected);
}

TEST_F(TunnelIntegrationTest, WithoutAnInstalledExtensionTheStartIsRefused)
{
    std::optional<std::pair<bool, std::optional<std::string>>> outcome;
    manager->startVPN([&](bool ok, const auto &message) { outcome = {ok, message}; });
    ASSERT_TRUE(queue->runUntil([&] { return outcome.has_value(); }));
    EXPECT_FALSE(outcome->first);
    EXPECT_EQ(outcome->second, "启动VPN隧道失败：VPN配置无效。找不到已安装的隧道扩展。");
    EXPECT_TRUE(processesRunningFrom(home.root()).empty());
}

// One extension runs one provider, whatever the configurations say: connects that overlap,
// another run of the app, or a lost configurations file never start a second one.
TEST_F(TunnelIntegrationTest, NeverASecondProvider)
{
    manager->activateSystemExtension([](bool) {});
    queue->runUntilIdle();
    manager->startVPN(VPNTunnelManager::startCompletion); // a second first-ever connect at once
    ASSERT_TRUE(queue->runUntil([&] { return ownStatus(*manager) == connected; }, 20));
    EXPECT_EQ(processesRunningFrom(home.root()).size(), 1u);
    const std::string configurations = readFile(paths.configurations);
    EXPECT_EQ(configurations.find("identifier"), configurations.rfind("identifier"));
    manager->stopVPN();
    ASSERT_TRUE(queue->runUntil([&] { return processesRunningFrom(home.root()).empty(); }));

    // Another run looks while nothing runs; once this one has started, it starts too.
    auto other = anotherRun();
    other->stopVPN(); // adopts the configuration; nothing to stop
    ASSERT_TRUE(queue->runUntil([&] { return ownStatus(*other) == disconnected; }));
    manager->startVPN(VPNTunnelManager::startCompletion);
    ASSERT_TRUE(queue->runUntil([&] { return ownStatus(*manager) == connected; }, 20));
    other->startVPN(VPNTunnelManager::startCompletion);
    ASSERT_TRUE(queue->runUntil([&] { return ownStatus(*other) == connected; }, 20));
    EXPECT_EQ(processesRunningFrom(home.root()).size(), 1u);

    // A run that finds no configuration at all still finds the provider when it starts.
    std::filesystem::remove(paths.configurations);
    auto third = anotherRun();
    third->startVPN(VPNTunnelManager::startCompletion);
    ASSERT_TRUE(queue->runUntil([&] { return ownStatus(*third) == connected; }, 20));
    EXPECT_EQ(processesRunningFrom(home.root()).size(), 1u);
}
