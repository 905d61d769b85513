#pragma once

#include "QtPump.h"

#include "api/NetWorkTool.h"
#include "api/QaroShared.h"
#include "api/UserDefaults.h"
#include "api/UserDefaultsCacheKeys.h"
#include "console/ConsoleTags.h"
#include "console/NodesInfoVC.h"
#include "console/ToastWindowController.h"
#include "tunnel/VPNTunnelManager.h"

#include "InstalledManualQueue.h"
#include "LogRecorder.h"
#include "RunningBackend.h"
#include "ScriptedSystemExtensionManager.h"
#include "ScriptedVPNService.h"
#include "TemporaryHome.h"

#include <gtest/gtest.h>

#include <memory>

// A console on a scripted VPN service and extension manager, talking to the development
// backend on loopback, in a temporary home.
class ConsoleFixture : public testing::Test
{
protected:
    ConsoleFixture()
    {
        home.setVariable("ORVANE_API_BASE_URLS", backend.asEveryBaseUrl());
        std::filesystem::create_directories(bundle
                                            / "Contents/Library/SystemExtensions"
                                              "/com.qaromac.wv.sysne.systemextension");
        service->addSaved("tunnel");
    }

    void signIn()
    {
        defaults.set(UserDefaultsCacheKeys::apiToken,
                     backend.signIn("demo@orvane.test", "demo123456"));
        defaults.set(UserDefaultsCacheKeys::userInfo,
                     {{"user_name", "demo@orvane.test"},
                      {"member_expiry_at", "2099-01-01T00:00:00+08:00"},
                      {"member_level", 1}});
    }

    // The console, made on first use.
    NodesInfoVC &console()
    {
        if (!m_console)
            m_console = std::make_unique<NodesInfoVC>(*tunnel);
        return *m_console;
    }

    std::string lastToast()
    {
        ToastWindowController *toast = console().toastWC();
        return toast ? toast->message().toStdString() : std::string();
    }

    // Presses a control by its tag and lets everything it started finish.
    void press(int tag)
    {
        console().onTapButtonWithSender(tag);
        queue->runUntilIdle();
    }

    std::shared_ptr<ScriptedConnection> connection() { return service->connectionOf("tunnel"); }

    // The tunnel reports a status, which reaches the console the way the application delegate
    // hands it on.
    void report(int status)
    {
        connection()->setStatus(status);
        console().onVpnStatusChange(status);
        queue->runUntilIdle();
    }

    TemporaryHome home;
    InstalledManualQueue queue;
    LogRecorder log;
    RunningBackend backend{home.root() / "backend"};
    UserDefaults defaults = UserDefaults::standard();
    std::filesystem::path bundle = home.root() / "OrvaneVPN.app";
    std::shared_ptr<ScriptedVPNService> service = std::make_shared<ScriptedVPNService>();
    std::shared_ptr<ScriptedSystemExtensionManager> extensions
        = std::make_shared<ScriptedSystemExtensionManager>();
    std::shared_ptr<VPNTunnelManager> tunnel = VPNTunnelManager::create(
        {service, extensions, bundle, true});

private:
    std::unique_ptr<NodesInfoVC> m_console;
};
