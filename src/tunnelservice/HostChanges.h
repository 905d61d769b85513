#pragma once

#include "Journal.h"
#include "Netlink.h"
#include "Resolver.h"
#include "TunnelParameters.h"

#include <cstdint>
#include <filesystem>
#include <string>
#include <system_error>

namespace TunnelService {

class Engine;

// What a tunnel changes on the host, each change announced in the journal before it is made,
// and the sweep that undoes whatever the journal names. Routing follows one scheme in both
// modes: the engine's own packets carry a firewall mark; every other packet that the main table
// routes only by its default route looks up the tunnel's table, whose default goes into the
// tunnel (IPv6 is refused at once when the tunnel has no IPv6 address); in rule mode the direct
// networks are "throw" routes of that table, so they fall back to the main table. Connections
// keep the way they first went: the firewall marks their packets, and two rules ahead of the
// others send the tunnel's through a second table that has no throw routes, and the others
// through the main table; a change of mode moves new connections only.
class HostChanges
{
public:
    struct Settings
    {
        std::string interface = "orvane0";
        std::uint32_t table = 51821;
        std::uint32_t stickyTable = 51822; // the tunnel's connections, whatever the mode
        std::uint32_t fwmark = 51821;
        std::uint32_t tunnelFlowMark = 51822;
        std::uint32_t directFlowMark = 51823;
        std::uint32_t rulePriority = 31000; // two before it and one after it are ours too
        std::string firewallTable = "orvanevpn";
        std::filesystem::path resolvConf = "/etc/resolv.conf";
        std::filesystem::path stateDirectory = "/run/orvanevpn";
    };

    HostChanges(Settings settings, Journal &journal, Netlink &netlink);

    const Settings &settings() const { return m_settings; }

    // Before the engine starts: sweeping the journal deletes the interface the engine makes.
    std::error_code announceInterface();
    std::error_code recordEngine(const Engine &engine);

    // Addresses, MTU, the firewall table, the marks' sysctl, the tunnel's routing table and the
    // policy rules, in that order; the rules come last, once the table is whole.
    std::error_code bringUp(const TunnelParameters &tunnel, std::string &error);

    // Routes the direct networks of the new routing before it stops routing those of the old:
    // no connection falls between the two.
    std::error_code switchRouting(const Routing &from, const Routing &to, std::string &error);

    // The tunnel's DNS servers, through the system's resolver back-end.
    std::error_code useTunnelDns(const std::vector<IpPrefix> &servers, std::string &error);
    std::error_code restoreDns(std::string &error);

    // Undoes everything the journal names, newest first, and empties it. Idempotent.
    void sweep();

private:
    std::vector<Netlink::Rule> rules() const;
    std::error_code addThrowRoutes(const std::vector<IpPrefix> &networks,
                                   const std::vector<IpPrefix> &except);
    void undo(const nlohmann::json &entry);

    const Settings m_settings;
    Journal &m_journal;
    Netlink &m_netlink;
    int m_linkIndex = 0;
};

} // namespace TunnelService
