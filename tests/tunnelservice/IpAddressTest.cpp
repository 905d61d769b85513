#include "tunnelservice/IpAddress.h"

#include <gtest/gtest.h>

using namespace TunnelService;

TEST(IpAddressTest, ParsesAddressesWithAndWithoutLength)
{
    const auto address = IpPrefix::parse("198.18.0.2");
    ASSERT_TRUE(address);
    EXPECT_EQ(address->family, AF_INET);
    EXPECT_EQ(address->length, 32);
    EXPECT_EQ(address->text(), "198.18.0.2/32");
    EXPECT_EQ(address->addressText(), "198.18.0.2");

    const auto network = IpPrefix::parse("2001:0db8:0:0::1/64");
    ASSERT_TRUE(network);
    EXPECT_EQ(network->family, AF_INET6);
    EXPECT_EQ(network->text(), "2001:db8::1/64");
    EXPECT_EQ(IpPrefix::parse("0.0.0.0/0")->length, 0);
    EXPECT_EQ(IpPrefix::parse("::/0")->maximumLength(), 128);
}

TEST(IpAddressTest, RefusesBadAddressesAndLengths)
{
    for (const char *text : {"",
                             "/24",
                             "198.18.0.2/",
                             "198.18.0.2/33",
                             "198.18.0.2/-1",
                             "198.18.0.2/01",
                             "198.18.0.2/ 8",
                             "198.18.0.2/8/8",
                             "198.018.0.2",
                             "198.18.0",
                             "2001:db8::/129",
                             "2001:db8::/0x10",
                             "example.com",
                             "[2001:db8::1]",
                             "198.18.0.2 "}) {
        EXPECT_FALSE(IpPrefix::parse(text)) << text;
    }
}

TEST(IpAddressTest, TellsNetworksFromAddressesWithHostBits)
{
    EXPECT_TRUE(IpPrefix::parse("198.18.0.0/15")->isNetwork());
    EXPECT_FALSE(IpPrefix::parse("198.19.0.0/15")->isNetwork());
    EXPECT_TRUE(IpPrefix::parse("0.0.0.0/0")->isNetwork());
    EXPECT_TRUE(IpPrefix::parse("203.0.113.7")->isNetwork());
    EXPECT_TRUE(IpPrefix::parse("2001:db8::/32")->isNetwork());
    EXPECT_FALSE(IpPrefix::parse("2001:db8::1/127")->isNetwork());
}

TEST(IpAddressTest, ParsesEndpoints)
{
    const auto endpoint = Endpoint::parse("203.0.113.10:51820");
    ASSERT_TRUE(endpoint);
    EXPECT_EQ(endpoint->address, *IpPrefix::parse("203.0.113.10"));
    EXPECT_EQ(endpoint->port, 51820);
    EXPECT_EQ(endpoint->text(), "203.0.113.10:51820");

    const auto bracketed = Endpoint::parse("[2001:db8::0:1]:65535");
    ASSERT_TRUE(bracketed);
    EXPECT_EQ(bracketed->port, 65535);
    EXPECT_EQ(bracketed->text(), "[2001:db8::1]:65535");
    EXPECT_EQ(Endpoint::parse("192.0.2.1:1")->port, 1);
}

TEST(IpAddressTest, RefusesBadEndpoints)
{
    for (const char *text : {"203.0.113.10",
                             "203.0.113.10:",
                             "203.0.113.10:0",
                             "203.0.113.10:65536",
                             "203.0.113.10:051820",
                             "203.0.113.10:+1",
                             "203.0.113.10/32:51820",
                             "[203.0.113.10]:51820",
                             "2001:db8::1:51820",
                             "[2001:db8::1]",
                             "[2001:db8::1/128]:51820",
                             "[]:51820",
                             "example.com:51820",
                             "localhost:51820",
                             ":51820"}) {
        EXPECT_FALSE(Endpoint::parse(text)) << text;
    }
}
