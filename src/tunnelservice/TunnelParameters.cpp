#include "TunnelParameters.h"

namespace TunnelService {

bool TunnelParameters::hasIpv6() const
{
    return std::any_of(addresses.begin(), addresses.end(), [](const IpPrefix &address) {
        return address.family == AF_INET6;
    });
}

namespace TunnelRequest {

namespace {

// The member, which must be an object; nothing, with the reason, otherwise.
const nlohmann::json *object(const nlohmann::json &value, const char *name, std::string &error)
{
    if (!value.is_object()) {
        error = std::string("\"") + name + "\" must be an object";
        return nullptr;
    }
    return &value;
}

const nlohmann::json *member(const nlohmann::json &object,
                             const char *name,
                             bool (nlohmann::json::*hasType)() const noexcept,
                             const char *typeName,
                             std::string &error)
{
    const auto found = object.find(name);
    if (found == object.end() || !((*found).*hasType)()) {
        error = std::string("\"") + name + "\" must be " + typeName;
        return nullptr;
    }
    return &*found;
}

std::optional<WireGuardKey> key(const nlohmann::json &object, const char *name, std::string &error)
{
    const auto *text = member(object, name, &nlohmann::json::is_string, "a text", error);
    if (!text)
        return std::nullopt;
    auto parsed = WireGuardKey::parse(text->get_ref<const std::string &>());
    if (!parsed)
        error = std::string("\"") + name + "\" is no WireGuard key (32 bytes in base64)";
    return parsed;
}

std::optional<long> integer(const nlohmann::json &object,
                            const char *name,
                            long lowest,
                            long highest,
                            std::optional<long> fallback,
                            std::string &error)
{
    const auto found = object.find(name);
    if (found == object.end() && fallback)
        return fallback;
    const std::string range = "a whole number from " + std::to_string(lowest) + " to "
                              + std::to_string(highest);
    if (found == object.end() || !found->is_number_integer()
        || (found->is_number_unsigned() && found->get<std::uint64_t>() > std::uint64_t(highest))
        || found->get<std::int64_t>() < lowest || found->get<std::int64_t>() > highest) {
        error = std::string("\"") + name + "\" must be " + range;
        return std::nullopt;
    }
    return long(found->get<std::int64_t>());
}

// A list of at most `most` addresses or networks.
std::optional<std::vector<IpPrefix>> prefixes(const nlohmann::json &object,
                                              const char *name,
                                              std::size_t most,
                                              bool networks,
                                              bool optional,
                                              std::string &error)
{
    const auto found = object.find(name);
    if (found == object.end() && optional)
        return std::vector<IpPrefix>();
    const auto *list = member(object, name, &nlohmann::json::is_array, "a list", error);
    if (!list)
        return std::nullopt;
    if (list->size() > most) {
        error = std::string("\"") + name + "\" holds more than " + std::to_string(most)
                + " entries";
        return std::nullopt;
    }
    std::vector<IpPrefix> result;
    for (const auto &entry : *list) {
        const auto parsed = entry.is_string()
                                ? IpPrefix::parse(entry.get_ref<const std::string &>())
                                : std::nullopt;
        if (!parsed || (networks && !parsed->isNetwork())) {
            error = std::string("\"") + name + "\" holds "
                    + (entry.is_string() ? "\"" + entry.get<std::string>() + "\"" : entry.dump())
                    + ", which is no " + (networks ? "network" : "address");
            return std::nullopt;
        }
        result.push_back(*parsed);
    }
    return result;
}

} // namespace

std::optional<Peer> peer(const nlohmann::json &value, std::string &error)
{
    if (!object(value, "peer", error))
        return std::nullopt;
    const auto publicKey = key(value, "publicKey", error);
    if (!publicKey)
        return std::nullopt;
    const auto *endpointText = member(value, "endpoint", &nlohmann::json::is_string, "a text", error);
    if (!endpointText)
        return std::nullopt;
    const auto endpoint = Endpoint::parse(endpointText->get_ref<const std::string &>());
    if (!endpoint) {
        error = "\"endpoint\" must be an address and a port, such as 203.0.113.10:51820";
        return std::nullopt;
    }
    const auto keepalive = integer(value, "keepalive", 0, 65535, 25, error);
    if (!keepalive)
        return std::nullopt;
    return Peer{*publicKey, *endpoint, int(*keepalive)};
}

std::optional<Routing> routing(const nlohmann::json &value, std::string &error)
{
    if (!object(value, "routing", error))
        return std::nullopt;
    const auto *mode = member(value, "mode", &nlohmann::json::is_string, "a text", error);
    if (!mode)
        return std::nullopt;
    Routing result;
    if (*mode == "global") {
        result.mode = RoutingMode::global;
    } else if (*mode == "rule") {
        result.mode = RoutingMode::rule;
    } else {
        error = "\"mode\" must be \"global\" or \"rule\"";
        return std::nullopt;
    }
    auto direct = prefixes(value, "direct", mostDirectNetworks, true, true, error);
    if (!direct)
        return std::nullopt;
    result.direct = std::move(*direct);
    return result;
}

std::optional<TunnelParameters> tunnel(const nlohmann::json &value, std::string &error)
{
    if (!object(value, "tunnel", error))
        return std::nullopt;
    const auto privateKey = key(value, "privateKey", error);
    if (!privateKey)
        return std::nullopt;
    auto addresses = prefixes(value, "addresses", mostAddresses, false, false, error);
    if (!addresses)
        return std::nullopt;
    if (addresses->empty()) {
        error = "\"addresses\" must name at least one address";
        return std::nullopt;
    }
    // IPv6 needs 1280; more than an Ethernet frame holds would only fragment.
    const auto mtu = integer(value, "mtu", 1280, 1500, 1420, error);
    if (!mtu)
        return std::nullopt;
    const auto *peerValue = member(value, "peer", &nlohmann::json::is_object, "an object", error);
    const auto parsedPeer = peerValue ? peer(*peerValue, error) : std::nullopt;
    if (!parsedPeer)
        return std::nullopt;
    auto parsedRouting = routing(value, error);
    if (!parsedRouting)
        return std::nullopt;
    auto dns = prefixes(value, "dns", mostDnsServers, false, true, error);
    if (!dns)
        return std::nullopt;
    for (const IpPrefix &server : *dns) {
        if (server.length != server.maximumLength()) {
            error = "\"dns\" holds " + server.text() + ", which is a network, not a server";
            return std::nullopt;
        }
    }
    return TunnelParameters{*privateKey,
                            std::move(*addresses),
                            int(*mtu),
                            *parsedPeer,
                            std::move(*parsedRouting),
                            std::move(*dns)};
}

std::optional<std::vector<Endpoint>> endpoints(const nlohmann::json &value, std::string &error)
{
    const auto *list = member(value, "endpoints", &nlohmann::json::is_array, "a list", error);
    if (!list)
        return std::nullopt;
    if (list->empty() || list->size() > 64) {
        error = "\"endpoints\" must hold from 1 to 64 endpoints";
        return std::nullopt;
    }
    std::vector<Endpoint> result;
    for (const auto &entry : *list) {
        const auto parsed = entry.is_string()
                                ? Endpoint::parse(entry.get_ref<const std::string &>())
                                : std::nullopt;
        if (!parsed) {
            error = "\"endpoints\" holds " + entry.dump() + ", which is no address and port";
            return std::nullopt;
        }
        result.push_back(*parsed);
    }
    return result;
}

} // namespace TunnelRequest

} // namespace TunnelService
