#include "NetworkNamespace.h"

#include "tunnelservice/Netlink.h"

#include <algorithm>

#include <gtest/gtest.h>
#include <libmnl/libmnl.h>
#include <linux/rtnetlink.h>
#include <nlohmann/json.hpp>

using namespace TunnelService;
using nlohmann::json;

namespace {

bool createLink(const std::string &name, const char *kind)
{
    mnl_socket *socket = mnl_socket_open2(NETLINK_ROUTE, SOCK_CLOEXEC);
    if (!socket)
        return false;
    alignas(nlmsghdr) char buffer[8192] = {};
    nlmsghdr *message = mnl_nlmsg_put_header(buffer);
    message->nlmsg_type = RTM_NEWLINK;
    message->nlmsg_flags = NLM_F_REQUEST | NLM_F_CREATE | NLM_F_EXCL | NLM_F_ACK;
    message->nlmsg_seq = 1;
    mnl_nlmsg_put_extra_header(message, sizeof(ifinfomsg));
    mnl_attr_put_strz(message, IFLA_IFNAME, name.c_str());
    nlattr *info = mnl_attr_nest_start(message, IFLA_LINKINFO);
    mnl_attr_put_strz(message, IFLA_INFO_KIND, kind);
    mnl_attr_nest_end(message, info);
    bool created = mnl_socket_bind(socket, 0, MNL_SOCKET_AUTOPID) == 0
                   && mnl_socket_sendto(socket, message, message->nlmsg_len) >= 0;
    const ssize_t received = created ? mnl_socket_recvfrom(socket, buffer, sizeof buffer) : -1;
    created = received > 0
              && mnl_cb_run(buffer,
                            std::size_t(received),
                            1,
                            mnl_socket_get_portid(socket),
                            nullptr,
                            nullptr)
                     != MNL_CB_ERROR;
    mnl_socket_close(socket);
    return created;
}

// A link to carry addresses and routes; it goes away with the namespace. Some kernels are built
// without the dummy driver: an ifb link does as well.
bool createDummyLink(const std::string &name)
{
    return createLink(name, "dummy") || createLink(name, "ifb");
}

json ip(const std::vector<std::string> &arguments)
{
    std::vector<std::string> command = {"ip", "-j"};
    command.insert(command.end(), arguments.begin(), arguments.end());
    const ProgramResult result = runProgram(command);
    return result.exitStatus == 0 ? json::parse(result.output) : json();
}

// The routes of the tables the tests use, as "type destination [dev] table", sorted.
std::vector<std::string> routes(const std::string &family)
{
    std::vector<std::string> found;
    for (const json &route : ip({family, "route", "show", "table", "all"})) {
        const std::string table = route.value("table", "main");
        if (table != "200" && table != "51820")
            continue;
        std::string text = route.value("type", "unicast") + " " + route.value("dst", "");
        if (route.value("type", "unicast") == "unicast")
            text += " dev " + route.value("dev", "");
        found.push_back(text + " table " + table);
    }
    std::sort(found.begin(), found.end());
    return found;
}

// The rules but the kernel's own three, as "priority [not] [fwmark M] table T [suppress N]".
std::vector<std::string> rules(const std::string &family)
{
    std::vector<std::string> found;
    for (const json &rule : ip({family, "rule", "show"})) {
        const int priority = rule.value("priority", 0);
        if (priority == 0 || priority >= 32766)
            continue;
        std::string text = std::to_string(priority);
        if (rule.contains("not"))
            text += " not";
        if (rule.contains("fwmark"))
            text += " fwmark " + rule.value("fwmark", "");
        text += " table " + rule.value("table", "");
        if (rule.contains("suppress_prefixlen"))
            text += " suppress " + std::to_string(rule.value("suppress_prefixlen", -1));
        found.push_back(text);
    }
    return found;
}

IpPrefix prefix(const char *text)
{
    return *IpPrefix::parse(text);
}

class NetlinkTest : public testing::Test
{
protected:
    void SetUp() override
    {
        if (!m_namespace.entered())
            GTEST_SKIP() << m_namespace.reason();
        std::string error;
        m_netlink = Netlink::open(error);
        ASSERT_TRUE(m_netlink) << error;
        ASSERT_TRUE(createDummyLink("ts0"));
        m_link = m_netlink->linkIndex("ts0").value_or(0);
        ASSERT_GT(m_link, 0);
        ASSERT_FALSE(m_netlink->setLinkUp(m_link, 1380));
    }

    NetworkNamespace m_namespace;
    std::unique_ptr<Netlink> m_netlink;
    int m_link = 0;
};

} // namespace

TEST_F(NetlinkTest, ConfiguresAndDeletesLinks)
{
    const json link = ip({"link", "show", "ts0"}).at(0);
    EXPECT_EQ(link.value("mtu", 0), 1380);
    const json flags = link.value("flags", json::array());
    EXPECT_NE(std::find(flags.begin(), flags.end(), "UP"), flags.end());
    EXPECT_FALSE(m_netlink->linkIndex("absent0"));
    EXPECT_FALSE(m_netlink->linkIndex("a-name-longer-than-15"));
    EXPECT_EQ(m_netlink->setLinkUp(m_link, 0), std::errc::invalid_argument);

    // Adding an address twice keeps one.
    for (int round = 0; round < 2; ++round) {
        ASSERT_FALSE(m_netlink->addAddress(m_link, prefix("198.18.0.2/32")));
        ASSERT_FALSE(m_netlink->addAddress(m_link, prefix("2001:db8::2/128")));
    }
    std::vector<std::string> addresses;
    const json links = ip({"address", "show", "dev", "ts0"});
    for (const json &address : links.at(0).at("addr_info")) {
        if (address.value("scope", "") != "global")
            continue;
        addresses.push_back(address.value("local", "") + "/"
                            + std::to_string(address.value("prefixlen", 0)) + " "
                            + (address.contains("tentative") ? "tentative" : "usable"));
    }
    EXPECT_EQ(addresses,
              (std::vector<std::string>{"198.18.0.2/32 usable", "2001:db8::2/128 usable"}));

    EXPECT_FALSE(m_netlink->deleteLink("ts0"));
    EXPECT_FALSE(m_netlink->linkIndex("ts0"));
    EXPECT_FALSE(m_netlink->deleteLink("ts0"));
}

TEST_F(NetlinkTest, AddsReplacesDeletesAndFlushesRoutes)
{
    const std::vector<Netlink::Route> added = {
        {prefix("0.0.0.0/0"), Netlink::RouteType::unicast, m_link, 51820},
        {prefix("192.0.2.0/24"), Netlink::RouteType::throwRoute, std::nullopt, 51820},
        {prefix("198.51.100.0/24"), Netlink::RouteType::unicast, m_link, 200},
        {prefix("::/0"), Netlink::RouteType::unreachable, std::nullopt, 51820},
        {prefix("2001:db8:1::/64"), Netlink::RouteType::throwRoute, std::nullopt, 51820},
    };
    for (int round = 0; round < 2; ++round) {
        for (const Netlink::Route &route : added)
            ASSERT_FALSE(m_netlink->addRoute(route)) << route.destination.text();
    }
    EXPECT_EQ(routes("-4"),
              (std::vector<std::string>{"throw 192.0.2.0/24 table 51820",
                                        "unicast 198.51.100.0/24 dev ts0 table 200",
                                        "unicast default dev ts0 table 51820"}));
    EXPECT_EQ(routes("-6"),
              (std::vector<std::string>{"throw 2001:db8:1::/64 table 51820",
                                        "unreachable default table 51820"}));

    // Deleting is idempotent.
    for (int round = 0; round < 2; ++round)
        ASSERT_FALSE(m_netlink->deleteRoute(added[1]));
    EXPECT_EQ(routes("-4").size(), 2u);

    // Flushing takes one family of one table.
    for (int round = 0; round < 2; ++round)
        ASSERT_FALSE(m_netlink->flushTable(AF_INET, 51820));
    EXPECT_EQ(routes("-4"), (std::vector<std::string>{"unicast 198.51.100.0/24 dev ts0 table 200"}));
    EXPECT_EQ(routes("-6").size(), 2u);
    ASSERT_FALSE(m_netlink->flushTable(AF_INET6, 51820));
    EXPECT_TRUE(routes("-6").empty());

    // A destination with host bits, or a unicast route without a device, is refused.
    EXPECT_EQ(m_netlink->addRoute(
                  {prefix("192.0.2.1/24"), Netlink::RouteType::throwRoute, {}, 51820}),
              std::errc::invalid_argument);
    EXPECT_EQ(m_netlink->addRoute({prefix("192.0.2.0/24"), Netlink::RouteType::unicast, {}, 51820}),
              std::errc::invalid_argument);
}

TEST_F(NetlinkTest, AddsEachRuleOnceAndDeletesIdempotently)
{
    const std::vector<Netlink::Rule> added = {
        {AF_INET, 32764, RT_TABLE_MAIN, std::nullopt, false, 0},
        {AF_INET, 32765, 51820, 0xca6c, true, std::nullopt},
        {AF_INET6, 32765, 51820, 0xca6c, true, std::nullopt},
        {AF_INET, 100, 200, 0x1, false, std::nullopt},
    };
    for (int round = 0; round < 2; ++round) {
        for (const Netlink::Rule &rule : added)
            ASSERT_FALSE(m_netlink->addRule(rule)) << rule.priority;
    }
    EXPECT_EQ(rules("-4"),
              (std::vector<std::string>{"100 fwmark 0x1 table 200",
                                        "32764 table main suppress 0",
                                        "32765 not fwmark 0xca6c table 51820"}));
    EXPECT_EQ(rules("-6"), (std::vector<std::string>{"32765 not fwmark 0xca6c table 51820"}));

    // The kernel takes this one for the rule above; it is not that rule.
    EXPECT_EQ(m_netlink->addRule({AF_INET, 32765, 51820, 0xca6c, false, std::nullopt}),
              std::errc::file_exists);

    for (int round = 0; round < 2; ++round) {
        for (const Netlink::Rule &rule : added)
            ASSERT_FALSE(m_netlink->deleteRule(rule)) << rule.priority;
    }
    EXPECT_TRUE(rules("-4").empty());
    EXPECT_TRUE(rules("-6").empty());
}
