#include "tunnel/VPNTunnelManager.h"

#include "api/NetWorkTool.h"

#include "InstalledManualQueue.h"
#include "LogRecorder.h"
#include "ScriptedSystemExtensionManager.h"
#include "ScriptedVPNService.h"
#include "TemporaryHome.h"

#include <gtest/gtest.h>

using Lines = std::vector<std::string>;
using Platform::SystemExtensionRequestResult;

namespace {

class RecordingAlert : public VPNTunnelManager::ApprovalAlert
{
public:
    void show(const std::string &message,
              const std::string &text,
              const std::string &button) override
    {
        shown.push_back(message + "|" + text + "|" + button);
    }
    Lines shown;
};

class ActivationTest : public testing::Test
{
protected:
    ActivationTest()
    {
        std::filesystem::create_directories(extensionPath);
        manager->setApprovalAlert(alert);
        Platform::NotificationCenter::defaultCenter()
            .addObserver(this,
                         NOTIFY_VPNActivation_Failed,
                         Platform::NotificationCenter::Delivery::MainQueue,
                         [this](const Platform::Notification &note) {
                             failures.push_back(std::any_cast<std::string>(note.object));
                         });
    }
    ~ActivationTest() override
    {
        Platform::NotificationCenter::defaultCenter().removeObserver(this);
    }

    std::optional<bool> activate(VPNTunnelManager &target)
    {
        std::optional<bool> submitted;
        target.activateSystemExtension([&](bool result) { submitted = result; });
        return submitted;
    }

    TemporaryHome home;
    InstalledManualQueue queue;
    LogRecorder log;
    std::filesystem::path bundle = home.root() / "OrvaneVPN.app";
    std::filesystem::path extensionPath
        = bundle / "Contents/Library/SystemExtensions/com.qaromac.wv.sysne.systemextension";
    std::shared_ptr<ScriptedVPNService> service = std::make_shared<ScriptedVPNService>();
    std::shared_ptr<ScriptedSystemExtensionManager> extensions
        = std::make_shared<ScriptedSystemExtensionManager>();
    std::shared_ptr<VPNTunnelManager> manager = VPNTunnelManager::create(
        {service, extensions, bundle, true});
    std::shared_ptr<RecordingAlert> alert = std::make_shared<RecordingAlert>();
    Lines failures;
};

} // namespace

TEST_F(ActivationTest, AMissingExtensionOrABusyTunnelMakesNoRequest)
{
    auto bare = VPNTunnelManager::create({service, extensions, home.root() / "Bare.app", true});
    EXPECT_EQ(activate(*bare), false);
    const auto missing = (home.root()
                          / "Bare.app/Contents/Library/SystemExtensions/"
                            "com.qaromac.wv.sysne.systemextension")
                             .string();
    EXPECT_EQ(log.printed(), (Lines{"extenstionPath: " + missing, "扩展包路径不存在：" + missing}));

    service->connectionOf("t")->setStatus(Platform::VPNStatus::connecting);
    EXPECT_EQ(activate(*manager), false);
    EXPECT_EQ(log.printed().back(), "vpnStatus=2(连接中)");
    EXPECT_TRUE(extensions->requests.empty());
}

TEST_F(ActivationTest, ACompletedActivationStartsTheTunnel)
{
    EXPECT_EQ(activate(*manager), true);
    ASSERT_EQ(extensions->requests.size(), 1u);
    EXPECT_EQ(extensions->requests[0]->identifier(), "com.qaromac.wv.sysne");

    // An installed copy is always replaced, older or newer.
    EXPECT_EQ(extensions->askToReplace("9.9.9", "1.0.0"),
              Platform::SystemExtensionReplacementAction::replace);
    EXPECT_TRUE(log.hasSystemMessage("替换旧版 Extension：9.9.9 → 1.0.0"));

    extensions->finish(SystemExtensionRequestResult::completed);
    queue->runUntilIdle();
    EXPECT_TRUE(log.hasSystemMessage("Extension 激活成功，开始启动 VPN"));
    ASSERT_EQ(service->saved.size(), 1u);
    EXPECT_EQ(service->connectionOf(service->saved[0]->identifier())->starts.size(), 1u);
    EXPECT_EQ(log.printed().back(), "startVPN启动请求已成功发送！");
    EXPECT_TRUE(failures.empty());
}

TEST_F(ActivationTest, ARebootResultStartsNothingAndFailuresAreAnnounced)
{
    activate(*manager);
    extensions->finish(SystemExtensionRequestResult::willCompleteAfterReboot);
    queue->runUntilIdle();
    EXPECT_TRUE(log.hasSystemMessage("Extension 激活异常： 1"));
    EXPECT_TRUE(service->saved.empty());
    EXPECT_TRUE(failures.empty());

    extensions->fail({Platform::SystemExtensionError::extensionNotFound, "找不到系统扩展。"});
    queue->runUntilIdle();
    EXPECT_EQ(failures, Lines{"激活失败：找不到系统扩展。"});
    EXPECT_TRUE(
        log.hasSystemMessage("Extension 激活失败：激活失败：找不到系统扩展。（错误码：4）"));

    // A start refused after a good activation is announced the same way.
    service->addSaved("t");
    service->connectionOf("t")->startRefusal = Platform::VPNErrors::configurationDisabled();
    extensions->finish(SystemExtensionRequestResult::completed);
    queue->runUntilIdle();
    EXPECT_EQ(failures.back(), "启动VPN隧道失败：VPN配置已停用。");
}

TEST_F(ActivationTest, ApprovalIsExplainedForTheSettingsLayoutInUse)
{
    activate(*manager);
    extensions->needApproval();
    EXPECT_TRUE(alert->shown.empty()); // shown from the main queue, not inside the callback
    queue->runUntilIdle();
    ASSERT_EQ(alert->shown.size(), 1u);
    EXPECT_EQ(
        alert->shown[0],
        "需要系统权限|请打开「系统设置→通用」，找到“登录项与扩展”区域，向下滚动找到“扩展”区域，"
        "点击网络扩展,找到QaroMac“允许”以激活网络扩展|知道了");
    EXPECT_TRUE(log.hasSystemMessage("需要用户授权：请打开「系统设置→隐私与安全性」，"
                                     "找到“来自开发者XXX的系统扩展”并点击允许"));

    auto older = VPNTunnelManager::create({service, extensions, bundle, false});
    older->setApprovalAlert(alert);
    activate(*older);
    extensions->needApproval();
    queue->runUntilIdle();
    EXPECT_EQ(alert->shown.back(),
              "需要系统权限|请打开「系统设置→隐私与安全性」，向下滚动找到“扩展”区域，"
              "点击“添加的扩展”项目中，找到QaroMac“允许”以激活网络扩展|知道了");
}
