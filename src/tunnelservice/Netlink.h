#pragma once

#include "IpAddress.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <system_error>

namespace TunnelService {

// The kernel's routing configuration of this network namespace, over one route-netlink socket:
// links, addresses, routes and policy rules. Every call waits for the kernel's answer. Removing
// what is not there counts as done, so that undoing is idempotent.
class Netlink
{
public:
    enum class RouteType { unicast, unreachable, throwRoute };

    struct Route
    {
        IpPrefix destination; // a network: no host bits set
        RouteType type = RouteType::unicast;
        std::optional<int> device; // the link index of a unicast route
        std::uint32_t table = 0;
    };

    // A policy rule: "[not] fwmark M lookup T" or "lookup T suppress_prefixlength N".
    struct Rule
    {
        int family = AF_INET;
        std::uint32_t priority = 0;
        std::uint32_t table = 0;
        std::optional<std::uint32_t> fwmark;
        bool invert = false; // "not"
        std::optional<int> suppressPrefixLength;
    };

    // Nothing, with the reason in error, when no socket can be opened.
    static std::unique_ptr<Netlink> open(std::string &error);
    ~Netlink();

    Netlink(const Netlink &) = delete;
    Netlink &operator=(const Netlink &) = delete;

    std::optional<int> linkIndex(const std::string &name);
    // Sets the MTU and brings the link up.
    std::error_code setLinkUp(int index, int mtu);
    std::error_code deleteLink(const std::string &name);

    std::error_code addAddress(int index, const IpPrefix &address);

    // Adding a route that is there already replaces it.
    std::error_code addRoute(const Route &route);
    std::error_code deleteRoute(const Route &route);
    // Deletes every route of the table, of one family.
    std::error_code flushTable(int family, std::uint32_t table);

    std::error_code addRule(const Rule &rule);
    std::error_code deleteRule(const Rule &rule);

private:
    struct Socket;
    explicit Netlink(std::unique_ptr<Socket> socket);

    std::unique_ptr<Socket> m_socket;
};

} // namespace TunnelService
