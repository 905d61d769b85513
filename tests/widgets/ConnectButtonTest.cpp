#include "console/ConnectButton.h"
#include "pages/RotatedPicture.h"
#include "tunnel/VPNTunnelManager.h"

#include "InstalledManualQueue.h"
#include "LogRecorder.h"
#include "ScriptedSystemExtensionManager.h"
#include "ScriptedVPNService.h"
#include "TemporaryHome.h"

#include <gtest/gtest.h>

#include <QLabel>
#include <QPushButton>

namespace {

class ConnectButtonTest : public testing::Test
{
protected:
    ConnectButtonTest()
    {
        service->addSaved("tunnel");
        tunnel->stopVPN(); // adopt the saved configuration
        queue->runUntilIdle();
        button.setupSubviews();
        button.show();
    }

    int stops() { return service->connectionOf("tunnel")->stops; }

    TemporaryHome home;
    InstalledManualQueue queue;
    LogRecorder log;
    std::shared_ptr<ScriptedVPNService> service = std::make_shared<ScriptedVPNService>();
    std::shared_ptr<VPNTunnelManager> tunnel = VPNTunnelManager::create(
        {service, std::make_shared<ScriptedSystemExtensionManager>(), home.root(), true});
    ConnectButton button{*tunnel};
};

} // namespace

TEST_F(ConnectButtonTest, EachStateShowsItsTextsAndSpin)
{
    button.changeConnectState(ConnectButton::preparing);
    EXPECT_TRUE(button.isVisible());
    EXPECT_EQ(button.subLabel()->text(), QStringLiteral("加载配置,请稍候..."));
    EXPECT_EQ(button.startButton()->animationKey(), QStringLiteral("start.conntecting"));
    EXPECT_EQ(button.startButton()->animation()->duration(), 750);
    EXPECT_EQ(button.startButtonTag(), ConnectButton::ringBusy);

    button.changeConnectState(ConnectButton::connecting);
    EXPECT_EQ(button.subLabel()->text(), QStringLiteral("开始连接..."));
    EXPECT_EQ(button.startButton()->animationKey(), QStringLiteral("start.conntecting"));

    button.changeConnectState(ConnectButton::connected);
    EXPECT_EQ(button.titleLabel()->text(), QStringLiteral("已连接"));
    EXPECT_EQ(button.subLabel()->text(), QStringLiteral("点击断开"));
    EXPECT_EQ(button.startButton()->animationKey(), QStringLiteral("start.conntected"));
    EXPECT_EQ(button.startButton()->animation()->duration(), 3600);
    EXPECT_EQ(button.earthImge()->geometry(), QRect(0, 0, 88, 88));
    EXPECT_EQ(button.startButtonTag(), ConnectButton::ringConnected);

    // Another 2 starts the slow turn again from angle 0.
    button.startButton()->animation()->setCurrentTime(1800);
    EXPECT_NE(button.startButton()->angle(), 0);
    button.changeConnectState(ConnectButton::connected);
    EXPECT_EQ(button.startButton()->angle(), 0);

    button.changeConnectState(ConnectButton::disconnecting);
    EXPECT_EQ(button.titleLabel()->text(), QStringLiteral("正在断开"));
    EXPECT_EQ(button.earthImge()->geometry(), QRect(10, 10, 68, 68));

    // 0 or any unknown state hides it and stops everything, texts untouched.
    button.changeConnectState(4);
    EXPECT_FALSE(button.isVisible());
    EXPECT_TRUE(button.startButton()->animationKey().isEmpty());
    EXPECT_FALSE(button.startButton()->animation());
    EXPECT_EQ(button.titleLabel()->text(), QStringLiteral("正在断开"));

    // 1 on a hidden control leaves it hidden.
    button.changeConnectState(ConnectButton::connecting);
    EXPECT_FALSE(button.isVisible());
    EXPECT_EQ(log.printed().back(), "changeConnectState:1");
}

TEST_F(ConnectButtonTest, AClickDisconnectsOnlyWhenItMay)
{
    service->connectionOf("tunnel")->setStatus(Platform::VPNStatus::connected);
    queue->runUntilIdle();

    button.changeConnectState(ConnectButton::preparing);
    emit button.startButton()->clicked(); // the ring while preparing
    EXPECT_EQ(stops(), 1);
    button.changeConnectState(ConnectButton::disconnecting);
    emit button.startButton()->clicked();
    EXPECT_EQ(stops(), 1);

    button.changeConnectState(ConnectButton::connected);
    emit button.startButton()->clicked();
    EXPECT_EQ(stops(), 2);

    // The centre picture disconnects whenever the tunnel is connecting or connected.
    service->connectionOf("tunnel")->setStatus(Platform::VPNStatus::connecting);
    queue->runUntilIdle();
    button.changeConnectState(ConnectButton::preparing);
    button.earthImge()->click();
    EXPECT_EQ(stops(), 3);
    service->connectionOf("tunnel")->setStatus(Platform::VPNStatus::disconnected);
    queue->runUntilIdle();
    button.earthImge()->click();
    EXPECT_EQ(stops(), 3);
}

TEST_F(ConnectButtonTest, TheRingTurnsOnlyWhileItIsVisible)
{
    button.changeConnectState(ConnectButton::preparing);
    EXPECT_EQ(button.startButton()->animation()->state(), QAbstractAnimation::Running);
    button.hide();
    EXPECT_NE(button.startButton()->animation()->state(), QAbstractAnimation::Running);
    button.show();
    EXPECT_EQ(button.startButton()->animation()->state(), QAbstractAnimation::Running);
    button.changeConnectState(ConnectButton::idle);
    EXPECT_FALSE(button.startButton()->animation());
}
