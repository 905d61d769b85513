#pragma once

#include "VPNService.h"

#include <filesystem>
#include <map>
#include <memory>

namespace Platform {

class ProviderSession;

// The VPN service of this system: the application's tunnel configurations kept in one file, and
// for each a connection to a provider process started from the installed system extension named
// by its protocol. Providers run in sessions of their own and outlive the application; a later
// run finds them again through their sockets.
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

    void loadAllFromPreferences(LoadAllCompletion completion) override;
    void save(const std::shared_ptr<TunnelProviderManager> &manager,
              TunnelProviderManager::Completion completion) override;
    void load(const std::shared_ptr<TunnelProviderManager> &manager,
              TunnelProviderManager::Completion completion) override;
    std::shared_ptr<VPNConnection> connection(const TunnelProviderManager &manager) override;

private:
    struct Stored;

    std::optional<Stored> read(std::optional<VPNError> &error) const;
    std::optional<VPNError> write(const Stored &stored) const;
    std::shared_ptr<ProviderSession> session(const std::string &identifier);

    const std::optional<Paths> m_paths;
    std::map<std::string, std::shared_ptr<ProviderSession>> m_sessions;
};

} // namespace Platform
