#include "TunnelServer.h"

#include "Latency.h"
#include "Netlink.h"

#include "platform/FileOperations.h"
#include "platform/Log.h"

#include <cerrno>
#include <csignal>
#include <mutex>
#include <thread>

#include <poll.h>
#include <sys/eventfd.h>
#include <sys/signalfd.h>
#include <sys/socket.h>
#include <unistd.h>

namespace TunnelService {

namespace {

constexpr const char logCategory[] = "TunnelService";
constexpr std::size_t mostClients = 32;
// How often a connecting tunnel asks its engine for the first handshake.
constexpr int handshakePollMilliseconds = 50;

void log(const std::string &message)
{
    Platform::Log::system(Platform::LogLevel::Default, logCategory, message);
}

} // namespace

struct TunnelServer::Mailbox
{
    int eventfd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    std::mutex mutex;
    std::vector<std::pair<unsigned long, nlohmann::json>> replies;

    ~Mailbox() { ::close(eventfd); }

    void post(unsigned long client, nlohmann::json reply)
    {
        {
            std::lock_guard lock(mutex);
            replies.emplace_back(client, std::move(reply));
        }
        const std::uint64_t one = 1;
        [[maybe_unused]] const ssize_t written = ::write(eventfd, &one, sizeof one);
    }
};

TunnelServer::TunnelServer(Options options, Netlink &netlink, int listener)
    : m_options(std::move(options))
    , m_journal(m_options.host.stateDirectory / "journal")
    , m_host(m_options.host, m_journal, netlink)
    , m_authorizer(m_options.allowedUsers)
    , m_listener(listener)
    , m_mailbox(std::make_shared<Mailbox>())
{
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGTERM);
    sigaddset(&signals, SIGINT);
    ::sigprocmask(SIG_BLOCK, &signals, nullptr);
    m_signals = ::signalfd(-1, &signals, SFD_CLOEXEC);
    ::signal(SIGPIPE, SIG_IGN);
}

TunnelServer::~TunnelServer()
{
    m_tunnel.reset();
    for (auto &[id, client] : m_clients)
        ::close(client.fd);
    ::close(m_signals);
    ::close(m_listener);
}

void TunnelServer::run()
{
    log("serving");
    for (;;) {
        std::vector<pollfd> watched = {{m_listener, POLLIN, 0},
                                       {m_signals, POLLIN, 0},
                                       {m_mailbox->eventfd, POLLIN, 0},
                                       {m_tunnel ? m_tunnel->engine().pidfd() : -1, POLLIN, 0}};
        std::vector<unsigned long> order;
        for (const auto &[id, client] : m_clients) {
            watched.push_back({client.fd, POLLIN, 0});
            order.push_back(id);
        }
        const bool connecting = m_tunnel && m_tunnel->state() == Tunnel::State::connecting;
        if (::poll(watched.data(), watched.size(), connecting ? handshakePollMilliseconds : -1) < 0
            && errno != EINTR)
            break;
        if (watched[1].revents & POLLIN) {
            log("stopping");
            break;
        }
        if (watched[0].revents & POLLIN)
            acceptClient();
        if (watched[2].revents & POLLIN)
            deliverMeasurements();
        if (watched[3].revents & POLLIN)
            endTunnel("the engine ended");
        for (std::size_t i = 0; i < order.size(); ++i) {
            if (watched[4 + i].revents)
                readFrom(order[i]);
        }
        checkTunnel();
    }
    m_tunnel.reset();
}

void TunnelServer::checkTunnel()
{
    if (m_tunnel && m_tunnel->checkHandshake())
        send(m_owner, {{"type", "status"}, {"state", "up"}});
}

void TunnelServer::acceptClient()
{
    const int fd = ::accept4(m_listener, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0)
        return;
    ucred peer{};
    socklen_t length = sizeof peer;
    if (m_clients.size() >= mostClients
        || ::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &peer, &length) != 0) {
        ::close(fd);
        return;
    }
    // A client that stops reading loses its connection rather than stall the service.
    const timeval patience{1, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &patience, sizeof patience);
    m_clients[m_nextClient++] = Client{fd, peer.pid, peer.uid, false, {}, false};
}

void TunnelServer::readFrom(unsigned long id)
{
    Client &client = m_clients.at(id);
    char chunk[4096];
    const ssize_t count = ::recv(client.fd, chunk, sizeof chunk, MSG_DONTWAIT);
    if (count < 0 && (errno == EAGAIN || errno == EINTR))
        return;
    if (count <= 0) {
        closeClient(id);
        return;
    }
    client.received.append(chunk, std::size_t(count));
    for (std::size_t end;
         m_clients.count(id) && (end = client.received.find('\n')) != std::string::npos;) {
        const std::string line = client.received.substr(0, end);
        const bool skipped = client.skipping;
        client.received.erase(0, end + 1);
        client.skipping = false;
        if (!skipped)
            handleLine(id, line);
    }
    if (!m_clients.count(id) || client.received.size() <= longestLine)
        return;
    if (!client.skipping)
        error(id, nullptr, "a line is longer than " + std::to_string(longestLine) + " bytes");
    client.skipping = true;
    client.received.clear();
}

void TunnelServer::closeClient(unsigned long id)
{
    const auto client = m_clients.find(id);
    if (client == m_clients.end())
        return;
    ::close(client->second.fd);
    m_clients.erase(client);
    if (m_tunnel && id == m_owner) {
        log("the connection that brought the tunnel up has ended");
        m_tunnel.reset();
    }
}

void TunnelServer::handleLine(unsigned long id, const std::string &line)
{
    const auto request = nlohmann::json::parse(line, nullptr, false);
    if (!request.is_object()) {
        error(id, nullptr, request.is_discarded() ? "not valid JSON" : "not a JSON object");
        return;
    }
    const auto requestId = request.find("id");
    if (requestId == request.end() || !requestId->is_number_integer()) {
        error(id, nullptr, "\"id\" must be a whole number");
        return;
    }
    handle(id, *requestId, request);
}

void TunnelServer::handle(unsigned long id,
                          const nlohmann::json &requestId,
                          const nlohmann::json &request)
{
    Client &client = m_clients.at(id);
    std::string why;
    if (!client.authorized && !m_authorizer.allows(client.pid, client.uid, why)) {
        log("refused user " + std::to_string(client.uid) + ": " + why);
        error(id, requestId, why);
        return;
    }
    client.authorized = true;
    const auto type = request.find("type");
    if (type == request.end() || !type->is_string()) {
        error(id, requestId, "\"type\" must be a text");
        return;
    }
    const std::string &kind = type->get_ref<const std::string &>();
    if (m_tunnel && client.uid != m_ownerUid && client.uid != 0) {
        error(id, requestId, "the VPN tunnel belongs to another user");
        return;
    }
    if (kind == "up") {
        bringUp(id, requestId, request);
    } else if (kind == "latency") {
        measureLatency(id, requestId, request);
    } else if (kind != "peer" && kind != "mode" && kind != "down" && kind != "status") {
        error(id, requestId, "unknown request type \"" + kind + "\"");
    } else if (!m_tunnel) {
        error(id, requestId, "no tunnel is up");
    } else if (kind == "status") {
        nlohmann::json reply = m_tunnel->status();
        reply["id"] = requestId;
        reply["type"] = "status";
        send(id, reply);
    } else if (kind == "down") {
        if (m_owner != id)
            send(m_owner, {{"type", "status"}, {"state", "down"}, {"reason", "taken down"}});
        m_tunnel.reset();
        send(id, {{"id", requestId}, {"type", "down"}});
    } else if (kind == "peer") {
        switchPeer(id, requestId, request);
    } else {
        switchRouting(id, requestId, request);
    }
}

void TunnelServer::switchPeer(unsigned long id,
                              const nlohmann::json &requestId,
                              const nlohmann::json &request)
{
    std::string problem = "\"peer\" must be an object";
    const auto peer = request.contains("peer") ? TunnelRequest::peer(request["peer"], problem)
                                               : std::nullopt;
    if (!peer || m_tunnel->switchPeer(*peer, problem)) {
        error(id, requestId, problem);
        return;
    }
    send(id, {{"id", requestId}, {"type", "peer"}});
    send(m_owner, {{"type", "status"}, {"state", "connecting"}});
}

void TunnelServer::switchRouting(unsigned long id,
                                 const nlohmann::json &requestId,
                                 const nlohmann::json &request)
{
    std::string problem;
    const auto routing = TunnelRequest::routing(request, problem);
    if (!routing || m_tunnel->switchRouting(*routing, problem)) {
        error(id, requestId, problem);
        return;
    }
    send(id, {{"id", requestId}, {"type", "mode"}});
}

void TunnelServer::bringUp(unsigned long id,
                           const nlohmann::json &requestId,
                           const nlohmann::json &request)
{
    if (m_tunnel) {
        error(id, requestId, "a tunnel is up already");
        return;
    }
    std::string problem;
    const auto parameters = request.contains("tunnel")
                                ? TunnelRequest::tunnel(request["tunnel"], problem)
                                : std::nullopt;
    if (!parameters) {
        error(id, requestId, problem.empty() ? "\"tunnel\" must be an object" : problem);
        return;
    }
    m_tunnel = Tunnel::bringUp(*parameters, m_host, m_options.engineProgram, problem);
    if (!m_tunnel) {
        log("cannot bring the tunnel up: " + problem);
        error(id, requestId, problem);
        return;
    }
    m_owner = id;
    m_ownerUid = m_clients.at(id).uid;
    send(id, {{"id", requestId}, {"type", "up"}, {"interface", m_options.host.interface}});
    send(id, {{"type", "status"}, {"state", "connecting"}});
}

void TunnelServer::measureLatency(unsigned long id,
                                  const nlohmann::json &requestId,
                                  const nlohmann::json &request)
{
    std::string problem;
    const auto endpoints = TunnelRequest::endpoints(request, problem);
    const auto probes = request.find("probes");
    const bool probesFit = probes == request.end()
                           || (probes->is_number_integer() && *probes >= 1 && *probes <= 10);
    if (!endpoints || !probesFit) {
        error(id, requestId, endpoints ? "\"probes\" must be a whole number from 1 to 10" : problem);
        return;
    }
    const int rounds = probes == request.end() ? 3 : probes->get<int>();
    // Off the service's thread: the probes take up to a second each.
    std::thread([mailbox = m_mailbox,
                 id,
                 requestId,
                 endpoints = *endpoints,
                 rounds,
                 fwmark = m_options.host.fwmark] {
        const auto times = Latency::measure(endpoints, rounds, fwmark);
        nlohmann::json results = nlohmann::json::array();
        for (std::size_t i = 0; i < endpoints.size(); ++i)
            results.push_back(
                {{"endpoint", endpoints[i].text()},
                 {"milliseconds", times[i] ? nlohmann::json(*times[i]) : nlohmann::json()}});
        mailbox->post(id, {{"id", requestId}, {"type", "latency"}, {"results", results}});
    }).detach();
}

void TunnelServer::deliverMeasurements()
{
    std::uint64_t rings = 0;
    [[maybe_unused]] const ssize_t read = ::read(m_mailbox->eventfd, &rings, sizeof rings);
    std::vector<std::pair<unsigned long, nlohmann::json>> replies;
    {
        std::lock_guard lock(m_mailbox->mutex);
        replies.swap(m_mailbox->replies);
    }
    for (const auto &[client, reply] : replies)
        send(client, reply);
}

void TunnelServer::send(unsigned long id, const nlohmann::json &message)
{
    const auto client = m_clients.find(id);
    if (client == m_clients.end())
        return;
    const std::string line = message.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace)
                             + "\n";
    if (Platform::sendAll(client->second.fd, line))
        closeClient(id);
}

void TunnelServer::error(unsigned long id,
                         const nlohmann::json &requestId,
                         const std::string &message)
{
    send(id, {{"id", requestId}, {"type", "error"}, {"message", message}});
}

void TunnelServer::endTunnel(const std::string &reason)
{
    log("tunnel ends: " + reason);
    m_tunnel.reset();
    send(m_owner, {{"type", "status"}, {"state", "down"}, {"reason", reason}});
}

} // namespace TunnelService
