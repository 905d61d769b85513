#include "BackendClient.h"
#include "DeviceHook.h"
#include "DeviceRegistry.h"

#include <gtest/gtest.h>

#include <fstream>

using nlohmann::json;

namespace {

const std::string GetTunnel = "/api/public/sub/getTunnel";
const std::string Demo = "demo@orvane.test";
constexpr std::int64_t GigaByte = std::int64_t(1024) * 1024 * 1024;

json node(const std::string &name)
{
    return {{"name", name}, {"endpoint", "203.0.113.10:51820"}, {"public_key", publicKeyOf('N')}};
}

json tunnelRequest(const std::string &uuid, const std::string &key)
{
    return {{"sub_uuid", uuid}, {"public_key", key}};
}

json namesOf(const json &nodes)
{
    json names = json::array();
    for (const json &node : nodes)
        names.push_back(node["name"]);
    return names;
}

std::filesystem::path script(const std::filesystem::path &path, const std::string &body)
{
    std::ofstream(path) << "#!/bin/sh\n" << body << "\n";
    std::filesystem::permissions(path, std::filesystem::perms::owner_all);
    return path;
}

} // namespace

TEST(DevBackendTunnelTest, RegistersKeysAndAnswersTheSubscriptionsNodes)
{
    InProcessBackend server;
    BackendClient &client = server.client;
    ASSERT_EQ(codeOf(client.post("/_dev/users", {{"email", Demo}, {"sub_uuid", "demo-uuid"}})), 0);
    ASSERT_EQ(codeOf(client.post("/_dev/users",
                                 {{"email", "free@example.com"},
                                  {"expiry_days", 30},
                                  {"sub_uuid", "free-uuid"}})),
              0);
    const json nodes = json::array(
        {node("香港 02"), node("Elsewhere 01"), node("香港 01"), node("日本 01")});
    ASSERT_EQ(codeOf(client.post("/_dev/tunnel", {{"nodes", nodes}})), 0);

    json expected = json::parse(R"({"addresses": ["198.18.0.2/32"], "dns": ["198.19.0.53"],
                                    "mtu": 1420, "direct": []})");
    expected["nodes"] = json::array({node("香港 01"), node("香港 02"), node("日本 01")});
    const std::string first = publicKeyOf('B');
    EXPECT_EQ(client.post(GetTunnel, tunnelRequest("demo-uuid", first))["data"], expected);
    EXPECT_EQ(client.post(GetTunnel, tunnelRequest("demo-uuid", first))["data"], expected);

    // A level-0 subscription gets its first two names; each new key the next address.
    const json second = client.post(GetTunnel, tunnelRequest("free-uuid", publicKeyOf('C')));
    EXPECT_EQ(second["data"]["addresses"], json::array({"198.18.0.3/32"})) << second.dump();
    EXPECT_EQ(namesOf(second["data"]["nodes"]), json({"香港 01", "香港 02"}));
    EXPECT_EQ(client.post(GetTunnel, tunnelRequest("free-uuid", first))["data"]["addresses"],
              json::array({"198.18.0.2/32"}));

    const json fixed = json::parse(R"({"addresses": ["10.7.0.2/32", "fd00::2/128"],
                                       "dns": ["9.9.9.9"], "mtu": 1280,
                                       "direct": ["192.0.2.0/24"], "nodes": []})");
    ASSERT_EQ(codeOf(client.post("/_dev/tunnel", fixed)), 0);
    EXPECT_EQ(client.post(GetTunnel, tunnelRequest("demo-uuid", first))["data"], fixed);

    // A raw answer goes out verbatim, and the key is registered all the same.
    const json raw = {{"mtu", "big"}, {"nodes", {1, 2}}};
    ASSERT_EQ(codeOf(client.post("/_dev/tunnel", {{"raw", raw}})), 0);
    EXPECT_EQ(client.post(GetTunnel, tunnelRequest("demo-uuid", publicKeyOf('D')))["data"], raw);
    ASSERT_EQ(codeOf(client.post("/_dev/tunnel", {{"raw", nullptr}, {"addresses", nullptr}})), 0);
    EXPECT_EQ(client.post(GetTunnel,
                          tunnelRequest("demo-uuid", publicKeyOf('D')))["data"]["addresses"],
              json::array({"198.18.0.4/32"}));
    const auto device = [](char fill, const std::string &address) {
        return json{{"public_key", publicKeyOf(fill)}, {"addresses", json::array({address})}};
    };
    EXPECT_EQ(client.get("/_dev/tunnel")["data"]["devices"],
              json::array({device('B', "198.18.0.2/32"),
                           device('C', "198.18.0.3/32"),
                           device('D', "198.18.0.4/32")}));
    EXPECT_EQ(client.get("/_dev/requests")["data"].back()["path"], GetTunnel);

    const std::string log = server.stopAndReadLog();
    const std::string registered = "devbackend: device BBBB****BBA= registered as 198.18.0.2/32\n";
    EXPECT_NE(log.find(registered), std::string::npos) << log;
    EXPECT_EQ(log.find(registered), log.rfind(registered)) << log;
    EXPECT_NE(log.find("devbackend: POST " + GetTunnel + " -> 0\n"), std::string::npos) << log;
    EXPECT_EQ(log.find("demo-uuid"), std::string::npos) << log;
    EXPECT_EQ(log.find(first), std::string::npos) << log;
}

TEST(DevBackendTunnelTest, RefusesBadKeysAndClosedSubscriptions)
{
    InProcessBackend server;
    BackendClient &client = server.client;
    const auto change = [&](json members) {
        members["email"] = Demo;
        ASSERT_EQ(codeOf(client.post("/_dev/users", members)), 0) << members.dump();
    };
    const auto codeFor = [&](const std::string &uuid) {
        return codeOf(client.post(GetTunnel, tunnelRequest(uuid, publicKeyOf('K'))));
    };
    change({{"sub_uuid", "demo-uuid"}});

    const std::string key = publicKeyOf('K');
    for (const std::string &bad : {key.substr(0, 43),
                                   key + "A",
                                   std::string(42, '*') + "A=",
                                   std::string(42, 'A') + "==", // 31 bytes
                                   std::string(42, 'A') + "B="}) {
        EXPECT_EQ(codeOf(client.post(GetTunnel, tunnelRequest("demo-uuid", bad))), 10000) << bad;
    }
    for (const std::string body : {R"({"sub_uuid": "demo-uuid"})",
                                   R"({"sub_uuid": "demo-uuid", "public_key": 5})",
                                   "not json"}) {
        const httplib::Result reply = client.http().Post(GetTunnel, body, "application/json");
        ASSERT_TRUE(reply);
        EXPECT_EQ(codeOf(json::parse(reply->body, nullptr, false)), 10000) << body;
    }

    EXPECT_EQ(codeFor("other-uuid"), 10006);
    EXPECT_EQ(codeFor(""), 10006);
    change({{"has_service", false}});
    EXPECT_EQ(codeFor("demo-uuid"), 10006);
    change({{"has_service", true}, {"expiry_days", -1}, {"used_up", 100 * GigaByte}});
    EXPECT_EQ(codeFor("demo-uuid"), 10007);
    change({{"service_status", true}});
    EXPECT_EQ(codeFor("demo-uuid"), 10008);
    change({{"used_up", 100 * GigaByte - 1}});
    EXPECT_EQ(codeFor("demo-uuid"), 0);
    change({{"sub_status", false}});
    EXPECT_EQ(codeFor("demo-uuid"), 10008);

    // Refused requests registered nothing.
    EXPECT_EQ(client.get("/_dev/tunnel")["data"]["devices"].size(), 1u);

    ASSERT_EQ(codeOf(client.post("/_dev/faults",
                                 {{"path", GetTunnel}, {"kind", "500"}, {"times", 1}})),
              0);
    const httplib::Result faulted = client.http().Post(GetTunnel, "{}", "application/json");
    ASSERT_TRUE(faulted);
    EXPECT_EQ(faulted->status, 500);
}

TEST(DevBackendTunnelTest, AdminCallRefusesBadShapesAndNullResets)
{
    InProcessBackend server;
    BackendClient &client = server.client;
    const json defaults = json::parse(R"({"nodes": [], "direct": [], "dns": ["198.19.0.53"],
                                          "mtu": 1420, "addresses": null, "raw": null,
                                          "devices": []})");
    EXPECT_EQ(client.get("/_dev/tunnel")["data"], defaults);

    json settings = json::parse(R"({"direct": ["192.0.2.0/24"], "dns": ["9.9.9.9"], "mtu": 9000,
                                    "addresses": ["10.0.0.2/32"], "raw": {"any": [1]}})");
    settings["nodes"] = json::array({node("A 01")});
    settings["devices"] = json::array();
    json sent = settings;
    sent.erase("devices");
    EXPECT_EQ(client.post("/_dev/tunnel", sent)["data"], settings);

    for (const std::string body :
         {R"("text")",
          R"({"colour": "red"})",
          R"({"nodes": null})",
          R"({"nodes": {"name": "B 01", "endpoint": "x", "public_key": "y"}})",
          R"({"nodes": [{"name": "B 01", "endpoint": "x"}]})",
          R"({"nodes": [{"name": "B 01", "endpoint": "x", "public_key": "y", "port": 1}]})",
          R"({"nodes": [{"name": "", "endpoint": "x", "public_key": "y"}]})",
          R"({"nodes": [{"name": "B 01", "endpoint": 5, "public_key": "y"}]})",
          R"({"direct": [1]})",
          R"({"dns": "9.9.9.9"})",
          R"({"mtu": "1420"})",
          R"({"mtu": 1.5})",
          R"({"mtu": 5000000000})",
          R"({"addresses": [null]})",
          R"({"mtu": 1280, "dns": 5})"}) {
        const httplib::Result reply = client.http().Post("/_dev/tunnel", body, "application/json");
        ASSERT_TRUE(reply);
        EXPECT_EQ(codeOf(json::parse(reply->body, nullptr, false)), 10000) << body;
    }
    EXPECT_EQ(client.get("/_dev/tunnel")["data"], settings);

    const json reset = client.post("/_dev/tunnel",
                                   json::parse(R"({"direct": null, "dns": null, "mtu": null,
                                                   "addresses": null, "raw": null})"));
    json expected = defaults;
    expected["nodes"] = settings["nodes"];
    EXPECT_EQ(reset["data"], expected);
    EXPECT_EQ(client.post("/_dev/tunnel", {{"nodes", json::array()}})["data"], defaults);
}

TEST(DevBackendTunnelTest, DeviceAddressesStayInside198_18)
{
    Dev::DeviceRegistry registry;
    for (int i = 0; i < 65533; ++i)
        ASSERT_TRUE(registry.add("key " + std::to_string(i))) << i;
    EXPECT_EQ(registry.addressOf("key 253"), "198.18.0.255/32");
    EXPECT_EQ(registry.addressOf("key 254"), "198.18.1.0/32");
    EXPECT_EQ(registry.addressOf("key 65532"), "198.18.255.254/32");
    EXPECT_EQ(registry.nextAddress(), std::nullopt);
    EXPECT_EQ(registry.add("one more"), std::nullopt);
    EXPECT_EQ(registry.add("key 7"), "198.18.0.9/32");
}

TEST(DevBackendTunnelTest, DeviceHookSaysWhyItFailed)
{
    TemporaryHome home;
    const auto run = [](const Dev::DeviceHook &hook) {
        return hook.run(publicKeyOf('B'), {"198.18.0.2/32"});
    };
    EXPECT_EQ(run(Dev::DeviceHook(script(home.root() / "fine", "exit 0"))), "");
    const std::filesystem::path failing = script(home.root() / "failing", "exit 3");
    EXPECT_EQ(run(Dev::DeviceHook(failing)), failing.string() + " exited with code 3");
    const std::filesystem::path hanging = script(home.root() / "hanging", "sleep 600");
    EXPECT_EQ(run(Dev::DeviceHook(hanging, std::chrono::milliseconds(50))),
              hanging.string() + " did not finish within 50 ms");
    const std::filesystem::path missing = home.root() / "missing";
    EXPECT_EQ(run(Dev::DeviceHook(missing)),
              "cannot start " + missing.string() + ": No such file or directory");
}
