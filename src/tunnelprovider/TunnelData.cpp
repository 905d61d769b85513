#include "TunnelData.h"

#include "tunnelservice/TunnelParameters.h"

namespace TunnelProvider {

namespace {

using TunnelService::Endpoint;
using TunnelService::IpPrefix;
using TunnelService::WireGuardKey;

// The same limits the tunnel service holds its requests to.
constexpr std::size_t mostNodes = 256;
constexpr int smallestMtu = 1280;
constexpr int largestMtu = 1500;

// A value from the backend as an error may quote it: short, whatever it holds.
std::string shown(const nlohmann::json &value)
{
    std::string text = value.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
    if (text.size() > 60)
        text = text.substr(0, 57) + "...";
    return text;
}

bool prefixList(const nlohmann::json &data,
                const char *name,
                std::size_t most,
                bool networks,
                std::vector<IpPrefix> &list,
                std::string &error)
{
    const auto member = data.find(name);
    if (member == data.end() || member->is_null())
        return true;
    if (!member->is_array() || member->size() > most) {
        error = "\"" + std::string(name) + "\" must be a list of at most " + std::to_string(most)
                + " addresses";
        return false;
    }
    for (const nlohmann::json &item : *member) {
        const std::optional<IpPrefix> prefix = item.is_string()
                                                   ? IpPrefix::parse(item.get<std::string>())
                                                   : std::nullopt;
        if (!prefix || (networks && !prefix->isNetwork())) {
            error = "\"" + std::string(name) + "\" holds " + shown(item) + ", which is not "
                    + (networks ? "a network" : "an address");
            return false;
        }
        list.push_back(*prefix);
    }
    return true;
}

std::optional<TunnelNode> nodeOf(const nlohmann::json &item, std::string &error)
{
    if (!item.is_object()) {
        error = "a node must be an object";
        return std::nullopt;
    }
    const auto text = [&item](const char *member) -> std::optional<std::string> {
        const auto value = item.find(member);
        if (value == item.end() || !value->is_string())
            return std::nullopt;
        return value->get<std::string>();
    };
    const std::optional<std::string> name = text("name");
    if (!name || name->empty()) {
        error = "a node has no name";
        return std::nullopt;
    }
    const std::optional<std::string> endpointText = text("endpoint");
    const std::optional<Endpoint> endpoint = endpointText ? Endpoint::parse(*endpointText)
                                                          : std::nullopt;
    if (!endpoint) {
        error = "node \"" + *name + "\" has no endpoint of the form address:port";
        return std::nullopt;
    }
    const std::optional<std::string> keyText = text("public_key");
    const std::optional<WireGuardKey> key = keyText ? WireGuardKey::parse(*keyText) : std::nullopt;
    if (!key) {
        error = "node \"" + *name + "\" has no valid public key";
        return std::nullopt;
    }
    return TunnelNode{*name, *endpoint, *key};
}

} // namespace

std::optional<TunnelData> TunnelData::parse(const nlohmann::json &data, std::string &error)
{
    using TunnelService::TunnelRequest::mostAddresses;
    using TunnelService::TunnelRequest::mostDirectNetworks;
    using TunnelService::TunnelRequest::mostDnsServers;

    if (!data.is_object()) {
        error = "the tunnel data is not an object";
        return std::nullopt;
    }
    TunnelData tunnel;
    if (!prefixList(data, "addresses", mostAddresses, false, tunnel.addresses, error)
        || !prefixList(data, "dns", mostDnsServers, false, tunnel.dns, error)
        || !prefixList(data, "direct", mostDirectNetworks, true, tunnel.direct, error)) {
        return std::nullopt;
    }
    if (tunnel.addresses.empty()) {
        error = "the tunnel data gives the device no address";
        return std::nullopt;
    }
    if (const auto mtu = data.find("mtu"); mtu != data.end() && !mtu->is_null()) {
        if (!mtu->is_number_integer() || mtu->get<long long>() < smallestMtu
            || mtu->get<long long>() > largestMtu) {
            error = "\"mtu\" must be a whole number from 1280 to 1500";
            return std::nullopt;
        }
        tunnel.mtu = mtu->get<int>();
    }
    const auto nodes = data.find("nodes");
    if (nodes == data.end() || !nodes->is_array() || nodes->size() > mostNodes) {
        error = "\"nodes\" must be a list of at most " + std::to_string(mostNodes) + " nodes";
        return std::nullopt;
    }
    for (const nlohmann::json &item : *nodes) {
        std::optional<TunnelNode> node = nodeOf(item, error);
        if (!node)
            return std::nullopt;
        if (!tunnel.node(node->name))
            tunnel.nodes.push_back(std::move(*node));
    }
    return tunnel;
}

const TunnelNode *TunnelData::node(std::string_view name) const
{
    for (const TunnelNode &node : nodes) {
        if (node.name == name)
            return &node;
    }
    return nullptr;
}

} // namespace TunnelProvider
