#pragma once

#include "LineConnection.h"

#include <nlohmann/json.hpp>

#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>

namespace TunnelProvider {

// The provider's connection to the privileged tunnel service: requests with ids and a handler
// for each answer, pushes to one handler, and word when the connection ends. Never blocks; the
// owner polls fd() and calls handleEvents().
class ServiceConnection
{
public:
    using Handler = std::function<void(const nlohmann::json &message)>;

    // Where the service listens unless ORVANE_TUNNEL_SERVICE_SOCKET names another socket.
    static std::filesystem::path defaultSocket();

    // Why the service cannot be reached, in words for people; nothing once connected.
    std::optional<std::string> connect(const std::filesystem::path &socket);

    bool isOpen() const { return m_lines && m_lines->isOpen(); }
    int fd() const { return m_lines ? m_lines->fd() : -1; }
    bool wantsToWrite() const { return m_lines && m_lines->hasPendingOutput(); }

    // Sends the request with the next id; the answer (a reply of its type, or an error) goes to
    // the handler. Nothing happens when the connection is closed.
    void request(nlohmann::json request, Handler answer);
    void onPush(Handler handler) { m_push = std::move(handler); }
    // Called once, when the service closes the connection or it breaks; not after close().
    void onEnd(std::function<void()> handler) { m_end = std::move(handler); }

    void handleEvents(short events);
    void close();

private:
    void dispatch(const std::string &line);

    std::unique_ptr<LineConnection> m_lines;
    long m_nextId = 1;
    std::map<long, Handler> m_pending;
    Handler m_push;
    std::function<void()> m_end;
};

} // namespace TunnelProvider
