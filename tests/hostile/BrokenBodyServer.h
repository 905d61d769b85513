#pragma once

#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

// A loopback server that answers every request with status 200, a Content-Length for the whole
// of body and the first half of it, then breaks off: what a library server will not do.
class BrokenBodyServer
{
public:
    enum class Ending {
        closed,   // the connection is closed (FIN)
        reset,    // the connection is reset (RST)
        trickled, // the rest follows a byte every tenth of a second, until the client leaves
    };

    BrokenBodyServer(Ending ending, std::string body);
    ~BrokenBodyServer();

    BrokenBodyServer(const BrokenBodyServer &) = delete;
    BrokenBodyServer &operator=(const BrokenBodyServer &) = delete;

    std::string origin() const;
    int connections() const;

private:
    void serve(int connection);
    void trickle(int connection, std::size_t from);

    const Ending m_ending;
    const std::string m_body;
    int m_socket = -1;
    int m_port = 0;

    mutable std::mutex m_mutex;
    std::condition_variable m_stopped;
    bool m_stopping = false;
    int m_connections = 0;
    std::vector<std::thread> m_served;
    std::thread m_acceptor;
};
