#include "Tunnel.h"

#include "platform/Log.h"

namespace TunnelService {

namespace {

constexpr const char logCategory[] = "TunnelService";

void log(const std::string &message)
{
    Platform::Log::system(Platform::LogLevel::Default, logCategory, message);
}

// The configuration lines of a peer that carries all the traffic.
std::string peerLines(const Peer &peer)
{
    return "public_key=" + peer.publicKey.hex() + "\nendpoint=" + peer.endpoint.text()
           + "\npersistent_keepalive_interval=" + std::to_string(peer.keepalive)
           + "\nreplace_allowed_ips=true\nallowed_ip=0.0.0.0/0\nallowed_ip=::/0\n";
}

const char *modeName(RoutingMode mode)
{
    return mode == RoutingMode::global ? "global" : "rule";
}

} // namespace

Tunnel::Tunnel(TunnelParameters parameters, HostChanges &host, std::unique_ptr<Engine> engine)
    : m_parameters(std::move(parameters))
    , m_host(host)
    , m_engine(std::move(engine))
{ }

Tunnel::~Tunnel()
{
    m_engine->stop();
    m_host.sweep();
    log("tunnel down");
}

std::unique_ptr<Tunnel> Tunnel::bringUp(const TunnelParameters &parameters,
                                        HostChanges &host,
                                        const std::filesystem::path &engineProgram,
                                        std::string &error)
{
    host.sweep();
    const std::string interface = host.settings().interface;
    log("bringing up " + interface + " to " + parameters.peer.endpoint.text() + " (peer "
        + parameters.peer.publicKey.masked() + ", key " + parameters.privateKey.masked() + ", "
        + modeName(parameters.routing.mode) + " mode)");
    if (const auto code = host.announceInterface()) {
        error = "cannot write the journal: " + code.message();
        return nullptr;
    }
    auto engine = Engine::start(engineProgram, interface, error);
    if (!engine) {
        host.sweep();
        return nullptr;
    }
    std::unique_ptr<Tunnel> tunnel(new Tunnel(parameters, host, std::move(engine)));
    if (const auto code = host.recordEngine(*tunnel->m_engine)) {
        error = "cannot write the journal: " + code.message();
        return nullptr;
    }
    // The mark goes in the same transaction as the peer, or the first handshake would go the
    // wrong way.
    if (tunnel->m_engine->set("private_key=" + parameters.privateKey.hex()
                                  + "\nfwmark=" + std::to_string(host.settings().fwmark)
                                  + "\nreplace_peers=true\n" + peerLines(parameters.peer),
                              error)
        || host.bringUp(parameters, error))
        return nullptr;
    if (parameters.routing.mode == RoutingMode::global && host.useTunnelDns(parameters.dns, error))
        return nullptr;
    return tunnel;
}

bool Tunnel::checkHandshake()
{
    if (m_state == State::up)
        return false;
    std::string error;
    const auto peers = m_engine->peers(error);
    if (!peers)
        return false;
    const auto peer = peers->find(m_parameters.peer.publicKey.hex());
    if (peer == peers->end() || peer->second.lastHandshakeSeconds == 0)
        return false;
    m_state = State::up;
    log("handshake with " + m_parameters.peer.endpoint.text() + ": the tunnel is up");
    return true;
}

std::error_code Tunnel::switchPeer(const Peer &peer, std::string &error)
{
    std::string lines = peerLines(peer);
    if (!(peer.publicKey == m_parameters.peer.publicKey))
        lines += "public_key=" + m_parameters.peer.publicKey.hex() + "\nremove=true\n";
    if (const auto code = m_engine->set(lines, error))
        return code;
    log("switched to peer " + peer.publicKey.masked() + " at " + peer.endpoint.text());
    m_parameters.peer = peer;
    m_state = State::connecting;
    return {};
}

std::error_code Tunnel::switchRouting(const Routing &routing, std::string &error)
{
    const Routing previous = m_parameters.routing;
    if (const auto code = m_host.switchRouting(previous, routing, error))
        return code;
    m_parameters.routing = routing;
    // The tunnel's DNS servers serve global mode; rule mode keeps the system's.
    std::error_code code;
    if (previous.mode == RoutingMode::global && routing.mode == RoutingMode::rule)
        code = m_host.restoreDns(error);
    else if (previous.mode == RoutingMode::rule && routing.mode == RoutingMode::global)
        code = m_host.useTunnelDns(m_parameters.dns, error);
    log(std::string("routing mode ") + modeName(routing.mode) + ", "
        + std::to_string(routing.direct.size()) + " direct networks");
    return code;
}

nlohmann::json Tunnel::status()
{
    nlohmann::json status = {{"state", m_state == State::up ? "up" : "connecting"},
                             {"interface", m_host.settings().interface},
                             {"endpoint", m_parameters.peer.endpoint.text()},
                             {"mode", modeName(m_parameters.routing.mode)},
                             {"lastHandshake", 0},
                             {"rxBytes", 0},
                             {"txBytes", 0}};
    std::string error;
    if (const auto peers = m_engine->peers(error)) {
        if (const auto peer = peers->find(m_parameters.peer.publicKey.hex()); peer != peers->end()) {
            status["lastHandshake"] = peer->second.lastHandshakeSeconds;
            status["rxBytes"] = peer->second.rxBytes;
            status["txBytes"] = peer->second.txBytes;
        }
    }
    return status;
}

} // namespace TunnelService
