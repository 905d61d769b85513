#include "NetworkNamespace.h"

#include "tunnelservice/Firewall.h"

#include <gtest/gtest.h>

using namespace TunnelService;

namespace {

std::string listTable()
{
    return runProgram({"nft", "list", "table", "inet", "orvane"}).output;
}

std::string listTables()
{
    return runProgram({"nft", "list", "tables"}).output;
}

class FirewallTest : public testing::Test
{
protected:
    void SetUp() override
    {
        if (!m_namespace.entered())
            GTEST_SKIP() << m_namespace.reason();
    }

    NetworkNamespace m_namespace;
    std::string m_error;
};

} // namespace

TEST_F(FirewallTest, InstallsReplacesAndRemovesTheTable)
{
    const std::vector<IpPrefix> addresses = {*IpPrefix::parse("198.18.0.2/32"),
                                             *IpPrefix::parse("2001:db8::2/128")};
    ASSERT_FALSE(Firewall::install("orvane", "ts0", {0xca6c, 0xca6d, 0xca6e}, addresses, m_error))
        << m_error;
    EXPECT_EQ(listTable(),
              "table inet orvane {\n"
              "\tchain preraw {\n"
              "\t\ttype filter hook prerouting priority raw; policy accept;\n"
              "\t\tiifname != \"ts0\" ip daddr 198.18.0.2 fib saddr type != local drop\n"
              "\t\tiifname != \"ts0\" ip6 daddr 2001:db8::2 fib saddr type != local drop\n"
              "\t}\n"
              "\n"
              "\tchain premangle {\n"
              "\t\ttype filter hook prerouting priority mangle; policy accept;\n"
              "\t\tmeta l4proto udp meta mark set ct mark\n"
              "\t}\n"
              "\n"
              "\tchain outroute {\n"
              "\t\ttype route hook output priority mangle; policy accept;\n"
              "\t\tct mark { 0x0000ca6d, 0x0000ca6e } meta mark set ct mark\n"
              "\t}\n"
              "\n"
              "\tchain postmangle {\n"
              "\t\ttype filter hook postrouting priority mangle; policy accept;\n"
              "\t\tmeta l4proto udp meta mark 0x0000ca6c ct mark set meta mark\n"
              "\t\tct state new ct mark 0x00000000 oifname \"ts0\" ct mark set 0x0000ca6d\n"
              "\t\tct state new ct mark 0x00000000 oifname != { \"lo\", \"ts0\" } meta mark != "
              "0x0000ca6c ct mark set 0x0000ca6e\n"
              "\t}\n"
              "}\n");

    // Installing again replaces the table as a whole.
    ASSERT_FALSE(
        Firewall::install("orvane", "ts1", {7, 8, 9}, {*IpPrefix::parse("198.18.0.3")}, m_error));
    const std::string replaced = listTable();
    EXPECT_NE(replaced.find("iifname != \"ts1\" ip daddr 198.18.0.3 fib"), std::string::npos);
    EXPECT_NE(replaced.find("meta mark 0x00000007 ct mark set"), std::string::npos);
    EXPECT_EQ(replaced.find("198.18.0.2"), std::string::npos);
    EXPECT_EQ(replaced.find("2001:db8::2"), std::string::npos);
    EXPECT_EQ(listTables(), "table inet orvane\n");

    for (int round = 0; round < 2; ++round)
        ASSERT_FALSE(Firewall::remove("orvane", m_error)) << m_error;
    EXPECT_EQ(listTables(), "");
}

TEST_F(FirewallTest, RefusesNamesAndReportsWhatNftablesSays)
{
    const std::vector<IpPrefix> addresses = {*IpPrefix::parse("198.18.0.2")};
    EXPECT_EQ(Firewall::install("orvane", "ts0\" accept", {1, 2, 3}, addresses, m_error),
              std::errc::invalid_argument);
    EXPECT_EQ(Firewall::install("or vane", "ts0", {1, 2, 3}, addresses, m_error),
              std::errc::invalid_argument);
    EXPECT_EQ(Firewall::remove("orvane;flush ruleset", m_error), std::errc::invalid_argument);

    // A keyword passes the name check, but nftables takes it for one.
    EXPECT_EQ(Firewall::install("chain", "ts0", {1, 2, 3}, addresses, m_error), std::errc::io_error);
    EXPECT_NE(m_error.find("syntax error"), std::string::npos) << m_error;
    EXPECT_EQ(listTables(), "");
}
