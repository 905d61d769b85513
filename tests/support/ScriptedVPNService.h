#pragma once

#include "platform/VPNService.h"

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

// A connection whose status the test sets, recording what it is asked to do.
class ScriptedConnection
    : public Platform::TunnelProviderSession
    , public std::enable_shared_from_this<ScriptedConnection>
{
public:
    int status() const override { return m_status; }
    std::optional<Platform::VPNError> startVPNTunnel(const Options &options) override;
    void stopVPNTunnel() override { ++stops; }
    std::optional<std::string> lastDisconnectReason() const override { return disconnectReason; }
    std::optional<Platform::VPNError> sendProviderMessage(const std::string &data,
                                                          ReplyHandler reply) override;

    // Changes the status and posts it, as the system does.
    void setStatus(int status);

    std::vector<Options> starts;
    int stops = 0;
    std::vector<std::string> messages;
    std::optional<Platform::VPNError> startRefusal;
    std::optional<Platform::VPNError> sendRefusal;
    std::optional<std::string> reply;            // answered on the main queue
    std::optional<std::string> disconnectReason; // forgotten by a start, as a provider's is

private:
    int m_status = Platform::VPNStatus::invalid;
};

// A connection of a configuration that is not a tunnel provider's.
class PlainConnection : public Platform::VPNConnection
{
public:
    int status() const override { return Platform::VPNStatus::connected; }
    std::optional<Platform::VPNError> startVPNTunnel(const Options &) override { return {}; }
    void stopVPNTunnel() override { }
};

// A VPN service the test drives: configurations in memory, every result on the main queue, and
// failures on demand.
class ScriptedVPNService : public Platform::VPNService
{
public:
    void loadAllFromPreferences(LoadAllCompletion completion) override;
    void save(const std::shared_ptr<Platform::TunnelProviderManager> &manager,
              Platform::TunnelProviderManager::Completion completion) override;
    void load(const std::shared_ptr<Platform::TunnelProviderManager> &manager,
              Platform::TunnelProviderManager::Completion completion) override;
    std::shared_ptr<Platform::VPNConnection> connection(
        const Platform::TunnelProviderManager &manager) override;

    // A configuration saved by an earlier run, as the tunnel manager would have made it.
    std::shared_ptr<Platform::TunnelProviderManager> addSaved(const std::string &identifier);

    std::shared_ptr<ScriptedConnection> connectionOf(const std::string &identifier);

    std::vector<std::shared_ptr<Platform::TunnelProviderManager>> saved; // in the system's order
    std::optional<Platform::VPNError> loadAllError;
    std::optional<Platform::VPNError> saveError;
    std::optional<Platform::VPNError> reloadError;
    bool providerSessions = true;
    int saves = 0;
    int reloads = 0;

private:
    std::shared_ptr<Platform::TunnelProviderManager> copy(
        const Platform::TunnelProviderManager &manager);

    std::map<std::string, std::shared_ptr<Platform::VPNConnection>> m_connections;
    int m_nextIdentifier = 1;
};
