#pragma once

#include "IpAddress.h"

#include <cstdint>
#include <optional>
#include <vector>

namespace TunnelService {

// Round trips to endpoints by ICMP echo, from raw sockets (the service runs as root; unprivileged
// ping is off on Debian). The probes carry the engine's firewall mark, so they go the direct way
// even while a tunnel is up. Blocks for at most about a second per probe round.
class Latency
{
public:
    // For each endpoint, in order, the median round trip in milliseconds over the probes that
    // were answered; nothing for one that never answered.
    static std::vector<std::optional<double>> measure(const std::vector<Endpoint> &endpoints,
                                                      int probes,
                                                      std::uint32_t fwmark);
};

} // namespace TunnelService
