#pragma once

#include <nlohmann/json.hpp>

#include <filesystem>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <vector>

// The tunnel service as the provider sees it, on a Unix socket of the test's: it answers every
// request, says "up" only for the endpoints that answer, and records what it was asked. It never
// touches the network.
class StandInTunnelService
{
public:
    explicit StandInTunnelService(std::filesystem::path socket);
    ~StandInTunnelService();

    StandInTunnelService(const StandInTunnelService &) = delete;
    StandInTunnelService &operator=(const StandInTunnelService &) = delete;

    const std::filesystem::path &socket() const { return m_socket; }

    // Endpoints whose node completes a handshake; latencies by endpoint for "latency".
    void setAnswering(std::set<std::string> endpoints);
    void setLatencies(std::map<std::string, std::optional<double>> latencies);
    // Ends the provider's connection, as a service that stops.
    void hangUp();

    // The requests received so far, oldest first, and those of one type.
    std::vector<nlohmann::json> requests() const;
    std::vector<nlohmann::json> requestsOf(const std::string &type) const;

private:
    void serve();
    std::vector<nlohmann::json> answer(const nlohmann::json &request);

    std::filesystem::path m_socket;
    int m_listener = -1;
    int m_wake[2] = {-1, -1};
    mutable std::mutex m_mutex;
    std::set<std::string> m_answering;
    std::map<std::string, std::optional<double>> m_latencies;
    std::vector<nlohmann::json> m_requests;
    bool m_hangUp = false;
    std::thread m_thread;
};
