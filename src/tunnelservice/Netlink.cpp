#include "Netlink.h"

#include <array>
#include <cerrno>
#include <functional>
#include <vector>

#include <libmnl/libmnl.h>
#include <linux/fib_rules.h>
#include <linux/rtnetlink.h>
#include <net/if.h>

namespace TunnelService {

namespace {

std::error_code lastError()
{
    return {errno, std::generic_category()};
}

bool isAbsent(const std::error_code &error)
{
    return error == std::errc::no_such_process || error == std::errc::no_such_file_or_directory;
}

// Tables above 255 do not fit the header's byte: they go in an attribute only.
std::uint8_t tableByte(std::uint32_t table)
{
    return table < 256 ? std::uint8_t(table) : std::uint8_t(RT_TABLE_UNSPEC);
}

// One request under construction. The largest we build, a rule, takes under 100 bytes.
class Request
{
public:
    // Acknowledged by the kernel, also when it succeeds.
    Request(std::uint16_t type, std::uint16_t flags)
    {
        nlmsghdr *message = mnl_nlmsg_put_header(m_buffer);
        message->nlmsg_type = type;
        message->nlmsg_flags = NLM_F_REQUEST | NLM_F_ACK | flags;
    }

    // Answered by the whole table, up to NLMSG_DONE.
    static Request dump(std::uint16_t type)
    {
        Request request(type, 0);
        request.header()->nlmsg_flags = NLM_F_REQUEST | NLM_F_DUMP;
        return request;
    }

    nlmsghdr *header() { return reinterpret_cast<nlmsghdr *>(m_buffer); }

    template<typename Header>
    Header *put()
    {
        return static_cast<Header *>(mnl_nlmsg_put_extra_header(header(), sizeof(Header)));
    }

private:
    alignas(nlmsghdr) char m_buffer[512] = {};
};

// The attributes of a message after its family header, by type; later types are ignored.
template<std::size_t Count>
std::array<const nlattr *, Count> attributesOf(const nlmsghdr *message, std::size_t headerSize)
{
    std::array<const nlattr *, Count> attributes{};
    if (message->nlmsg_len < mnl_nlmsg_size(headerSize))
        return attributes;
    mnl_attr_parse(
        message,
        unsigned(headerSize),
        [](const nlattr *attribute, void *data) {
            auto &found = *static_cast<std::array<const nlattr *, Count> *>(data);
            if (mnl_attr_get_type(attribute) < Count)
                found[mnl_attr_get_type(attribute)] = attribute;
            return MNL_CB_OK;
        },
        &attributes);
    return attributes;
}

std::optional<std::uint32_t> u32Of(const nlattr *attribute)
{
    if (!attribute || mnl_attr_get_payload_len(attribute) < sizeof(std::uint32_t))
        return std::nullopt;
    return mnl_attr_get_u32(attribute);
}

Request routeRequest(std::uint16_t type, std::uint16_t flags, const Netlink::Route &route)
{
    Request request(type, flags);
    auto *header = request.put<rtmsg>();
    header->rtm_family = std::uint8_t(route.destination.family);
    header->rtm_dst_len = std::uint8_t(route.destination.length);
    header->rtm_table = tableByte(route.table);
    switch (route.type) {
    case Netlink::RouteType::unicast:
        header->rtm_type = RTN_UNICAST;
        break;
    case Netlink::RouteType::unreachable:
        header->rtm_type = RTN_UNREACHABLE;
        break;
    case Netlink::RouteType::throwRoute:
        header->rtm_type = RTN_THROW;
        break;
    }
    if (type == RTM_DELROUTE) {
        // Any scope and any protocol: the route is named by its destination, type and table.
        header->rtm_scope = RT_SCOPE_NOWHERE;
    } else {
        header->rtm_protocol = RTPROT_BOOT;
        // An IPv4 route through a device without a gateway reaches only that link.
        const bool onLink = route.destination.family == AF_INET
                            && route.type == Netlink::RouteType::unicast;
        header->rtm_scope = onLink ? RT_SCOPE_LINK : RT_SCOPE_UNIVERSE;
    }
    if (route.destination.length > 0) {
        mnl_attr_put(request.header(),
                     RTA_DST,
                     route.destination.byteCount(),
                     route.destination.bytes.data());
    }
    mnl_attr_put_u32(request.header(), RTA_TABLE, route.table);
    if (route.device)
        mnl_attr_put_u32(request.header(), RTA_OIF, std::uint32_t(*route.device));
    return request;
}

std::uint32_t routeTable(const nlmsghdr *message)
{
    const auto attributes = attributesOf<RTA_TABLE + 1>(message, sizeof(rtmsg));
    const auto *header = static_cast<const rtmsg *>(mnl_nlmsg_get_payload(message));
    return u32Of(attributes[RTA_TABLE]).value_or(header->rtm_table);
}

Request ruleRequest(std::uint16_t type, std::uint16_t flags, const Netlink::Rule &rule)
{
    Request request(type, flags);
    auto *header = request.put<fib_rule_hdr>();
    header->family = std::uint8_t(rule.family);
    header->table = tableByte(rule.table);
    header->action = FR_ACT_TO_TBL;
    header->flags = rule.invert ? FIB_RULE_INVERT : 0;
    mnl_attr_put_u32(request.header(), FRA_PRIORITY, rule.priority);
    mnl_attr_put_u32(request.header(), FRA_TABLE, rule.table);
    if (rule.fwmark) {
        mnl_attr_put_u32(request.header(), FRA_FWMARK, *rule.fwmark);
        mnl_attr_put_u32(request.header(), FRA_FWMASK, 0xffffffff);
    }
    if (rule.suppressPrefixLength) {
        mnl_attr_put_u32(request.header(),
                         FRA_SUPPRESS_PREFIXLEN,
                         std::uint32_t(*rule.suppressPrefixLength));
    }
    return request;
}

// Whether a dumped rule is this one, down to the "not" flag.
bool isRule(const nlmsghdr *message, const Netlink::Rule &rule)
{
    if (message->nlmsg_type != RTM_NEWRULE
        || message->nlmsg_len < mnl_nlmsg_size(sizeof(fib_rule_hdr)))
        return false;
    const auto attributes = attributesOf<FRA_FWMASK + 1>(message, sizeof(fib_rule_hdr));
    const auto *header = static_cast<const fib_rule_hdr *>(mnl_nlmsg_get_payload(message));
    // The kernel reports an unset suppress_prefixlength as -1.
    std::optional<int> suppress;
    if (const auto length = u32Of(attributes[FRA_SUPPRESS_PREFIXLEN]); length && *length != ~0u)
        suppress = int(*length);
    return header->family == rule.family && header->action == FR_ACT_TO_TBL
           && bool(header->flags & FIB_RULE_INVERT) == rule.invert
           && u32Of(attributes[FRA_PRIORITY]).value_or(0) == rule.priority
           && u32Of(attributes[FRA_TABLE]).value_or(header->table) == rule.table
           && u32Of(attributes[FRA_FWMARK]) == rule.fwmark && suppress == rule.suppressPrefixLength;
}

} // namespace

struct Netlink::Socket
{
    ~Socket()
    {
        if (socket)
            mnl_socket_close(socket);
    }

    // Sends a request and reads the answer to it up to the kernel's acknowledgement, or to the
    // end of a dump, handing every other message of it to onMessage.
    std::error_code exchange(nlmsghdr *request,
                             const std::function<void(const nlmsghdr *)> &onMessage = {},
                             bool *interrupted = nullptr)
    {
        request->nlmsg_seq = ++sequence;
        if (mnl_socket_sendto(socket, request, request->nlmsg_len) < 0)
            return lastError();
        for (;;) {
            const ssize_t received = mnl_socket_recvfrom(socket, buffer.data(), buffer.size());
            if (received < 0 && errno == EINTR)
                continue;
            if (received < 0)
                return lastError();
            int remaining = int(received);
            for (auto *message = reinterpret_cast<const nlmsghdr *>(buffer.data());
                 mnl_nlmsg_ok(message, remaining);
                 message = mnl_nlmsg_next(message, &remaining)) {
                // Late answers to an earlier request are not this one's.
                if (message->nlmsg_seq != request->nlmsg_seq || message->nlmsg_pid != portId)
                    continue;
                if (message->nlmsg_type == NLMSG_ERROR || message->nlmsg_type == NLMSG_DONE) {
                    // Both carry the error number first; 0 is success.
                    if (mnl_nlmsg_get_payload_len(message) < sizeof(int))
                        return std::make_error_code(std::errc::bad_message);
                    const int error = *static_cast<const int *>(mnl_nlmsg_get_payload(message));
                    return {error < 0 ? -error : 0, std::generic_category()};
                }
                if (interrupted && (message->nlmsg_flags & NLM_F_DUMP_INTR))
                    *interrupted = true;
                if (onMessage && message->nlmsg_type >= NLMSG_MIN_TYPE)
                    onMessage(message);
            }
        }
    }

    mnl_socket *socket = nullptr;
    unsigned portId = 0;
    unsigned sequence = 0;
    // The kernel sends a dump in parts of up to 32 KiB.
    std::vector<char> buffer = std::vector<char>(32768);
};

Netlink::Netlink(std::unique_ptr<Socket> socket)
    : m_socket(std::move(socket))
{ }

Netlink::~Netlink() = default;

std::unique_ptr<Netlink> Netlink::open(std::string &error)
{
    auto socket = std::make_unique<Socket>();
    socket->socket = mnl_socket_open2(NETLINK_ROUTE, SOCK_CLOEXEC);
    if (!socket->socket || mnl_socket_bind(socket->socket, 0, MNL_SOCKET_AUTOPID) < 0) {
        error = "cannot open a route-netlink socket: " + lastError().message();
        return nullptr;
    }
    socket->portId = mnl_socket_get_portid(socket->socket);
    return std::unique_ptr<Netlink>(new Netlink(std::move(socket)));
}

std::optional<int> Netlink::linkIndex(const std::string &name)
{
    if (name.empty() || name.size() >= IFNAMSIZ)
        return std::nullopt;
    Request request(RTM_GETLINK, 0);
    request.put<ifinfomsg>()->ifi_family = AF_UNSPEC;
    mnl_attr_put_strz(request.header(), IFLA_IFNAME, name.c_str());
    std::optional<int> index;
    const std::error_code error = m_socket->exchange(request.header(), [&](const nlmsghdr *answer) {
        if (answer->nlmsg_type == RTM_NEWLINK
            && answer->nlmsg_len >= mnl_nlmsg_size(sizeof(ifinfomsg)))
            index = static_cast<const ifinfomsg *>(mnl_nlmsg_get_payload(answer))->ifi_index;
    });
    return error ? std::nullopt : index;
}

std::error_code Netlink::setLinkUp(int index, int mtu)
{
    if (mtu <= 0)
        return std::make_error_code(std::errc::invalid_argument);
    Request request(RTM_NEWLINK, 0);
    auto *link = request.put<ifinfomsg>();
    link->ifi_family = AF_UNSPEC;
    link->ifi_index = index;
    link->ifi_flags = IFF_UP;
    link->ifi_change = IFF_UP;
    mnl_attr_put_u32(request.header(), IFLA_MTU, std::uint32_t(mtu));
    return m_socket->exchange(request.header());
}

std::error_code Netlink::deleteLink(const std::string &name)
{
    if (name.empty() || name.size() >= IFNAMSIZ)
        return std::make_error_code(std::errc::invalid_argument);
    Request request(RTM_DELLINK, 0);
    request.put<ifinfomsg>()->ifi_family = AF_UNSPEC;
    mnl_attr_put_strz(request.header(), IFLA_IFNAME, name.c_str());
    const std::error_code error = m_socket->exchange(request.header());
    return error == std::errc::no_such_device ? std::error_code() : error;
}

std::error_code Netlink::addAddress(int index, const IpPrefix &address)
{
    Request request(RTM_NEWADDR, NLM_F_CREATE | NLM_F_REPLACE);
    auto *header = request.put<ifaddrmsg>();
    header->ifa_family = std::uint8_t(address.family);
    header->ifa_prefixlen = std::uint8_t(address.length);
    header->ifa_index = std::uint32_t(index);
    // No duplicate address detection: the address must be usable at once.
    if (address.family == AF_INET6)
        header->ifa_flags = IFA_F_NODAD;
    mnl_attr_put(request.header(), IFA_LOCAL, address.byteCount(), address.bytes.data());
    mnl_attr_put(request.header(), IFA_ADDRESS, address.byteCount(), address.bytes.data());
    return m_socket->exchange(request.header());
}

std::error_code Netlink::addRoute(const Route &route)
{
    if (!route.destination.isNetwork() || (route.type == RouteType::unicast) != bool(route.device))
        return std::make_error_code(std::errc::invalid_argument);
    Request request = routeRequest(RTM_NEWROUTE, NLM_F_CREATE | NLM_F_REPLACE, route);
    return m_socket->exchange(request.header());
}

std::error_code Netlink::deleteRoute(const Route &route)
{
    Request request = routeRequest(RTM_DELROUTE, 0, route);
    const std::error_code error = m_socket->exchange(request.header());
    return isAbsent(error) ? std::error_code() : error;
}

std::error_code Netlink::flushTable(int family, std::uint32_t table)
{
    std::vector<std::vector<char>> routes;
    bool interrupted = true;
    // A dump that another change cut into may have missed routes: take it again.
    for (int attempt = 0; interrupted && attempt < 3; ++attempt) {
        routes.clear();
        interrupted = false;
        Request request = Request::dump(RTM_GETROUTE);
        request.put<rtmsg>()->rtm_family = std::uint8_t(family);
        const auto collect = [&](const nlmsghdr *message) {
            if (message->nlmsg_type == RTM_NEWROUTE
                && message->nlmsg_len >= mnl_nlmsg_size(sizeof(rtmsg))
                && routeTable(message) == table) {
                const auto *bytes = reinterpret_cast<const char *>(message);
                routes.emplace_back(bytes, bytes + message->nlmsg_len);
            }
        };
        const std::error_code error = m_socket->exchange(request.header(), collect, &interrupted);
        if (error)
            return error;
    }
    // Each route is deleted by sending it back as it was reported.
    for (std::vector<char> &route : routes) {
        auto *message = reinterpret_cast<nlmsghdr *>(route.data());
        message->nlmsg_type = RTM_DELROUTE;
        message->nlmsg_flags = NLM_F_REQUEST | NLM_F_ACK;
        const std::error_code error = m_socket->exchange(message);
        if (error && !isAbsent(error))
            return error;
    }
    return {};
}

std::error_code Netlink::addRule(const Rule &rule)
{
    // With NLM_F_EXCL the kernel refuses a rule that is there already instead of adding it a
    // second time. Its comparison ignores the "not" flag, so the refusal counts as done only when
    // the very same rule is there.
    Request request = ruleRequest(RTM_NEWRULE, NLM_F_CREATE | NLM_F_EXCL, rule);
    const std::error_code error = m_socket->exchange(request.header());
    if (error != std::errc::file_exists)
        return error;
    bool found = false;
    const auto find = [&](const nlmsghdr *message) {
        found = found || isRule(message, rule);
    };
    Request dump = Request::dump(RTM_GETRULE);
    dump.put<fib_rule_hdr>()->family = std::uint8_t(rule.family);
    const std::error_code dumpError = m_socket->exchange(dump.header(), find);
    if (dumpError)
        return dumpError;
    return found ? std::error_code() : error;
}

std::error_code Netlink::deleteRule(const Rule &rule)
{
    Request request = ruleRequest(RTM_DELRULE, 0, rule);
    const std::error_code error = m_socket->exchange(request.header());
    return isAbsent(error) ? std::error_code() : error;
}

} // namespace TunnelService
