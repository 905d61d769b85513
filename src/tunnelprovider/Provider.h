#pragma once

#include "LineConnection.h"
#include "Protocol.h"
#include "TunnelDriver.h"

#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace TunnelProvider {

class EventLog;
class ListeningSocket;
class TerminationSignal;

// The running provider: one poll() loop over the socket, its clients, SIGTERM and whatever the
// tunnel driver waits on. It answers the app's requests, pushes every status change, hands
// messages to the driver, and on a stop request or SIGTERM goes disconnecting and lets the
// driver take the tunnel down. Once the status is disconnected it removes its socket, closes
// every client and returns; a reason nobody has heard yet keeps the socket open a moment longer,
// for the app to connect and learn it.
class Provider final : private ProviderControl
{
public:
    Provider(ListeningSocket &socket,
             TerminationSignal &termination,
             EventLog &log,
             TunnelDriver &driver);

    Provider(const Provider &) = delete;
    Provider &operator=(const Provider &) = delete;

    // Serves until stopped; the process's exit status.
    int run();

private:
    using Clock = std::chrono::steady_clock;

    void setStatus(Status status, std::string reason = {}) override;
    void beginStop(std::string_view cause);
    void closeDown();
    void runTimers();
    void acceptClients();
    struct Client
    {
        explicit Client(int fd)
            : lines(fd)
        { }

        LineConnection lines;
        bool subscribed = false;
    };

    void serve(Client &client);
    void handleLine(Client &client, std::string_view line);
    bool finished() const;
    int pollTimeout() const;

    ListeningSocket &m_socket;
    TerminationSignal &m_termination;
    EventLog &m_log;
    TunnelDriver &m_driver;
    Status m_status = Status::Connecting;
    std::string m_reason; // why the tunnel is down, once it is
    bool m_stopping = false;
    std::vector<std::unique_ptr<Client>> m_clients;
    std::optional<Clock::time_point> m_lingerUntil; // disconnected with a reason nobody heard
    std::optional<Clock::time_point> m_closeBy;     // set once the socket is closed
};

} // namespace TunnelProvider
