#include "SystemVPNServiceFixture.h"

#include <fstream>

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

using Platform::TunnelProviderManager;
using Platform::VPNError;

TEST_F(SystemVPNServiceTest, SavedConfigurationsComeBackInTheirOrderInALaterRun)
{
    auto first = configured(*service);
    auto second = configured(*service);
    second->localizedDescription = "second";
    second->isOnDemandEnabled = true;
    EXPECT_FALSE(save(first));
    EXPECT_FALSE(save(second));
    EXPECT_FALSE(first->identifier().empty());
    EXPECT_NE(first->identifier(), second->identifier());
    first->isEnabled = false;
    EXPECT_FALSE(save(first)); // saved again in its place

    struct stat status;
    ASSERT_EQ(::stat(paths.configurations.c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 0777, 0600u);

    auto later = std::make_shared<Platform::SystemVPNService>(paths);
    const auto managers = loadAll(*later);
    ASSERT_EQ(managers.size(), 2u);
    EXPECT_EQ(managers[0]->identifier(), first->identifier());
    EXPECT_FALSE(managers[0]->isEnabled);
    EXPECT_EQ(managers[1]->localizedDescription, "second");
    EXPECT_TRUE(managers[1]->isOnDemandEnabled);
    EXPECT_EQ(managers[1]->protocolConfiguration->providerConfiguration,
              second->protocolConfiguration->providerConfiguration);
    // The extension's one tunnel reports itself, down as nothing runs.
    EXPECT_EQ(posted, (std::vector<int>{1}));
    EXPECT_EQ(managers[0]->connection()->status(), managers[1]->connection()->status());
}

TEST_F(SystemVPNServiceTest, UnsavedStaleAndDamagedConfigurationsAreErrors)
{
    auto manager = configured(*service);
    std::optional<VPNError> error;
    manager->loadFromPreferences([&](const auto &result) { error = result; });
    queue->runUntilIdle();
    ASSERT_TRUE(error);
    EXPECT_EQ(error->code, 1);
    EXPECT_EQ(manager->connection()->startVPNTunnel({})->code, 1);

    manager->protocolConfiguration.reset();
    EXPECT_EQ(save(manager)->code, 1);

    auto stale = std::make_shared<TunnelProviderManager>(service, "not-there");
    stale->loadFromPreferences([&](const auto &result) { error = result; });
    queue->runUntilIdle();
    EXPECT_EQ(error->code, 4);

    std::filesystem::create_directories(paths.configurations.parent_path());
    std::ofstream(paths.configurations) << "{ damaged";
    EXPECT_TRUE(loadAll(*service).empty());
    EXPECT_FALSE(std::filesystem::exists(paths.configurations));
    bool keptAside = false;
    for (const auto &entry : std::filesystem::directory_iterator(paths.configurations.parent_path()))
        keptAside = keptAside
                    || entry.path().filename().string().starts_with(
                        "vpn-configurations.json.corrupt-");
    EXPECT_TRUE(keptAside);
}

TEST_F(SystemVPNServiceTest, AStartIsRefusedAtOnceWhenItCannotHappen)
{
    auto manager = configured(*service);
    save(manager);
    const auto connection = manager->connection();
    EXPECT_EQ(connection, manager->connection()); // one connection per configuration

    const auto missing = connection->startVPNTunnel({});
    ASSERT_TRUE(missing);
    EXPECT_EQ(missing->localizedDescription, "VPN配置无效。找不到已安装的隧道扩展。");

    manager->isEnabled = false;
    save(manager);
    EXPECT_EQ(connection->startVPNTunnel({})->code, 2);
    EXPECT_EQ(connection->status(), Platform::VPNStatus::disconnected);

    auto session = std::dynamic_pointer_cast<Platform::TunnelProviderSession>(connection);
    ASSERT_TRUE(session);
    EXPECT_TRUE(session->sendProviderMessage("Hello", [](const auto &) {}));
}

TEST_F(SystemVPNServiceTest, AStaleSocketReadsAsDisconnected)
{
    auto manager = configured(*service);
    save(manager);
    // A socket file nobody listens on any more, as a crashed provider leaves behind.
    std::filesystem::create_directories(paths.sockets);
    const auto socketPath = paths.sockets / "com.qaromac.wv.sysne.sock";
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, socketPath.c_str(), sizeof address.sun_path - 1);
    ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr *>(&address), sizeof address), 0);
    ::close(fd);
    ASSERT_TRUE(std::filesystem::exists(socketPath));

    auto later = std::make_shared<Platform::SystemVPNService>(paths);
    loadAll(*later);
    EXPECT_EQ(posted, std::vector<int>{Platform::VPNStatus::disconnected});
}

// Names read from the configurations file and the installed Info.json become one path entry
// each or nothing: no socket elsewhere is reached, no program elsewhere started.
TEST_F(SystemVPNServiceTest, NamesFromFilesNeverLeadOutOfTheirDirectories)
{
    std::filesystem::create_directories(paths.sockets);
    const auto outside = paths.sockets.parent_path() / "outside.sock";
    const int listener = ::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, outside.c_str(), sizeof address.sun_path - 1);
    ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr *>(&address), sizeof address), 0);
    ASSERT_EQ(::listen(listener, 4), 0);
    std::filesystem::create_directories(paths.configurations.parent_path());
    std::ofstream(paths.configurations) << R"({"configurations": [{"identifier": "../outside",
        "enabled": true, "protocol": {"kind": "tunnelProvider",
        "providerBundleIdentifier": "com.qaromac.wv.sysne"}}]})";
    const auto extension = paths.installedExtensions / "com.qaromac.wv.sysne.systemextension";
    std::filesystem::create_directories(extension / "Contents");
    std::ofstream(extension / "Contents/Info.json") << R"({"CFBundleExecutable": "/bin/true"})";

    const auto managers = loadAll(*service);
    ASSERT_EQ(managers.size(), 1u);
    EXPECT_EQ(managers[0]->connection()->startVPNTunnel({})->localizedDescription,
              "VPN配置无效。找不到已安装的隧道扩展。");
    EXPECT_LT(::accept(listener, nullptr, nullptr), 0); // nobody came
    ::close(listener);
}

// A configurations file that cannot be read now is an error, and stays as it is.
TEST_F(SystemVPNServiceTest, AnUnreadableFileIsReportedNotReplaced)
{
    std::filesystem::create_directories(paths.configurations / "in-the-way");
    std::optional<VPNError> loadError;
    service->loadAllFromPreferences([&](const auto &, const auto &error) { loadError = error; });
    queue->runUntilIdle();
    ASSERT_TRUE(loadError);
    EXPECT_EQ(loadError->code, 5);
    EXPECT_TRUE(save(configured(*service)));
    EXPECT_TRUE(std::filesystem::is_directory(paths.configurations / "in-the-way"));
}
