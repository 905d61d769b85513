#pragma once

#include "Dispatch.h"
#include "ProviderChannel.h"
#include "ProviderProcess.h"
#include "VPNService.h"

#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <vector>

namespace Platform {

// The connection to one installed extension's tunnel provider process, shared by every
// configuration of that extension, so that one extension never runs two providers. Its status
// follows the provider through the provider's socket: a socket that cannot be reached, or that
// closes, reads as disconnected. A provider that breaks the protocol cannot wedge it: lines that
// do not fit are ignored, and a provider that misses a deadline below is ended (SIGTERM, then
// SIGKILL) and reads as disconnected. Used on the main thread, where every status change is
// applied and posted as NEVPNStatusDidChange.
class ProviderSession final
    : public TunnelProviderSession
    , public std::enable_shared_from_this<ProviderSession>
{
public:
    // From the launch to "ready".
    static constexpr double readyDeadline = 5.0;
    // From connecting to the provider's first status.
    static constexpr double answerDeadline = 3.0;
    // From a stop request, or the provider's report that it is down, to the end of its connection.
    static constexpr double endDeadline = 2.0;
    // From SIGTERM to SIGKILL.
    static constexpr double killGrace = 1.0;
    // The longest reason for going down that is kept, in bytes; a longer one is cut at a
    // character boundary.
    static constexpr std::size_t reasonLimit = 1024;

    // Whether the extension may start now, and which provider program it starts.
    struct Launch
    {
        std::optional<VPNError> refusal;
        std::filesystem::path executable;
    };
    using LaunchCheck = std::function<Launch()>;

    // providers is the directory the extension's programs are installed in: a provider found
    // running is ended only when its program lies there.
    ProviderSession(std::filesystem::path socket,
                    std::filesystem::path providers,
                    LaunchCheck check);

    // Looks for a provider that is already running; the status follows (1 or its own).
    void probe();

    // Runs the task on the main queue once the status says what the provider does: no provider
    // was found, or the one found has reported its status or missed its answer deadline.
    void whenSettled(Task task);

    int status() const override { return m_status; }
    // A start while a provider runs starts nothing more and reports the status again; a
    // provider that says it is down is replaced once it has gone.
    std::optional<VPNError> startVPNTunnel(const Options &options) override;
    void stopVPNTunnel() override;
    // What the provider's last report of being down said; any later report or start replaces it.
    std::optional<std::string> lastDisconnectReason() const override { return m_disconnectReason; }
    std::optional<VPNError> sendProviderMessage(const std::string &data,
                                                ReplyHandler reply) override;

private:
    bool settled() const;
    void settle();
    void setStatus(int status);
    void repostStatus();
    std::optional<VPNError> launch(const Options &options);
    void launchEnded(std::unique_ptr<ProviderChannel> channel);
    void attach(std::unique_ptr<ProviderChannel> channel);
    void receive(const nlohmann::json &message);
    void receiveStatus(int status, std::optional<std::string> reason);
    void receiveReply(long id, const nlohmann::json &message);
    void detach();
    void endProvider(const std::string &why);
    void after(double seconds, void (ProviderSession::*check)());
    void readyDeadlinePassed();
    void answerDeadlinePassed();
    void endDeadlinePassed();
    std::optional<long> send(nlohmann::json request);

    const std::filesystem::path m_socket;
    const std::filesystem::path m_providers;
    const LaunchCheck m_check;
    int m_status = VPNStatus::invalid;
    unsigned m_generation = 0; // moves on with every launch, connection and disconnection
    bool m_launching = false;
    bool m_answered = false;               // the connected provider has reported a status
    bool m_stopRequested = false;          // the provider has been asked to stop
    std::optional<Options> m_pendingStart; // to launch once the provider found has gone
    std::optional<std::string> m_disconnectReason;
    std::unique_ptr<ProviderChannel> m_channel;
    std::shared_ptr<ProviderProcess> m_process; // the provider behind the launch or channel
    long m_nextRequest = 1;
    std::map<long, ReplyHandler> m_replies;
    std::vector<Task> m_settledTasks;
};

} // namespace Platform
