#pragma once

#include <nlohmann/json.hpp>

#include <optional>
#include <string>
#include <vector>

namespace Dev {

// A WireGuard node as /_dev/tunnel sets it. Nothing in it is checked, so tests can hand a client
// bad endpoints and keys.
struct TunnelNode
{
    std::string name; // a node name of the subscriptions
    std::string endpoint;
    std::string publicKey;
};

// What getTunnel tells a device besides its own address: the nodes, DNS servers, MTU and the
// networks that bypass the tunnel. Tests may fix the addresses for every device, or replace the
// whole answer with a raw value.
class TunnelCatalog
{
public:
    static constexpr int DefaultMtu = 1420;

    TunnelCatalog();

    // Nothing (or null) goes back to the default: 198.19.0.53, 1420, each device's own address,
    // no raw answer.
    void setNodes(std::vector<TunnelNode> nodes);
    void setDirect(std::vector<std::string> networks);
    void setDns(std::optional<std::vector<std::string>> servers);
    void setMtu(std::optional<int> mtu);
    void setAddresses(std::optional<std::vector<std::string>> addresses);
    void setRaw(nlohmann::json raw);

    // The answer for a device with the given addresses whose subscription has these node names:
    // {"addresses", "dns", "mtu", "nodes", "direct"}, with the configured nodes named in the
    // subscription in its order; or the raw value when one is set.
    nlohmann::json tunnelFor(const std::vector<std::string> &subscription,
                             const std::vector<std::string> &deviceAddresses) const;

    // {"nodes", "direct", "dns", "mtu", "addresses", "raw"}, as /_dev/tunnel shows them.
    nlohmann::json settings() const;

private:
    nlohmann::json nodesFor(const std::vector<std::string> &subscription) const;

    std::vector<TunnelNode> m_nodes;
    std::vector<std::string> m_direct;
    std::vector<std::string> m_dns;
    int m_mtu = DefaultMtu;
    std::optional<std::vector<std::string>> m_addresses;
    nlohmann::json m_raw;
};

} // namespace Dev
