#pragma once

#include <httplib.h>

#include <mutex>
#include <string>
#include <thread>
#include <vector>

// An HTTP server of the test's own on 127.0.0.1 and an ephemeral port. Register handlers on
// server(), then start(); it stops at destruction.
class LoopbackServer
{
public:
    LoopbackServer();
    ~LoopbackServer();

    LoopbackServer(const LoopbackServer &) = delete;
    LoopbackServer &operator=(const LoopbackServer &) = delete;

    httplib::Server &server() { return m_server; }
    void start();

    int port() const { return m_port; }
    std::string origin() const; // "http://127.0.0.1:PORT"

private:
    httplib::Server m_server;
    int m_port = 0;
    std::thread m_thread;
};

// A server that accepts every connection and closes it without a word, counting them: to a
// client, a base URL that cannot be reached. Each accepted connection appends name to log.
class HangingUpServer
{
public:
    HangingUpServer(std::string name, std::vector<std::string> &log, std::mutex &logMutex);
    ~HangingUpServer();

    std::string origin() const;

private:
    int m_socket = -1;
    int m_port = 0;
    std::thread m_thread;
};

// A base URL behind a network that swallows requests: connections are accepted and whatever
// they send is read, but nothing is ever answered. They stay open until the server goes.
class SilentServer
{
public:
    SilentServer();
    ~SilentServer();

    SilentServer(const SilentServer &) = delete;
    SilentServer &operator=(const SilentServer &) = delete;

    std::string origin() const;
    int connections() const;     // accepted so far
    int openConnections() const; // accepted and not closed by the client yet
    std::size_t bytesReceived() const;

private:
    int m_socket = -1;
    int m_port = 0;
    int m_wake[2] = {-1, -1};
    mutable std::mutex m_mutex;
    int m_connections = 0;
    int m_closed = 0;
    std::size_t m_bytes = 0;
    std::thread m_thread;
};

// A base URL behind a network that drops packets: a listening port whose backlog is full, so
// the kernel drops every new handshake and connecting never completes.
class DroppingPort
{
public:
    DroppingPort();
    ~DroppingPort();

    DroppingPort(const DroppingPort &) = delete;
    DroppingPort &operator=(const DroppingPort &) = delete;

    std::string origin() const;

private:
    int m_socket = -1;
    int m_port = 0;
    std::vector<int> m_filling; // the connections that fill the backlog
};

// A loopback port nothing listens on: connecting is refused.
int refusedPort();
