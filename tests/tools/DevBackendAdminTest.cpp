#include "BackendClient.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

using nlohmann::json;

namespace {

const std::string Login = "/api/public/user/login";
const std::string UserInfo = "/api/customer/user/getUserInfo";
const std::string ServiceList = "/api/customer/customerService/getCustomerServiceList";
const std::string NodeNames = "/api/public/sub/getNodeNames";
const std::string PublicSetting = "/api/public/server/getPublicSetting";
const std::string SubscribeNodes = "/api/customer/customerService/getSubscribeNodeList";
const std::string Demo = "demo@orvane.test";
constexpr std::int64_t GigaByte = std::int64_t(1024) * 1024 * 1024;

json nodeNamesOf(const json &nodes)
{
    json names = json::array();
    for (const json &node : nodes)
        names.push_back(node["remarks"]);
    return names;
}

} // namespace

TEST(DevBackendAdminTest, ServiceGatesFollowAdminChanges)
{
    InProcessBackend server;
    BackendClient &client = server.client;
    const std::string token = client.signIn(Demo, "demo123456");
    const auto service = [&] {
        const json services = client.get(ServiceList, token)["data"];
        EXPECT_EQ(services.size(), 1u) << services.dump();
        return services.empty() ? json::object() : services[0];
    };
    const auto change = [&](json members) {
        members["email"] = Demo;
        const json reply = client.post("/_dev/users", members);
        EXPECT_EQ(codeOf(reply), 0) << members.dump() << " -> " << reply.dump();
        return reply["data"];
    };

    const json expired = change({{"expiry_days", -1}});
    EXPECT_EQ(expired["user_name"], Demo);
    EXPECT_EQ(service()["service_status"], false);
    EXPECT_EQ(service()["sub_status"], true);

    change({{"expiry_days", 30}, {"used_up", 60 * GigaByte}, {"used_down", 40 * GigaByte}});
    EXPECT_EQ(service()["service_status"], true);
    EXPECT_EQ(service()["sub_status"], false);
    EXPECT_EQ(service()["used_up"], 60 * GigaByte);
    change({{"used_down", 40 * GigaByte - 1}});
    EXPECT_EQ(service()["sub_status"], true);

    change({{"service_status", false}, {"sub_status", false}});
    EXPECT_EQ(service()["service_status"], false);
    EXPECT_EQ(service()["sub_status"], false);
    change({{"service_status", nullptr}, {"sub_status", nullptr}, {"expiry_days", -1}});
    EXPECT_EQ(service()["service_status"], false);
    EXPECT_EQ(service()["sub_status"], true);
    change({{"service_status", true}});
    EXPECT_EQ(service()["service_status"], true);

    change({{"sub_uuid", nullptr}});
    EXPECT_FALSE(service().contains("sub_uuid")) << service().dump();
    change({{"sub_uuid", "fixed-uuid"}, {"total_bandwidth", 5 * GigaByte}});
    EXPECT_EQ(service()["sub_uuid"], "fixed-uuid");
    EXPECT_EQ(service()["total_bandwidth"], 5 * GigaByte);

    const int serviceId = service()["id"];
    change({{"has_service", false}});
    EXPECT_EQ(client.get(ServiceList, token)["data"], json::array());
    EXPECT_EQ(client.get(SubscribeNodes + "?id=" + std::to_string(serviceId), token)["data"],
              json::array());
    change({{"has_service", true}});
    EXPECT_EQ(service()["id"], serviceId);

    const json dated = change({{"member_expiry_at", "2030-01-02T03:04:05+08:00"}});
    EXPECT_EQ(dated["member_expiry_at"], "2030-01-02T03:04:05+08:00");
    change({{"member_expiry_at", "2030-01-02T03:04:05Z"}});
    EXPECT_EQ(client.get(UserInfo, token)["data"]["member_expiry_at"], "2030-01-02T11:04:05+08:00");

    // A new account takes the default password; a bad call changes nothing.
    const json made = client.post("/_dev/users",
                                  {{"email", "made@example.com"},
                                   {"member_level", 2},
                                   {"expiry_days", 10}});
    ASSERT_EQ(codeOf(made), 0) << made.dump();
    EXPECT_EQ(made["data"]["member_level"], 2);
    EXPECT_EQ(codeOf(client.get(UserInfo, client.signIn("made@example.com", "demo123456"))), 0);
    EXPECT_EQ(codeOf(client.post("/_dev/users",
                                 {{"email", "other@example.com"}, {"member_level", "high"}})),
              10000);
    EXPECT_EQ(codeOf(client.post(Login,
                                 {{"user_name", "other@example.com"}, {"password", "demo123456"}})),
              10001);
    EXPECT_EQ(codeOf(client.post("/_dev/users", {{"email", Demo}, {"levle", 1}})), 10000);
    EXPECT_EQ(codeOf(client.post("/_dev/users", {{"email", "not-an-email"}})), 10004);
    EXPECT_EQ(codeOf(client.post("/_dev/users", {{"email", Demo}, {"member_expiry_at", "soon"}})),
              10000);
}

TEST(DevBackendAdminTest, NodeListsAndBackendUrlsFollowAdminChanges)
{
    InProcessBackend server;
    BackendClient &client = server.client;
    const std::string token = client.signIn(Demo, "demo123456");
    const std::string nodesTarget = SubscribeNodes + "?id="
                                    + std::to_string(
                                        client.get(ServiceList, token)["data"][0]["id"].get<int>());
    ASSERT_EQ(codeOf(client.post("/_dev/users", {{"email", "free@example.com"}})), 0);
    const std::string freeToken = client.signIn("free@example.com", "demo123456");
    const std::string freeTarget
        = SubscribeNodes
          + "?id=" + std::to_string(client.get(ServiceList, freeToken)["data"][0]["id"].get<int>());

    ASSERT_EQ(codeOf(client.post("/_dev/nodes", {{"all", {"A 01", "B 01", "C 01"}}})), 0);
    EXPECT_EQ(client.get(NodeNames)["data"], json({"A 01", "B 01", "C 01"}));
    EXPECT_EQ(client.get(nodesTarget, token)["data"],
              json::parse(R"([{"remarks": "A 01", "id": 1}, {"remarks": "B 01", "id": 2},
                              {"remarks": "C 01", "id": 3}])"));
    EXPECT_EQ(nodeNamesOf(client.get(freeTarget, freeToken)["data"]), json({"A 01", "B 01"}));

    ASSERT_EQ(codeOf(client.post("/_dev/nodes", {{"subscription", {"C 01", "Z 09"}}})), 0);
    EXPECT_EQ(client.get(nodesTarget, token)["data"],
              json::parse(R"([{"remarks": "C 01", "id": 3}, {"remarks": "Z 09", "id": 4}])"));
    EXPECT_EQ(nodeNamesOf(client.get(freeTarget, freeToken)["data"]), json({"C 01", "Z 09"}));
    ASSERT_EQ(codeOf(client.post("/_dev/nodes", {{"subscription", nullptr}})), 0);
    EXPECT_EQ(nodeNamesOf(client.get(freeTarget, freeToken)["data"]), json({"A 01", "B 01"}));
    EXPECT_EQ(codeOf(client.post("/_dev/nodes", {{"all", "A 01"}})), 10000);

    EXPECT_EQ(client.get(PublicSetting)["data"]["backend_url"], server.backend.baseUrl());
    ASSERT_EQ(codeOf(client.post("/_dev/public-setting",
                                 {{"backend_url", "http://127.0.0.1:1\nhttp://127.0.0.1:2"}})),
              0);
    EXPECT_EQ(client.get(PublicSetting)["data"]["backend_url"],
              "http://127.0.0.1:1\nhttp://127.0.0.1:2");
    ASSERT_EQ(codeOf(client.post("/_dev/public-setting", {{"backend_url", nullptr}})), 0);
    EXPECT_EQ(client.get(PublicSetting)["data"]["backend_url"], server.backend.baseUrl());
}

TEST(DevBackendAdminTest, FaultsAnswerTheNextMatchingRequests)
{
    InProcessBackend server;
    BackendClient &client = server.client;
    httplib::Client &http = client.http();
    const auto fault = [&](const std::string &kind, json extra = json::object()) {
        extra["path"] = NodeNames;
        extra["kind"] = kind;
        const json reply = client.post("/_dev/faults", extra);
        EXPECT_EQ(codeOf(reply), 0) << extra.dump() << " -> " << reply.dump();
    };
    const auto answersNormally = [&] {
        const httplib::Result reply = http.Get(NodeNames);
        return reply && reply->status == 200
               && codeOf(json::parse(reply->body, nullptr, false)) == 0;
    };

    fault("non-json", {{"times", 1}});
    httplib::Result reply = http.Get(NodeNames);
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->status, 200);
    EXPECT_EQ(reply->body, "<html>oops</html>");
    EXPECT_TRUE(answersNormally());

    fault("empty", {{"times", 1}});
    reply = http.Get(NodeNames);
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->status, 200);
    EXPECT_EQ(reply->body, "");

    fault("204", {{"times", 1}});
    reply = http.Get(NodeNames);
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->status, 204);
    EXPECT_EQ(reply->body, "");

    fault("500", {{"times", 1}});
    reply = http.Get(NodeNames);
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->status, 500);
    EXPECT_EQ(json::parse(reply->body, nullptr, false),
              json::parse(R"({"code": 500, "msg": "服务器内部错误", "data": null})"));

    fault("40101", {{"times", 1}});
    reply = http.Get(NodeNames);
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->status, 200);
    EXPECT_EQ(codeOf(json::parse(reply->body, nullptr, false)), 40101);

    fault("redirect", {{"times", 1}});
    reply = http.Get(NodeNames);
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->status, 302);
    EXPECT_EQ(reply->get_header_value("Location"), "http://127.0.0.1:1/elsewhere");
    EXPECT_TRUE(json::parse(reply->body, nullptr, false).contains("code")) << reply->body;

    fault("delay", {{"delay_ms", 20}, {"times", 1}});
    EXPECT_TRUE(answersNormally());

    // "times" counts requests to that path only; without it the fault stays until cleared.
    fault("500", {{"times", 2}});
    EXPECT_EQ(codeOf(client.get(PublicSetting)), 0);
    EXPECT_FALSE(answersNormally());
    EXPECT_FALSE(answersNormally());
    EXPECT_TRUE(answersNormally());
    fault("empty");
    for (int i = 0; i < 3; ++i)
        EXPECT_FALSE(answersNormally());
    ASSERT_EQ(codeOf(client.remove("/_dev/faults")), 0);
    EXPECT_TRUE(answersNormally());

    EXPECT_EQ(codeOf(client.post("/_dev/faults", {{"path", NodeNames}, {"kind", "explode"}})),
              10000);
    EXPECT_EQ(codeOf(client.post("/_dev/faults",
                                 {{"path", NodeNames}, {"kind", "500"}, {"times", 0}})),
              10000);
    EXPECT_TRUE(answersNormally());
}

TEST(DevBackendAdminTest, StoppingCutsADelayedReplyShort)
{
    InProcessBackend server;
    ASSERT_EQ(codeOf(server.client.post("/_dev/faults",
                                        {{"path", NodeNames},
                                         {"kind", "delay"},
                                         {"delay_ms", 600000}})),
              0);
    std::thread waiting([url = server.backend.baseUrl()] {
        httplib::Client client(url);
        client.set_read_timeout(std::chrono::minutes(15));
        client.Get(NodeNames);
    });
    // Once the backend has recorded the request, its reply is being held back.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (server.client.get("/_dev/requests")["data"].empty()
           && std::chrono::steady_clock::now() < deadline) {
    }
    EXPECT_FALSE(server.client.get("/_dev/requests")["data"].empty());

    // Hangs (and the test times out) when the delay outlives stop().
    server.backend.stop();
    waiting.join();
}

TEST(DevBackendAdminTest, RecordsApiRequestsAsSent)
{
    InProcessBackend server;
    BackendClient &client = server.client;
    httplib::Client &http = client.http();
    const json body = {{"user_name", Demo},
                       {"password", "demo123456"},
                       {"email_code", ""},
                       {"device_id", "device-1"}};

    ASSERT_TRUE(http.Post(Login, {{"X-Client-Version", "1.0.0"}}, body.dump(), "application/json"));
    ASSERT_TRUE(http.Get(SubscribeNodes + "?id=1001", {{"token", "abc"}}));
    client.get("/_dev/codes?email=" + Demo);

    const json requests = client.get("/_dev/requests")["data"];
    ASSERT_EQ(requests.size(), 2u) << requests.dump();
    EXPECT_EQ(requests[0]["method"], "POST");
    EXPECT_EQ(requests[0]["path"], Login);
    EXPECT_EQ(requests[0]["headers"]["x-client-version"], "1.0.0");
    EXPECT_EQ(requests[0]["headers"]["content-type"], "application/json");
    EXPECT_EQ(requests[0]["body"], body);
    EXPECT_EQ(requests[1]["method"], "GET");
    EXPECT_EQ(requests[1]["path"], SubscribeNodes);
    EXPECT_EQ(requests[1]["target"], SubscribeNodes + "?id=1001");
    EXPECT_EQ(requests[1]["headers"]["token"], "abc");
    EXPECT_TRUE(requests[1]["body"].is_null());

    ASSERT_EQ(codeOf(client.remove("/_dev/requests")), 0);
    EXPECT_EQ(client.get("/_dev/requests")["data"], json::array());
}
