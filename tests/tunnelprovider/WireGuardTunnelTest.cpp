// The WireGuard provider in-process: its loop on a thread, the app's side on a socket, the tunnel
// service a stand-in and the backend a loopback server.

#include "LoopbackServer.h"
#include "StandInTunnelService.h"
#include "TemporaryHome.h"

#include "platform/Base64.h"
#include "tunnelprovider/EventLog.h"
#include "tunnelprovider/ListeningSocket.h"
#include "tunnelprovider/Provider.h"
#include "tunnelprovider/TerminationSignal.h"
#include "tunnelprovider/WireGuardTunnel.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <fstream>
#include <iterator>
#include <thread>

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

using namespace TunnelProvider;
using namespace std::chrono_literals;

namespace {

constexpr const char subscription[] = "5f0c7d1e-3b2a-4c5d-9e8f-0a1b2c3da1b2";
constexpr const char node1[] = "203.0.113.10:51820";
constexpr const char node2[] = "203.0.113.20:51820";
constexpr const char node3[] = "203.0.113.30:51820";
constexpr const char node4[] = "203.0.113.40:51820";

nlohmann::json node(const char *name, const char *endpoint, char keyLetter)
{
    return {{"name", name},
            {"endpoint", endpoint},
            {"public_key", std::string(43, keyLetter) + "="}};
}

nlohmann::json goodData()
{
    return {{"addresses", {"198.18.0.2/32"}},
            {"dns", {"198.19.0.53"}},
            {"mtu", 1420},
            {"nodes",
             {node("香港 01", node1, 'A'),
              node("日本 01", node2, 'Q'),
              node("美国 01", node3, 'g'),
              node("新加坡 01", node4, 'w')}},
            {"direct", {"192.0.2.0/24"}}};
}

// The app's end of the provider's socket.
class AppConnection
{
public:
    explicit AppConnection(const std::filesystem::path &socket)
    {
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::strncpy(address.sun_path, socket.c_str(), sizeof address.sun_path - 1);
        m_fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        for (int attempt = 0; attempt < 200; ++attempt) {
            if (::connect(m_fd, reinterpret_cast<const sockaddr *>(&address), sizeof address) == 0)
                return;
            std::this_thread::sleep_for(5ms);
        }
    }
    ~AppConnection() { ::close(m_fd); }

    void send(nlohmann::json request)
    {
        request["id"] = m_nextId++;
        const std::string line = request.dump() + "\n";
        ::send(m_fd, line.data(), line.size(), MSG_NOSIGNAL);
    }
    void message(const std::string &text)
    {
        send({{"type", "message"}, {"data", Platform::Base64::encode(text)}});
    }

    // The next status the provider reports, within the time given; nothing at the connection's
    // end or when time runs out.
    std::optional<nlohmann::json> nextStatus(std::chrono::milliseconds within = 5s)
    {
        const auto deadline = std::chrono::steady_clock::now() + within;
        for (;;) {
            for (std::size_t end = m_input.find('\n'); end != std::string::npos;
                 end = m_input.find('\n')) {
                nlohmann::json line = nlohmann::json::parse(m_input.substr(0, end));
                m_input.erase(0, end + 1);
                if (line.value("type", "") == "status")
                    return line;
            }
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now());
            pollfd polled{m_fd, POLLIN, 0};
            if (left.count() <= 0 || ::poll(&polled, 1, int(left.count())) <= 0)
                return std::nullopt;
            char chunk[4096];
            const ssize_t count = ::recv(m_fd, chunk, sizeof chunk, 0);
            if (count <= 0)
                return std::nullopt;
            m_input.append(chunk, std::size_t(count));
        }
    }

private:
    int m_fd = -1;
    long m_nextId = 1;
    std::string m_input;
};

class WireGuardTunnelTest : public ::testing::Test
{
protected:
    WireGuardTunnelTest()
    {
        backend.server().Post("/api/public/sub/getTunnel",
                              [this](const httplib::Request &request, httplib::Response &response) {
                                  std::lock_guard lock(m_mutex);
                                  m_registered = nlohmann::json::parse(request.body, nullptr, false);
                                  response.set_content(backendBody, "application/json");
                              });
        backend.start();
        service.setAnswering({node1, node2, node3, node4});
    }

    ~WireGuardTunnelTest() override
    {
        // A provider still running is stopped; one that ended by itself has left its loop.
        if (m_thread.joinable())
            stopAndWait();
    }

    void answerWith(const nlohmann::json &data)
    {
        std::lock_guard lock(m_mutex);
        backendBody = nlohmann::json{{"code", 0}, {"msg", "ok"}, {"data", data}}.dump();
    }

    // Starts the provider as the app would, with the given node and mode, and connects to it.
    void start(const std::string &nodeName,
               const std::string &mode = "rule",
               std::filesystem::path serviceSocket = {})
    {
        StartOptions options;
        options.subuuid = subscription;
        options.host = backend.origin();
        options.nodeName = nodeName;
        options.tunMode = *routingModeFromName(mode);
        WireGuardTunnel::Settings settings{serviceSocket.empty() ? service.socket() : serviceSocket,
                                           keyFile};
        settings.handshakeWait = 150ms;
        ASSERT_TRUE(m_socket.listen(providerSocket)) << m_socket.error();
        m_tunnel = std::make_unique<WireGuardTunnel>(m_log, options, settings);
        m_provider = std::make_unique<Provider>(m_socket, m_termination, m_log, *m_tunnel);
        m_thread = std::thread([this] { m_provider->run(); });
        app = std::make_unique<AppConnection>(providerSocket);
        app->send({{"type", "subscribe"}});
        initial = app->nextStatus();
        ASSERT_TRUE(initial);
    }

    void stopAndWait()
    {
        app->send({{"type", "stop"}});
        m_thread.join();
    }

    // The status after the provider's start or a message, skipping nothing.
    int nextStatus()
    {
        return app->nextStatus().value_or(nlohmann::json{{"status", -1}})["status"];
    }

    std::string logText() const
    {
        std::ifstream file(home.root() / "provider.log");
        return {std::istreambuf_iterator<char>(file), {}};
    }

    TemporaryHome home;
    std::filesystem::path keyFile = home.dataHome() / "wireguard" / "device.key";
    std::filesystem::path providerSocket = home.runtimeDirectory() / "provider.sock";
    StandInTunnelService service{home.runtimeDirectory() / "service.sock"};
    LoopbackServer backend;
    std::string backendBody;
    std::unique_ptr<AppConnection> app;
    std::optional<nlohmann::json> initial; // the answer to subscribing

    // What the provider last sent the backend.
    nlohmann::json registered()
    {
        std::lock_guard lock(m_mutex);
        return m_registered;
    }

private:
    std::mutex m_mutex;
    nlohmann::json m_registered;
    TerminationSignal m_termination;
    EventLog m_log{home.root() / "provider.log"};
    ListeningSocket m_socket;
    std::unique_ptr<WireGuardTunnel> m_tunnel;
    std::unique_ptr<Provider> m_provider;
    std::thread m_thread;
};

} // namespace

TEST_F(WireGuardTunnelTest, ConnectsThroughTheChosenNodeSwitchesLiveAndStops)
{
    answerWith(goodData());
    start("日本 01");
    EXPECT_EQ((*initial)["status"], 2);
    ASSERT_EQ(nextStatus(), 3);

    // The backend got the public key only; the service got the private key, the named node and
    // the direct list of rule mode.
    std::ifstream keyStream(keyFile);
    std::string privateKey;
    keyStream >> privateKey;
    EXPECT_EQ(registered()["sub_uuid"], subscription);
    EXPECT_EQ(registered()["public_key"].get<std::string>().size(), 44u);
    EXPECT_NE(registered()["public_key"], privateKey);
    const auto ups = service.requestsOf("up");
    ASSERT_EQ(ups.size(), 1u);
    const nlohmann::json &tunnel = ups[0]["tunnel"];
    EXPECT_EQ(tunnel["privateKey"], privateKey);
    EXPECT_EQ(tunnel["peer"]["endpoint"], node2);
    EXPECT_EQ(tunnel["addresses"], nlohmann::json({"198.18.0.2/32"}));
    EXPECT_EQ(tunnel["mode"], "rule");
    EXPECT_EQ(tunnel["direct"], nlohmann::json({"192.0.2.0/24"}));

    app->message("switchNode.香港 01");
    app->message("tunMode.global");
    app->message("tunMode.rule");
    app->message("switchNode.no such node");
    stopAndWait();
    const auto peers = service.requestsOf("peer");
    ASSERT_EQ(peers.size(), 1u);
    EXPECT_EQ(peers[0]["peer"]["endpoint"], node1);
    const auto modes = service.requestsOf("mode");
    ASSERT_EQ(modes.size(), 2u);
    EXPECT_EQ(modes[0],
              (nlohmann::json{{"type", "mode"}, {"mode", "global"}, {"id", modes[0]["id"]}}));
    EXPECT_EQ(modes[1]["direct"], nlohmann::json({"192.0.2.0/24"}));
    EXPECT_EQ(service.requestsOf("down").size(), 1u);
    EXPECT_EQ(nextStatus(), 5);
    EXPECT_EQ(nextStatus(), 1);

    const std::string log = logText();
    EXPECT_EQ(log.find(subscription), std::string::npos) << log;
    EXPECT_EQ(log.find(privateKey), std::string::npos) << log;
    EXPECT_NE(log.find("5f0c****a1b2"), std::string::npos) << log;
}

TEST_F(WireGuardTunnelTest, SilentNodesGiveWayToTheNextThreeAtMost)
{
    answerWith(goodData());
    service.setAnswering({node3});
    start("");
    // Automatic: the fastest first; the silent ones give way in turn.
    service.setLatencies({{node1, 9.0}, {node2, 3.0}, {node3, 40.0}, {node4, std::nullopt}});
    ASSERT_EQ(nextStatus(), 3);
    ASSERT_EQ(service.requestsOf("up").size(), 1u);
    EXPECT_EQ(service.requestsOf("up")[0]["tunnel"]["peer"]["endpoint"], node2);
    ASSERT_EQ(service.requestsOf("peer").size(), 2u);
    EXPECT_EQ(service.requestsOf("peer")[0]["peer"]["endpoint"], node1);
    EXPECT_EQ(service.requestsOf("peer")[1]["peer"]["endpoint"], node3);
    stopAndWait();
}

TEST_F(WireGuardTunnelTest, NoNodeAnsweringEndsWithTheReason)
{
    answerWith(goodData());
    service.setAnswering({node4});
    start("香港 01");
    const std::optional<nlohmann::json> down = app->nextStatus();
    ASSERT_TRUE(down);
    EXPECT_EQ((*down)["status"], 1);
    EXPECT_NE((*down)["reason"].get<std::string>().find("没有节点响应"), std::string::npos);
    // The fourth node, the one that would have answered, is never tried.
    EXPECT_EQ(service.requestsOf("peer").size(), 2u);
    EXPECT_FALSE(app->nextStatus(500ms));
}

TEST_F(WireGuardTunnelTest, AnotherSubscriptionFetchesTheTunnelDataAgain)
{
    answerWith(goodData());
    start("香港 01");
    ASSERT_EQ(nextStatus(), 3);
    nlohmann::json moved = goodData();
    moved["nodes"][0]["endpoint"] = node3;
    answerWith(moved);
    app->message(std::string("subuuid.") + subscription); // the same one: nothing to fetch
    app->message("subuuid.0a1b2c3d-0000-4000-8000-00000000beef");
    const auto deadline = std::chrono::steady_clock::now() + 5s;
    while (service.requestsOf("peer").empty() && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(5ms);
    ASSERT_EQ(service.requestsOf("peer").size(), 1u);
    EXPECT_EQ(service.requestsOf("peer")[0]["peer"]["endpoint"], node3);
    EXPECT_EQ(registered()["sub_uuid"], "0a1b2c3d-0000-4000-8000-00000000beef");
}

TEST_F(WireGuardTunnelTest, AMissingOrVanishingServiceIsTheReason)
{
    answerWith(goodData());
    start("", "rule", home.runtimeDirectory() / "no-service.sock");
    // Down before the app subscribed: the reason waits for it.
    EXPECT_EQ((*initial)["status"], 1);
    EXPECT_NE(initial->value("reason", "").find("隧道服务未安装"), std::string::npos) << *initial;
}

TEST_F(WireGuardTunnelTest, TheServiceEndingTheConnectionEndsTheTunnel)
{
    answerWith(goodData());
    start("香港 01");
    ASSERT_EQ(nextStatus(), 3);
    service.hangUp();
    const std::optional<nlohmann::json> down = app->nextStatus();
    ASSERT_TRUE(down);
    EXPECT_EQ((*down)["status"], 1);
    EXPECT_NE((*down)["reason"].get<std::string>().find("隧道服务"), std::string::npos);
}

// Backend data that must never reach the service, and what the reason names.
struct HostileCase
{
    const char *name;
    nlohmann::json data;
    std::string named;
};

void PrintTo(const HostileCase &hostile, std::ostream *out)
{
    *out << hostile.data.dump();
}

class HostileTunnelDataTest
    : public WireGuardTunnelTest
    , public ::testing::WithParamInterface<HostileCase>
{ };

TEST_P(HostileTunnelDataTest, EndsWithAReasonBeforeTheServiceIsAsked)
{
    answerWith(GetParam().data);
    start("");
    const std::optional<nlohmann::json> down = (*initial)["status"] == 1 ? initial
                                                                         : app->nextStatus();
    ASSERT_TRUE(down);
    EXPECT_EQ((*down)["status"], 1);
    EXPECT_NE(down->value("reason", "").find(GetParam().named), std::string::npos) << *down;
    EXPECT_TRUE(service.requests().empty());
}

const nlohmann::json address = {"198.18.0.2/32"};
const nlohmann::json noNodes = nlohmann::json::array();

INSTANTIATE_TEST_SUITE_P(
    Cases,
    HostileTunnelDataTest,
    ::testing::Values(
        HostileCase{"NotAnObject", nlohmann::json::array(), "not an object"},
        HostileCase{"AddressesNotAList",
                    {{"addresses", "198.18.0.2/32"}, {"nodes", noNodes}},
                    "addresses"},
        HostileCase{"NoAddress", {{"nodes", noNodes}}, "no address"},
        HostileCase{"EndpointWithoutPort",
                    {{"addresses", address}, {"nodes", {node("a", "203.0.113.10", 'A')}}},
                    "endpoint"},
        HostileCase{"EndpointByName",
                    {{"addresses", address}, {"nodes", {node("a", "host.example:51820", 'A')}}},
                    "endpoint"},
        HostileCase{"ShortKey",
                    {{"addresses", address},
                     {"nodes", {{{"name", "a"}, {"endpoint", node1}, {"public_key", "AAAA"}}}}},
                    "public key"},
        HostileCase{"NameNotText", {{"addresses", address}, {"nodes", {{{"name", 5}}}}}, "no name"},
        HostileCase{"NodesNotAList", {{"addresses", address}, {"nodes", "none"}}, "nodes"},
        HostileCase{"MtuBelowRange",
                    {{"addresses", address}, {"mtu", 1279}, {"nodes", noNodes}},
                    "mtu"},
        HostileCase{"MtuAsText",
                    {{"addresses", address}, {"mtu", "1420"}, {"nodes", noNodes}},
                    "mtu"},
        HostileCase{"DirectWithHostBits",
                    {{"addresses", address}, {"direct", {"192.0.2.1/24"}}, {"nodes", noNodes}},
                    "network"},
        HostileCase{"NoNodes", {{"addresses", address}, {"nodes", noNodes}}, "没有可用的节点"}),
    [](const ::testing::TestParamInfo<HostileCase> &info) { return std::string(info.param.name); });
