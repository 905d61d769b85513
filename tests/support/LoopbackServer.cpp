#include "LoopbackServer.h"

#include <stdexcept>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

sockaddr_in loopback(int port)
{
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(std::uint16_t(port));
    return address;
}

// A listening socket on 127.0.0.1 and an ephemeral port.
int listenOnLoopback(int &port, int backlog = 64)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address = loopback(0);
    socklen_t length = sizeof address;
    if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0
        || ::listen(fd, backlog) != 0
        || ::getsockname(fd, reinterpret_cast<sockaddr *>(&address), &length) != 0)
        throw std::runtime_error("cannot listen on loopback");
    port = ntohs(address.sin_port);
    return fd;
}

// Starts connecting to the port; the socket, and whether the handshake completed within the
// time (milliseconds).
std::pair<int, bool> connectWithin(int port, int milliseconds)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    const sockaddr_in address = loopback(port);
    if (fd < 0)
        throw std::runtime_error("cannot make a socket");
    if (::connect(fd, reinterpret_cast<const sockaddr *>(&address), sizeof address) == 0)
        return {fd, true};
    pollfd waiting{fd, POLLOUT, 0};
    int error = 0;
    socklen_t length = sizeof error;
    const bool connected = ::poll(&waiting, 1, milliseconds) == 1
                           && ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) == 0
                           && error == 0;
    return {fd, connected};
}

} // namespace

LoopbackServer::LoopbackServer()
{
    m_server.set_tcp_nodelay(true);
    m_server.set_keep_alive_max_count(1000);
    // An idle connection is closed at once, or it would hold the server's stop until its idle
    // time-out: the client session outlives every test.
    m_server.set_keep_alive_timeout(0);
}

LoopbackServer::~LoopbackServer()
{
    // stop() does nothing before the accept loop runs, so let it get there first.
    while (m_thread.joinable() && !m_server.is_running())
        std::this_thread::yield();
    m_server.stop();
    if (m_thread.joinable())
        m_thread.join();
}

void LoopbackServer::start()
{
    m_port = m_server.bind_to_any_port("127.0.0.1");
    if (m_port <= 0)
        throw std::runtime_error("cannot bind a loopback port");
    // The socket listens already: connections wait in its backlog until the loop runs.
    m_thread = std::thread([this] { m_server.listen_after_bind(); });
}

std::string LoopbackServer::origin() const
{
    return "http://127.0.0.1:" + std::to_string(m_port);
}

HangingUpServer::HangingUpServer(std::string name,
                                 std::vector<std::string> &log,
                                 std::mutex &logMutex)
{
    m_socket = listenOnLoopback(m_port);
    m_thread = std::thread([this, name, &log, &logMutex] {
        for (;;) {
            const int connection = ::accept(m_socket, nullptr, nullptr);
            if (connection < 0)
                return; // the listening socket was shut down
            {
                std::lock_guard lock(logMutex);
                log.push_back(name);
            }
            ::close(connection);
        }
    });
}

HangingUpServer::~HangingUpServer()
{
    ::shutdown(m_socket, SHUT_RDWR);
    ::close(m_socket);
    m_thread.join();
}

std::string HangingUpServer::origin() const
{
    return "http://127.0.0.1:" + std::to_string(m_port);
}

int refusedPort()
{
    int port = 0;
    ::close(listenOnLoopback(port));
    return port;
}

SilentServer::SilentServer()
{
    m_socket = listenOnLoopback(m_port);
    if (::pipe2(m_wake, O_CLOEXEC) != 0)
        throw std::runtime_error("cannot make a pipe");
    m_thread = std::thread([this] {
        std::vector<pollfd> watched{{m_wake[0], POLLIN, 0}, {m_socket, POLLIN, 0}};
        while (::poll(watched.data(), watched.size(), -1) > 0 && !watched[0].revents) {
            if (watched[1].revents) {
                const int connection = ::accept4(m_socket, nullptr, nullptr, SOCK_CLOEXEC);
                if (connection >= 0) {
                    watched.push_back({connection, POLLIN, 0});
                    std::lock_guard lock(m_mutex);
                    ++m_connections;
                }
            }
            for (std::size_t i = 2; i < watched.size(); ++i) {
                if (!watched[i].revents)
                    continue;
                char buffer[4096];
                const ssize_t got = ::read(watched[i].fd, buffer, sizeof buffer);
                if (got > 0) {
                    std::lock_guard lock(m_mutex);
                    m_bytes += std::size_t(got);
                } else {
                    ::close(watched[i].fd); // closed by the client: poll passes over it now
                    watched[i].fd = -1;
                    std::lock_guard lock(m_mutex);
                    ++m_closed;
                }
            }
            for (pollfd &each : watched)
                each.revents = 0;
        }
        for (std::size_t i = 2; i < watched.size(); ++i) {
            if (watched[i].fd >= 0)
                ::close(watched[i].fd);
        }
    });
}

SilentServer::~SilentServer()
{
    const char stop = 0;
    (void) !::write(m_wake[1], &stop, 1);
    m_thread.join();
    ::close(m_socket);
    ::close(m_wake[0]);
    ::close(m_wake[1]);
}

std::string SilentServer::origin() const
{
    return "http://127.0.0.1:" + std::to_string(m_port);
}

int SilentServer::connections() const
{
    std::lock_guard lock(m_mutex);
    return m_connections;
}

int SilentServer::openConnections() const
{
    std::lock_guard lock(m_mutex);
    return m_connections - m_closed;
}

std::size_t SilentServer::bytesReceived() const
{
    std::lock_guard lock(m_mutex);
    return m_bytes;
}

DroppingPort::DroppingPort()
{
    m_socket = listenOnLoopback(m_port, 0);
    // Connections nobody accepts fill the backlog; once one stops completing, it is full.
    for (int i = 0; i < 8; ++i) {
        const auto [fd, connected] = connectWithin(m_port, 200);
        m_filling.push_back(fd);
        if (!connected)
            return;
    }
    throw std::runtime_error("the backlog never filled");
}

DroppingPort::~DroppingPort()
{
    for (const int fd : m_filling)
        ::close(fd);
    ::close(m_socket);
}

std::string DroppingPort::origin() const
{
    return "http://127.0.0.1:" + std::to_string(m_port);
}
