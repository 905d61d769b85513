#include "ConsoleFixture.h"

#include "console/ConnectButton.h"
#include "console/ConsoleHomeView.h"

#include <QLabel>
#include <QPushButton>
#include <QRadioButton>

namespace {

using namespace Platform::VPNStatus;

class StatusHandlingTest : public ConsoleFixture
{
protected:
    StatusHandlingTest()
    {
        tunnel->stopVPN(); // adopt the saved configuration, as a running application has
        queue->runUntilIdle();
    }

    bool startButtonVisible() { return !console().mainWorkView()->startProxyButton()->isHidden(); }
    bool widgetVisible() { return !console().connectButton()->isHidden(); }
    QString widgetTitle() { return console().connectButton()->titleLabel()->text(); }
    std::vector<std::string> messages() { return connection()->messages; }
};

} // namespace

TEST_F(StatusHandlingTest, EachStatusShowsItsViewAndRepeatsChangeNothing)
{
    QaroShared::shared().setValue(QaroShared::subUuidKey, std::string("uuid-of-the-subscription"));
    report(connecting);
    EXPECT_FALSE(startButtonVisible());
    EXPECT_EQ(widgetTitle(),
              QStringLiteral("正在加速")); // code 1 on a hidden widget keeps it hidden

    report(connected);
    EXPECT_TRUE(widgetVisible());
    EXPECT_EQ(widgetTitle(), QStringLiteral("已连接"));
    report(connected);
    EXPECT_EQ(messages(), std::vector<std::string>{"subuuid.uuid-of-the-subscription"});

    report(reasserting);
    EXPECT_EQ(widgetTitle(), QStringLiteral("已连接"));
    EXPECT_EQ(log.printed().back(), "onVpnStatusChange.unknow:4");

    report(disconnecting);
    EXPECT_EQ(widgetTitle(), QStringLiteral("正在断开"));
    console().connectButton()->titleLabel()->setText(QStringLiteral("marker"));
    report(disconnecting);
    EXPECT_EQ(widgetTitle(), QStringLiteral("marker"));

    report(disconnected);
    EXPECT_TRUE(startButtonVisible());
    EXPECT_FALSE(widgetVisible());
    EXPECT_EQ(console().lastVpnStatus(), disconnected);

    // A second entry into status 3 sends the subscription again, with an empty one if need be.
    QaroShared::shared().setValue(QaroShared::subUuidKey, 7);
    report(connected);
    EXPECT_EQ(messages().back(), "subuuid.");
}

// The provider's reason shows once per going-down: as a failed connect before the tunnel was
// up, as a lost connection after; a repeat, or a stop without a reason, shows nothing.
TEST_F(StatusHandlingTest, AReasonForGoingDownIsShownOnceWithWhatItEnded)
{
    report(connecting);
    connection()->disconnectReason = "隧道服务未安装，无法建立连接";
    report(disconnected);
    EXPECT_EQ(lastToast(), "连接失败：隧道服务未安装，无法建立连接");
    EXPECT_TRUE(startButtonVisible());
    EXPECT_FALSE(widgetVisible());

    console().showToast("marker");
    report(disconnected);
    EXPECT_EQ(lastToast(), "marker");

    connection()->disconnectReason = "服务器关闭了连接";
    for (const int status : {connecting, connected, reasserting, disconnecting})
        report(status);
    report(disconnected);
    EXPECT_EQ(lastToast(), "连接已断开：服务器关闭了连接");

    report(connecting); // a tunnel that was up once, and now fails to come up
    report(disconnected);
    EXPECT_EQ(lastToast(), "连接失败：服务器关闭了连接");

    connection()->disconnectReason.reset(); // the user's stop
    console().showToast("marker");
    for (const int status : {connecting, connected, disconnecting})
        report(status);
    report(disconnected);
    EXPECT_EQ(lastToast(), "marker");
    EXPECT_TRUE(startButtonVisible());
}

TEST_F(StatusHandlingTest, ChoosingANodeStoresItAndTellsOnlyARunningTunnel)
{
    console().nodeSelected(std::string("ZiDedadu"), std::string("已切换至[自动适配最佳线路]"));
    EXPECT_EQ(console().mainWorkView()->nodeRemarkLabel()->text(),
              QStringLiteral("自动适配最佳线路"));
    EXPECT_EQ(QaroShared::shared().value(QaroShared::nodeNameKey),
              Platform::PropertyValue("ZiDedadu"));
    EXPECT_EQ(lastToast(), "已切换至[自动适配最佳线路]");
    queue->runUntilIdle();
    EXPECT_TRUE(messages().empty());

    report(connected);
    console().nodeSelected(std::string("香港 01"), std::nullopt);
    queue->runUntilIdle();
    EXPECT_EQ(console().mainWorkView()->nodeRemarkLabel()->text(), QStringLiteral("香港 01"));
    EXPECT_EQ(messages().back(), "switchNode.香港 01");

    console().nodeSelected(std::nullopt, std::string("升级会员后可解锁使用"));
    EXPECT_EQ(lastToast(), "升级会员后可解锁使用");
    EXPECT_EQ(QaroShared::shared().value(QaroShared::nodeNameKey),
              Platform::PropertyValue("香港 01"));
}

TEST_F(StatusHandlingTest, TheModeButtonsStoreTheModeAndFollowItsAnnouncements)
{
    QRadioButton *rule = console().mainWorkView()->modeButton(ConsoleTag::ruleMode);
    QRadioButton *global = console().mainWorkView()->modeButton(ConsoleTag::globalMode);
    EXPECT_TRUE(rule->isChecked()); // nothing stored reads as rule

    global->click();
    queue->runUntilIdle();
    EXPECT_EQ(QaroShared::shared().value(QaroShared::tunModeKey), Platform::PropertyValue("global"));
    EXPECT_TRUE(global->isChecked());
    EXPECT_FALSE(rule->isChecked());
    EXPECT_TRUE(messages().empty()); // a running tunnel hears of it at its next start only

    // Another text than "rule" selects global here.
    QaroShared::shared().setValue(QaroShared::tunModeKey, std::string("rule"));
    Platform::NotificationCenter::defaultCenter().post(NOTIFY_UPDATE_RUNNING_MODE_MENU);
    EXPECT_TRUE(rule->isChecked());
    QaroShared::shared().setValue(QaroShared::tunModeKey, std::string("smart"));
    Platform::NotificationCenter::defaultCenter().post(NOTIFY_UPDATE_RUNNING_MODE_MENU);
    EXPECT_TRUE(global->isChecked());
}
