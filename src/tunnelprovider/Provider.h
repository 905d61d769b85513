#pragma once

#include "ClientConnection.h"
#include "Knobs.h"
#include "Protocol.h"
#include "TunnelMessages.h"

#include <chrono>
#include <memory>
#include <optional>
#include <string_view>
#include <vector>

namespace ReferenceProvider {

class EventLog;
class ListeningSocket;
class TerminationSignal;

// The running provider: one poll() loop over the socket, its clients, SIGTERM and the timers
// that move the status. It starts connecting, is connected after the start delay, and on a stop
// request or SIGTERM goes disconnecting, then disconnected after the stop delay, then closes
// every client, removes its socket and returns.
class Provider
{
public:
    Provider(ListeningSocket &socket,
             TerminationSignal &termination,
             EventLog &log,
             TunnelMessages messages,
             const Knobs &knobs);

    Provider(const Provider &) = delete;
    Provider &operator=(const Provider &) = delete;

    // Serves until stopped; the process's exit status.
    int run();

private:
    using Clock = std::chrono::steady_clock;

    void setStatus(Status status);
    void beginStop(std::string_view cause);
    void runTimers();
    void acceptClients();
    void serve(ClientConnection &client);
    void handleLine(ClientConnection &client, std::string_view line);
    bool finished() const;
    int pollTimeout() const;

    ListeningSocket &m_socket;
    TerminationSignal &m_termination;
    EventLog &m_log;
    TunnelMessages m_messages;
    Knobs m_knobs;
    Status m_status = Status::Connecting;
    std::vector<std::unique_ptr<ClientConnection>> m_clients;
    std::optional<Clock::time_point> m_connectAt;
    std::optional<Clock::time_point> m_disconnectAt;
    std::optional<Clock::time_point> m_closeBy; // set once disconnected
};

} // namespace ReferenceProvider
