#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <filesystem>
#include <memory>
#include <ostream>
#include <string>
#include <thread>
#include <vector>

namespace httplib {
class Server;
struct Request;
struct Response;
} // namespace httplib

namespace Dev {
class AdminEndpoints;
class ApiEndpoints;
struct BackendState;
struct Fault;
class TunnelEndpoint;
} // namespace Dev

// A stand-in for the service's backend on 127.0.0.1, for development and tests: the client's API
// with accounts kept in a file, the web pages the client links to, and /_dev/ calls that arrange
// its state, queue faults and show what clients sent. Every port serves the same state.
class DevBackend
{
public:
    struct Options
    {
        std::vector<int> ports{0};           // 0 = ephemeral
        std::filesystem::path dataDirectory; // accounts.json lives here
        std::ostream *log = nullptr;         // code lines and request lines; nullptr = std::cout
        std::filesystem::path deviceHook{};  // run when a device key registers; empty = none
    };

    explicit DevBackend(Options options);
    ~DevBackend();

    DevBackend(const DevBackend &) = delete;
    DevBackend &operator=(const DevBackend &) = delete;

    // Loads the accounts, binds every port and serves on background threads. False, with the
    // reason in error(), when the data cannot be set up or a port cannot be bound.
    bool start();
    // Stops serving and joins the threads; replies being delayed by a fault go out at once.
    void stop();

    std::vector<int> ports() const;
    std::string baseUrl(std::size_t index = 0) const;
    const std::string &error() const;

private:
    bool listenOn(int port);
    void serve(const httplib::Request &request, httplib::Response &response);
    void serveApi(const httplib::Request &request, httplib::Response &response);
    void serveAdmin(const httplib::Request &request, httplib::Response &response);
    void answerWithFault(const Dev::Fault &fault, httplib::Response &response);
    void waitUnlessStopping(std::chrono::milliseconds delay);

    Options m_options;
    std::unique_ptr<Dev::BackendState> m_state;
    std::unique_ptr<Dev::ApiEndpoints> m_api;
    std::unique_ptr<Dev::AdminEndpoints> m_admin;
    std::unique_ptr<Dev::TunnelEndpoint> m_tunnel;
    std::condition_variable m_stopping; // with the state's lock
    bool m_stopRequested = false;
    std::vector<std::unique_ptr<httplib::Server>> m_servers;
    std::vector<std::thread> m_threads;
    std::vector<int> m_ports;
    std::string m_error;
};
