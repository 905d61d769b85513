#pragma once

#include "tunnelservice/IpAddress.h"
#include "tunnelservice/WireGuardKey.h"

#include <nlohmann/json.hpp>

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace TunnelProvider {

// A WireGuard node of the subscription, under the name the app shows for it.
struct TunnelNode
{
    std::string name;
    TunnelService::Endpoint endpoint;
    TunnelService::WireGuardKey publicKey;
};

// What the service's backend hands a device for its tunnel: its addresses (the same on every
// node), DNS servers, MTU, the nodes, and the networks that bypass the tunnel in rule mode.
struct TunnelData
{
    std::vector<TunnelService::IpPrefix> addresses;
    std::vector<TunnelService::IpPrefix> dns;
    int mtu = 1420;
    std::vector<TunnelNode> nodes;
    std::vector<TunnelService::IpPrefix> direct;

    // Checks every member of the backend's "data"; the error names the first that does not fit.
    // An empty node list is valid here: there is just no node to use.
    static std::optional<TunnelData> parse(const nlohmann::json &data, std::string &error);

    const TunnelNode *node(std::string_view name) const;
};

} // namespace TunnelProvider
