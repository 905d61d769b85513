#include "VPNService.h"

#include "Dispatch.h"

namespace Platform {

TunnelProviderManager::TunnelProviderManager(std::weak_ptr<VPNService> service,
                                             std::string identifier)
    : m_service(std::move(service))
    , m_identifier(std::move(identifier))
{ }

void TunnelProviderManager::saveToPreferences(Completion completion)
{
    if (auto service = m_service.lock()) {
        service->save(shared_from_this(), std::move(completion));
        return;
    }
    mainQueue().async([completion] { completion(VPNErrors::serviceGone()); });
}

void TunnelProviderManager::loadFromPreferences(Completion completion)
{
    if (auto service = m_service.lock()) {
        service->load(shared_from_this(), std::move(completion));
        return;
    }
    mainQueue().async([completion] { completion(VPNErrors::serviceGone()); });
}

std::shared_ptr<VPNConnection> TunnelProviderManager::connection()
{
    auto service = m_service.lock();
    return service ? service->connection(*this) : nullptr;
}

std::shared_ptr<TunnelProviderManager> VPNService::makeManager()
{
    return std::make_shared<TunnelProviderManager>(weak_from_this());
}

namespace VPNErrors {

namespace {

VPNError error(int code, std::string description, const std::string &why)
{
    if (!why.empty())
        description += why;
    return {domain, code, std::move(description)};
}

} // namespace

VPNError configurationInvalid(const std::string &why)
{
    return error(1, "VPN配置无效。", why);
}

VPNError configurationDisabled()
{
    return error(2, "VPN配置已停用。", {});
}

VPNError connectionFailed(const std::string &why)
{
    return error(3, "VPN连接失败。", why);
}

VPNError configurationStale()
{
    return error(4, "VPN配置已过期，请重新加载。", {});
}

VPNError configurationReadWriteFailed(const std::string &why)
{
    return error(5, "无法读写VPN配置：", why);
}

VPNError serviceGone()
{
    return error(6, "VPN服务不可用。", {});
}

} // namespace VPNErrors

} // namespace Platform
