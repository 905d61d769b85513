#pragma once

#include "Authorizer.h"
#include "HostChanges.h"
#include "Journal.h"
#include "Tunnel.h"

#include <nlohmann/json.hpp>

#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace TunnelService {

class Netlink;

// The tunnel service's requests, served on one Unix socket to any number of connections, one
// JSON object per line (docs/tunnel-service.md). There is one tunnel at most, and it lives as
// long as the connection that brought it up: when that connection ends, for any reason, the
// tunnel comes down. While it runs, only its user (and root) may talk to the service. The
// engine's death is noticed at once and reported to that connection.
class TunnelServer
{
public:
    // The longest request line, without its newline.
    static constexpr std::size_t longestLine = 64 * 1024;

    struct Options
    {
        HostChanges::Settings host;
        std::filesystem::path engineProgram = "/usr/bin/wireguard-go";
        std::vector<uid_t> allowedUsers; // none: polkit decides
    };

    // listener is a listening Unix stream socket, which the server owns from now on.
    TunnelServer(Options options, Netlink &netlink, int listener);
    ~TunnelServer();

    TunnelServer(const TunnelServer &) = delete;
    TunnelServer &operator=(const TunnelServer &) = delete;

    // Serves until SIGTERM or SIGINT; on the way out the tunnel comes down and the host is swept.
    void run();

private:
    struct Client
    {
        int fd = -1;
        pid_t pid = 0;
        uid_t uid = 0;
        bool authorized = false;
        std::string received;
        bool skipping = false; // inside a line that is over the limit
    };

    void acceptClient();
    void readFrom(unsigned long id);
    void closeClient(unsigned long id);
    void handleLine(unsigned long id, const std::string &line);
    void handle(unsigned long id, const nlohmann::json &requestId, const nlohmann::json &request);
    void bringUp(unsigned long id, const nlohmann::json &requestId, const nlohmann::json &request);
    void switchPeer(unsigned long id,
                    const nlohmann::json &requestId,
                    const nlohmann::json &request);
    void switchRouting(unsigned long id,
                       const nlohmann::json &requestId,
                       const nlohmann::json &request);
    void measureLatency(unsigned long id,
                        const nlohmann::json &requestId,
                        const nlohmann::json &request);
    void deliverMeasurements();
    void send(unsigned long id, const nlohmann::json &message);
    void error(unsigned long id, const nlohmann::json &requestId, const std::string &message);
    // Takes the tunnel down, telling its connection why.
    void endTunnel(const std::string &reason);
    void checkTunnel();

    // Where measurements finished on other threads leave their replies; its eventfd rings.
    struct Mailbox;

    const Options m_options;
    Journal m_journal;
    HostChanges m_host;
    Authorizer m_authorizer;
    const int m_listener;
    int m_signals = -1;
    std::shared_ptr<Mailbox> m_mailbox;
    std::map<unsigned long, Client> m_clients;
    unsigned long m_nextClient = 1;
    std::unique_ptr<Tunnel> m_tunnel;
    unsigned long m_owner = 0; // the connection the tunnel belongs to
    uid_t m_ownerUid = 0;
};

} // namespace TunnelService
