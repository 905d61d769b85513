#pragma once

#include "PropertyValue.h"

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace Platform {

// Tunnel status values, used as signed integers throughout the client.
namespace VPNStatus {
inline constexpr int invalid = 0;
inline constexpr int disconnected = 1;
inline constexpr int connecting = 2;
inline constexpr int connected = 3;
inline constexpr int reasserting = 4;
inline constexpr int disconnecting = 5;
} // namespace VPNStatus

// Posted on the default notification centre, on the main queue, whenever a connection's status
// changes. Its object is the connection as a std::shared_ptr<VPNConnection>.
inline constexpr const char NEVPNStatusDidChange[] = "NEVPNStatusDidChangeNotification";

struct VPNError
{
    std::string domain;
    int code = 0;
    std::string localizedDescription;
};

// What kind of tunnel a configuration describes; the client's is a tunnel provider's.
struct VPNProtocol
{
    enum class Kind { tunnelProvider, other };

    Kind kind = Kind::tunnelProvider;
    std::optional<std::string> providerBundleIdentifier;
    std::optional<std::string> serverAddress;
    bool disconnectOnSleep = false;
    std::optional<PropertyValue> providerConfiguration; // a dictionary
};

// The tunnel of one configuration.
class VPNConnection
{
public:
    using Options = std::map<std::string, std::string>;

    virtual ~VPNConnection() = default;

    virtual int status() const = 0;

    // Starts the tunnel; an error when the start is refused at once. A start while the tunnel is
    // starting or running starts nothing more.
    virtual std::optional<VPNError> startVPNTunnel(const Options &options) = 0;

    // Asks the tunnel to stop and returns at once; the status reports the rest.
    virtual void stopVPNTunnel() = 0;

    // Why the tunnel last went down, in the provider's words for people; nothing when it gave no
    // reason. A new start forgets it.
    virtual std::optional<std::string> lastDisconnectReason() const { return std::nullopt; }
};

// The connection of a tunnel provider's configuration, which can also talk to the provider.
class TunnelProviderSession : public VPNConnection
{
public:
    using ReplyHandler = std::function<void(const std::optional<std::string> &reply)>;

    // Sends a message to the running provider; an error when it cannot be sent. The reply, or
    // nothing when it is empty or never comes, is handed over later on the main queue.
    virtual std::optional<VPNError> sendProviderMessage(const std::string &data, ReplyHandler reply)
        = 0;
};

class VPNService;

// One of the application's tunnel configurations, saved in the system or new. Its fields are
// edited freely; saveToPreferences stores them, loadFromPreferences reads them back.
class TunnelProviderManager : public std::enable_shared_from_this<TunnelProviderManager>
{
public:
    using Completion = std::function<void(const std::optional<VPNError> &error)>;

    explicit TunnelProviderManager(std::weak_ptr<VPNService> service, std::string identifier = {});

    std::optional<VPNProtocol> protocolConfiguration;
    std::optional<std::string> localizedDescription;
    bool isEnabled = false;
    bool isOnDemandEnabled = false;

    // Empty until the configuration is first saved.
    const std::string &identifier() const { return m_identifier; }
    void setIdentifier(std::string identifier) { m_identifier = std::move(identifier); }

    // Both complete on the main queue.
    void saveToPreferences(Completion completion);
    void loadFromPreferences(Completion completion);

    std::shared_ptr<VPNConnection> connection();

private:
    std::weak_ptr<VPNService> m_service;
    std::string m_identifier;
};

// The system's store of the application's tunnel configurations and their connections.
class VPNService : public std::enable_shared_from_this<VPNService>
{
public:
    using Managers = std::vector<std::shared_ptr<TunnelProviderManager>>;
    using LoadAllCompletion
        = std::function<void(const Managers &managers, const std::optional<VPNError> &error)>;

    virtual ~VPNService() = default;

    // Every saved configuration, in the order they were first saved, as new objects; on the main
    // queue.
    virtual void loadAllFromPreferences(LoadAllCompletion completion) = 0;

    // A new configuration belonging to this service, not saved.
    std::shared_ptr<TunnelProviderManager> makeManager();

    virtual void save(const std::shared_ptr<TunnelProviderManager> &manager,
                      TunnelProviderManager::Completion completion)
        = 0;
    virtual void load(const std::shared_ptr<TunnelProviderManager> &manager,
                      TunnelProviderManager::Completion completion)
        = 0;
    // One connection per configuration, the same object for every load of it.
    virtual std::shared_ptr<VPNConnection> connection(const TunnelProviderManager &manager) = 0;
};

// The errors of the VPN service, with the descriptions the user reads.
namespace VPNErrors {
inline constexpr const char domain[] = "NEVPNErrorDomain";
VPNError configurationInvalid(const std::string &why = {});
VPNError configurationDisabled();
VPNError connectionFailed(const std::string &why = {});
VPNError configurationStale();
VPNError configurationReadWriteFailed(const std::string &why);
VPNError serviceGone();
} // namespace VPNErrors

} // namespace Platform
