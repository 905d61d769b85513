#include "Latency.h"

#include <algorithm>
#include <chrono>
#include <cstring>

#include <netinet/icmp6.h>
#include <netinet/ip.h>
#include <netinet/ip_icmp.h>
#include <poll.h>
#include <unistd.h>

namespace TunnelService {

namespace {

using Clock = std::chrono::steady_clock;

constexpr auto roundLimit = std::chrono::milliseconds(1000);

std::uint16_t checksum(const std::uint8_t *data, std::size_t length)
{
    std::uint32_t sum = 0;
    for (std::size_t i = 0; i + 1 < length; i += 2)
        sum += std::uint32_t(data[i] << 8 | data[i + 1]);
    if (length % 2)
        sum += std::uint32_t(data[length - 1] << 8);
    while (sum >> 16)
        sum = (sum & 0xffff) + (sum >> 16);
    return std::uint16_t(~sum);
}

struct Probe
{
    int socket = -1;
    Clock::time_point sent;
};

int openSocket(int family, std::uint32_t fwmark)
{
    const int fd = ::socket(family,
                            SOCK_RAW | SOCK_CLOEXEC | SOCK_NONBLOCK,
                            family == AF_INET ? int(IPPROTO_ICMP) : int(IPPROTO_ICMPV6));
    if (fd >= 0)
        ::setsockopt(fd, SOL_SOCKET, SO_MARK, &fwmark, sizeof fwmark);
    return fd;
}

sockaddr_storage addressOf(const IpPrefix &address)
{
    sockaddr_storage storage{};
    if (address.family == AF_INET) {
        auto *in = reinterpret_cast<sockaddr_in *>(&storage);
        in->sin_family = AF_INET;
        std::memcpy(&in->sin_addr, address.bytes.data(), 4);
    } else {
        auto *in6 = reinterpret_cast<sockaddr_in6 *>(&storage);
        in6->sin6_family = AF_INET6;
        std::memcpy(&in6->sin6_addr, address.bytes.data(), 16);
    }
    return storage;
}

// Sends one echo request with the identifier and sequence number; false when it cannot go.
bool sendEcho(int fd, const IpPrefix &address, std::uint16_t identifier, std::uint16_t sequence)
{
    std::uint8_t packet[16] = {};
    packet[0] = address.family == AF_INET ? ICMP_ECHO : ICMP6_ECHO_REQUEST;
    packet[4] = std::uint8_t(identifier >> 8);
    packet[5] = std::uint8_t(identifier);
    packet[6] = std::uint8_t(sequence >> 8);
    packet[7] = std::uint8_t(sequence);
    if (address.family == AF_INET) {
        const std::uint16_t sum = checksum(packet, sizeof packet);
        packet[2] = std::uint8_t(sum >> 8);
        packet[3] = std::uint8_t(sum);
    } // the kernel fills in ICMPv6 checksums
    const sockaddr_storage to = addressOf(address);
    return ::sendto(fd,
                    packet,
                    sizeof packet,
                    0,
                    reinterpret_cast<const sockaddr *>(&to),
                    address.family == AF_INET ? sizeof(sockaddr_in) : sizeof(sockaddr_in6))
           == ssize_t(sizeof packet);
}

// The sequence number of an echo reply with our identifier, or nothing.
std::optional<std::uint16_t> replySequence(int family,
                                           const std::uint8_t *data,
                                           ssize_t length,
                                           std::uint16_t identifier)
{
    // IPv4 raw sockets deliver the IP header too; IPv6 ones do not.
    std::size_t offset = 0;
    if (family == AF_INET) {
        if (length < 20)
            return std::nullopt;
        offset = std::size_t(data[0] & 0x0f) * 4;
    }
    if (length < ssize_t(offset + 8))
        return std::nullopt;
    const std::uint8_t *icmp = data + offset;
    const int reply = family == AF_INET ? ICMP_ECHOREPLY : ICMP6_ECHO_REPLY;
    if (icmp[0] != reply || (std::uint16_t(icmp[4] << 8 | icmp[5])) != identifier)
        return std::nullopt;
    return std::uint16_t(icmp[6] << 8 | icmp[7]);
}

} // namespace

std::vector<std::optional<double>> Latency::measure(const std::vector<Endpoint> &endpoints,
                                                    int probes,
                                                    std::uint32_t fwmark)
{
    std::vector<std::vector<double>> times(endpoints.size());
    const int sockets[2] = {openSocket(AF_INET, fwmark), openSocket(AF_INET6, fwmark)};
    const std::uint16_t identifier = std::uint16_t(::getpid()
                                                   ^ Clock::now().time_since_epoch().count());
    for (int round = 0; round < probes; ++round) {
        // Every endpoint at once; the sequence number tells the round and the endpoint.
        std::vector<Clock::time_point> sent(endpoints.size());
        std::vector<bool> answered(endpoints.size(), false);
        std::size_t waiting = 0;
        for (std::size_t i = 0; i < endpoints.size(); ++i) {
            const IpPrefix &address = endpoints[i].address;
            const int fd = sockets[address.family == AF_INET ? 0 : 1];
            sent[i] = Clock::now();
            if (fd >= 0 && sendEcho(fd, address, identifier, std::uint16_t(round * 256 + i)))
                ++waiting;
        }
        const auto deadline = Clock::now() + roundLimit;
        while (waiting > 0 && Clock::now() < deadline) {
            pollfd readable[2] = {{sockets[0], POLLIN, 0}, {sockets[1], POLLIN, 0}};
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline
                                                                                    - Clock::now());
            if (::poll(readable, 2, int(std::max<long>(left.count(), 1))) <= 0)
                continue;
            for (int family = 0; family < 2; ++family) {
                if (!(readable[family].revents & POLLIN))
                    continue;
                std::uint8_t data[1500];
                const ssize_t length = ::recv(sockets[family], data, sizeof data, 0);
                const auto sequence = replySequence(family == 0 ? AF_INET : AF_INET6,
                                                    data,
                                                    length,
                                                    identifier);
                if (!sequence || *sequence / 256 != round || *sequence % 256 >= endpoints.size()
                    || answered[*sequence % 256])
                    continue;
                const std::size_t i = *sequence % 256;
                answered[i] = true;
                times[i].push_back(
                    std::chrono::duration<double, std::milli>(Clock::now() - sent[i]).count());
                --waiting;
            }
        }
    }
    for (const int fd : sockets) {
        if (fd >= 0)
            ::close(fd);
    }
    std::vector<std::optional<double>> medians;
    for (auto &measured : times) {
        if (measured.empty()) {
            medians.push_back(std::nullopt);
            continue;
        }
        std::sort(measured.begin(), measured.end());
        medians.push_back(measured[measured.size() / 2]);
    }
    return medians;
}

} // namespace TunnelService
