#include "BrokenBodyServer.h"

#include <chrono>
#include <stdexcept>
#include <strings.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

bool sendAll(int connection, std::string_view bytes)
{
    while (!bytes.empty()) {
        const ssize_t sent = ::send(connection, bytes.data(), bytes.size(), MSG_NOSIGNAL);
        if (sent <= 0)
            return false;
        bytes.remove_prefix(std::size_t(sent));
    }
    return true;
}

// Reads a request's head and its body (by Content-Length), so that the answer comes after it.
bool readRequest(int connection)
{
    std::string received;
    char buffer[4096];
    std::size_t headEnd = std::string::npos;
    std::size_t bodyLength = 0;
    for (;;) {
        if (headEnd == std::string::npos
            && (headEnd = received.find("\r\n\r\n")) != std::string::npos) {
            const std::string head = received.substr(0, headEnd);
            for (std::size_t line = head.find("\r\n"); line != std::string::npos;
                 line = head.find("\r\n", line + 2)) {
                static constexpr std::string_view name = "content-length:";
                if (::strncasecmp(head.c_str() + line + 2, name.data(), name.size()) == 0)
                    bodyLength = std::stoul(head.substr(line + 2 + name.size()));
            }
        }
        if (headEnd != std::string::npos && received.size() >= headEnd + 4 + bodyLength)
            return true;
        const ssize_t count = ::recv(connection, buffer, sizeof buffer, 0);
        if (count <= 0)
            return false;
        received.append(buffer, std::size_t(count));
    }
}

} // namespace

BrokenBodyServer::BrokenBodyServer(Ending ending, std::string body)
    : m_ending(ending)
    , m_body(std::move(body))
{
    m_socket = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (m_socket < 0
        || ::bind(m_socket, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0
        || ::listen(m_socket, 64) != 0
        || ::getsockname(m_socket, reinterpret_cast<sockaddr *>(&address), &length) != 0)
        throw std::runtime_error("cannot listen on loopback");
    m_port = ntohs(address.sin_port);
    m_acceptor = std::thread([this] {
        for (;;) {
            const int connection = ::accept(m_socket, nullptr, nullptr);
            if (connection < 0)
                return; // the listening socket was shut down
            std::lock_guard lock(m_mutex);
            ++m_connections;
            m_served.emplace_back([this, connection] { serve(connection); });
        }
    });
}

BrokenBodyServer::~BrokenBodyServer()
{
    {
        std::lock_guard lock(m_mutex);
        m_stopping = true;
    }
    m_stopped.notify_all();
    ::shutdown(m_socket, SHUT_RDWR);
    ::close(m_socket);
    m_acceptor.join();
    for (auto &served : m_served)
        served.join();
}

std::string BrokenBodyServer::origin() const
{
    return "http://127.0.0.1:" + std::to_string(m_port);
}

int BrokenBodyServer::connections() const
{
    std::lock_guard lock(m_mutex);
    return m_connections;
}

void BrokenBodyServer::serve(int connection)
{
    const std::size_t half = m_body.size() / 2;
    const std::string head = "HTTP/1.1 200 OK\r\nContent-Type: application/json\r\n"
                             "Content-Length: "
                             + std::to_string(m_body.size()) + "\r\nConnection: close\r\n\r\n";
    if (readRequest(connection) && sendAll(connection, head + m_body.substr(0, half))) {
        switch (m_ending) {
        case Ending::closed:
            break;
        case Ending::reset: {
            const linger abort{1, 0}; // closing now sends a reset
            ::setsockopt(connection, SOL_SOCKET, SO_LINGER, &abort, sizeof abort);
            break;
        }
        case Ending::trickled:
            trickle(connection, half);
            break;
        }
    }
    ::close(connection);
}

void BrokenBodyServer::trickle(int connection, std::size_t from)
{
    std::unique_lock lock(m_mutex);
    for (std::size_t next = from; next < m_body.size(); ++next) {
        if (m_stopped.wait_for(lock, std::chrono::milliseconds(100), [this] { return m_stopping; }))
            return;
        if (!sendAll(connection, std::string_view(m_body).substr(next, 1)))
            return;
    }
}
