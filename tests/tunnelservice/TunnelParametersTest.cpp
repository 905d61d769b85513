#include "tunnelservice/TunnelParameters.h"

#include <gtest/gtest.h>

using namespace TunnelService;

namespace {

constexpr const char key[] = "yFnBNoXiTdqB+bqRJONcLPgXwPX/mumACD1i9BO6Zng=";

nlohmann::json validTunnel()
{
    return {{"privateKey", key},
            {"addresses", {"198.18.0.2/32", "2001:db8:ffff::2"}},
            {"peer", {{"publicKey", key}, {"endpoint", "[2001:db8::10]:51820"}}},
            {"mode", "rule"},
            {"direct", {"192.0.2.0/24"}},
            {"dns", {"198.19.0.53"}}};
}

std::string refusal(nlohmann::json tunnel)
{
    std::string error;
    EXPECT_FALSE(TunnelRequest::tunnel(tunnel, error)) << tunnel.dump();
    return error;
}

} // namespace

TEST(TunnelParameters, ReadsATunnelWithItsDefaults)
{
    std::string error;
    const auto parameters = TunnelRequest::tunnel(validTunnel(), error);
    ASSERT_TRUE(parameters) << error;
    EXPECT_EQ(parameters->mtu, 1420);
    EXPECT_EQ(parameters->peer.keepalive, 25);
    EXPECT_EQ(parameters->peer.endpoint.text(), "[2001:db8::10]:51820");
    EXPECT_EQ(parameters->routing.mode, RoutingMode::rule);
    EXPECT_TRUE(parameters->hasIpv6());
    EXPECT_EQ(parameters->privateKey.masked(), "yFnB****Zng=");
    EXPECT_EQ(parameters->privateKey.hex().size(), 64u);
}

// Each member is checked on its own, and the error names it.
TEST(TunnelParameters, RefusesEveryMemberThatDoesNotFit)
{
    const std::vector<std::pair<const char *, nlohmann::json>> cases = {
        {"privateKey", "yFnBNoXiTdqB+bqRJONcLPgXwPX/mumACD1i9BO6Zn=="}, // 31 bytes
        {"privateKey", 1},
        {"addresses", nlohmann::json::array()},
        {"addresses", {"198.18.0.256/32"}},
        {"mtu", 1279},
        {"mtu", 1501},
        {"mtu", 1420.5},
        {"mode", "fast"},
        {"direct", {"192.0.2.1/24"}}, // host bits: no network
        {"dns", {"198.19.0.0/24"}},
        {"peer", {{"publicKey", key}, {"endpoint", "2001:db8::10:51820"}}},
        {"peer", {{"publicKey", key}, {"endpoint", "node.example:51820"}}},
        {"peer", {{"publicKey", key}, {"endpoint", "203.0.113.10:0"}}},
        {"peer", {{"publicKey", key}, {"endpoint", "203.0.113.10:51820"}, {"keepalive", -1}}},
    };
    for (const auto &[name, value] : cases) {
        nlohmann::json tunnel = validTunnel();
        tunnel[name] = value;
        const std::string error = refusal(tunnel);
        EXPECT_FALSE(error.empty()) << name;
    }
    nlohmann::json tooMany = validTunnel();
    tooMany["direct"] = std::vector<std::string>(TunnelRequest::mostDirectNetworks + 1,
                                                 "192.0.2.0/24");
    EXPECT_EQ(refusal(tooMany), "\"direct\" holds more than 4096 entries");
    nlohmann::json missing = validTunnel();
    missing.erase("peer");
    EXPECT_EQ(refusal(missing), "\"peer\" must be an object");
}
