#pragma once

#include "IpAddress.h"
#include "WireGuardKey.h"

#include <nlohmann/json.hpp>

#include <optional>
#include <string>
#include <vector>

namespace TunnelService {

enum class RoutingMode {
    global, // everything through the tunnel
    rule,   // everything but the direct list through the tunnel
};

// The node the tunnel goes to.
struct Peer
{
    WireGuardKey publicKey;
    Endpoint endpoint;
    int keepalive = 25; // seconds; 0 is off
};

// The routing of a tunnel: its mode, and in rule mode the networks that bypass it.
struct Routing
{
    RoutingMode mode = RoutingMode::global;
    std::vector<IpPrefix> direct;
};

// Everything a tunnel is brought up with.
struct TunnelParameters
{
    WireGuardKey privateKey;
    std::vector<IpPrefix> addresses; // the device's tunnel addresses
    int mtu = 1420;
    Peer peer;
    Routing routing;
    std::vector<IpPrefix> dns; // used in global mode

    bool hasIpv6() const;
};

// Reads the members of requests, checking each: a value of the wrong type, out of range or
// malformed is an error that names the member. Unknown members are ignored.
namespace TunnelRequest {

inline constexpr std::size_t mostAddresses = 8;
inline constexpr std::size_t mostDnsServers = 8;
inline constexpr std::size_t mostDirectNetworks = 4096;

std::optional<TunnelParameters> tunnel(const nlohmann::json &value, std::string &error);
std::optional<Peer> peer(const nlohmann::json &value, std::string &error);
// {"mode": "global" | "rule", "direct": [networks]}; "direct" may be left out.
std::optional<Routing> routing(const nlohmann::json &value, std::string &error);
std::optional<std::vector<Endpoint>> endpoints(const nlohmann::json &value, std::string &error);

} // namespace TunnelRequest

} // namespace TunnelService
