#pragma once

#include "Engine.h"
#include "HostChanges.h"
#include "TunnelParameters.h"

#include <nlohmann/json.hpp>

#include <filesystem>
#include <memory>
#include <string>
#include <system_error>

namespace TunnelService {

// One running tunnel: its engine and what it changed on the host. It is up only once its peer
// has completed a handshake. Destroying it takes it down: the engine is ended at once and the
// host swept, without waiting for the engine process to exit.
class Tunnel
{
public:
    enum class State { connecting, up };

    // Nothing, with the reason, when it cannot come up; whatever it did is swept then.
    static std::unique_ptr<Tunnel> bringUp(const TunnelParameters &parameters,
                                           HostChanges &host,
                                           const std::filesystem::path &engineProgram,
                                           std::string &error);
    ~Tunnel();

    Tunnel(const Tunnel &) = delete;
    Tunnel &operator=(const Tunnel &) = delete;

    State state() const { return m_state; }
    const Engine &engine() const { return *m_engine; }

    // Looks whether the peer has completed a handshake; true when the tunnel just came up.
    bool checkHandshake();

    // Hands the routes to the new peer before the old one goes, on the running engine; the
    // tunnel is connecting again until the new peer has answered.
    std::error_code switchPeer(const Peer &peer, std::string &error);
    std::error_code switchRouting(const Routing &routing, std::string &error);

    // State, peer, last handshake (seconds since 1970; 0 for none), bytes in and out, routing.
    nlohmann::json status();

private:
    Tunnel(TunnelParameters parameters, HostChanges &host, std::unique_ptr<Engine> engine);

    TunnelParameters m_parameters;
    HostChanges &m_host;
    std::unique_ptr<Engine> m_engine;
    State m_state = State::connecting;
};

} // namespace TunnelService
