#pragma once

#include "IpAddress.h"

#include <cstdint>
#include <string>
#include <system_error>
#include <vector>

namespace TunnelService {

// The tunnel's own nftables table (family inet) in this network namespace:
// - packets addressed to the tunnel's addresses that arrive from anywhere but the tunnel's
//   interface, and not from this host, are dropped (nobody outside can spoof the tunnel);
// - the engine's UDP packets keep their firewall mark through conntrack, so the answers to them
//   pass reverse-path filtering and are routed like the packets they answer;
// - every other connection this host opens remembers the way it first went (into the tunnel or
//   not) in its conntrack mark, and its later packets carry that mark, so that policy rules keep
//   it on that way when the routing mode changes under it.
// Written in-process through libnftables: spawning nft for every change is too slow.
class Firewall
{
public:
    struct Marks
    {
        std::uint32_t engine = 0;      // set by the engine on its own packets
        std::uint32_t tunnelFlows = 0; // connections that went into the tunnel
        std::uint32_t directFlows = 0; // connections that went another way
    };

    // Replaces any table of that name.
    static std::error_code install(const std::string &table,
                                   const std::string &interface,
                                   const Marks &marks,
                                   const std::vector<IpPrefix> &addresses,
                                   std::string &error);
    // A table that is not there counts as removed.
    static std::error_code remove(const std::string &table, std::string &error);
};

} // namespace TunnelService
