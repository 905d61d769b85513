#include "tunnelprovider/NodeChoice.h"
#include "tunnelprovider/TunnelDataClient.h"

#include <gtest/gtest.h>

using namespace TunnelProvider;

namespace {

nlohmann::json data()
{
    return {{"addresses", {"198.18.0.2/32", "2001:db8:ffff::2/128"}},
            {"nodes",
             {{{"name", "香港 01"},
               {"endpoint", "203.0.113.10:51820"},
               {"public_key", std::string(43, 'A') + "="}},
              {{"name", "日本 01"},
               {"endpoint", "[2001:db8::20]:51820"},
               {"public_key", std::string(43, 'Q') + "="}},
              {{"name", "美国 01"},
               {"endpoint", "203.0.113.30:51820"},
               {"public_key", std::string(43, 'g') + "="}}}}};
}

std::vector<std::string> names(const std::vector<TunnelNode> &nodes)
{
    std::vector<std::string> list;
    for (const TunnelNode &node : nodes)
        list.push_back(node.name);
    return list;
}

} // namespace

TEST(TunnelDataTest, TheBackendsEnvelopeBecomesDataOrAReason)
{
    const auto answer = TunnelDataClient::answerFrom(
        200, nlohmann::json{{"code", 0}, {"msg", ""}, {"data", data()}}.dump());
    ASSERT_TRUE(answer.data) << answer.reason;
    EXPECT_EQ(answer.data->mtu, 1420);
    EXPECT_TRUE(answer.data->dns.empty());
    EXPECT_EQ(answer.data->node("日本 01")->endpoint.text(), "[2001:db8::20]:51820");

    // MTU at both edges of its range.
    nlohmann::json edges = data();
    edges["mtu"] = 1500;
    EXPECT_TRUE(
        TunnelDataClient::answerFrom(200, nlohmann::json{{"code", 0}, {"data", edges}}.dump()).data);
    edges["mtu"] = 1501;
    EXPECT_FALSE(
        TunnelDataClient::answerFrom(200, nlohmann::json{{"code", 0}, {"data", edges}}.dump()).data);

    const auto refused
        = TunnelDataClient::answerFrom(200, R"({"code": 10007, "msg": "会员已过期", "data": null})");
    EXPECT_FALSE(refused.data);
    EXPECT_EQ(refused.reason, "服务拒绝了订阅：会员已过期");
    const auto garbled = TunnelDataClient::answerFrom(502, "<html>bad gateway</html>");
    EXPECT_FALSE(garbled.data);
    EXPECT_NE(garbled.reason.find("HTTP 502"), std::string::npos);
}

TEST(TunnelDataTest, NodesAreTriedNamedFirstOrFastestFirst)
{
    std::string error;
    const std::optional<TunnelData> tunnel = TunnelData::parse(data(), error);
    ASSERT_TRUE(tunnel) << error;
    const NodeChoice::Latencies latencies = {{"203.0.113.10:51820", 30.0},
                                             {"[2001:db8::20]:51820", std::nullopt},
                                             {"203.0.113.30:51820", 2.5}};
    EXPECT_EQ(names(NodeChoice::candidates(*tunnel, "日本 01", latencies)),
              (std::vector<std::string>{"日本 01", "香港 01", "美国 01"}));
    EXPECT_EQ(names(NodeChoice::candidates(*tunnel, "ZiDedadu", latencies)),
              (std::vector<std::string>{"美国 01", "香港 01", "日本 01"}));
    // A name the subscription no longer has is chosen for automatically.
    EXPECT_EQ(names(NodeChoice::candidates(*tunnel, "德国 01", latencies)),
              (std::vector<std::string>{"美国 01", "香港 01", "日本 01"}));

    // Clearly better: 10 ms and a fifth faster, both; an unanswered current node always loses.
    EXPECT_TRUE(NodeChoice::clearlyBetter(40.0, 50.0));
    EXPECT_FALSE(NodeChoice::clearlyBetter(40.1, 50.0));
    EXPECT_FALSE(NodeChoice::clearlyBetter(30.0, 37.0));
    EXPECT_TRUE(NodeChoice::clearlyBetter(1.0, std::nullopt));
    EXPECT_FALSE(NodeChoice::clearlyBetter(std::nullopt, 5.0));
}
