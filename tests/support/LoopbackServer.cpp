#include "LoopbackServer.h"

#include <stdexcept>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

// A listening socket on 127.0.0.1 and an ephemeral port.
int listenOnLoopback(int &port)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0
        || ::listen(fd, 64) != 0
        || ::getsockname(fd, reinterpret_cast<sockaddr *>(&address), &length) != 0)
        throw std::runtime_error("cannot listen on loopback");
    port = ntohs(address.sin_port);
    return fd;
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
