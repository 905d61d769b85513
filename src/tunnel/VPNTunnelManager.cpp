#include "VPNTunnelManager.h"

#include "api/NetWorkTool.h"
#include "api/QaroShared.h"
#include "api/UserDefaults.h"
#include "api/UserDefaultsCacheKeys.h"

#include "platform/Bundle.h"
#include "platform/Dispatch.h"
#include "platform/Log.h"
#include "platform/SystemVPNService.h"

namespace {

using Platform::LogLevel;
using Platform::VPNStatus::disconnected;
using Platform::VPNStatus::invalid;

constexpr const char logCategory[] = "VPNTunnelManager";
constexpr const char managerGone[] = "VPN管理器已释放";
constexpr const char noLoadedConfiguration[] = "未找到已加载的VPN配置";
constexpr const char serverAddress[] = "127.0.0.1";
constexpr const char configurationName[] = "QaroMac.WvSysTun";

void info(const std::string &message)
{
    Platform::Log::system(LogLevel::Info, logCategory, message);
}

void error(const std::string &message)
{
    Platform::Log::system(LogLevel::Error, logCategory, message);
}

// A message as it may be logged: the subscription uuid it may carry is masked.
std::string loggable(const std::string &text)
{
    static const std::string prefix = "subuuid.";
    if (text.starts_with(prefix))
        return prefix + Platform::Log::masked(text.substr(prefix.size()));
    return text;
}

} // namespace

VPNTunnelManager &VPNTunnelManager::shared()
{
    static const auto manager = [] {
        const auto paths = Platform::SystemVPNService::standardPaths();
        const Platform::Bundle &bundle = Platform::Bundle::main();
        return create(
            {Platform::SystemVPNService::shared(),
             std::make_shared<Platform::LocalSystemExtensionManager>(bundle.bundlePath(),
                                                                     paths
                                                                         ? paths->installedExtensions
                                                                         : std::filesystem::path()),
             bundle.bundlePath(),
             true});
    }();
    return *manager;
}

std::shared_ptr<VPNTunnelManager> VPNTunnelManager::create(Environment environment)
{
    return std::shared_ptr<VPNTunnelManager>(new VPNTunnelManager(std::move(environment)));
}

VPNTunnelManager::VPNTunnelManager(Environment environment)
    : m_environment(std::move(environment))
{
    Platform::NotificationCenter::defaultCenter()
        .addObserver(this,
                     Platform::NEVPNStatusDidChange,
                     Platform::NotificationCenter::Delivery::MainQueue,
                     [this](const Platform::Notification &notification) {
                         vpnStatusDidChange(notification);
                     });
}

VPNTunnelManager::~VPNTunnelManager()
{
    Platform::NotificationCenter::defaultCenter().removeObserver(this);
    info(managerGone);
}

void VPNTunnelManager::setOnVpnStatusChange(std::function<void(int status)> callback)
{
    m_onVpnStatusChange = std::move(callback);
}

void VPNTunnelManager::setApprovalAlert(std::shared_ptr<ApprovalAlert> alert)
{
    m_approvalAlert = std::move(alert);
}

std::optional<std::string> VPNTunnelManager::lastDisconnectReason() const
{
    const auto connection = m_tunnelManager ? m_tunnelManager->connection() : nullptr;
    return connection ? connection->lastDisconnectReason() : std::nullopt;
}

std::string VPNTunnelManager::statusName(int status)
{
    switch (status) {
    case Platform::VPNStatus::invalid:
        return "无效状态";
    case Platform::VPNStatus::disconnected:
        return "已断开";
    case Platform::VPNStatus::connecting:
        return "连接中";
    case Platform::VPNStatus::connected:
        return "已连接";
    case Platform::VPNStatus::reasserting:
        return "重连中";
    case Platform::VPNStatus::disconnecting:
        return "断开中";
    default:
        return "未知状态";
    }
}

void VPNTunnelManager::vpnStatusDidChange(const Platform::Notification &notification)
{
    const auto *connection = std::any_cast<std::shared_ptr<Platform::VPNConnection>>(
        &notification.object);
    if (!connection || !*connection)
        return;
    m_vpnStatus = (*connection)->status();
    info("VPN状态变更：" + statusName(m_vpnStatus));
    if (m_onVpnStatusChange)
        m_onVpnStatusChange(m_vpnStatus);
}

VPNTunnelManager::ManagerPointer VPNTunnelManager::findManager(const Managers &managers,
                                                               bool createIfMissing)
{
    for (const auto &manager : managers) {
        const auto &protocol = manager->protocolConfiguration;
        if (protocol && protocol->kind == Platform::VPNProtocol::Kind::tunnelProvider
            && protocol->providerBundleIdentifier == tunnelBundleID) {
            info("找到已存在的VPN配置");
            return manager;
        }
    }
    if (!createIfMissing)
        return nullptr;
    info("未找到已存在的VPN配置，创建新配置");
    return makeManager();
}

VPNTunnelManager::ManagerPointer VPNTunnelManager::makeManager()
{
    auto manager = m_environment.service->makeManager();
    applyRequiredSettings(*manager);
    return manager;
}

bool VPNTunnelManager::applyRequiredSettings(Platform::TunnelProviderManager &manager)
{
    auto &protocol = manager.protocolConfiguration;
    if (!protocol || protocol->kind != Platform::VPNProtocol::Kind::tunnelProvider) {
        Platform::VPNProtocol fresh;
        fresh.providerBundleIdentifier = tunnelBundleID;
        fresh.serverAddress = serverAddress;
        fresh.providerConfiguration = Platform::PropertyValue::object();
        protocol = fresh;
    } else {
        const bool unchanged = protocol->providerBundleIdentifier == tunnelBundleID
                               && protocol->serverAddress == serverAddress
                               && !protocol->disconnectOnSleep
                               && manager.localizedDescription == configurationName
                               && manager.isEnabled;
        if (unchanged)
            return false;
        // The provider configuration and the on-demand flag are the user's to keep.
        protocol->providerBundleIdentifier = tunnelBundleID;
        protocol->serverAddress = serverAddress;
        protocol->disconnectOnSleep = false;
    }
    manager.localizedDescription = configurationName;
    manager.isEnabled = true;
    return true;
}

void VPNTunnelManager::loadOrCreateManager(ManagerCompletion completion)
{
    // Overlapping calls share one load: each on its own would create a configuration.
    m_managerWaiters->push_back(std::move(completion));
    if (m_managerWaiters->size() > 1)
        return;
    const ManagerCompletion done =
        [waiters = m_managerWaiters](const ManagerPointer &manager,
                                     const std::optional<std::string> &message) {
            for (const auto &waiter : std::exchange(*waiters, {}))
                waiter(manager, message);
        };
    m_environment.service->loadAllFromPreferences(
        [weak = weak_from_this(), done](const Managers &managers,
                                        const std::optional<Platform::VPNError> &loadError) {
            auto self = weak.lock();
            if (!self) {
                done(nullptr, managerGone);
                return;
            }
            if (loadError) {
                const std::string message = "加载VPN配置列表失败："
                                            + loadError->localizedDescription;
                error(message);
                done(nullptr, message);
                return;
            }
            if (managers.empty()) {
                self->saveAndReload(self->makeManager(), done);
                return;
            }
            auto manager = self->findManager(managers, true);
            if (!manager) {
                error("获取targetManager失败");
                done(nullptr, "获取targetManager失败");
                return;
            }
            const bool created = manager->identifier().empty();
            if (created || applyRequiredSettings(*manager)) {
                self->saveAndReload(manager, done);
                return;
            }
            self->m_tunnelManager = manager;
            done(manager, std::nullopt);
        });
}

void VPNTunnelManager::saveAndReload(const ManagerPointer &manager, ManagerCompletion completion)
{
    manager->saveToPreferences([weak = weak_from_this(), manager, completion](
                                   const std::optional<Platform::VPNError> &saveError) {
        if (weak.expired()) {
            completion(nullptr, managerGone);
            return;
        }
        if (saveError) {
            const std::string message = "保存VPN配置失败：" + saveError->localizedDescription
                                        + " | 错误域：" + saveError->domain + " | 错误码："
                                        + std::to_string(saveError->code);
            error(message);
            completion(nullptr, message);
            return;
        }
        info("VPN配置保存成功");
        // The reload holds on to the manager: a save must end in an adopted configuration.
        auto self = weak.lock();
        manager->loadFromPreferences(
            [self, manager, completion](const std::optional<Platform::VPNError> &reloadError) {
                self->m_tunnelManager = manager;
                if (reloadError) {
                    const std::string message = "重新加载VPN配置失败（系统配置已保存）："
                                                + reloadError->localizedDescription;
                    error(message);
                    completion(manager, message);
                    return;
                }
                info("VPN配置重新加载成功");
                completion(manager, std::nullopt);
            });
    });
}

Platform::VPNConnection::Options VPNTunnelManager::startOptions()
{
    const auto host = UserDefaults::standard().string(UserDefaultsCacheKeys::lastOkHost);
    const QaroShared &shared = QaroShared::shared();
    return {{"subuuid", shared.string(QaroShared::subUuidKey).value_or("")},
            {"host", host.value_or(KvApi::tunnelHostUrl())},
            {"nodeName", shared.string(QaroShared::nodeNameKey).value_or("")},
            {"tunMode", shared.tunMode()}};
}

void VPNTunnelManager::startVPN(Completion completion)
{
    loadOrCreateManager(
        [weak = weak_from_this(), completion](const ManagerPointer &manager,
                                              const std::optional<std::string> &received) {
            auto self = weak.lock();
            if (!self) {
                completion(false, managerGone);
                return;
            }
            if (!manager) {
                const std::string message = received.value_or("加载/创建VPN配置失败");
                error("启动VPN失败：" + message);
                self->m_vpnStatus = invalid;
                completion(false, message);
                return;
            }
            const auto options = startOptions();
            const auto connection = manager->connection();
            const auto refused = connection ? connection->startVPNTunnel(options)
                                            : Platform::VPNErrors::serviceGone();
            if (refused) {
                self->m_vpnStatus = invalid;
                const std::string message = "启动VPN隧道失败：" + refused->localizedDescription;
                error(message);
                completion(false, message);
                return;
            }
            self->m_vpnStatus = Platform::VPNStatus::connecting;
            auto shown = nlohmann::json(options);
            shown["subuuid"] = Platform::Log::masked(options.at("subuuid"));
            Platform::Log::system(LogLevel::Default,
                                  logCategory,
                                  "-----开始启动VPN隧道:" + shown.dump());
            completion(true, std::nullopt);
        });
}

void VPNTunnelManager::startCompletion(bool ok, const std::optional<std::string> &message)
{
    if (ok) {
        Platform::Log::print("startVPN启动请求已成功发送！");
        return;
    }
    if (!message)
        return;
    Platform::Log::print("VPN启动失败：" + *message);
    Platform::NotificationCenter::defaultCenter().post(NOTIFY_VPNActivation_Failed, *message);
}

void VPNTunnelManager::stopVPN(Completion completion)
{
    if (m_tunnelManager) {
        doStop(std::move(completion));
        return;
    }
    loadExistingManager([weak = weak_from_this(), completion](const ManagerPointer &manager) {
        auto self = weak.lock();
        if (!self)
            return;
        if (!manager) {
            if (completion)
                completion(false, noLoadedConfiguration);
            return;
        }
        self->m_tunnelManager = manager;
        self->doStop(completion);
    });
}

void VPNTunnelManager::doStop(Completion completion)
{
    if (!m_tunnelManager) {
        if (completion)
            completion(false, noLoadedConfiguration);
        return;
    }
    if (const auto connection = m_tunnelManager->connection())
        connection->stopVPNTunnel();
    m_vpnStatus = Platform::VPNStatus::disconnecting;
    info("开始停止VPN隧道...");
    // Whether the provider reported itself stopped within half a second decides the outcome.
    Platform::mainQueue().after(0.5, [weak = weak_from_this(), completion] {
        auto self = weak.lock();
        if (!self)
            return;
        const int status = self->m_vpnStatus;
        if (status <= disconnected) {
            Platform::Log::print("doStop>停止VPN成功：" + std::to_string(status));
            if (completion)
                completion(true, std::nullopt);
            return;
        }
        if (completion)
            completion(false, "停止VPN失败，当前状态：" + std::to_string(status));
    });
}

void VPNTunnelManager::loadExistingManager(
    std::function<void(const ManagerPointer &manager)> continuation)
{
    m_environment.service->loadAllFromPreferences(
        [weak = weak_from_this(), continuation](const Managers &managers,
                                                const std::optional<Platform::VPNError> &) {
            auto self = weak.lock();
            if (!self)
                return;
            continuation(managers.empty() ? nullptr : self->findManager(managers, false));
        });
}

void VPNTunnelManager::sendMessageToProvider(const std::string &text)
{
    loadExistingManager([text](const ManagerPointer &manager) {
        if (!manager)
            return;
        auto session = std::dynamic_pointer_cast<Platform::TunnelProviderSession>(
            manager->connection());
        if (!session || session->status() == invalid)
            return;
        const auto failed
            = session->sendProviderMessage(text, [text](const std::optional<std::string> &reply) {
                  if (reply)
                      Platform::Log::print("Success to send a message[" + loggable(text)
                                           + "], response=" + loggable(*reply));
              });
        if (failed)
            Platform::Log::print("Failed to send a message to the provider");
    });
}

void VPNTunnelManager::activateSystemExtension(std::function<void(bool submitted)> completion)
{
    const auto path = m_environment.applicationBundle / "Contents" / "Library" / "SystemExtensions"
                      / (std::string(tunnelBundleID) + ".systemextension");
    Platform::Log::print("extenstionPath: " + path.string());
    std::error_code missing;
    if (!std::filesystem::exists(path, missing)) {
        Platform::Log::print("扩展包路径不存在：" + path.string());
        completion(false);
        return;
    }
    Platform::Log::print("vpnStatus=" + std::to_string(m_vpnStatus) + "(" + statusName(m_vpnStatus)
                         + ")");
    if (m_vpnStatus > disconnected) {
        completion(false);
        return;
    }
    auto request = Platform::SystemExtensionRequest::activationRequest(tunnelBundleID);
    request->delegate = weak_from_this();
    m_environment.extensions->submitRequest(request);
    completion(true);
}

Platform::SystemExtensionReplacementAction VPNTunnelManager::actionForReplacingExtension(
    const Platform::SystemExtensionRequest &,
    const Platform::SystemExtensionProperties &existing,
    const Platform::SystemExtensionProperties &extension)
{
    // Always the application's own copy, older or newer than the installed one.
    info("替换旧版 Extension：" + existing.bundleShortVersion + " → "
         + extension.bundleShortVersion);
    return Platform::SystemExtensionReplacementAction::replace;
}

void VPNTunnelManager::requestNeedsUserApproval(const Platform::SystemExtensionRequest &)
{
    Platform::Log::system(LogLevel::Default,
                          logCategory,
                          "需要用户授权：请打开「系统设置→隐私与安全性」，"
                          "找到“来自开发者XXX的系统扩展”并点击允许");
    const std::string informative
        = m_environment.newerSettingsLayout
              ? "请打开「系统设置→通用」，找到“登录项与扩展”区域，向下滚动找到“扩展”区域，"
                "点击网络扩展,找到QaroMac“允许”以激活网络扩展"
              : "请打开「系统设置→隐私与安全性」，向下滚动找到“扩展”区域，"
                "点击“添加的扩展”项目中，找到QaroMac“允许”以激活网络扩展";
    Platform::mainQueue().async([weak = weak_from_this(), informative] {
        auto self = weak.lock();
        if (self && self->m_approvalAlert)
            self->m_approvalAlert->show("需要系统权限", informative, "知道了");
    });
}

void VPNTunnelManager::didFinishWithResult(const Platform::SystemExtensionRequest &,
                                           Platform::SystemExtensionRequestResult result)
{
    if (result != Platform::SystemExtensionRequestResult::completed) {
        error("Extension 激活异常： " + std::to_string(int(result)));
        return;
    }
    info("Extension 激活成功，开始启动 VPN");
    startVPN(startCompletion);
}

void VPNTunnelManager::didFailWithError(const Platform::SystemExtensionRequest &,
                                        const Platform::SystemExtensionError &failure)
{
    const std::string message = "激活失败：" + failure.localizedDescription;
    error("Extension 激活失败：" + message + "（错误码：" + std::to_string(failure.code) + "）");
    Platform::NotificationCenter::defaultCenter().post(NOTIFY_VPNActivation_Failed, message);
}

void stopTunnelIfActive(VPNTunnelManager &tunnel)
{
    const int status = tunnel.vpnStatus();
    if (status == Platform::VPNStatus::connecting || status == Platform::VPNStatus::connected)
        tunnel.stopVPN();
}
