#include "StandInTunnelService.h"

#include <cstring>

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

StandInTunnelService::StandInTunnelService(std::filesystem::path socket)
    : m_socket(std::move(socket))
{
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, m_socket.c_str(), sizeof address.sun_path - 1);
    m_listener = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    ::bind(m_listener, reinterpret_cast<const sockaddr *>(&address), sizeof address);
    ::listen(m_listener, 4);
    [[maybe_unused]] const int piped = ::pipe2(m_wake, O_CLOEXEC);
    m_thread = std::thread([this] { serve(); });
}

StandInTunnelService::~StandInTunnelService()
{
    {
        std::lock_guard lock(m_mutex);
        m_hangUp = true;
    }
    ::close(m_wake[1]);
    m_thread.join();
    ::close(m_wake[0]);
    ::close(m_listener);
    std::filesystem::remove(m_socket);
}

void StandInTunnelService::setAnswering(std::set<std::string> endpoints)
{
    std::lock_guard lock(m_mutex);
    m_answering = std::move(endpoints);
}

void StandInTunnelService::setLatencies(std::map<std::string, std::optional<double>> latencies)
{
    std::lock_guard lock(m_mutex);
    m_latencies = std::move(latencies);
}

void StandInTunnelService::hangUp()
{
    {
        std::lock_guard lock(m_mutex);
        m_hangUp = true;
    }
    [[maybe_unused]] const ssize_t written = ::write(m_wake[1], "x", 1);
}

std::vector<nlohmann::json> StandInTunnelService::requests() const
{
    std::lock_guard lock(m_mutex);
    return m_requests;
}

std::vector<nlohmann::json> StandInTunnelService::requestsOf(const std::string &type) const
{
    std::vector<nlohmann::json> found;
    for (const nlohmann::json &request : requests()) {
        if (request.value("type", "") == type)
            found.push_back(request);
    }
    return found;
}

void StandInTunnelService::serve()
{
    int client = -1;
    std::string input;
    for (;;) {
        pollfd polled[2] = {{m_wake[0], POLLIN, 0}, {client >= 0 ? client : m_listener, POLLIN, 0}};
        if (::poll(polled, 2, -1) < 0)
            continue;
        {
            std::lock_guard lock(m_mutex);
            if (m_hangUp)
                break;
        }
        if (client < 0) {
            client = ::accept4(m_listener, nullptr, nullptr, SOCK_CLOEXEC);
            continue;
        }
        char chunk[4096];
        const ssize_t count = ::recv(client, chunk, sizeof chunk, 0);
        if (count <= 0) {
            ::close(client);
            client = -1;
            continue;
        }
        input.append(chunk, std::size_t(count));
        for (std::size_t end = input.find('\n'); end != std::string::npos; end = input.find('\n')) {
            const nlohmann::json request = nlohmann::json::parse(input.substr(0, end),
                                                                 nullptr,
                                                                 false);
            input.erase(0, end + 1);
            std::string out;
            for (const nlohmann::json &line : answer(request))
                out += line.dump() + "\n";
            [[maybe_unused]] const ssize_t sent = ::send(client,
                                                         out.data(),
                                                         out.size(),
                                                         MSG_NOSIGNAL);
        }
    }
    if (client >= 0)
        ::close(client);
}

std::vector<nlohmann::json> StandInTunnelService::answer(const nlohmann::json &request)
{
    std::lock_guard lock(m_mutex);
    m_requests.push_back(request);
    const std::string type = request.value("type", "");
    const nlohmann::json id = request.value("id", nlohmann::json());
    if (type == "latency") {
        nlohmann::json results = nlohmann::json::array();
        for (const auto &[endpoint, milliseconds] : m_latencies)
            results.push_back(
                {{"endpoint", endpoint},
                 {"milliseconds",
                  milliseconds ? nlohmann::json(*milliseconds) : nlohmann::json(nullptr)}});
        return {{{"id", id}, {"type", "latency"}, {"results", results}}};
    }
    std::vector<nlohmann::json> lines = {{{"id", id}, {"type", type}}};
    if (type == "up" || type == "peer") {
        const nlohmann::json &peer = type == "up" ? request["tunnel"]["peer"] : request["peer"];
        lines.push_back({{"type", "status"}, {"state", "connecting"}});
        if (m_answering.contains(peer.value("endpoint", "")))
            lines.push_back({{"type", "status"}, {"state", "up"}});
    }
    return lines;
}
