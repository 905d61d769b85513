#pragma once

#include "platform/NotificationCenter.h"
#include "platform/SystemExtensions.h"
#include "platform/VPNService.h"

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

// The one object that talks to the system's VPN service and the tunnel provider: it finds or
// creates the application's tunnel configuration and keeps its settings in force, activates the
// system extension and starts the tunnel from the activation's success, stops the tunnel and
// checks that it stopped, follows the tunnel's status and hands every change to one callback,
// and sends short text commands to the provider. Used on the main thread.
class VPNTunnelManager
    : public Platform::SystemExtensionRequestDelegate
    , public std::enable_shared_from_this<VPNTunnelManager>
{
public:
    using Managers = Platform::VPNService::Managers;
    using ManagerPointer = std::shared_ptr<Platform::TunnelProviderManager>;
    // (success, message)
    using Completion = std::function<void(bool ok, const std::optional<std::string> &message)>;
    using ManagerCompletion = std::function<void(const ManagerPointer &manager,
                                                 const std::optional<std::string> &message)>;

    // Shows the alert that asks the user to allow the extension; the shell supplies it.
    class ApprovalAlert
    {
    public:
        virtual ~ApprovalAlert() = default;
        virtual void show(const std::string &message,
                          const std::string &informativeText,
                          const std::string &button)
            = 0;
    };

    struct Environment
    {
        std::shared_ptr<Platform::VPNService> service;
        std::shared_ptr<Platform::SystemExtensionManager> extensions;
        std::filesystem::path applicationBundle;
        // Which settings pane the approval alert names: the newer layout ("通用") or the older
        // one ("隐私与安全性").
        bool newerSettingsLayout = true;
    };

    static constexpr const char tunnelBundleID[] = "com.qaromac.wv.sysne";

    // The application's manager, on this system's VPN service and extension manager.
    static VPNTunnelManager &shared();

    static std::shared_ptr<VPNTunnelManager> create(Environment environment);
    ~VPNTunnelManager() override;

    int vpnStatus() const { return m_vpnStatus; }
    // Why the adopted configuration's tunnel last went down, as its provider said; nothing
    // without an adopted configuration or a reason.
    std::optional<std::string> lastDisconnectReason() const;
    const ManagerPointer &tunnelManager() const { return m_tunnelManager; }
    void setOnVpnStatusChange(std::function<void(int status)> callback);
    void setApprovalAlert(std::shared_ptr<ApprovalAlert> alert);

    void activateSystemExtension(std::function<void(bool submitted)> completion);
    void startVPN(Completion completion);
    static void startCompletion(bool ok, const std::optional<std::string> &message);
    void stopVPN(Completion completion = {});
    void doStop(Completion completion = {});
    void sendMessageToProvider(const std::string &text);

    static std::string statusName(int status);
    static Platform::VPNConnection::Options startOptions();

    ManagerPointer findManager(const Managers &managers, bool createIfMissing);
    ManagerPointer makeManager();
    static bool applyRequiredSettings(Platform::TunnelProviderManager &manager);
    void loadOrCreateManager(ManagerCompletion completion);
    void saveAndReload(const ManagerPointer &manager, ManagerCompletion completion);
    void loadExistingManager(std::function<void(const ManagerPointer &manager)> continuation);

    Platform::SystemExtensionReplacementAction actionForReplacingExtension(
        const Platform::SystemExtensionRequest &request,
        const Platform::SystemExtensionProperties &existing,
        const Platform::SystemExtensionProperties &extension) override;
    void requestNeedsUserApproval(const Platform::SystemExtensionRequest &request) override;
    void didFinishWithResult(const Platform::SystemExtensionRequest &request,
                             Platform::SystemExtensionRequestResult result) override;
    void didFailWithError(const Platform::SystemExtensionRequest &request,
                          const Platform::SystemExtensionError &error) override;

private:
    explicit VPNTunnelManager(Environment environment);

    void vpnStatusDidChange(const Platform::Notification &notification);

    const Environment m_environment;
    int m_vpnStatus = Platform::VPNStatus::invalid;
    ManagerPointer m_tunnelManager;
    std::function<void(int status)> m_onVpnStatusChange;
    std::shared_ptr<ApprovalAlert> m_approvalAlert;
    // The callers of a configuration load in progress; they outlive the manager, so that each
    // hears of its end.
    std::shared_ptr<std::vector<ManagerCompletion>> m_managerWaiters
        = std::make_shared<std::vector<ManagerCompletion>>();
};

// Stops the tunnel when it is connecting or connected; otherwise does nothing.
void stopTunnelIfActive(VPNTunnelManager &tunnel);
