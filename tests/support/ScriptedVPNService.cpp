#include "ScriptedVPNService.h"

#include <algorithm>

#include "platform/Dispatch.h"
#include "platform/NotificationCenter.h"

std::optional<Platform::VPNError> ScriptedConnection::startVPNTunnel(const Options &options)
{
    starts.push_back(options);
    disconnectReason.reset();
    return startRefusal;
}

std::optional<Platform::VPNError> ScriptedConnection::sendProviderMessage(const std::string &data,
                                                                          ReplyHandler handler)
{
    if (sendRefusal)
        return sendRefusal;
    messages.push_back(data);
    Platform::mainQueue().async([handler, answer = reply] { handler(answer); });
    return std::nullopt;
}

void ScriptedConnection::setStatus(int status)
{
    m_status = status;
    Platform::NotificationCenter::defaultCenter().post(Platform::NEVPNStatusDidChange,
                                                       std::shared_ptr<Platform::VPNConnection>(
                                                           shared_from_this()));
}

std::shared_ptr<Platform::TunnelProviderManager> ScriptedVPNService::copy(
    const Platform::TunnelProviderManager &manager)
{
    auto copied = std::make_shared<Platform::TunnelProviderManager>(weak_from_this(),
                                                                    manager.identifier());
    copied->protocolConfiguration = manager.protocolConfiguration;
    copied->localizedDescription = manager.localizedDescription;
    copied->isEnabled = manager.isEnabled;
    copied->isOnDemandEnabled = manager.isOnDemandEnabled;
    return copied;
}

void ScriptedVPNService::loadAllFromPreferences(LoadAllCompletion completion)
{
    Managers managers;
    for (const auto &stored : saved)
        managers.push_back(copy(*stored));
    Platform::mainQueue().async([completion, managers, error = loadAllError] {
        completion(error ? Managers() : managers, error);
    });
}

void ScriptedVPNService::save(const std::shared_ptr<Platform::TunnelProviderManager> &manager,
                              Platform::TunnelProviderManager::Completion completion)
{
    ++saves;
    if (!saveError) {
        if (manager->identifier().empty())
            manager->setIdentifier("configuration-" + std::to_string(m_nextIdentifier++));
        auto stored = copy(*manager);
        auto existing = std::find_if(saved.begin(), saved.end(), [&](const auto &entry) {
            return entry->identifier() == manager->identifier();
        });
        if (existing == saved.end())
            saved.push_back(stored);
        else
            *existing = stored;
    }
    Platform::mainQueue().async([completion, error = saveError] { completion(error); });
}

void ScriptedVPNService::load(const std::shared_ptr<Platform::TunnelProviderManager> &manager,
                              Platform::TunnelProviderManager::Completion completion)
{
    ++reloads;
    if (!reloadError) {
        for (const auto &stored : saved) {
            if (stored->identifier() != manager->identifier())
                continue;
            manager->protocolConfiguration = stored->protocolConfiguration;
            manager->localizedDescription = stored->localizedDescription;
            manager->isEnabled = stored->isEnabled;
            manager->isOnDemandEnabled = stored->isOnDemandEnabled;
        }
    }
    Platform::mainQueue().async([completion, error = reloadError] { completion(error); });
}

std::shared_ptr<Platform::VPNConnection> ScriptedVPNService::connection(
    const Platform::TunnelProviderManager &manager)
{
    auto &connection = m_connections[manager.identifier()];
    if (!connection) {
        if (providerSessions)
            connection = std::make_shared<ScriptedConnection>();
        else
            connection = std::make_shared<PlainConnection>();
    }
    return connection;
}

std::shared_ptr<Platform::TunnelProviderManager> ScriptedVPNService::addSaved(
    const std::string &identifier)
{
    auto manager = std::make_shared<Platform::TunnelProviderManager>(weak_from_this(), identifier);
    Platform::VPNProtocol protocol;
    protocol.providerBundleIdentifier = "com.qaromac.wv.sysne";
    protocol.serverAddress = "127.0.0.1";
    protocol.providerConfiguration = Platform::PropertyValue::object();
    manager->protocolConfiguration = protocol;
    manager->localizedDescription = "QaroMac.WvSysTun";
    manager->isEnabled = true;
    saved.push_back(manager);
    return manager;
}

std::shared_ptr<ScriptedConnection> ScriptedVPNService::connectionOf(const std::string &identifier)
{
    Platform::TunnelProviderManager probe(weak_from_this(), identifier);
    return std::dynamic_pointer_cast<ScriptedConnection>(connection(probe));
}
