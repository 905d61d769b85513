#pragma once

#include "platform/NotificationCenter.h"
#include "platform/SystemVPNService.h"

#include "InstalledManualQueue.h"
#include "LogRecorder.h"
#include "TemporaryHome.h"

#include <gtest/gtest.h>

// This system's VPN service in a temporary home, with every status it posts in posted.
class SystemVPNServiceTest : public testing::Test
{
protected:
    SystemVPNServiceTest()
    {
        Platform::NotificationCenter::defaultCenter().addObserver(
            this,
            Platform::NEVPNStatusDidChange,
            Platform::NotificationCenter::Delivery::MainQueue,
            [this](const Platform::Notification &note) {
                const auto connection = std::any_cast<std::shared_ptr<Platform::VPNConnection>>(
                    note.object);
                posted.push_back(connection->status());
            });
    }
    ~SystemVPNServiceTest() override
    {
        Platform::NotificationCenter::defaultCenter().removeObserver(this);
    }

    std::shared_ptr<Platform::TunnelProviderManager> configured(Platform::VPNService &target)
    {
        auto manager = target.makeManager();
        Platform::VPNProtocol protocol;
        protocol.providerBundleIdentifier = "com.qaromac.wv.sysne";
        protocol.serverAddress = "127.0.0.1";
        protocol.providerConfiguration = Platform::PropertyValue(
            {{"bytes", Platform::PropertyValue::binary({1, 2})}});
        manager->protocolConfiguration = protocol;
        manager->localizedDescription = "QaroMac.WvSysTun";
        manager->isEnabled = true;
        return manager;
    }

    std::optional<Platform::VPNError> save(
        const std::shared_ptr<Platform::TunnelProviderManager> &manager)
    {
        std::optional<std::optional<Platform::VPNError>> result;
        manager->saveToPreferences([&](const auto &error) { result = error; });
        queue->runUntilIdle();
        return result.value();
    }

    Platform::VPNService::Managers loadAll(Platform::VPNService &target)
    {
        Platform::VPNService::Managers result;
        target.loadAllFromPreferences(
            [&](const auto &managers, const auto &) { result = managers; });
        queue->runUntilIdle();
        return result;
    }

    TemporaryHome home;
    InstalledManualQueue queue;
    LogRecorder log;
    Platform::SystemVPNService::Paths paths = *Platform::SystemVPNService::standardPaths();
    std::shared_ptr<Platform::SystemVPNService> service
        = std::make_shared<Platform::SystemVPNService>(paths);
    std::vector<int> posted;
};
