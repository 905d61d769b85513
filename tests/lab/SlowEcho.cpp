// A slow node for the lab: answers IPv4 pings itself, each after a delay, so that a node seems far
// away to latency probes. The kernel's own echo replies must be off in the namespace
// (net.ipv4.icmp_echo_ignore_all=1). Runs until SIGTERM.
//
//   orvane_lab_slow_echo DELAY_MS

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <string>

#include <netinet/in.h>
#include <netinet/ip.h>
#include <netinet/ip_icmp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;

struct PendingReply
{
    Clock::time_point due;
    sockaddr_in to;
    std::string icmp; // the echo reply, checksum included
};

std::uint16_t checksum(const std::string &bytes)
{
    std::uint32_t sum = 0;
    for (std::size_t i = 0; i + 1 < bytes.size(); i += 2)
        sum += std::uint32_t(std::uint8_t(bytes[i]) << 8 | std::uint8_t(bytes[i + 1]));
    if (bytes.size() % 2)
        sum += std::uint32_t(std::uint8_t(bytes.back()) << 8);
    while (sum >> 16)
        sum = (sum & 0xffff) + (sum >> 16);
    return std::uint16_t(~sum);
}

} // namespace

int main(int argc, char *argv[])
{
    const long delayMs = argc == 2 ? std::strtol(argv[1], nullptr, 10) : -1;
    if (delayMs < 0) {
        std::fprintf(stderr, "usage: orvane_lab_slow_echo DELAY_MS\n");
        return 2;
    }
    const int fd = ::socket(AF_INET, SOCK_RAW, IPPROTO_ICMP);
    if (fd < 0) {
        std::perror("raw socket");
        return 1;
    }
    std::deque<PendingReply> pending;
    for (;;) {
        int timeout = -1;
        if (!pending.empty()) {
            const auto left = std::chrono::ceil<std::chrono::milliseconds>(pending.front().due
                                                                           - Clock::now());
            timeout = int(std::max<long>(0, left.count()));
        }
        pollfd polled{fd, POLLIN, 0};
        if (::poll(&polled, 1, timeout) > 0) {
            char packet[2048];
            sockaddr_in from{};
            socklen_t length = sizeof from;
            const ssize_t count = ::recvfrom(fd,
                                             packet,
                                             sizeof packet,
                                             0,
                                             reinterpret_cast<sockaddr *>(&from),
                                             &length);
            const std::size_t header = count > 0 ? std::size_t(packet[0] & 0x0f) * 4 : 0;
            if (count > 0 && std::size_t(count) >= header + 8
                && std::uint8_t(packet[header]) == ICMP_ECHO) {
                std::string reply(packet + header, std::size_t(count) - header);
                reply[0] = char(ICMP_ECHOREPLY);
                reply[2] = reply[3] = 0;
                const std::uint16_t sum = checksum(reply);
                reply[2] = char(sum >> 8);
                reply[3] = char(sum & 0xff);
                pending.push_back({Clock::now() + std::chrono::milliseconds(delayMs), from, reply});
            }
        }
        while (!pending.empty() && pending.front().due <= Clock::now()) {
            const PendingReply &reply = pending.front();
            ::sendto(fd,
                     reply.icmp.data(),
                     reply.icmp.size(),
                     0,
                     reinterpret_cast<const sockaddr *>(&reply.to),
                     sizeof reply.to);
            pending.pop_front();
        }
    }
}
