#include "TunnelCatalog.h"

namespace Dev {

namespace {

const std::vector<std::string> DefaultDns = {"198.19.0.53"};

nlohmann::json nodeObject(const TunnelNode &node)
{
    return {{"name", node.name}, {"endpoint", node.endpoint}, {"public_key", node.publicKey}};
}

} // namespace

TunnelCatalog::TunnelCatalog()
    : m_dns(DefaultDns)
{ }

void TunnelCatalog::setNodes(std::vector<TunnelNode> nodes)
{
    m_nodes = std::move(nodes);
}

void TunnelCatalog::setDirect(std::vector<std::string> networks)
{
    m_direct = std::move(networks);
}

void TunnelCatalog::setDns(std::optional<std::vector<std::string>> servers)
{
    m_dns = servers ? std::move(*servers) : DefaultDns;
}

void TunnelCatalog::setMtu(std::optional<int> mtu)
{
    m_mtu = mtu.value_or(DefaultMtu);
}

void TunnelCatalog::setAddresses(std::optional<std::vector<std::string>> addresses)
{
    m_addresses = std::move(addresses);
}

void TunnelCatalog::setRaw(nlohmann::json raw)
{
    m_raw = std::move(raw);
}

nlohmann::json TunnelCatalog::tunnelFor(const std::vector<std::string> &subscription,
                                        const std::vector<std::string> &deviceAddresses) const
{
    if (!m_raw.is_null())
        return m_raw;
    return {{"addresses", m_addresses ? *m_addresses : deviceAddresses},
            {"dns", m_dns},
            {"mtu", m_mtu},
            {"nodes", nodesFor(subscription)},
            {"direct", m_direct}};
}

nlohmann::json TunnelCatalog::settings() const
{
    nlohmann::json nodes = nlohmann::json::array();
    for (const TunnelNode &node : m_nodes)
        nodes.push_back(nodeObject(node));
    return {{"nodes", nodes},
            {"direct", m_direct},
            {"dns", m_dns},
            {"mtu", m_mtu},
            {"addresses", m_addresses ? nlohmann::json(*m_addresses) : nlohmann::json(nullptr)},
            {"raw", m_raw}};
}

nlohmann::json TunnelCatalog::nodesFor(const std::vector<std::string> &subscription) const
{
    // The subscription's order, so that a name on the client's node page is the node it gets.
    nlohmann::json nodes = nlohmann::json::array();
    for (const std::string &name : subscription) {
        for (const TunnelNode &node : m_nodes) {
            if (node.name == name)
                nodes.push_back(nodeObject(node));
        }
    }
    return nodes;
}

} // namespace Dev
