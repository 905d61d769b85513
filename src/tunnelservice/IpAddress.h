#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include <sys/socket.h>

namespace TunnelService {

// An IPv4 or IPv6 address with a prefix length: "198.18.0.2/32", "2001:db8::/32". A plain
// address is one with the full length.
struct IpPrefix
{
    int family = AF_INET;                 // AF_INET or AF_INET6
    std::array<std::uint8_t, 16> bytes{}; // the first 4 for IPv4
    int length = 32;

    // Nothing for anything but an address, optionally with "/length" in range. Host bits may be
    // set (an interface address); see isNetwork().
    static std::optional<IpPrefix> parse(std::string_view text);

    std::size_t byteCount() const { return family == AF_INET ? 4 : 16; }
    int maximumLength() const { return family == AF_INET ? 32 : 128; }
    // Whether no bit beyond the prefix length is set, as a route's destination must be.
    bool isNetwork() const;
    // "198.18.0.2/32"
    std::string text() const;
    // "198.18.0.2", without the length
    std::string addressText() const;

    bool operator==(const IpPrefix &other) const = default;
};

// An address and a UDP port: "203.0.113.10:51820", "[2001:db8::1]:51820". Names are not
// resolved: only literal addresses are accepted.
struct Endpoint
{
    IpPrefix address; // full length
    std::uint16_t port = 0;

    static std::optional<Endpoint> parse(std::string_view text);
    std::string text() const;

    bool operator==(const Endpoint &other) const = default;
};

} // namespace TunnelService
