#pragma once

#include "BackgroundJob.h"
#include "DeviceKey.h"
#include "NodeChoice.h"
#include "ServiceConnection.h"
#include "StartOptions.h"
#include "TunnelData.h"
#include "TunnelDataClient.h"
#include "TunnelDriver.h"

#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace TunnelProvider {

class EventLog;

// A real tunnel: WireGuard, run by the privileged tunnel service. On start it loads the device
// key, reaches the service, fetches the device's tunnel data from the backend, picks the node
// (the named one, or the fastest), and asks the service for the tunnel; connected once the node
// has answered the first handshake. A node that does not answer in time gives way to the next,
// three at most. The app's messages switch the node and the routing mode on the running tunnel.
// Any failure ends in disconnected with a reason the app can show.
class WireGuardTunnel final : public TunnelDriver
{
public:
    struct Settings
    {
        std::filesystem::path serviceSocket;
        std::filesystem::path keyFile;
        std::chrono::milliseconds handshakeWait{6000}; // one lost handshake is retried at 5 s
        std::chrono::milliseconds downWait{300};       // the service's "down" within the stop
        std::size_t mostNodesTried = 3;
    };

    WireGuardTunnel(EventLog &log, StartOptions options, Settings settings);

    void start(ProviderControl &control) override;
    std::string handleMessage(std::string_view message, Status status) override;
    void stop() override;
    std::vector<pollfd> descriptors() const override;
    void handleDescriptors(const std::vector<pollfd> &polled) override;
    std::optional<Clock::time_point> nextDeadline() const override;
    void runTimers(Clock::time_point now) override;

private:
    enum class Phase { fetching, measuring, bringingUp, up, stopping, done };

    void fetchData();
    void dataArrived();
    void applyNewData(TunnelData data);
    void chooseNode();
    void measure(std::function<void(const NodeChoice::Latencies &)> then);
    void tryNextCandidate();
    void switchTo(const TunnelNode &node, bool remember);
    void switchAutomatically();
    void applyMode();
    void serviceMessage(const nlohmann::json &message);
    void fail(const std::string &reason);
    void finishStop();

    std::string switchNode(std::string_view name);
    std::string description() const;
    nlohmann::json peerObject(const TunnelNode &node) const;
    nlohmann::json routingObject() const;
    static std::string nodeText(const TunnelNode &node);

    EventLog &m_log;
    StartOptions m_options; // the node and mode follow the app's messages
    Settings m_settings;
    ProviderControl *m_control = nullptr;
    Phase m_phase = Phase::fetching;
    std::optional<DeviceKey> m_key;
    ServiceConnection m_service;
    BackgroundJob m_fetch;
    std::shared_ptr<TunnelDataClient::Answer> m_answer; // written by the fetch
    std::optional<TunnelData> m_data;
    std::vector<TunnelNode> m_candidates;
    std::size_t m_tried = 0;
    bool m_tunnelRequested = false;       // "up" has been sent
    std::optional<TunnelNode> m_node;     // in use, or being tried
    std::optional<TunnelNode> m_fallback; // to go back to if a live switch finds no answer
    std::optional<Clock::time_point> m_handshakeBy; // the node being tried must answer by then
    std::optional<Clock::time_point> m_downBy;
};

} // namespace TunnelProvider
