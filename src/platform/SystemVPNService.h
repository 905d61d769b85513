#pragma once

#include "VPNService.h"

#include <filesystem>
#include <map>
#include <memory>

namespace Platform {

class ProviderSession;

// The VPN service of this system: the application's tunnel configurations kept in one file, and
// for each a connection to a provider process started from the installed system extension named
// by its protocol. An extension has one provider at most, whatever the configurations say: every
// configuration of it shares the one session, whose socket is named after the extension.
// Providers run in sessions of their own and outlive the application; a later run finds them
// again through their sockets.
class SystemVPNService final : public VPNService
{
public:
    struct Paths
    {
        std::filesystem::path configurations;      // the configurations file
        std::filesystem::path installedExtensions; // where activated extensions live
        std::filesystem::path sockets;             // the providers' sockets (made 0700)
    };

    // The locations in the user's XDG directories; nothing when they cannot be determined.
    static std::optional<Paths> standardPaths();

    // The service of the application. Without usable locations, every operation fails with an
    // error instead.
    static std::shared_ptr<VPNService> shared();

    explicit SystemVPNService(std::optional<Paths> paths);
    ~SystemVPNService() override;

    // Completes once the provider of every loaded configuration has told its status (or missed
    // its deadline), so the loaded connections report what really runs.
    void loadAllFromPreferences(LoadAllCompletion completion) override;
    void save(const std::shared_ptr<TunnelProviderManager> &manager,
              TunnelProviderManager::Completion completion) override;
    void load(const std::shared_ptr<TunnelProviderManager> &manager,
              TunnelProviderManager::Completion completion) override;
    std::shared_ptr<VPNConnection> connection(const TunnelProviderManager &manager) override;

private:
    struct Stored;
    class ConfigurationConnection;

    // Nothing, with the error, when the file cannot be read; a file that does not parse is moved
    // aside and reads as empty.
    std::optional<Stored> read(std::optional<VPNError> &error) const;
    std::optional<VPNError> write(const Stored &stored) const;
    // The session a saved configuration starts through, or why it may not start now.
    struct StartCheck
    {
        std::optional<VPNError> refusal;
        std::shared_ptr<ProviderSession> session;
    };
    StartCheck startCheck(const std::string &identifier);
    std::shared_ptr<ConfigurationConnection> connectionOf(const TunnelProviderManager &manager);
    // The session of an extension; nothing for an identifier that cannot name one.
    std::shared_ptr<ProviderSession> session(const std::optional<std::string> &bundleIdentifier);

    const std::optional<Paths> m_paths;
    std::map<std::string, std::shared_ptr<ConfigurationConnection>> m_connections;
    std::map<std::string, std::shared_ptr<ProviderSession>> m_sessions;
};

} // namespace Platform
