#pragma once

#include "ProviderChannel.h"
#include "VPNService.h"

#include <filesystem>
#include <functional>
#include <map>
#include <memory>

namespace Platform {

// The connection of one configuration to its tunnel provider process. Its status follows the
// provider through the provider's socket: a socket that cannot be reached, or that closes,
// reads as disconnected. Used on the main thread, where every status change is applied and
// posted as NEVPNStatusDidChange.
class ProviderSession final
    : public TunnelProviderSession
    , public std::enable_shared_from_this<ProviderSession>
{
public:
    // Whether the configuration may start now, and which provider program it starts.
    struct Launch
    {
        std::optional<VPNError> refusal;
        std::filesystem::path executable;
    };
    using LaunchCheck = std::function<Launch()>;

    ProviderSession(std::filesystem::path socket, LaunchCheck check);

    // Looks for a provider that is already running; the status follows (1 or its own).
    void probe();

    int status() const override { return m_status; }
    std::optional<VPNError> startVPNTunnel(const Options &options) override;
    void stopVPNTunnel() override;
    std::optional<VPNError> sendProviderMessage(const std::string &data,
                                                ReplyHandler reply) override;

private:
    void setStatus(int status);
    void attach(std::unique_ptr<ProviderChannel> channel);
    void receive(const nlohmann::json &message);
    void detach();
    bool send(nlohmann::json request);

    const std::filesystem::path m_socket;
    const LaunchCheck m_check;
    int m_status = VPNStatus::invalid;
    unsigned m_generation = 0; // moves on whenever the session changes course
    bool m_launching = false;
    bool m_stopWhenAttached = false;
    std::unique_ptr<ProviderChannel> m_channel;
    long m_nextRequest = 1;
    std::map<long, ReplyHandler> m_replies;
};

} // namespace Platform
